#pragma once

#include "TableContext.h"

namespace pst {

class NodeDatabase;

// A table context that grows by rows appended at its end, each with a larger row ID than the
// one before, as new messages' NIDs are. Storing it writes only what changed since the last
// time: the first heap page (table info, row-index header, the last index leaf and the index
// over the full leaves), the heap page being filled, the last block of the row matrix, and the
// trees over them. Full pages and blocks stay as they are, so adding a row costs the same in a
// table of ten rows as in one of a hundred thousand. Between stores the table holds in memory
// only what was appended since: what Store wrote is let go, and the few blocks it rewrites (the
// page being filled, the last row-matrix block, a bitmap page whose fill levels changed) are
// read back from the file.
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
    // Bytes of heap items and rows the table holds in memory (allocated), beyond its bookkeeping.
    std::size_t HeldBytes() const;

    // The heap blocks a table may use: MS-PST's 65,536 unless a test sets fewer, to reach the
    // limit with little data. Applies to tables made afterwards.
    static void LimitHeapBlocks(std::size_t blocks);

    // Writes what changed and enters the table as node `nid`. A table is stored into one
    // database only: what it lets go is read back from there.
    void Store(NodeDatabase& db, std::uint32_t nid);

private:
    struct DataPage {
        // The items added since the page's block was last written; the block holds the ones
        // before them (itemCount - items.count() of them).
        HeapPageItems items;
        std::size_t itemCount = 0;
        std::size_t itemBytes = 0;
        std::uint64_t bid = 0;
        bool dirty = true;
    };

    std::uint32_t AddToData(const std::uint8_t* item, std::size_t size);
    // Puts the items of page `index` that only its block holds back in front of those in memory.
    void LoadPage(NodeDatabase& db, std::size_t index);
    // Lays out page `index`, writes it and lets go of its items.
    void WritePage(NodeDatabase& db, std::size_t index, Bytes& block);
    void DataPageBlock(std::size_t index, Bytes& block) const;
    void FirstPageBlock(HeapPageItems& items, Bytes& block);
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
    // The rows after the last full row-matrix block: the first m_tailStored bytes of them are in
    // block m_matrixTailBid only, the rest (appended since) in m_matrixTail.
    Bytes m_matrixTail;
    std::size_t m_tailStored = 0;
    std::uint64_t m_matrixTailBid = 0;
    bool m_matrixTailDirty = false;
    std::size_t m_rowsPerBlock = 1;
    std::size_t m_pending = 0;
    std::size_t m_heapBlockLimit;
};

}  // namespace pst
