#include "TextCodec.h"

#include <cstdint>

namespace cal {

namespace {

// Windows-1252's characters 0x80 to 0x9F; the rest of the 8-bit range is Latin-1.
const std::uint16_t kHigh[32] = {0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
                                 0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
                                 0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

}  // namespace

std::size_t Utf8SequenceAt(std::string_view text, std::size_t i)
{
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80)
        return 1;
    std::size_t len = 0;
    std::uint32_t cp = 0;
    if ((c >> 5) == 6) {
        len = 2;
        cp = c & 0x1F;
    } else if ((c >> 4) == 14) {
        len = 3;
        cp = c & 0x0F;
    } else if ((c >> 3) == 30) {
        len = 4;
        cp = c & 0x07;
    } else {
        return 0;
    }
    if (i + len > text.size())
        return 0;
    for (std::size_t k = 1; k < len; ++k) {
        const auto cc = static_cast<unsigned char>(text[i + k]);
        if ((cc >> 6) != 2)
            return 0;
        cp = cp << 6 | (cc & 0x3F);
    }
    if ((len == 2 && cp < 0x80) || (len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF))
        || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return len;
}

bool IsValidUtf8(std::string_view text)
{
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t len = Utf8SequenceAt(text, i);
        if (len == 0)
            return false;
        i += len;
    }
    return true;
}

std::string RepairUtf8(const std::string& text, std::size_t* repaired, std::size_t* multibyte)
{
    std::string out;
    out.reserve(text.size() + 16);
    *repaired = *multibyte = 0;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t len = Utf8SequenceAt(text, i);
        if (len == 0) {
            out += Cp1252ToUtf8(text.substr(i, 1));
            ++*repaired;
            ++i;
            continue;
        }
        *multibyte += len > 1;
        out.append(text, i, len);
        i += len;
    }
    return out;
}

std::string Cp1252ToUtf8(const std::string& text)
{
    std::string out;
    out.reserve(text.size() + text.size() / 4);
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        std::uint32_t cp = c < 0x80 ? c : c < 0xA0 ? kHigh[c - 0x80] : c;
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | cp >> 6);
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | cp >> 12);
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

std::string AsUtf8(const std::string& text)
{
    if (IsValidUtf8(text))
        return text;
    std::size_t repaired = 0, multibyte = 0;
    return RepairUtf8(text, &repaired, &multibyte);
}

}  // namespace cal
