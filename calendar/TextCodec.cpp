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

namespace {

void AppendUtf8(std::uint32_t cp, std::string& out)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | cp >> 6);
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | cp >> 12);
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | cp >> 18);
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

constexpr std::uint32_t kReplacement = 0xFFFD;

}  // namespace

void Utf16Decoder::Feed(std::string_view bytes, std::string& out)
{
    std::size_t i = 0;
    if (m_oddByte >= 0 && !bytes.empty()) {
        const auto first = static_cast<unsigned char>(m_oddByte), second = static_cast<unsigned char>(bytes[0]);
        m_oddByte = -1;
        Unit(static_cast<char16_t>(m_bigEndian ? first << 8 | second : second << 8 | first), out);
        i = 1;
    }
    for (; i + 1 < bytes.size(); i += 2) {
        const auto a = static_cast<unsigned char>(bytes[i]), b = static_cast<unsigned char>(bytes[i + 1]);
        Unit(static_cast<char16_t>(m_bigEndian ? a << 8 | b : b << 8 | a), out);
    }
    if (i < bytes.size())
        m_oddByte = static_cast<unsigned char>(bytes[i]);
}

void Utf16Decoder::Unit(char16_t unit, std::string& out)
{
    if (m_high) {
        if (unit >= 0xDC00 && unit <= 0xDFFF) {
            AppendUtf8(0x10000 + ((static_cast<std::uint32_t>(m_high) - 0xD800) << 10) + (unit - 0xDC00u), out);
            m_high = 0;
            return;
        }
        AppendUtf8(kReplacement, out);
        ++m_broken;
        m_high = 0;
    }
    if (unit >= 0xD800 && unit <= 0xDBFF) {
        m_high = unit;
    } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
        AppendUtf8(kReplacement, out);
        ++m_broken;
    } else {
        AppendUtf8(unit, out);
    }
}

void Utf16Decoder::Finish(std::string& out)
{
    if (m_high || m_oddByte >= 0) {
        AppendUtf8(kReplacement, out);
        ++m_broken;
    }
    m_high = 0;
    m_oddByte = -1;
}

void LineEnds::Feed(std::string_view text, std::string& out)
{
    for (std::size_t i = 0; i < text.size();) {
        if (m_seen == Seen::Nothing) {
            // The run up to the next line end is copied as it stands.
            std::size_t stop = i;
            while (stop < text.size() && text[stop] != '\r' && text[stop] != '\n')
                ++stop;
            out.append(text, i, stop - i);
            i = stop;
            if (i == text.size())
                break;
        }
        Put(text[i++], out);
    }
}

void LineEnds::Put(char c, std::string& out)
{
    switch (m_seen) {
    case Seen::Nothing:
        if (c == '\r')
            m_seen = Seen::Cr;
        else if (c == '\n')
            m_seen = Seen::Lf;
        else
            out += c;
        return;
    case Seen::Cr:
        if (c == '\n') {
            out += "\r\n";
            m_seen = Seen::Nothing;
        } else if (c == '\r') {
            m_seen = Seen::CrCr;
        } else {
            out += "\r\n";
            m_seen = Seen::Nothing;
            Put(c, out);
        }
        return;
    case Seen::CrCr:
        // CR CR LF is one line end; CR CR and anything else, a line ended by a CR alone and a CR
        // that may start another such.
        out += "\r\n";
        m_seen = c == '\n' ? Seen::Nothing : Seen::Cr;
        if (c != '\n')
            Put(c, out);
        return;
    case Seen::Lf:
        out += "\r\n";
        m_seen = Seen::Nothing;
        if (c != '\r')
            Put(c, out);
        return;
    }
}

void LineEnds::Finish(std::string& out)
{
    if (m_seen == Seen::CrCr)
        out += "\r\n\r\n";
    else if (m_seen != Seen::Nothing)
        out += "\r\n";
    m_seen = Seen::Nothing;
}

}  // namespace cal
