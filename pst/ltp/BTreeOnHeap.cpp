#include "BTreeOnHeap.h"

#include <tuple>

namespace pst {

namespace {

Bytes BTreeHeader(std::uint8_t cbKey, std::uint8_t cbEnt, std::uint8_t indexLevels, std::uint32_t root)
{
    Bytes header;
    ByteWriter w(header);
    w.u8(HeapOnNode::kBTreeOnHeap);
    w.u8(cbKey);
    w.u8(cbEnt);
    w.u8(indexLevels);
    w.u32(root);
    return header;
}

// Allocates the leaves and index levels of a BTH; returns the root's HID and the index depth.
std::pair<std::uint32_t, std::uint8_t> BuildLevels(HeapOnNode& heap, std::uint8_t cbKey, std::uint8_t cbEnt,
                                                   const std::vector<Bytes>& records)
{
    std::uint32_t root = 0;
    std::uint8_t indexLevels = 0;
    if (!records.empty()) {
        // Each level: items of as many records as fit, with the first key of each item carried up.
        std::vector<Bytes> level = records;
        std::size_t recordSize = static_cast<std::size_t>(cbKey) + cbEnt;
        for (;;) {
            const std::size_t perItem = HeapOnNode::kMaxItem / recordSize;
            std::vector<Bytes> up;
            for (std::size_t first = 0; first < level.size(); first += perItem) {
                Bytes item;
                const std::size_t end = std::min(level.size(), first + perItem);
                for (std::size_t i = first; i < end; ++i)
                    item.insert(item.end(), level[i].begin(), level[i].end());
                const std::uint32_t hid = heap.Allocate(item);
                Bytes index(level[first].begin(), level[first].begin() + cbKey);
                ByteWriter(index).u32(hid);
                up.push_back(std::move(index));
            }
            if (up.size() == 1) {
                root = Get32(up.front().data() + cbKey);
                break;
            }
            level = std::move(up);
            recordSize = static_cast<std::size_t>(cbKey) + 4;
            ++indexLevels;
        }
    }
    return {root, indexLevels};
}

}  // namespace

std::uint32_t BuildBTreeOnHeap(HeapOnNode& heap, std::uint8_t cbKey, std::uint8_t cbEnt, const std::vector<Bytes>& records)
{
    const auto [root, levels] = BuildLevels(heap, cbKey, cbEnt, records);
    return heap.Allocate(BTreeHeader(cbKey, cbEnt, levels, root));
}

ReservedBTree ReserveBTreeOnHeap(HeapOnNode& heap, std::uint8_t cbKey, std::uint8_t cbEnt, std::size_t recordCount)
{
    ReservedBTree r;
    r.cbKey = cbKey;
    r.cbEnt = cbEnt;
    r.header = heap.Allocate(Bytes(8, 0));
    const std::size_t leafBytes = recordCount * (static_cast<std::size_t>(cbKey) + cbEnt);
    if (recordCount > 0 && leafBytes <= HeapOnNode::kMaxItem)
        r.leaf = heap.Allocate(Bytes(leafBytes, 0));
    return r;
}

std::uint32_t FillBTreeOnHeap(HeapOnNode& heap, const ReservedBTree& reserved, const std::vector<Bytes>& records)
{
    std::uint32_t root = 0;
    std::uint8_t levels = 0;
    if (reserved.leaf) {
        Bytes leaf;
        for (const Bytes& r : records)
            leaf.insert(leaf.end(), r.begin(), r.end());
        heap.Replace(reserved.leaf, leaf);
        root = reserved.leaf;
    } else if (!records.empty()) {
        std::tie(root, levels) = BuildLevels(heap, reserved.cbKey, reserved.cbEnt, records);
    }
    heap.Replace(reserved.header, BTreeHeader(reserved.cbKey, reserved.cbEnt, levels, root));
    return reserved.header;
}

}  // namespace pst
