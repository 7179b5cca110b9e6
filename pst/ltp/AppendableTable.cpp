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

}  // namespace

AppendableTable::AppendableTable(TableLayout layout)
    : m_layout(std::move(layout))
    , m_pages(1)
    , m_rowsPerBlock(std::max<std::size_t>(1, NodeDatabase::kMaxBlockData / std::max<std::uint16_t>(1, m_layout.rowSize())))
{
}

std::uint8_t AppendableTable::FillOf(std::size_t index) const
{
    if (index == 0 || index >= m_pages.size())
        return 0;
    const DataPage& p = m_pages[index];
    return HeapOnNode::FillLevel(NodeDatabase::kMaxBlockData - HeapOnNode::PageSize(index, p.itemBytes, p.itemCount));
}

std::uint32_t AppendableTable::AddToData(const Bytes& item)
{
    std::size_t index = m_pages.size() - 1;
    if (index == 0 || m_pages[index].itemCount >= kMaxItemsPerPage
        || HeapOnNode::PageSize(index, m_pages[index].itemBytes + item.size(), m_pages[index].itemCount + 1) > NodeDatabase::kMaxBlockData) {
        m_pages.emplace_back();
        index = m_pages.size() - 1;
    }
    DataPage& p = m_pages[index];
    p.items.push_back(item);
    p.itemBytes += item.size();
    ++p.itemCount;
    p.dirty = true;
    return static_cast<std::uint32_t>(index << 16 | p.itemCount << 5);
}

bool AppendableTable::Append(const TableRow& row)
{
    if (m_rows > 0 && row.rowId <= m_lastRowId)
        return false;
    if (m_lastLeaf.size() / kRecord >= kRecordsPerLeaf && m_fullLeaves.size() + 2 > kRecordsPerLeaf)
        return false;
    if (m_rows >= 0xFFFFFFFFu)
        return false;

    // The row's bytes: variable cells in the heap; one too large for a heap item is left out.
    const Bytes r = EncodeRow(m_layout, row, [&](const Bytes& value) -> std::optional<std::uint32_t> {
        if (value.size() > HeapOnNode::kMaxItem)
            return std::nullopt;
        return AddToData(value);
    });

    // The row index: a full last leaf moves into the data pages and a new one starts.
    if (m_lastLeaf.size() / kRecord >= kRecordsPerLeaf) {
        const std::uint32_t first = Get32(m_lastLeaf.data());
        m_fullLeaves.emplace_back(first, AddToData(m_lastLeaf));
        m_lastLeaf.clear();
    }
    ByteWriter(m_lastLeaf).u32(row.rowId);
    ByteWriter(m_lastLeaf).u32(static_cast<std::uint32_t>(m_rows));

    m_matrixTail.insert(m_matrixTail.end(), r.begin(), r.end());
    m_matrixTailDirty = true;
    ++m_rows;
    m_lastRowId = row.rowId;
    return true;
}

Bytes AppendableTable::DataPageBlock(std::size_t index) const
{
    Bytes header;
    if (index % 128 == 8) {
        ByteWriter w(header);
        for (std::size_t i = 0; i < 128; i += 2)
            w.u8(static_cast<std::uint8_t>(FillOf(index + i) | FillOf(index + i + 1) << 4));
    }
    return HeapOnNode::LayOutPage(index, header, m_pages[index].items);
}

Bytes AppendableTable::FirstPageBlock() const
{
    const Bytes info = TableInfo(m_layout, kHidIndexHeader, m_rows ? kRowMatrixSubnode : 0);

    Bytes indexHeader;
    indexHeader.reserve(8);
    ByteWriter h(indexHeader);
    h.u8(HeapOnNode::kBTreeOnHeap);
    h.u8(4);
    h.u8(4);
    h.u8(m_fullLeaves.empty() ? 0 : 1);
    h.u32(m_rows == 0 ? 0 : m_fullLeaves.empty() ? kHidLastLeaf : kHidIndex);

    std::vector<Bytes> items = {indexHeader, info};
    if (m_rows > 0)
        items.push_back(m_lastLeaf);
    if (!m_fullLeaves.empty()) {
        Bytes index;
        ByteWriter x(index);
        for (const auto& [first, hid] : m_fullLeaves) {
            x.u32(first);
            x.u32(hid);
        }
        x.u32(Get32(m_lastLeaf.data()));
        x.u32(kHidLastLeaf);
        items.push_back(index);
    }

    Bytes header;
    ByteWriter hn(header);
    hn.u8(0xEC);
    hn.u8(HeapOnNode::kTableContext);
    hn.u32(kHidInfo);
    std::size_t bytes = 0;
    for (const Bytes& i : items)
        bytes += i.size();
    const std::uint8_t own = HeapOnNode::FillLevel(NodeDatabase::kMaxBlockData - HeapOnNode::PageSize(0, bytes, items.size()));
    for (std::size_t i = 0; i < 8; i += 2)
        hn.u8(static_cast<std::uint8_t>((i == 0 ? own : FillOf(i)) | FillOf(i + 1) << 4));
    return HeapOnNode::LayOutPage(0, header, items);
}

void AppendableTable::Store(NodeDatabase& db, std::uint32_t nid)
{
    // Heap pages: the first one always, the others when they changed. A page that will not
    // change again lets go of its items; bitmap pages keep theirs, as the fill levels they
    // carry follow the pages after them.
    const std::size_t last = m_pages.size() - 1;
    std::vector<std::size_t> written;
    for (std::size_t i = 1; i <= last; ++i) {
        if (!m_pages[i].dirty)
            continue;
        m_pages[i].bid = db.WriteDataBlock(DataPageBlock(i));
        m_pages[i].dirty = false;
        written.push_back(i);
    }
    // The bitmap page over each page written carries its fill level: rewrite those not written
    // already. The rows of one store can fill the last pages of a group of 128 and open the
    // next, so the bitmap of more than the last group may be out of date.
    const std::size_t writtenPages = written.size();
    for (std::size_t k = 0; k < writtenPages; ++k) {
        const std::size_t i = written[k];
        if (i < 8)
            continue;  // page 0's header carries these, and it is always written
        const std::size_t bitmap = 8 + (i - 8) / 128 * 128;
        if (std::find(written.begin(), written.end(), bitmap) == written.end()) {
            m_pages[bitmap].bid = db.WriteDataBlock(DataPageBlock(bitmap));
            written.push_back(bitmap);
        }
    }
    for (std::size_t i : written) {
        if (i != last && i % 128 != 8) {
            m_pages[i].items.clear();
            m_pages[i].items.shrink_to_fit();
        }
    }
    std::vector<std::uint64_t> pages = {db.WriteDataBlock(FirstPageBlock())};
    for (std::size_t i = 1; i <= last; ++i)
        pages.push_back(m_pages[i].bid);
    const std::uint64_t bidData = db.WriteTree(pages);

    // The row matrix: whole rows to a block, every block but the last padded to the full size
    // (MS-PST 2.3.4.4). Only the last block changes; once rows follow it, a full block is written
    // padded for good.
    std::uint64_t bidSub = 0;
    if (m_rows > 0) {
        const std::size_t blockRows = m_rowsPerBlock * m_layout.rowSize();
        if (m_matrixTail.size() > blockRows) {
            std::size_t at = 0;
            for (; m_matrixTail.size() - at > blockRows; at += blockRows) {
                Bytes block(m_matrixTail.begin() + static_cast<std::ptrdiff_t>(at),
                            m_matrixTail.begin() + static_cast<std::ptrdiff_t>(at + blockRows));
                block.resize(NodeDatabase::kMaxBlockData, 0);
                m_matrixFull.push_back(db.WriteDataBlock(block));
            }
            m_matrixTail.erase(m_matrixTail.begin(), m_matrixTail.begin() + static_cast<std::ptrdiff_t>(at));
        }
        if (m_matrixTailDirty) {
            m_matrixTailBid = db.WriteDataBlock(m_matrixTail);
            m_matrixTailDirty = false;
        }
        std::vector<std::uint64_t> blocks = m_matrixFull;
        blocks.push_back(m_matrixTailBid);
        bidSub = db.WriteSubnodes({{kRowMatrixSubnode, db.WriteTree(blocks), 0}});
    }
    db.SetNode({nid, bidData, bidSub, 0});
}

}  // namespace pst
