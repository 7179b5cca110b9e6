#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace pst {

using Bytes = std::vector<std::uint8_t>;

// Little-endian reads and writes; every on-disk integer of the format is little-endian.
inline void Put16(std::uint8_t* p, std::uint16_t v)
{
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void Put32(std::uint8_t* p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void Put64(std::uint8_t* p, std::uint64_t v)
{
    for (int i = 0; i < 8; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline std::uint16_t Get16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
inline std::uint32_t Get32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8
           | static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
inline std::uint64_t Get64(const std::uint8_t* p)
{
    return static_cast<std::uint64_t>(Get32(p)) | static_cast<std::uint64_t>(Get32(p + 4)) << 32;
}

// Appends little-endian values to a growing byte buffer.
class ByteWriter {
public:
    explicit ByteWriter(Bytes& out)
        : m_out(out)
    {
    }
    void u8(std::uint8_t v) { m_out.push_back(v); }
    void u16(std::uint16_t v) { grow(2, [&](std::uint8_t* p) { Put16(p, v); }); }
    void u32(std::uint32_t v) { grow(4, [&](std::uint8_t* p) { Put32(p, v); }); }
    void u64(std::uint64_t v) { grow(8, [&](std::uint8_t* p) { Put64(p, v); }); }
    void bytes(const std::uint8_t* data, std::size_t n) { m_out.insert(m_out.end(), data, data + n); }
    void bytes(const Bytes& data) { m_out.insert(m_out.end(), data.begin(), data.end()); }
    void zeros(std::size_t n) { m_out.insert(m_out.end(), n, 0); }
    std::size_t size() const { return m_out.size(); }

private:
    template <typename F>
    void grow(std::size_t n, F put)
    {
        const std::size_t at = m_out.size();
        m_out.resize(at + n);
        put(m_out.data() + at);
    }
    Bytes& m_out;
};

// UTF-16LE bytes of a UTF-8 string, without terminator: the format's string encoding.
Bytes Utf16le(const std::string& utf8);
// The same into `out`, replacing what it held but keeping its buffer.
void Utf16le(const std::string& utf8, Bytes& out);

}  // namespace pst
