#include "Crc.h"

#include <array>

namespace pst {

namespace {

// Eight tables for slicing-by-8: the same reflected CRC-32 table, extended so that eight bytes
// are folded in per step.
using Tables = std::array<std::array<std::uint32_t, 256>, 8>;

constexpr Tables MakeTables()
{
    Tables t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        t[0][i] = c;
    }
    for (std::uint32_t i = 0; i < 256; ++i)
        for (std::size_t s = 1; s < 8; ++s)
            t[s][i] = (t[s - 1][i] >> 8) ^ t[0][t[s - 1][i] & 0xFF];
    return t;
}

constexpr Tables kTables = MakeTables();

}  // namespace

std::uint32_t ComputeCrc(const std::uint8_t* data, std::size_t size, std::uint32_t crc)
{
    while (size >= 8) {
        const std::uint32_t lo = crc ^ (static_cast<std::uint32_t>(data[0]) | static_cast<std::uint32_t>(data[1]) << 8
                                        | static_cast<std::uint32_t>(data[2]) << 16 | static_cast<std::uint32_t>(data[3]) << 24);
        crc = kTables[7][lo & 0xFF] ^ kTables[6][(lo >> 8) & 0xFF] ^ kTables[5][(lo >> 16) & 0xFF] ^ kTables[4][lo >> 24]
              ^ kTables[3][data[4]] ^ kTables[2][data[5]] ^ kTables[1][data[6]] ^ kTables[0][data[7]];
        data += 8;
        size -= 8;
    }
    while (size--)
        crc = kTables[0][(crc ^ *data++) & 0xFF] ^ (crc >> 8);
    return crc;
}

std::uint16_t ComputeSig(std::uint64_t ib, std::uint64_t bid)
{
    const auto v = static_cast<std::uint32_t>((ib ^ bid) & 0xFFFFFFFFu);
    return static_cast<std::uint16_t>((v >> 16) ^ (v & 0xFFFF));
}

}  // namespace pst
