#pragma once

#include "HeapOnNode.h"

namespace pst {

// A BTree-on-heap (MS-PST 2.3.2) built in a heap from records (key bytes followed by data bytes,
// cbKey + cbEnt bytes each, one after the other) already sorted by key. Returns the HID of its
// BTHHEADER. Records that do not fit one leaf item are spread over several leaves under index
// levels.
std::uint32_t BuildBTreeOnHeap(HeapOnNode& heap, std::uint8_t cbKey, std::uint8_t cbEnt, const Bytes& records);

// Outlook allocates a BTH's header, and its leaf when the records fit one, before the items the
// records refer to: the header of a PC, or of a TC's row index, is the heap's first item (HID
// 0x20), where some readers look for it. Reserve both first, allocate the rest, then fill them.
struct ReservedBTree {
    std::uint32_t header = 0;
    std::uint32_t leaf = 0;  // 0 when the records need more than one leaf
    std::uint8_t cbKey = 0;
    std::uint8_t cbEnt = 0;
};
ReservedBTree ReserveBTreeOnHeap(HeapOnNode& heap, std::uint8_t cbKey, std::uint8_t cbEnt, std::size_t recordCount);
// Fills the reserved items with `records` (sorted by key, as many as reserved for) and returns
// the header's HID. Records that need several leaves are allocated now, under index levels;
// `leaves`, when given, receives the HID of each leaf in key order.
std::uint32_t FillBTreeOnHeap(HeapOnNode& heap, const ReservedBTree& reserved, const Bytes& records,
                              std::vector<std::uint32_t>* leaves = nullptr);

// Records a leaf item holds at most.
inline std::size_t RecordsPerLeaf(std::uint8_t cbKey, std::uint8_t cbEnt)
{
    return HeapOnNode::kMaxItem / (static_cast<std::size_t>(cbKey) + cbEnt);
}

}  // namespace pst
