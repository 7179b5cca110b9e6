#include "AppendableTable.h"

#include "HeapOnNode.h"
#include "pst/ndb/NodeDatabase.h"

#include <algorithm>

namespace pst {

namespace {

constexpr std::uint32_t kRowMatrixSubnode = MakeNid(1, NID_TYPE_LTP);
constexpr std::size_t kRecord = 8;                                   // row ID and row number
constexpr std::size_t kRecordsPerLeaf = HeapOnNode::kMaxItem / kRecord;  // 447
constexpr std::size_t kMaxItemsPerPage = 2047;
// The first page's items, always in this order (Outlook's: the row index's header first): their
// HIDs never change.
constexpr std::uint32_t kHidIndexHeader = 0x20;
constexpr std::uint32_t kHidInfo = 0x40;
constexpr std::uint32_t kHidLastLeaf = 0x60;
constexpr std::uint32_t kHidIndex = 0x80;
constexpr std::uint32_t kHidRoot = 0xA0;  // the second index level, when there is one
// Entries of an index item: few enough that the last leaf, the open index item and the root all
// fit the first heap page beside the table info. 223 x 223 leaves of 447 rows: 22 million rows.
constexpr std::size_t kIndexFanout = 223;
// A HID's block index has 16 bits (MS-PST 2.3.1.1).
constexpr std::size_t kMaxHeapBlocks = 65536;
std::size_t g_heapBlockLimit = kMaxHeapBlocks;

}  // namespace

// TCINFO's hnidRows (MS-PST 2.3.4.1): after bType, cCols, rgib and hidRowIndex.
constexpr std::size_t kInfoHnidRows = 14;

AppendableTable::AppendableTable(TableLayout layout)
    : m_layout(std::move(layout))
    , m_info(TableInfo(m_layout, kHidIndexHeader, 0))
    , m_pages(1)
    , m_rowsPerBlock(std::max<std::size_t>(1, NodeDatabase::kMaxBlockData / std::max<std::uint16_t>(1, m_layout.rowSize())))
    , m_heapBlockLimit(g_heapBlockLimit)
{
}

void AppendableTable::LimitHeapBlocks(std::size_t blocks) { g_heapBlockLimit = std::min(blocks, kMaxHeapBlocks); }

std::uint8_t AppendableTable::FillOf(std::size_t index) const
{
    if (index == 0 || index >= m_pages.size())
        return 0;
    const DataPage& p = m_pages[index];
    return HeapOnNode::FillLevel(NodeDatabase::kMaxBlockData - HeapOnNode::PageSize(index, p.itemBytes, p.itemCount));
}

std::uint32_t AppendableTable::AddToData(const std::uint8_t* item, std::size_t size)
{
    std::size_t index = m_pages.size() - 1;
    if (index == 0 || m_pages[index].itemCount >= kMaxItemsPerPage
        || HeapOnNode::PageSize(index, m_pages[index].itemBytes + size, m_pages[index].itemCount + 1) > NodeDatabase::kMaxBlockData) {
        m_pages.emplace_back();
        index = m_pages.size() - 1;
    }
    DataPage& p = m_pages[index];
    p.items.push(item, size);
    p.itemBytes += size;
    ++p.itemCount;
    p.dirty = true;
    m_pending += size;
    return static_cast<std::uint32_t>(index << 16 | p.itemCount << 5);
}

bool AppendableTable::Append(const TableRow& row)
{
    return Append(row.rowId, row.version, [&](std::uint32_t tag, std::size_t* size) -> const std::uint8_t* {
        static const std::uint8_t kNothing = 0;
        auto it = row.cells.find(tag);
        if (it == row.cells.end())
            return nullptr;
        *size = it->second.size();
        return it->second.empty() ? &kNothing : it->second.data();
    });
}

bool AppendableTable::Append(std::uint32_t rowId, std::uint32_t version, CellLookup cell)
{
    if (m_rows > 0 && rowId <= m_lastRowId)
        return false;
    if (m_lastLeaf.size() / kRecord >= kRecordsPerLeaf && m_fullLeaves.size() + 1 >= kIndexFanout
        && m_fullIndexes.size() + 2 > kIndexFanout)
        return false;
    if (m_rows >= 0xFFFFFFFFu)
        return false;
    // Each of the row's values, a full index leaf and a full index item may each open a heap
    // page: the row goes in only if they all would fit.
    if (m_pages.size() + m_layout.columns.size() + 2 > m_heapBlockLimit)
        return false;

    // The row's bytes, straight into the matrix: variable cells in the heap; one too large for a
    // heap item is left out.
    const std::size_t at = m_matrixTail.size();
    m_matrixTail.resize(at + m_layout.rowSize(), 0);
    EncodeRow(
        m_layout, rowId, version, cell,
        [&](const std::uint8_t* value, std::size_t size) -> std::optional<std::uint32_t> {
            if (size > HeapOnNode::kMaxItem)
                return std::nullopt;
            return AddToData(value, size);
        },
        m_matrixTail.data() + at);

    // The row index: a full last leaf moves into the data pages and a new one starts.
    if (m_lastLeaf.size() / kRecord >= kRecordsPerLeaf) {
        const std::uint32_t first = Get32(m_lastLeaf.data());
        m_fullLeaves.emplace_back(first, AddToData(m_lastLeaf.data(), m_lastLeaf.size()));
        m_lastLeaf.clear();
        if (m_fullLeaves.size() >= kIndexFanout) {
            // A full index item over these leaves moves into the data pages too.
            Bytes index(8 * m_fullLeaves.size());
            for (std::size_t i = 0; i < m_fullLeaves.size(); ++i) {
                Put32(index.data() + 8 * i, m_fullLeaves[i].first);
                Put32(index.data() + 8 * i + 4, m_fullLeaves[i].second);
            }
            m_fullIndexes.emplace_back(m_fullLeaves.front().first, AddToData(index.data(), index.size()));
            m_fullLeaves.clear();
        }
    }
    ByteWriter(m_lastLeaf).u32(rowId);
    ByteWriter(m_lastLeaf).u32(static_cast<std::uint32_t>(m_rows));

    m_matrixTailDirty = true;
    m_pending += m_layout.rowSize();
    ++m_rows;
    m_lastRowId = rowId;
    return true;
}

void AppendableTable::DataPageBlock(std::size_t index, Bytes& block) const
{
    std::uint8_t header[64];
    std::size_t headerSize = 0;
    if (index % 128 == 8) {
        for (std::size_t i = 0; i < 128; i += 2)
            header[i / 2] = static_cast<std::uint8_t>(FillOf(index + i) | FillOf(index + i + 1) << 4);
        headerSize = 64;
    }
    HeapOnNode::LayOutPage(index, header, headerSize, m_pages[index].items, block);
}

void AppendableTable::FirstPageBlock(Bytes& block)
{
    Put32(m_info.data() + kInfoHnidRows, m_rows ? kRowMatrixSubnode : 0);

    std::uint8_t indexHeader[8];
    indexHeader[0] = HeapOnNode::kBTreeOnHeap;
    indexHeader[1] = 4;
    indexHeader[2] = 4;
    const bool twoLevels = !m_fullIndexes.empty();
    indexHeader[3] = twoLevels ? 2 : m_fullLeaves.empty() ? 0 : 1;
    Put32(indexHeader + 4, m_rows == 0 ? 0 : twoLevels ? kHidRoot : m_fullLeaves.empty() ? kHidLastLeaf : kHidIndex);

    HeapPageItems& items = m_firstPage;
    items.clear();
    items.push(indexHeader, sizeof indexHeader);
    items.push(m_info.data(), m_info.size());
    if (m_rows > 0)
        items.push(m_lastLeaf.data(), m_lastLeaf.size());
    if (!m_fullLeaves.empty() || twoLevels) {
        // The index over the leaves: the full ones, then the last.
        const std::size_t at = items.data.size();
        items.data.resize(at + 8 * (m_fullLeaves.size() + 1));
        std::uint8_t* entry = items.data.data() + at;
        for (const auto& [first, hid] : m_fullLeaves) {
            Put32(entry, first);
            Put32(entry + 4, hid);
            entry += 8;
        }
        Put32(entry, Get32(m_lastLeaf.data()));
        Put32(entry + 4, kHidLastLeaf);
        items.ends.push_back(static_cast<std::uint16_t>(items.data.size()));
    }
    if (twoLevels) {
        // The root over the full index items, then the open one.
        const std::size_t at = items.data.size();
        items.data.resize(at + 8 * (m_fullIndexes.size() + 1));
        std::uint8_t* entry = items.data.data() + at;
        for (const auto& [first, hid] : m_fullIndexes) {
            Put32(entry, first);
            Put32(entry + 4, hid);
            entry += 8;
        }
        Put32(entry, m_fullLeaves.empty() ? Get32(m_lastLeaf.data()) : m_fullLeaves.front().first);
        Put32(entry + 4, kHidIndex);
        items.ends.push_back(static_cast<std::uint16_t>(items.data.size()));
    }

    std::uint8_t header[10];
    header[0] = 0xEC;
    header[1] = HeapOnNode::kTableContext;
    Put32(header + 2, kHidInfo);
    const std::uint8_t own =
        HeapOnNode::FillLevel(NodeDatabase::kMaxBlockData - HeapOnNode::PageSize(0, items.bytes(), items.count()));
    for (std::size_t i = 0; i < 8; i += 2)
        header[6 + i / 2] = static_cast<std::uint8_t>((i == 0 ? own : FillOf(i)) | FillOf(i + 1) << 4);
    HeapOnNode::LayOutPage(0, header, sizeof header, items, block);
}

void AppendableTable::Store(NodeDatabase& db, std::uint32_t nid)
{
    // Heap pages: the first one always, the others when they changed. A page that will not
    // change again lets go of its items; bitmap pages keep theirs, as the fill levels they
    // carry follow the pages after them.
    const std::size_t last = m_pages.size() - 1;
    m_written.clear();
    for (std::size_t i = 1; i <= last; ++i) {
        if (!m_pages[i].dirty)
            continue;
        DataPageBlock(i, m_block);
        m_pages[i].bid = db.WriteDataBlock(m_block);
        m_pages[i].dirty = false;
        m_written.push_back(i);
    }
    // The bitmap page over each page written carries its fill level: rewrite those not written
    // already. Rows added between two stores can fill the last pages of one group of 128 and
    // open the next, so the bitmap of more than one group may be out of date.
    const std::size_t writtenPages = m_written.size();
    for (std::size_t k = 0; k < writtenPages; ++k) {
        const std::size_t i = m_written[k];
        if (i < 8)
            continue;  // page 0's header carries these, and it is always written
        const std::size_t bitmap = 8 + (i - 8) / 128 * 128;
        if (std::find(m_written.begin(), m_written.end(), bitmap) == m_written.end()) {
            DataPageBlock(bitmap, m_block);
            m_pages[bitmap].bid = db.WriteDataBlock(m_block);
            m_written.push_back(bitmap);
        }
    }
    for (std::size_t i : m_written) {
        if (i != last && i % 128 != 8) {
            m_pages[i].items.data.clear();
            m_pages[i].items.data.shrink_to_fit();
            m_pages[i].items.ends.clear();
            m_pages[i].items.ends.shrink_to_fit();
        }
    }
    FirstPageBlock(m_block);
    m_bids.clear();
    m_bids.push_back(db.WriteDataBlock(m_block));
    for (std::size_t i = 1; i <= last; ++i)
        m_bids.push_back(m_pages[i].bid);
    const std::uint64_t bidData = db.WriteTree(m_bids);

    // The row matrix: whole rows to a block, every block but the last padded to the full size
    // (MS-PST 2.3.4.4). Only the last block changes; once rows follow it, a full block is written
    // padded for good.
    std::uint64_t bidSub = 0;
    if (m_rows > 0) {
        const std::size_t blockRows = m_rowsPerBlock * m_layout.rowSize();
        if (m_matrixTail.size() > blockRows) {
            std::size_t at = 0;
            for (; m_matrixTail.size() - at > blockRows; at += blockRows) {
                m_block.assign(m_matrixTail.begin() + static_cast<std::ptrdiff_t>(at),
                               m_matrixTail.begin() + static_cast<std::ptrdiff_t>(at + blockRows));
                m_block.resize(NodeDatabase::kMaxBlockData, 0);
                m_matrixFull.push_back(db.WriteDataBlock(m_block));
            }
            m_matrixTail.erase(m_matrixTail.begin(), m_matrixTail.begin() + static_cast<std::ptrdiff_t>(at));
        }
        if (m_matrixTailDirty) {
            m_matrixTailBid = db.WriteDataBlock(m_matrixTail);
            m_matrixTailDirty = false;
        }
        m_bids.assign(m_matrixFull.begin(), m_matrixFull.end());
        m_bids.push_back(m_matrixTailBid);
        bidSub = db.WriteSubnodes({{kRowMatrixSubnode, db.WriteTree(m_bids), 0}});
    }
    db.SetNode({nid, bidData, bidSub, 0});
    m_pending = 0;
}

}  // namespace pst
