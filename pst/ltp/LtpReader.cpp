#include "LtpReader.h"

namespace pst {

LtpReader::LtpReader(NodeDatabase& db, std::uint32_t nid)
    : m_db(db)
{
    const auto node = db.Node(nid);
    if (!node)
        throw StoreError("no node " + std::to_string(nid));
    m_blocks = db.ReadBlocks(node->bidData);
    for (const SLENTRY& sub : db.ReadSubnodes(node->bidSub))
        m_subnodes[sub.nid] = sub.bidData;
    if (m_blocks.empty() || m_blocks[0].size() < 12 || m_blocks[0][2] != 0xEC)
        throw StoreError("node " + std::to_string(nid) + " holds no heap");
}

std::uint8_t LtpReader::ClientSig() const { return m_blocks[0][3]; }

std::uint32_t LtpReader::UserRoot() const { return Get32(m_blocks[0].data() + 4); }

Bytes LtpReader::HeapItem(std::uint32_t hid) const
{
    const std::size_t page = hid >> 16;
    const std::size_t index = (hid >> 5) & 0x7FF;
    const Bytes& b = m_blocks.at(page);
    const std::uint16_t ibHnpm = Get16(b.data());
    const std::uint16_t count = Get16(b.data() + ibHnpm);
    if (index == 0 || index > count)
        throw StoreError("a heap reference past the end of its page");
    const std::uint16_t start = Get16(b.data() + ibHnpm + 4 + 2 * (index - 1));
    const std::uint16_t end = Get16(b.data() + ibHnpm + 4 + 2 * index);
    return Bytes(b.begin() + start, b.begin() + end);
}

Bytes LtpReader::Value(std::uint32_t hnid)
{
    if (hnid == 0)
        return {};
    if ((hnid & 0x1F) == 0)
        return HeapItem(hnid);
    return m_db.ReadData(m_subnodes.at(hnid));
}

std::vector<Bytes> LtpReader::BTreeRecords(std::uint32_t hidHeader)
{
    const Bytes header = HeapItem(hidHeader);
    const std::uint8_t cbKey = header[1];
    const std::uint8_t cbEnt = header[2];
    const std::uint8_t levels = header[3];
    const std::uint32_t root = Get32(header.data() + 4);
    std::vector<Bytes> out;
    if (root == 0)
        return out;
    // Walk down the index levels, then collect the leaves in order.
    std::vector<std::uint32_t> items = {root};
    for (std::uint8_t level = levels; level > 0; --level) {
        std::vector<std::uint32_t> next;
        for (std::uint32_t hid : items) {
            const Bytes item = HeapItem(hid);
            for (std::size_t at = 0; at + cbKey + 4 <= item.size(); at += cbKey + 4u)
                next.push_back(Get32(item.data() + at + cbKey));
        }
        items = std::move(next);
    }
    for (std::uint32_t hid : items) {
        const Bytes item = HeapItem(hid);
        for (std::size_t at = 0; at + cbKey + cbEnt <= item.size(); at += static_cast<std::size_t>(cbKey) + cbEnt)
            out.emplace_back(item.begin() + static_cast<std::ptrdiff_t>(at),
                             item.begin() + static_cast<std::ptrdiff_t>(at + cbKey + cbEnt));
    }
    return out;
}

std::map<std::uint16_t, Property> LtpReader::Properties()
{
    std::map<std::uint16_t, Property> props;
    for (const Bytes& rec : BTreeRecords(UserRoot())) {
        Property p;
        p.id = Get16(rec.data());
        p.type = Get16(rec.data() + 2);
        const std::uint32_t cell = Get32(rec.data() + 4);
        const std::size_t fixed = FixedSize(p.type);
        if (fixed > 0 && fixed <= 4)
            p.value.assign(rec.begin() + 4, rec.begin() + 4 + static_cast<std::ptrdiff_t>(fixed));
        else
            p.value = Value(cell);
        props[p.id] = std::move(p);
    }
    return props;
}

LtpReader::Table LtpReader::ReadTable()
{
    Table table;
    const Bytes info = HeapItem(UserRoot());
    const std::uint8_t cols = info[1];
    for (int i = 0; i < 4; ++i)
        table.rgib[i] = Get16(info.data() + 2 + 2 * i);
    const std::uint32_t hidRowIndex = Get32(info.data() + 10);
    const std::uint32_t hnidRows = Get32(info.data() + 14);
    for (std::uint8_t i = 0; i < cols; ++i) {
        const std::uint8_t* c = info.data() + 22 + 8 * i;
        table.columns.push_back({Get32(c), Get16(c + 4), c[6], c[7]});
    }
    const std::uint16_t rowSize = table.rgib[3];
    std::vector<Bytes> matrixBlocks;
    if (hnidRows && (hnidRows & 0x1F) == 0)
        matrixBlocks.push_back(HeapItem(hnidRows));
    else if (hnidRows)
        matrixBlocks = m_db.ReadBlocks(m_subnodes.at(hnidRows));
    std::vector<const std::uint8_t*> rowPointers;
    for (const Bytes& b : matrixBlocks)
        for (std::size_t at = 0; at + rowSize <= b.size(); at += rowSize)
            rowPointers.push_back(b.data() + at);

    for (const Bytes& rec : BTreeRecords(hidRowIndex)) {
        const std::uint32_t number = Get32(rec.data() + 4);
        const std::uint8_t* r = rowPointers.at(number);
        TableRow row;
        row.rowId = Get32(r);
        row.version = Get32(r + 4);
        for (const TCOLDESC& c : table.columns) {
            if (c.tag == kTagLtpRowId || c.tag == kTagLtpRowVer)
                continue;
            if (!(r[table.rgib[2] + c.iBit / 8] & (0x80 >> (c.iBit % 8))))
                continue;
            const auto type = static_cast<std::uint16_t>(c.tag & 0xFFFF);
            if (FixedSize(type))
                row.cells[c.tag] = Bytes(r + c.ibData, r + c.ibData + c.cbData);
            else
                row.cells[c.tag] = Value(Get32(r + c.ibData));
        }
        table.rows.push_back(std::move(row));
    }
    return table;
}

}  // namespace pst
