#pragma once

#include "TableContext.h"

namespace pst {

class NodeDatabase;

// A table context that grows by rows appended at its end, each with a larger row ID than the
// one before, as new messages' NIDs are. Storing it writes only what changed since the last
// time: the first heap page (table info, row-index header, the last index leaf and the index
// over the full leaves), the heap page being filled, the last block of the row matrix, and the
// trees over them. Full pages and blocks stay as they are, so adding a row costs the same in a
// table of ten rows as in one of a hundred thousand, and only the open pages are held in memory.
class AppendableTable {
public:
    explicit AppendableTable(TableLayout layout);

    // Appends a row. A variable-size cell too large for a heap item is left out of the row (the
    // table only repeats values its messages hold). Returns false, changing nothing, when the row
    // cannot be appended: its ID is not larger than the last, the row index has outgrown the
    // two levels of index entries this layout keeps (about 22 million rows), or the heap could
    // run out of pages for the row's values (a HID numbers at most 65,536 heap blocks; with the
    // cells of a calendar's contents table that is some five million rows).
    bool Append(const TableRow& row);
    // The same with the cells looked up by column tag, so that a row built from a message's own
    // properties need not copy them first.
    bool Append(std::uint32_t rowId, std::uint32_t version, CellLookup cell);
    std::size_t RowCount() const { return m_rows; }
    // Bytes appended since the last Store: what the table holds in memory until then.
    std::size_t PendingBytes() const { return m_pending; }

    // The heap blocks a table may use: MS-PST's 65,536 unless a test sets fewer, to reach the
    // limit with little data. Applies to tables made afterwards.
    static void LimitHeapBlocks(std::size_t blocks);

    // Writes what changed and enters the table as node `nid`.
    void Store(NodeDatabase& db, std::uint32_t nid);

private:
    struct DataPage {
        HeapPageItems items;  // kept while the page may still change
        std::size_t itemCount = 0;
        std::size_t itemBytes = 0;
        std::uint64_t bid = 0;
        bool dirty = true;
    };

    std::uint32_t AddToData(const std::uint8_t* item, std::size_t size);
    void DataPageBlock(std::size_t index, Bytes& block) const;
    void FirstPageBlock(Bytes& block);
    std::uint8_t FillOf(std::size_t index) const;

    TableLayout m_layout;
    Bytes m_info;  // TCINFO, its hnidRows set as the table grows
    std::size_t m_rows = 0;
    std::uint32_t m_lastRowId = 0;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> m_fullLeaves;  // first row ID, HID
    // Index items over kIndexFanout full leaves each, once there are that many: the row index
    // then has two levels.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> m_fullIndexes;  // first row ID, HID
    Bytes m_lastLeaf;                                                     // its records
    std::vector<DataPage> m_pages;                                        // [0] unused: page 0 is rebuilt
    std::vector<std::uint64_t> m_matrixFull;
    Bytes m_matrixTail;
    std::uint64_t m_matrixTailBid = 0;
    bool m_matrixTailDirty = false;
    std::size_t m_rowsPerBlock = 1;
    std::size_t m_pending = 0;
    std::size_t m_heapBlockLimit;
    // Buffers Store reuses.
    HeapPageItems m_firstPage;
    Bytes m_block;
    std::vector<std::size_t> m_written;
    std::vector<std::uint64_t> m_bids;
};

}  // namespace pst
