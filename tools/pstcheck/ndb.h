// Node database layer (MS-PST 2.2): header, pages, BTrees, blocks, allocation maps.
#pragma once

#include "report.h"

#include <array>
#include <map>
#include <optional>
#include <unordered_map>

namespace pstcheck {

struct Bref {
    std::uint64_t bid = 0;
    std::uint64_t ib = 0;
};

struct Header {
    std::uint16_t wMagicClient = 0;
    std::uint16_t wVer = 0;
    std::uint16_t wVerClient = 0;
    std::uint64_t bidNextP = 0;
    std::uint64_t bidNextB = 0;
    std::uint32_t dwUnique = 0;
    std::array<std::uint32_t, 32> rgnid{};
    std::uint64_t ibFileEof = 0;
    std::uint64_t ibAMapLast = 0;
    std::uint64_t cbAMapFree = 0;
    std::uint64_t cbPMapFree = 0;
    Bref nbt;
    Bref bbt;
    std::uint8_t fAMapValid = 0;
    std::uint8_t bCryptMethod = 0;
};

struct NbtEntry {
    std::uint32_t nid = 0;
    std::uint64_t bidData = 0;
    std::uint64_t bidSub = 0;
    std::uint32_t nidParent = 0;
    std::uint64_t pageIb = 0;  // leaf page holding the entry
};

struct BbtEntry {
    std::uint64_t bid = 0;
    std::uint64_t ib = 0;
    std::uint16_t cb = 0;
    std::uint16_t cRef = 0;
    std::uint64_t pageIb = 0;
    bool sound = false;  // trailer, CRC and range checked out
    Bytes data;          // the cb stored bytes, decoded when external and permuted
    unsigned refs = 0;   // references found from NBT, SL/SI and X/XX blocks
    bool walked = false; // internal block whose children were already counted
};

struct Subnode {
    std::uint32_t nid = 0;
    std::uint64_t bidData = 0;
    std::uint64_t bidSub = 0;
};
using SubnodeMap = std::map<std::uint32_t, Subnode>;

inline std::uint32_t nidType(std::uint32_t nid) { return nid & 0x1F; }
inline std::uint32_t nidIndex(std::uint32_t nid) { return nid >> 5; }

class Ndb {
public:
    Ndb(Bytes file, Report& report);
    // A file already in memory (a mapping) that outlives the Ndb.
    Ndb(const std::uint8_t* data, std::uint64_t size, Report& report);

    // Reads and checks everything of the NDB layer. False when the store cannot be read at all
    // (no header, not Unicode, or no NBT).
    bool load();

    const Header& header() const { return header_; }
    const std::map<std::uint32_t, NbtEntry>& nodes() const { return nodes_; }
    const NbtEntry* node(std::uint32_t nid) const;

    // The leaf blocks of a data tree, in order; nullopt when the tree is broken. bid 0 gives no blocks.
    std::optional<std::vector<const Bytes*>> dataBlocks(std::uint64_t bid) const;
    std::optional<Bytes> dataBytes(std::uint64_t bid) const;
    // The subnodes of a subnode tree; nullopt when broken. bid 0 gives an empty map.
    std::optional<SubnodeMap> subnodes(std::uint64_t bid) const;
    // Total bytes of a node's data tree and all its subnodes' trees, recursively.
    std::uint64_t nodeSize(std::uint64_t bidData, std::uint64_t bidSub) const;

private:
    const std::uint8_t* fileAt(std::uint64_t ib, std::uint64_t size) const;
    bool parseHeader();
    const std::uint8_t* checkPage(std::uint64_t ib, std::uint8_t ptype, std::uint64_t bid, const char* what);
    void checkMaps();
    void walkBTree(bool nbt, const Bref& ref, int expectLevel, std::optional<std::uint64_t> firstKey, int depth);
    void checkBlocks();
    void countReferences();
    void refData(std::uint64_t bid, const std::string& where, int wantLevel);
    void refSub(std::uint64_t bid, const std::string& where, int wantLevel);
    void checkRefCounts();
    void checkSpace();
    void checkCounters();
    void claim(std::uint64_t ib, std::uint64_t size, const std::string& what);
    BbtEntry* block(std::uint64_t bid);
    const BbtEntry* block(std::uint64_t bid) const;
    bool collect(std::uint64_t bid, int wantLevel, std::vector<const Bytes*>& out, int depth) const;
    bool collectSub(std::uint64_t bid, int wantLevel, SubnodeMap& out, int depth) const;
    std::uint64_t nodeSizeAt(std::uint64_t bidData, std::uint64_t bidSub, int depth) const;

    Bytes owned_;
    const std::uint8_t* data_ = nullptr;
    std::uint64_t size_ = 0;
    Report& r_;
    Header header_;
    std::uint64_t intervals_ = 0;
    bool mapsTrusted_ = true;  // fAMapValid is not 0
    std::map<std::uint32_t, NbtEntry> nodes_;
    std::vector<BbtEntry> blocks_;
    std::unordered_map<std::uint64_t, std::size_t> blockIndex_;  // bid & ~1 -> blocks_
    std::map<std::uint64_t, std::uint64_t> pageBids_;           // BTree page bid -> ib
    std::vector<std::uint32_t> owner_;                          // per 64-byte unit; 0 = unused
    std::vector<std::string> ownerNames_;
    std::optional<std::uint64_t> lastKey_[2];
};

}  // namespace pstcheck
