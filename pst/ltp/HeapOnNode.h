#pragma once

#include "pst/ndb/Bytes.h"

#include <cstdint>
#include <vector>

namespace pst {

// The items of one heap page, one after the other in one buffer, and where each ends. Clearing
// keeps the buffers, so a page filled again and again allocates nothing once it has grown.
struct HeapPageItems {
    Bytes data;
    std::vector<std::uint16_t> ends;  // offset in `data` where each item ends

    std::size_t count() const { return ends.size(); }
    std::size_t bytes() const { return data.size(); }
    void clear()
    {
        data.clear();
        ends.clear();
    }
    void push(const std::uint8_t* item, std::size_t size);
    std::size_t start(std::size_t index) const { return index == 0 ? 0 : ends[index - 1]; }
};

// A heap-on-node (MS-PST 2.3.1) being built: items are allocated one after the other, filling
// each heap page (one data block) before the next is started. HIDs name the items.
class HeapOnNode {
public:
    // Client signatures (bClientSig).
    static constexpr std::uint8_t kTableContext = 0x7C;
    static constexpr std::uint8_t kBTreeOnHeap = 0xB5;
    static constexpr std::uint8_t kPropertyContext = 0xBC;
    // The largest item a heap holds; larger values go to subnodes.
    static constexpr std::size_t kMaxItem = 3580;

    explicit HeapOnNode(std::uint8_t clientSig);
    // Empties the heap for a new one of `clientSig`, keeping its buffers.
    void Reset(std::uint8_t clientSig);

    // Adds an item (at most kMaxItem bytes) and returns its HID.
    std::uint32_t Allocate(const Bytes& item) { return Allocate(item.data(), item.size()); }
    std::uint32_t Allocate(const std::uint8_t* item, std::size_t size);
    // Adds an item of `size` zero bytes, to be filled later through Item().
    std::uint32_t AllocateZeroed(std::size_t size);
    // Overwrites an item with bytes of the same size: an item reserved early so that it gets an
    // early HID, and filled once what it refers to has been allocated.
    void Replace(std::uint32_t hid, const Bytes& item) { Replace(hid, item.data(), item.size()); }
    void Replace(std::uint32_t hid, const std::uint8_t* item, std::size_t size);
    // An item's bytes, to change in place; valid until the next allocation.
    std::uint8_t* Item(std::uint32_t hid, std::size_t* size = nullptr);
    void SetUserRoot(std::uint32_t hid) { m_userRoot = hid; }

    // The heap's pages, each one data block: HNHDR, HNPAGEHDR or HNBITMAPHDR first, then the
    // items, then the HNPAGEMAP.
    std::vector<Bytes> Blocks() const;
    // The same into `blocks`, reusing the buffers it holds.
    void BlocksInto(std::vector<Bytes>& blocks) const;
    // The bytes Blocks() gives, all pages together, without laying them out.
    std::size_t BlockBytes() const;

    // Fill level (MS-PST 2.3.1.5) of a page with `freeBytes` bytes left.
    static std::uint8_t FillLevel(std::size_t freeBytes);

    // Size of page `page`'s header: HNHDR on the first, HNBITMAPHDR on every 128th from the
    // eighth, HNPAGEHDR on the others; and the bytes a page takes with its items and page map.
    static std::size_t HeaderSize(std::size_t page);
    static std::size_t PageSize(std::size_t page, std::size_t itemBytes, std::size_t items);
    // Lays out one page into `block`: ibHnpm, the rest of its header (`header`, without ibHnpm),
    // the items, and the HNPAGEMAP.
    static void LayOutPage(std::size_t page, const std::uint8_t* header, std::size_t headerSize,
                           const HeapPageItems& items, Bytes& block);

private:
    std::uint32_t Place(std::size_t size);

    std::uint8_t m_clientSig;
    std::uint32_t m_userRoot = 0;
    std::vector<HeapPageItems> m_pages;  // the first m_used are in use; the rest keep their buffers
    std::size_t m_used = 0;
};

}  // namespace pst
