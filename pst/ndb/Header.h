#pragma once

#include "Bytes.h"

#include <array>
#include <cstdint>
#include <optional>

namespace pst {

// A reference to a page or block: its BID and file offset (MS-PST 2.2.2.4).
struct BREF {
    std::uint64_t bid = 0;
    std::uint64_t ib = 0;
};

// ROOT (MS-PST 2.2.2.5): where the two B-trees start and what the allocation maps hold.
struct Root {
    std::uint64_t ibFileEof = 0;
    std::uint64_t ibAMapLast = 0;
    std::uint64_t cbAMapFree = 0;
    std::uint64_t cbPMapFree = 0;
    BREF BREFNBT;
    BREF BREFBBT;
    std::uint8_t fAMapValid = 0;
};

// The Unicode HEADER (MS-PST 2.2.2.6), 564 bytes at offset 0.
struct Header {
    static constexpr std::size_t kSize = 0x234;
    static constexpr std::uint8_t kAMapValid = 0x02;
    static constexpr std::uint8_t kCryptNone = 0x00;
    static constexpr std::uint8_t kCryptPermute = 0x01;

    std::uint64_t bidNextP = 0;
    std::uint32_t dwUnique = 0;
    std::array<std::uint32_t, 32> rgnid{};
    Root root;
    std::uint8_t bCryptMethod = kCryptNone;
    std::uint64_t bidNextB = 0;

    // The header bytes, with both CRCs computed.
    Bytes Serialize() const;
    // Reads a header written by Serialize; empty when the magic, version or either CRC is wrong.
    static std::optional<Header> Parse(const std::uint8_t* data, std::size_t size);
};

}  // namespace pst
