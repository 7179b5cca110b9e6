#include "BTreeOnHeap.h"

#include <algorithm>
#include <tuple>

namespace pst {

namespace {

void PutBTreeHeader(std::uint8_t* out, std::uint8_t cbKey, std::uint8_t cbEnt, std::uint8_t indexLevels, std::uint32_t root)
{
    out[0] = HeapOnNode::kBTreeOnHeap;
    out[1] = cbKey;
    out[2] = cbEnt;
    out[3] = indexLevels;
    Put32(out + 4, root);
}

// Allocates the leaves and index levels of a BTH; returns the root's HID and the index depth.
std::pair<std::uint32_t, std::uint8_t> BuildLevels(HeapOnNode& heap, std::uint8_t cbKey, std::uint8_t cbEnt,
                                                   const Bytes& records, std::vector<std::uint32_t>* leaves)
{
    std::size_t recordSize = static_cast<std::size_t>(cbKey) + cbEnt;
    if (records.empty() || recordSize == 0)
        return {0, 0};
    // Each level: items of as many records as fit, with the first key of each item carried up.
    std::uint8_t indexLevels = 0;
    const Bytes* level = &records;
    Bytes up, next;
    for (;;) {
        const std::size_t perItem = HeapOnNode::kMaxItem / recordSize;
        const std::size_t count = level->size() / recordSize;
        up.clear();
        for (std::size_t first = 0; first < count; first += perItem) {
            const std::size_t end = std::min(count, first + perItem);
            const std::uint32_t hid = heap.Allocate(level->data() + first * recordSize, (end - first) * recordSize);
            if (leaves && indexLevels == 0)
                leaves->push_back(hid);
            up.insert(up.end(), level->data() + first * recordSize, level->data() + first * recordSize + cbKey);
            ByteWriter(up).u32(hid);
        }
        recordSize = static_cast<std::size_t>(cbKey) + 4;
        if (up.size() == recordSize)
            return {Get32(up.data() + cbKey), indexLevels};
        next.swap(up);
        level = &next;
        ++indexLevels;
    }
}

}  // namespace

std::uint32_t BuildBTreeOnHeap(HeapOnNode& heap, std::uint8_t cbKey, std::uint8_t cbEnt, const Bytes& records)
{
    const auto [root, levels] = BuildLevels(heap, cbKey, cbEnt, records, nullptr);
    std::uint8_t header[8];
    PutBTreeHeader(header, cbKey, cbEnt, levels, root);
    return heap.Allocate(header, sizeof header);
}

ReservedBTree ReserveBTreeOnHeap(HeapOnNode& heap, std::uint8_t cbKey, std::uint8_t cbEnt, std::size_t recordCount)
{
    ReservedBTree r;
    r.cbKey = cbKey;
    r.cbEnt = cbEnt;
    r.header = heap.AllocateZeroed(8);
    const std::size_t leafBytes = recordCount * (static_cast<std::size_t>(cbKey) + cbEnt);
    if (recordCount > 0 && leafBytes <= HeapOnNode::kMaxItem)
        r.leaf = heap.AllocateZeroed(leafBytes);
    return r;
}

std::uint32_t FillBTreeOnHeap(HeapOnNode& heap, const ReservedBTree& reserved, const Bytes& records,
                              std::vector<std::uint32_t>* leaves)
{
    std::uint32_t root = 0;
    std::uint8_t levels = 0;
    if (reserved.leaf) {
        heap.Replace(reserved.leaf, records);
        root = reserved.leaf;
        if (leaves)
            leaves->push_back(root);
    } else if (!records.empty()) {
        std::tie(root, levels) = BuildLevels(heap, reserved.cbKey, reserved.cbEnt, records, leaves);
    }
    std::uint8_t header[8];
    PutBTreeHeader(header, reserved.cbKey, reserved.cbEnt, levels, root);
    heap.Replace(reserved.header, header, sizeof header);
    return reserved.header;
}

}  // namespace pst
