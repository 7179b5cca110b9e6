#pragma once

// File names as text and back without loss. POSIX names are bytes; those that are not valid
// UTF-8 keep each stray byte as a lone surrogate (U+DC80 to U+DCFF), which turns back into the
// very same byte, so a file whose name is not UTF-8 can still be listed, shown and opened.
#include <QString>

#include <string>

QString TextFromNativePath(const std::string& bytes);
std::string NativePathFromText(const QString& text);
