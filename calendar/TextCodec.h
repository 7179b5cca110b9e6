#pragma once

#include <string>

namespace cal {

bool IsValidUtf8(const std::string& text);
// Reads 8-bit text as Windows-1252 and returns it as UTF-8.
std::string Cp1252ToUtf8(const std::string& text);
// UTF-8 as it stands when valid, else read as Windows-1252.
std::string AsUtf8(const std::string& text);

}  // namespace cal
