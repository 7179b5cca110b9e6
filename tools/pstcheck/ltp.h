// Lists, tables and properties layer (MS-PST 2.3): heap-on-node, BTree-on-heap, PC and TC.
#pragma once

#include "ndb.h"

#include <functional>
#include <span>

namespace pstcheck {

using ByteView = std::span<const std::uint8_t>;

constexpr std::uint8_t kSigPc = 0xBC;
constexpr std::uint8_t kSigTc = 0x7C;

// MS-PST 2.3.1: a heap whose pages are the blocks of one data tree.
class Heap {
public:
    bool load(const std::vector<const Bytes*>& blocks, const std::string& where, Report& report);
    std::uint8_t clientSig() const { return clientSig_; }
    std::uint32_t userRoot() const { return userRoot_; }
    // The bytes of an allocated item; nullopt when hid does not name a live allocation.
    std::optional<ByteView> item(std::uint32_t hid) const;

private:
    std::vector<const Bytes*> blocks_;
    std::vector<std::vector<std::uint16_t>> allocs_;  // rgibAlloc of each page
    std::uint8_t clientSig_ = 0;
    std::uint32_t userRoot_ = 0;
};

struct BthRecord {
    std::uint64_t key = 0;
    ByteView data;
};

// MS-PST 2.3.2: all leaf records of the BTH whose header is item hid, checked for order.
std::optional<std::vector<BthRecord>> readBth(const Heap& heap, std::uint32_t hid, unsigned cbKey, unsigned cbEnt,
                                              const std::string& where, Report& report);

struct PropValue {
    std::uint16_t type = 0;
    std::optional<Bytes> bytes;  // inline values as their 1/2/4 bytes; nullopt when unresolved
};

struct PropertyContext {
    std::map<std::uint16_t, PropValue> props;  // by property ID
};

struct Column {
    std::uint32_t tag = 0;
    std::uint16_t ib = 0;
    std::uint8_t cb = 0;
    std::uint8_t iBit = 0;
};

struct Row {
    std::uint32_t id = 0;
    std::map<std::uint32_t, Bytes> cells;  // tag -> value, only cells whose existence bit is set
};

struct Table {
    std::vector<Column> columns;
    std::vector<Row> rows;  // in row-index (row ID) order; empty when they went to a RowSink
    std::size_t rowCount = 0;
};

// Takes each row as it is read, in place of keeping it in the Table: a contents table of a
// million rows is checked a row at a time.
using RowSink = std::function<void(Row&&)>;

// MS-PST 2.3.3 and 2.3.4: the PC or TC rooted at the heap's hidUserRoot; subs resolves subnode HNIDs.
PropertyContext readPc(const Ndb& ndb, const Heap& heap, const SubnodeMap& subs, const std::string& where,
                       Report& report);
std::optional<Table> readTc(const Ndb& ndb, const Heap& heap, const SubnodeMap& subs, const std::string& where,
                            Report& report, const RowSink* sink = nullptr);

// What a node or subnode holds.
struct NodeContent {
    enum class Kind { Data, Pc, Tc } kind = Kind::Data;
    std::uint64_t bytes = 0;  // size of the data tree
    std::optional<PropertyContext> pc;
    std::optional<Table> tc;
};

// Reads a node's data tree; wantSig is 0 to decide from the content, else the client signature required.
NodeContent readNode(const Ndb& ndb, std::uint64_t bidData, std::uint64_t bidSub, std::uint8_t wantSig,
                     const std::string& where, Report& report, const RowSink* sink = nullptr);

// The client signature a node of this NID must carry; 0 when the node is not a heap or may be anything.
std::uint8_t expectedClientSig(std::uint32_t nid, bool subnode);

}  // namespace pstcheck
