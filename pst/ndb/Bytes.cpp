#include "Bytes.h"

namespace pst {

Bytes Utf16le(const std::string& utf8)
{
    Bytes out;
    Utf16le(utf8, out);
    return out;
}

void Utf16le(const std::string& utf8, Bytes& out)
{
    // No UTF-8 byte gives more than two bytes of UTF-16: room for the longest result first.
    out.resize(utf8.size() * 2);
    std::uint8_t* at = out.data();
    auto put = [&](std::uint32_t unit) {
        at[0] = static_cast<std::uint8_t>(unit);
        at[1] = static_cast<std::uint8_t>(unit >> 8);
        at += 2;
    };
    for (std::size_t i = 0; i < utf8.size();) {
        const auto c = static_cast<std::uint8_t>(utf8[i]);
        std::uint32_t cp = 0xFFFD;
        std::size_t len = 1;
        if (c < 0x80) {
            cp = c;
        } else if ((c >> 5) == 0x6 && i + 1 < utf8.size()) {
            cp = (c & 0x1Fu) << 6 | (static_cast<std::uint8_t>(utf8[i + 1]) & 0x3Fu);
            len = 2;
        } else if ((c >> 4) == 0xE && i + 2 < utf8.size()) {
            cp = (c & 0x0Fu) << 12 | (static_cast<std::uint8_t>(utf8[i + 1]) & 0x3Fu) << 6
                 | (static_cast<std::uint8_t>(utf8[i + 2]) & 0x3Fu);
            len = 3;
        } else if ((c >> 3) == 0x1E && i + 3 < utf8.size()) {
            cp = (c & 0x07u) << 18 | (static_cast<std::uint8_t>(utf8[i + 1]) & 0x3Fu) << 12
                 | (static_cast<std::uint8_t>(utf8[i + 2]) & 0x3Fu) << 6 | (static_cast<std::uint8_t>(utf8[i + 3]) & 0x3Fu);
            len = 4;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            put(0xD800 + (cp >> 10));
            put(0xDC00 + (cp & 0x3FF));
        } else {
            put(cp);
        }
        i += len;
    }
    out.resize(static_cast<std::size_t>(at - out.data()));
}

}  // namespace pst
