#pragma once

// File names as text and back without loss. POSIX names are bytes; those that are not valid
// UTF-8 keep each stray byte as a lone surrogate (U+DC80 to U+DCFF), which turns back into the
// very same byte, so a file whose name is not UTF-8 can still be listed, shown and opened.
// Windows names are UTF-16 already; the store and the calendar reader take them as UTF-8 in
// which a lone surrogate is kept as its own three bytes, so that every name opens again.
#include "import/Text.h"

#include <filesystem>
#include <string>

Text TextFromNativePath(const std::string& bytes);
std::string NativePathFromText(const Text& text);

// The same name for std::filesystem.
std::filesystem::path FileSystemPath(const Text& text);
Text TextFromFileSystemPath(const std::filesystem::path& path);
