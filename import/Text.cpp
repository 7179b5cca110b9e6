#include "Text.h"

std::string Utf8(std::u16string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

Text FromUtf8(std::string_view bytes)
{
    Text out;
    out.reserve(bytes.size());
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    std::size_t at = 0;
    while (at < bytes.size()) {
        const unsigned char lead = byte(at);
        std::size_t length = 0;
        char32_t c = 0;
        if (lead < 0x80) {
            length = 1;
            c = lead;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            c = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            c = lead & 0x0F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            c = lead & 0x07;
        }
        bool valid = length > 0 && at + length <= bytes.size();
        for (std::size_t k = 1; valid && k < length; ++k) {
            if ((byte(at + k) & 0xC0) != 0x80)
                valid = false;
            else
                c = (c << 6) | (byte(at + k) & 0x3F);
        }
        if (valid && ((length == 3 && c < 0x800) || (length == 4 && c < 0x10000) || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF))
            valid = false;
        if (!valid) {
            out += u'\xFFFD';
            ++at;
            continue;
        }
        if (c >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
        at += length;
    }
    return out;
}

Text Number(long long n)
{
    const std::string digits = std::to_string(n);
    return Text(digits.begin(), digits.end());
}

Text AsciiLower(std::u16string_view text)
{
    Text out(text);
    for (char16_t& c : out)
        if (c >= u'A' && c <= u'Z')
            c = static_cast<char16_t>(c - u'A' + u'a');
    return out;
}

Text TrimSpaces(std::u16string_view text)
{
    std::size_t from = 0;
    std::size_t to = text.size();
    while (from < to && text[from] == u' ')
        ++from;
    while (to > from && text[to - 1] == u' ')
        --to;
    return Text(text.substr(from, to - from));
}

Text Join(const TextList& parts, char16_t separator)
{
    Text out;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0)
            out += separator;
        out += parts[i];
    }
    return out;
}

TextList Split(std::u16string_view text, char16_t separator, bool skipEmpty)
{
    TextList parts;
    std::size_t from = 0;
    for (;;) {
        const std::size_t at = text.find(separator, from);
        const std::u16string_view piece = text.substr(from, at == std::u16string_view::npos ? std::u16string_view::npos : at - from);
        if (!skipEmpty || !piece.empty())
            parts.emplace_back(piece);
        if (at == std::u16string_view::npos)
            break;
        from = at + 1;
    }
    return parts;
}
