#include "Crc.h"

#include <array>

namespace pst {

namespace {

constexpr std::array<std::uint32_t, 256> MakeTable()
{
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[i] = c;
    }
    return table;
}

constexpr auto kTable = MakeTable();

}  // namespace

std::uint32_t ComputeCrc(const std::uint8_t* data, std::size_t size, std::uint32_t crc)
{
    for (std::size_t i = 0; i < size; ++i)
        crc = kTable[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return crc;
}

std::uint16_t ComputeSig(std::uint64_t ib, std::uint64_t bid)
{
    const auto v = static_cast<std::uint32_t>((ib ^ bid) & 0xFFFFFFFFu);
    return static_cast<std::uint16_t>((v >> 16) ^ (v & 0xFFFF));
}

}  // namespace pst
