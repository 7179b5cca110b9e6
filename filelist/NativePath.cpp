#include "NativePath.h"

#ifdef _WIN32
#include "platform/Platform.h"

// The store and the reader take Windows names as UTF-8 with lone surrogates kept (platform/).
Text TextFromNativePath(const std::string& bytes)
{
    const std::wstring wide = platform::WideFromUtf8(bytes);
    return Text(wide.begin(), wide.end());
}

std::string NativePathFromText(const Text& text) { return platform::Utf8FromWide(std::wstring(text.begin(), text.end())); }

std::filesystem::path FileSystemPath(const Text& text) { return std::filesystem::path(std::wstring(text.begin(), text.end())); }

Text TextFromFileSystemPath(const std::filesystem::path& path)
{
    const std::wstring& wide = path.native();
    return Text(wide.begin(), wide.end());
}

#else

namespace {

// The length of the valid UTF-8 sequence starting at `at`, or 0 when there is none.
std::size_t Utf8SequenceAt(const std::string& s, std::size_t at)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char lead = byte(at);
    std::size_t length;
    char32_t code;
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07;
    } else {
        return 0;
    }
    if (at + length > s.size())
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (byte(at + i) & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not valid UTF-8.
    const bool overlong = (length == 3 && code < 0x800) || (length == 4 && code < 0x10000);
    if (overlong || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF)
        return 0;
    return length;
}

}  // namespace

Text TextFromNativePath(const std::string& bytes)
{
    Text text;
    text.reserve(bytes.size());
    std::size_t at = 0;
    while (at < bytes.size()) {
        const std::size_t length = Utf8SequenceAt(bytes, at);
        if (length == 0) {
            text += static_cast<char16_t>(0xDC00 + static_cast<unsigned char>(bytes[at]));
            ++at;
        } else {
            text += FromUtf8(std::string_view(bytes).substr(at, length));
            at += length;
        }
    }
    return text;
}

std::string NativePathFromText(const Text& text)
{
    std::string bytes;
    bytes.reserve(text.size());
    std::size_t from = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        const bool end = i == text.size();
        const char16_t unit = end ? 0 : text[i];
        const bool preceded = i > 0 && text[i - 1] >= 0xD800 && text[i - 1] <= 0xDBFF;
        const bool stray = !end && unit >= 0xDC80 && unit <= 0xDCFF && !preceded;
        if (end || stray) {
            bytes += Utf8(std::u16string_view(text).substr(from, i - from));
            if (stray)
                bytes += static_cast<char>(unit - 0xDC00);
            from = i + 1;
        }
    }
    return bytes;
}

std::filesystem::path FileSystemPath(const Text& text) { return std::filesystem::path(NativePathFromText(text)); }

Text TextFromFileSystemPath(const std::filesystem::path& path) { return TextFromNativePath(path.native()); }

#endif
