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

}  // namespace cal
