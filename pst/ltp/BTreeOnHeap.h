#pragma once

#include "HeapOnNode.h"

namespace pst {

// A BTree-on-heap (MS-PST 2.3.2) built in a heap from records (key bytes followed by data bytes)
// already sorted by key. Returns the HID of its BTHHEADER. Records that do not fit one leaf item
// are spread over several leaves under index levels.
std::uint32_t BuildBTreeOnHeap(HeapOnNode& heap, std::uint8_t cbKey, std::uint8_t cbEnt,
                               const std::vector<Bytes>& records);

}  // namespace pst
