#include "TableContext.h"

#include "BTreeOnHeap.h"
#include "pst/ndb/NodeDatabase.h"

#include <algorithm>

namespace pst {

namespace {

constexpr std::uint8_t kTCType = 0x7C;
// Rows too large for one heap item live in this subnode, as in Outlook's own files.
constexpr std::uint32_t kRowMatrixSubnode = MakeNid(1, NID_TYPE_LTP);

std::uint8_t CellWidth(std::uint16_t type)
{
    const std::size_t fixed = FixedSize(type);
    return static_cast<std::uint8_t>(fixed ? fixed : 4);  // everything else is an HNID
}

}  // namespace

TableLayout TableLayout::ForColumns(std::vector<std::uint32_t> tags)
{
    tags.erase(std::remove_if(tags.begin(), tags.end(),
                              [](std::uint32_t t) { return t == kTagLtpRowId || t == kTagLtpRowVer; }),
               tags.end());
    tags.insert(tags.begin(), {kTagLtpRowId, kTagLtpRowVer});

    TableLayout layout;
    std::uint16_t at = 0;
    // First pass: 8- and 4-byte cells together, in column order.
    std::vector<TCOLDESC> columns(tags.size());
    for (std::size_t i = 0; i < tags.size(); ++i) {
        columns[i].tag = tags[i];
        columns[i].iBit = static_cast<std::uint8_t>(i);
        columns[i].cbData = CellWidth(static_cast<std::uint16_t>(tags[i] & 0xFFFF));
    }
    for (auto& c : columns)
        if (c.cbData >= 4) {
            c.ibData = at;
            at = static_cast<std::uint16_t>(at + c.cbData);
        }
    layout.rgib[0] = at;
    for (auto& c : columns)
        if (c.cbData == 2) {
            c.ibData = at;
            at = static_cast<std::uint16_t>(at + 2);
        }
    layout.rgib[1] = at;
    for (auto& c : columns)
        if (c.cbData == 1) {
            c.ibData = at;
            at = static_cast<std::uint16_t>(at + 1);
        }
    layout.rgib[2] = at;
    layout.rgib[3] = static_cast<std::uint16_t>(at + (columns.size() + 7) / 8);
    layout.columns = std::move(columns);
    return layout;
}

void EncodeRow(const TableLayout& layout, std::uint32_t rowId, std::uint32_t version, CellLookup cell,
               StoreVariable storeVariable, std::uint8_t* out)
{
    std::uint8_t* bitmap = out + layout.rgib[2];
    for (const TCOLDESC& c : layout.columns) {
        const std::uint8_t* value = nullptr;
        std::size_t size = 0;
        std::uint8_t own[4];
        if (c.tag == kTagLtpRowId || c.tag == kTagLtpRowVer) {
            Put32(own, c.tag == kTagLtpRowId ? rowId : version);
            value = own;
            size = 4;
        } else {
            value = cell(c.tag, &size);
            if (!value)
                continue;
        }
        const auto type = static_cast<std::uint16_t>(c.tag & 0xFFFF);
        if (FixedSize(type)) {
            std::copy_n(value, std::min<std::size_t>(c.cbData, size), out + c.ibData);
        } else if (size > 0) {
            const std::optional<std::uint32_t> hnid = storeVariable(value, size);
            if (!hnid)
                continue;
            Put32(out + c.ibData, *hnid);
        }
        bitmap[c.iBit / 8] |= static_cast<std::uint8_t>(0x80 >> (c.iBit % 8));
    }
}

Bytes TableInfo(const TableLayout& layout, std::uint32_t hidRowIndex, std::uint32_t hnidRows)
{
    std::vector<TCOLDESC> sorted = layout.columns;
    std::sort(sorted.begin(), sorted.end(), [](const TCOLDESC& a, const TCOLDESC& b) { return a.tag < b.tag; });
    Bytes info;
    info.reserve(22 + 8 * sorted.size());
    ByteWriter w(info);
    w.u8(kTCType);
    w.u8(static_cast<std::uint8_t>(sorted.size()));
    for (std::uint16_t ib : layout.rgib)
        w.u16(ib);
    w.u32(hidRowIndex);
    w.u32(hnidRows);
    w.u32(0);  // hidIndex: deprecated
    for (const TCOLDESC& c : sorted) {
        w.u32(c.tag);
        w.u16(c.ibData);
        w.u8(c.cbData);
        w.u8(c.iBit);
    }
    return info;
}

std::vector<Bytes> RowMatrixBlocks(const Bytes& matrix, std::uint16_t rowSize)
{
    // Each block holds as many whole rows as a full block takes, and every block but the last is
    // padded to the full size (MS-PST 2.3.4.4): readers find row i in block i / rowsPerBlock at
    // offset (i % rowsPerBlock) * rowSize.
    const std::size_t perBlock = std::max<std::size_t>(1, NodeDatabase::kMaxBlockData / rowSize) * rowSize;
    std::vector<Bytes> blocks;
    for (std::size_t at = 0; at < matrix.size(); at += perBlock) {
        const std::size_t n = std::min(perBlock, matrix.size() - at);
        Bytes block(matrix.begin() + static_cast<std::ptrdiff_t>(at), matrix.begin() + static_cast<std::ptrdiff_t>(at + n));
        if (at + n < matrix.size())
            block.resize(NodeDatabase::kMaxBlockData, 0);
        blocks.push_back(std::move(block));
    }
    return blocks;
}

NodeImage BuildTableContext(const TableLayout& layout, const std::vector<TableRow>& rows)
{
    NodeImage image;
    HeapOnNode heap(HeapOnNode::kTableContext);
    std::uint32_t nextSubnode = 0x400;
    const std::uint16_t rowSize = layout.rowSize();

    // Outlook's order: the row index's header (HID 0x20), TCINFO, the row index's leaf, the row
    // matrix when it fits the heap, then the cells' values.
    const std::uint32_t hidRowIndexHeader = heap.AllocateZeroed(8);
    const std::uint32_t hidInfo = heap.Allocate(TableInfo(layout, 0, 0));
    ReservedBTree rowIndex{hidRowIndexHeader, 0, 4, 4};
    if (!rows.empty() && rows.size() * 8 <= HeapOnNode::kMaxItem)
        rowIndex.leaf = heap.AllocateZeroed(rows.size() * 8);
    const std::size_t matrixBytes = rows.size() * rowSize;
    const bool matrixInHeap = matrixBytes > 0 && matrixBytes <= HeapOnNode::kMaxItem;
    const std::uint32_t hidMatrix = matrixInHeap ? heap.AllocateZeroed(matrixBytes) : 0;

    // The row matrix: fixed cells inline, variable ones as HNIDs into this table's heap.
    Bytes matrix(matrixBytes, 0);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const TableRow& row = rows[i];
        EncodeRow(
            layout, row.rowId, row.version,
            [&](std::uint32_t tag, std::size_t* size) -> const std::uint8_t* {
                static const std::uint8_t kNothing = 0;
                auto it = row.cells.find(tag);
                if (it == row.cells.end())
                    return nullptr;
                *size = it->second.size();
                return it->second.empty() ? &kNothing : it->second.data();
            },
            [&](const std::uint8_t* value, std::size_t size) -> std::optional<std::uint32_t> {
                if (size <= HeapOnNode::kMaxItem)
                    return heap.Allocate(value, size);
                const std::uint32_t hnid = MakeNid(nextSubnode++, NID_TYPE_LTP);
                image.subnodes.push_back({hnid, SplitIntoBlocks(Bytes(value, value + size)), {}});
                return hnid;
            },
            matrix.data() + i * rowSize);
    }

    // The row index: row ID to row number, sorted by row ID.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> index;
    index.reserve(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i)
        index.emplace_back(rows[i].rowId, static_cast<std::uint32_t>(i));
    std::sort(index.begin(), index.end());
    Bytes records(index.size() * 8);
    for (std::size_t i = 0; i < index.size(); ++i) {
        Put32(records.data() + 8 * i, index[i].first);
        Put32(records.data() + 8 * i + 4, index[i].second);
    }
    const std::uint32_t hidRowIndex = FillBTreeOnHeap(heap, rowIndex, records);

    std::uint32_t hnidRows = 0;
    if (matrixInHeap) {
        heap.Replace(hidMatrix, matrix);
        hnidRows = hidMatrix;
    } else if (matrixBytes > 0) {
        image.subnodes.push_back({kRowMatrixSubnode, RowMatrixBlocks(matrix, rowSize), {}});
        hnidRows = kRowMatrixSubnode;
    }
    heap.Replace(hidInfo, TableInfo(layout, hidRowIndex, hnidRows));
    heap.SetUserRoot(hidInfo);
    heap.BlocksInto(image.blocks);
    return image;
}

}  // namespace pst
