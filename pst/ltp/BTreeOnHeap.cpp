#include "BTreeOnHeap.h"

namespace pst {

std::uint32_t BuildBTreeOnHeap(HeapOnNode& heap, std::uint8_t cbKey, std::uint8_t cbEnt, const std::vector<Bytes>& records)
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
    Bytes header;
    ByteWriter w(header);
    w.u8(HeapOnNode::kBTreeOnHeap);
    w.u8(cbKey);
    w.u8(cbEnt);
    w.u8(indexLevels);
    w.u32(root);
    return heap.Allocate(header);
}

}  // namespace pst
