// CRC, block signature and the permute decoding of MS-PST section 5.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pstcheck {

// MS-PST 5.3: reflected CRC-32 table (0xEDB88320), initial value 0, no final xor.
std::uint32_t pstCrc(const std::uint8_t* data, std::size_t size, std::uint32_t seed = 0);

// MS-PST 5.5: signature of a block or page from its file offset and BID (low 32 bits of both).
std::uint16_t blockSignature(std::uint64_t ib, std::uint64_t bid);

// MS-PST 5.1, NDB_CRYPT_PERMUTE: decodes the stored bytes of an external block in place.
void permuteDecode(std::uint8_t* data, std::size_t size);
// The inverse, used by tests to build encoded blocks.
void permuteEncode(std::uint8_t* data, std::size_t size);

}  // namespace pstcheck
