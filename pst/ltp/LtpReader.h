#pragma once

#include "TableContext.h"
#include "pst/ndb/NodeDatabase.h"

#include <map>

namespace pst {

// Reads back the heaps, property contexts and table contexts of nodes this writer stored.
class LtpReader {
public:
    LtpReader(NodeDatabase& db, std::uint32_t nid);

    std::uint8_t ClientSig() const;
    std::uint32_t UserRoot() const;
    // An HNID's bytes: a heap item, or the data of a subnode.
    Bytes Value(std::uint32_t hnid);
    // The records of a BTree-on-heap, in key order.
    std::vector<Bytes> BTreeRecords(std::uint32_t hidHeader);

    // All properties of a property context, by ID.
    std::map<std::uint16_t, Property> Properties();

    struct Table {
        std::vector<TCOLDESC> columns;  // sorted by tag, as stored
        std::uint16_t rgib[4] = {};
        std::vector<TableRow> rows;     // in row-index order (by row ID)
    };
    Table ReadTable();

private:
    Bytes HeapItem(std::uint32_t hid) const;

    NodeDatabase& m_db;
    std::vector<Bytes> m_blocks;
    std::map<std::uint32_t, std::uint64_t> m_subnodes;
};

}  // namespace pst
