#pragma once

// Text in the core: UTF-16 strings, so that paths compare code unit by code unit as the path
// routines want, and a name that is not valid Unicode (a lone surrogate) survives the trip from
// the file system and back. Messages and folder names go to the store as UTF-8.
#include <string>
#include <string_view>
#include <vector>

using Text = std::u16string;
using TextList = std::vector<Text>;

// UTF-8 and back. A lone surrogate becomes U+FFFD on the way out; invalid UTF-8 becomes U+FFFD
// on the way in.
std::string Utf8(std::u16string_view text);
Text FromUtf8(std::string_view bytes);

// Decimal digits of `n`.
Text Number(long long n);

// A copy with the letters A to Z lowered; other characters are left as they are.
Text AsciiLower(std::u16string_view text);

// The text without the space characters before and after it (tabs and line breaks are kept).
Text TrimSpaces(std::u16string_view text);

// `parts` joined with `separator` between them.
Text Join(const TextList& parts, char16_t separator);

// The pieces of `text` between separators; empty pieces are kept unless `skipEmpty`.
TextList Split(std::u16string_view text, char16_t separator, bool skipEmpty = false);

// The folder separator of this system's paths.
#ifdef _WIN32
inline constexpr char16_t kPathSeparator = u'\\';
#else
inline constexpr char16_t kPathSeparator = u'/';
#endif
