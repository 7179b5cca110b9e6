#pragma once

#include <cstddef>
#include <cstdint>

namespace pst {

// The format's CRC (MS-PST 5.3): the reflected CRC-32 table, but started at 0 and with no final
// inversion, so it differs from the usual CRC-32 ("123456789" gives 0x2DFD2D88).
std::uint32_t ComputeCrc(const std::uint8_t* data, std::size_t size, std::uint32_t crc = 0);

// Signature of a block or page (MS-PST 5.5), from its file offset and BID.
std::uint16_t ComputeSig(std::uint64_t ib, std::uint64_t bid);

}  // namespace pst
