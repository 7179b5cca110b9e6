#pragma once

#include "pst/ndb/Bytes.h"

#include <cstdint>
#include <vector>

namespace pst {

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

    // Adds an item (at most kMaxItem bytes) and returns its HID.
    std::uint32_t Allocate(const Bytes& item);
    // Overwrites an item with bytes of the same size: an item reserved early so that it gets an
    // early HID, and filled once what it refers to has been allocated.
    void Replace(std::uint32_t hid, const Bytes& item);
    void SetUserRoot(std::uint32_t hid) { m_userRoot = hid; }

    // The heap's pages, each one data block: HNHDR, HNPAGEHDR or HNBITMAPHDR first, then the
    // items, then the HNPAGEMAP.
    std::vector<Bytes> Blocks() const;

    // Fill level (MS-PST 2.3.1.5) of a page with `freeBytes` bytes left.
    static std::uint8_t FillLevel(std::size_t freeBytes);

    // Size of page `page`'s header: HNHDR on the first, HNBITMAPHDR on every 128th from the
    // eighth, HNPAGEHDR on the others; and the bytes a page takes with its items and page map.
    static std::size_t HeaderSize(std::size_t page);
    static std::size_t PageSize(std::size_t page, std::size_t itemBytes, std::size_t items);
    // Lays out one page: ibHnpm, the rest of its header (`header`, without ibHnpm), the items,
    // and the HNPAGEMAP.
    static Bytes LayOutPage(std::size_t page, const Bytes& header, const std::vector<Bytes>& items);

private:
    struct Page {
        std::vector<Bytes> items;
        std::size_t itemBytes = 0;
    };

    std::uint8_t m_clientSig;
    std::uint32_t m_userRoot = 0;
    std::vector<Page> m_pages;
};

}  // namespace pst
