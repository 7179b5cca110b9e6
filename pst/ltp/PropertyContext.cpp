#include "PropertyContext.h"

#include "BTreeOnHeap.h"
#include "pst/ndb/NodeDatabase.h"

#include <algorithm>

namespace pst {

Property Int32Property(std::uint16_t id, std::uint32_t v)
{
    Property p{id, PT_LONG, Bytes(4)};
    Put32(p.value.data(), v);
    return p;
}

Property BoolProperty(std::uint16_t id, bool v) { return Property{id, PT_BOOLEAN, Bytes{static_cast<std::uint8_t>(v ? 1 : 0)}}; }

Property Int64Property(std::uint16_t id, std::uint16_t type, std::uint64_t v)
{
    Property p{id, type, Bytes(8)};
    Put64(p.value.data(), v);
    return p;
}

Property StringProperty(std::uint16_t id, const std::string& utf8) { return Property{id, PT_UNICODE, Utf16le(utf8)}; }

Property BinaryProperty(std::uint16_t id, Bytes v) { return Property{id, PT_BINARY, std::move(v)}; }

std::size_t FixedSize(std::uint16_t type)
{
    switch (type) {
    case PT_BOOLEAN: return 1;
    case PT_SHORT: return 2;
    case PT_LONG:
    case PT_FLOAT:
    case PT_ERROR: return 4;
    case PT_DOUBLE:
    case PT_CURRENCY:
    case PT_APPTIME:
    case PT_LONGLONG:
    case PT_SYSTIME: return 8;
    default: return 0;
    }
}

std::vector<Bytes> SplitIntoBlocks(const Bytes& data)
{
    std::vector<Bytes> blocks;
    for (std::size_t at = 0; at < data.size(); at += NodeDatabase::kMaxBlockData) {
        const std::size_t n = std::min(NodeDatabase::kMaxBlockData, data.size() - at);
        blocks.emplace_back(data.begin() + static_cast<std::ptrdiff_t>(at),
                            data.begin() + static_cast<std::ptrdiff_t>(at + n));
    }
    return blocks;
}

NodeImage BuildPropertyContext(std::vector<Property> properties)
{
    PropertyContextBuilder builder;
    for (const Property& p : properties)
        builder.Add(p);
    builder.Lay();
    NodeImage image;
    builder.Write(image);
    return image;
}

PropertyContextBuilder::PropertyContextBuilder()
    : m_heap(HeapOnNode::kPropertyContext)
{
}

void PropertyContextBuilder::Clear()
{
    m_entries.clear();
    m_values.clear();
    m_subnodes.clear();
    m_laid = false;
}

void PropertyContextBuilder::Add(std::uint16_t id, std::uint16_t type, const std::uint8_t* value, std::size_t size)
{
    if (m_values.size() + size > 0xFFFFFFFFu)
        throw StoreError("a property set too large for the store");
    Entry e;
    e.id = id;
    e.type = type;
    e.offset = static_cast<std::uint32_t>(m_values.size());
    e.size = static_cast<std::uint32_t>(size);
    m_values.insert(m_values.end(), value, value + size);
    m_entries.push_back(e);
    m_laid = false;
}

void PropertyContextBuilder::Lay()
{
    std::sort(m_entries.begin(), m_entries.end(), [](const Entry& a, const Entry& b) { return a.id < b.id; });
    m_heap.Reset(HeapOnNode::kPropertyContext);
    m_subnodes.clear();
    m_leaves.clear();
    // The BTH header first (HID 0x20), then its records, then the values, as Outlook lays it out.
    const ReservedBTree bth = ReserveBTreeOnHeap(m_heap, 2, 6, m_entries.size());
    std::uint32_t nextSubnode = 0x400;
    m_records.resize(m_entries.size() * 8);
    std::uint8_t* record = m_records.data();
    for (const Entry& e : m_entries) {
        const std::uint8_t* value = m_values.data() + e.offset;
        std::uint32_t cell = 0;
        const std::size_t fixed = FixedSize(e.type);
        if (fixed > 0 && fixed <= 4) {
            // Up to four bytes live in the record itself.
            std::uint8_t inline4[4] = {};
            std::copy_n(value, std::min<std::size_t>(fixed, e.size), inline4);
            cell = Get32(inline4);
        } else if (e.size == 0) {
            cell = 0;
        } else if (e.size <= HeapOnNode::kMaxItem) {
            cell = m_heap.Allocate(value, e.size);
        } else {
            const std::uint32_t nid = MakeNid(nextSubnode++, NID_TYPE_LTP);
            NodeImage::Subnode sub;
            sub.nid = nid;
            for (std::size_t at = 0; at < e.size; at += NodeDatabase::kMaxBlockData) {
                const std::size_t n = std::min<std::size_t>(NodeDatabase::kMaxBlockData, e.size - at);
                sub.blocks.emplace_back(value + at, value + at + n);
            }
            m_subnodes.push_back(std::move(sub));
            cell = nid;
        }
        Put16(record, e.id);
        Put16(record + 2, e.type);
        Put32(record + 4, cell);
        record += 8;
    }
    m_heap.SetUserRoot(FillBTreeOnHeap(m_heap, bth, m_records, &m_leaves));
    m_laid = true;
}

std::size_t PropertyContextBuilder::ImageBytes() const
{
    std::size_t total = m_heap.BlockBytes();
    for (const NodeImage::Subnode& s : m_subnodes)
        for (const Bytes& b : s.blocks)
            total += b.size();
    return total;
}

bool PropertyContextBuilder::SetInline(std::uint16_t id, std::uint32_t value)
{
    if (!m_laid)
        throw StoreError("a property context was changed before it was laid out");
    auto it = std::lower_bound(m_entries.begin(), m_entries.end(), id, [](const Entry& e, std::uint16_t v) { return e.id < v; });
    for (; it != m_entries.end() && it->id == id; ++it) {
        const std::size_t fixed = FixedSize(it->type);
        if (fixed == 0 || fixed > 4)
            continue;
        // The value as the record holds it, and as Find gives it.
        std::uint8_t inline4[4];
        Put32(inline4, value);
        std::copy_n(inline4, std::min<std::size_t>(it->size, 4), m_values.data() + it->offset);
        const std::size_t index = static_cast<std::size_t>(it - m_entries.begin());
        const std::size_t perLeaf = RecordsPerLeaf(2, 6);
        std::uint8_t* leaf = m_heap.Item(m_leaves.at(index / perLeaf));
        std::uint8_t* cell = leaf + index % perLeaf * 8 + 4;
        std::uint8_t bytes[4] = {};
        std::copy_n(inline4, std::min<std::size_t>(fixed, it->size), bytes);
        std::copy_n(bytes, 4, cell);
        return true;
    }
    return false;
}

void PropertyContextBuilder::Write(NodeImage& image)
{
    if (!m_laid)
        Lay();
    m_heap.BlocksInto(image.blocks);
    image.subnodes = std::move(m_subnodes);
    m_subnodes.clear();
}

const std::uint8_t* PropertyContextBuilder::Find(std::uint32_t tag, std::size_t* size) const
{
    const auto id = static_cast<std::uint16_t>(tag >> 16);
    const auto type = static_cast<std::uint16_t>(tag & 0xFFFF);
    auto it = std::lower_bound(m_entries.begin(), m_entries.end(), id, [](const Entry& e, std::uint16_t v) { return e.id < v; });
    for (; it != m_entries.end() && it->id == id; ++it) {
        if (it->type == type) {
            static const std::uint8_t kNothing = 0;
            *size = it->size;
            return it->size ? m_values.data() + it->offset : &kNothing;
        }
    }
    return nullptr;
}

}  // namespace pst

namespace pst {

namespace {

std::uint64_t WriteSubnodeTree(NodeDatabase& db, const std::vector<NodeImage::Subnode>& subs,
                              const std::vector<const NodeImage::Subnode*>& more = {})
{
    if (subs.empty() && more.empty())
        return 0;
    std::vector<SLENTRY> entries;
    entries.reserve(subs.size() + more.size());
    for (const NodeImage::Subnode& sub : subs)
        entries.push_back({sub.nid, db.WriteBlocks(sub.blocks), WriteSubnodeTree(db, sub.children)});
    for (const NodeImage::Subnode* sub : more)
        entries.push_back({sub->nid, db.WriteBlocks(sub->blocks), WriteSubnodeTree(db, sub->children)});
    return db.WriteSubnodes(std::move(entries));
}

}  // namespace

void StoreNode(NodeDatabase& db, std::uint32_t nid, std::uint32_t nidParent, const NodeImage& image)
{
    StoreNode(db, nid, nidParent, image, {});
}

void StoreNode(NodeDatabase& db, std::uint32_t nid, std::uint32_t nidParent, const NodeImage& image,
               const std::vector<const NodeImage::Subnode*>& more)
{
    const std::uint64_t bidData = db.WriteBlocks(image.blocks);
    const std::uint64_t bidSub = WriteSubnodeTree(db, image.subnodes, more);
    db.SetNode({nid, bidData, bidSub, nidParent});
}

std::size_t ImageSize(const NodeImage& image)
{
    std::size_t total = 0;
    for (const Bytes& b : image.blocks)
        total += b.size();
    for (const NodeImage::Subnode& s : image.subnodes)
        total += SubnodeSize(s);
    return total;
}

std::size_t SubnodeSize(const NodeImage::Subnode& subnode)
{
    std::size_t total = 0;
    for (const Bytes& b : subnode.blocks)
        total += b.size();
    for (const NodeImage::Subnode& s : subnode.children)
        total += SubnodeSize(s);
    return total;
}

}  // namespace pst
