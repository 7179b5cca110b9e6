#include "PropertyContext.h"

#include "BTreeOnHeap.h"
#include "pst/ndb/NodeDatabase.h"

#include <algorithm>
#include <functional>

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
    std::sort(properties.begin(), properties.end(), [](const Property& a, const Property& b) { return a.id < b.id; });
    NodeImage image;
    HeapOnNode heap(HeapOnNode::kPropertyContext);
    // The BTH header first (HID 0x20), then its records, then the values, as Outlook lays it out.
    const ReservedBTree bth = ReserveBTreeOnHeap(heap, 2, 6, properties.size());
    std::uint32_t nextSubnode = 0x400;
    std::vector<Bytes> records;
    for (const Property& p : properties) {
        std::uint32_t cell = 0;
        const std::size_t fixed = FixedSize(p.type);
        if (fixed > 0 && fixed <= 4) {
            // Up to four bytes live in the record itself.
            Bytes inline4(4, 0);
            std::copy_n(p.value.begin(), std::min<std::size_t>(fixed, p.value.size()), inline4.begin());
            cell = Get32(inline4.data());
        } else if (p.value.empty()) {
            cell = 0;
        } else if (p.value.size() <= HeapOnNode::kMaxItem) {
            cell = heap.Allocate(p.value);
        } else {
            const std::uint32_t nid = MakeNid(nextSubnode++, NID_TYPE_LTP);
            image.subnodes.push_back({nid, SplitIntoBlocks(p.value), {}});
            cell = nid;
        }
        Bytes record;
        ByteWriter w(record);
        w.u16(p.id);
        w.u16(p.type);
        w.u32(cell);
        records.push_back(std::move(record));
    }
    heap.SetUserRoot(FillBTreeOnHeap(heap, bth, records));
    image.blocks = heap.Blocks();
    return image;
}

}  // namespace pst

namespace pst {

namespace {

std::uint64_t WriteSubnodeTree(NodeDatabase& db, const std::vector<NodeImage::Subnode>& subs)
{
    std::vector<SLENTRY> entries;
    for (const NodeImage::Subnode& sub : subs)
        entries.push_back({sub.nid, db.WriteBlocks(sub.blocks), WriteSubnodeTree(db, sub.children)});
    return db.WriteSubnodes(std::move(entries));
}

}  // namespace

void StoreNode(NodeDatabase& db, std::uint32_t nid, std::uint32_t nidParent, const NodeImage& image)
{
    const std::uint64_t bidData = db.WriteBlocks(image.blocks);
    const std::uint64_t bidSub = WriteSubnodeTree(db, image.subnodes);
    db.SetNode({nid, bidData, bidSub, nidParent});
}

std::size_t ImageSize(const NodeImage& image)
{
    std::size_t total = 0;
    for (const Bytes& b : image.blocks)
        total += b.size();
    std::function<void(const std::vector<NodeImage::Subnode>&)> add = [&](const std::vector<NodeImage::Subnode>& subs) {
        for (const NodeImage::Subnode& s : subs) {
            for (const Bytes& b : s.blocks)
                total += b.size();
            add(s.children);
        }
    };
    add(image.subnodes);
    return total;
}

}  // namespace pst
