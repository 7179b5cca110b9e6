#pragma once

#include "Bytes.h"
#include "Header.h"

#include <cstdint>
#include <vector>

namespace pst {

inline constexpr std::size_t kPageSize = 512;
// Every page ends in a 16-byte PAGETRAILER; the CRC covers the 496 bytes before it.
inline constexpr std::size_t kPageDataSize = 496;

enum class PageType : std::uint8_t {
    BBT = 0x80,
    NBT = 0x81,
    FMap = 0x82,
    PMap = 0x83,
    AMap = 0x84,
    FPMap = 0x85,
    DList = 0x86,
};

// PAGETRAILER (MS-PST 2.2.2.7.1): fills in the last 16 bytes of a 512-byte page. Map pages carry
// no signature, and their trailer BID is their own file offset.
void WritePageTrailer(std::uint8_t* page, PageType type, std::uint64_t bid, std::uint64_t ib);

// NBTENTRY (MS-PST 2.2.2.7.7.4): a node of the node B-tree.
struct NBTENTRY {
    std::uint32_t nid = 0;
    std::uint64_t bidData = 0;
    std::uint64_t bidSub = 0;
    std::uint32_t nidParent = 0;
};

// BBTENTRY (MS-PST 2.2.2.7.7.3): a block of the block B-tree; cRef counts the entry itself plus
// every reference to the block.
struct BBTENTRY {
    BREF bref;
    std::uint16_t cb = 0;
    std::uint16_t cRef = 0;
};

// The key each B-tree sorts its entries by.
inline std::uint64_t TreeKey(const NBTENTRY& e) { return e.nid; }
inline std::uint64_t TreeKey(const BBTENTRY& e) { return e.bref.bid; }

// BTENTRY (MS-PST 2.2.2.7.7.2): an intermediate entry, keyed by the first key of its child page.
struct BTENTRY {
    std::uint64_t btkey = 0;
    BREF bref;
};

// BTPAGE (MS-PST 2.2.2.7.7.1) contents, laid out for one page.
struct BTPage {
    static constexpr int kNbtLeafMax = 15;
    static constexpr int kBbtLeafMax = 20;
    static constexpr int kIntermediateMax = 20;

    static Bytes NbtLeaf(const NBTENTRY* entries, int count, std::uint64_t bid, std::uint64_t ib);
    static Bytes BbtLeaf(const BBTENTRY* entries, int count, std::uint64_t bid, std::uint64_t ib);
    static Bytes Intermediate(PageType type, const BTENTRY* entries, int count, std::uint8_t level,
                              std::uint64_t bid, std::uint64_t ib);

    // Reads back a leaf page written by NbtLeaf (type NBT, `entries` an NBTENTRY array) or BbtLeaf
    // (BBT, BBTENTRY) at `ref`: its entry count, or -1 when the page's trailer, checksum or layout
    // is not that of such a page.
    static int ReadLeaf(const std::uint8_t* page, PageType type, const BREF& ref, void* entries);
};

// An allocation map page (AMap, MS-PST 2.2.2.7.2) from its 496 bytes of bits.
Bytes AMapPage(const std::uint8_t* bits, std::uint64_t ib);
// PMap and FMap pages: deprecated, written all 0xFF as current Outlook does.
Bytes FilledMapPage(PageType type, std::uint64_t ib);
// An empty density list (MS-PST 2.2.2.7.4) at its fixed offset; its BID follows bidNextP.
Bytes DListPage(std::uint32_t currentAMapPage, std::uint64_t bidNextP, std::uint64_t ib);

}  // namespace pst
