#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace cal {

// Stands for a blank at the start of a value while libical reads it (U+E000, private use).
inline constexpr const char* kLeadingBlank = "\xEE\x80\x80";

bool IsValidUtf8(std::string_view text);
// The length of the valid UTF-8 sequence at `i` (1 for ASCII), 0 when the bytes there are none.
std::size_t Utf8SequenceAt(std::string_view text, std::size_t i);
// Valid UTF-8 kept as it is, and each byte that is not part of a valid sequence read as
// Windows-1252. Counts the bytes repaired and the valid multi-byte characters met.
std::string RepairUtf8(const std::string& text, std::size_t* repaired, std::size_t* multibyte);
// Reads 8-bit text as Windows-1252 and returns it as UTF-8.
std::string Cp1252ToUtf8(const std::string& text);
// UTF-8 as it stands when valid, else read as Windows-1252.
std::string AsUtf8(const std::string& text);

// Turns UTF-16 text into UTF-8 a piece at a time. A surrogate without its partner, and a byte
// left over at the end, become U+FFFD and are counted.
class Utf16Decoder {
public:
    explicit Utf16Decoder(bool bigEndian) : m_bigEndian(bigEndian) {}
    void Feed(std::string_view bytes, std::string& out);
    void Finish(std::string& out);
    std::size_t Broken() const { return m_broken; }

private:
    void Unit(char16_t unit, std::string& out);

    bool m_bigEndian;
    int m_oddByte = -1;     // the first byte of a unit cut by the end of a piece
    char16_t m_high = 0;    // a high surrogate waiting for its low one
    std::size_t m_broken = 0;
};

// Ends every line with CRLF a piece at a time, whatever ended it: CRLF, LF, a CR alone, CR CR LF
// (CRLF written again through a stream that turns LF into CRLF) or LF CR.
class LineEnds {
public:
    void Feed(std::string_view text, std::string& out);
    void Finish(std::string& out);

private:
    void Put(char c, std::string& out);

    enum class Seen { Nothing, Cr, CrCr, Lf } m_seen = Seen::Nothing;
};

}  // namespace cal
