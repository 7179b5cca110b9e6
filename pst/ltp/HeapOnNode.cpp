#include "HeapOnNode.h"

#include "pst/ndb/FileLayer.h"
#include "pst/ndb/NodeDatabase.h"

namespace pst {

namespace {

constexpr std::uint8_t kHeapSig = 0xEC;
constexpr std::size_t kMaxItemsPerPage = 2047;  // the 11-bit hidIndex

}  // namespace

HeapOnNode::HeapOnNode(std::uint8_t clientSig)
    : m_clientSig(clientSig)
{
    m_pages.emplace_back();
}

std::size_t HeapOnNode::HeaderSize(std::size_t page)
{
    if (page == 0)
        return 12;  // HNHDR
    if (page % 128 == 8)
        return 66;  // HNBITMAPHDR
    return 2;       // HNPAGEHDR
}

std::size_t HeapOnNode::PageSize(std::size_t page, std::size_t itemBytes, std::size_t items)
{
    std::size_t ibHnpm = HeaderSize(page) + itemBytes;
    ibHnpm += ibHnpm % 2;  // the page map starts on an even offset
    return ibHnpm + 4 + 2 * (items + 1);
}

std::uint32_t HeapOnNode::Allocate(const Bytes& item)
{
    if (item.size() > kMaxItem)
        throw StoreError("a heap item larger than 3,580 bytes was asked for");
    Page* page = &m_pages.back();
    std::size_t index = m_pages.size() - 1;
    if (page->items.size() >= kMaxItemsPerPage
        || PageSize(index, page->itemBytes + item.size(), page->items.size() + 1) > NodeDatabase::kMaxBlockData) {
        if (m_pages.size() >= 0x10000)
            throw StoreError("a table or property set too large for the store");
        m_pages.emplace_back();
        page = &m_pages.back();
        ++index;
    }
    page->items.push_back(item);
    page->itemBytes += item.size();
    return static_cast<std::uint32_t>(index << 16 | page->items.size() << 5);
}

void HeapOnNode::Replace(std::uint32_t hid, const Bytes& item)
{
    const std::size_t page = hid >> 16;
    const std::size_t index = (hid >> 5 & 0x7FF);
    if (page >= m_pages.size() || index == 0 || index > m_pages[page].items.size()
        || m_pages[page].items[index - 1].size() != item.size())
        throw StoreError("a heap item was replaced by one of another size");
    m_pages[page].items[index - 1] = item;
}

Bytes HeapOnNode::LayOutPage(std::size_t page, const Bytes& header, const std::vector<Bytes>& items)
{
    std::size_t itemBytes = 0;
    for (const Bytes& item : items)
        itemBytes += item.size();
    std::size_t ibHnpm = HeaderSize(page) + itemBytes;
    ibHnpm += ibHnpm % 2;
    Bytes block;
    ByteWriter w(block);
    w.u16(static_cast<std::uint16_t>(ibHnpm));
    w.bytes(header);
    std::vector<std::uint16_t> starts;
    for (const Bytes& item : items) {
        starts.push_back(static_cast<std::uint16_t>(w.size()));
        w.bytes(item);
    }
    if (w.size() % 2)
        w.u8(0);
    // HNPAGEMAP: cAlloc, cFree, then the start of each item and the end of the last.
    w.u16(static_cast<std::uint16_t>(items.size()));
    w.u16(0);
    for (std::uint16_t s : starts)
        w.u16(s);
    w.u16(static_cast<std::uint16_t>(HeaderSize(page) + itemBytes));
    return block;
}

std::uint8_t HeapOnNode::FillLevel(std::size_t freeBytes)
{
    static constexpr std::size_t kLimits[] = {3584, 2560, 2048, 1792, 1536, 1280, 1024, 768, 512, 256, 128, 64, 32, 16, 8};
    for (std::uint8_t level = 0; level < 15; ++level)
        if (freeBytes >= kLimits[level])
            return level;
    return 15;
}

std::vector<Bytes> HeapOnNode::Blocks() const
{
    std::vector<std::uint8_t> levels;
    for (std::size_t i = 0; i < m_pages.size(); ++i) {
        const std::size_t used = PageSize(i, m_pages[i].itemBytes, m_pages[i].items.size());
        levels.push_back(FillLevel(NodeDatabase::kMaxBlockData - used));
    }
    // Fill levels pack two to a byte, the even page in the low nibble.
    auto packLevels = [&](ByteWriter& w, std::size_t first, std::size_t count) {
        for (std::size_t i = 0; i < count; i += 2) {
            const std::uint8_t lo = first + i < levels.size() ? levels[first + i] : 0;
            const std::uint8_t hi = first + i + 1 < levels.size() ? levels[first + i + 1] : 0;
            w.u8(static_cast<std::uint8_t>(lo | hi << 4));
        }
    };

    std::vector<Bytes> blocks;
    for (std::size_t i = 0; i < m_pages.size(); ++i) {
        Bytes header;
        ByteWriter w(header);
        if (i == 0) {
            w.u8(kHeapSig);
            w.u8(m_clientSig);
            w.u32(m_userRoot);
            packLevels(w, 0, 8);
        } else if (i % 128 == 8) {
            packLevels(w, i, 128);
        }
        blocks.push_back(LayOutPage(i, header, m_pages[i].items));
    }
    return blocks;
}

}  // namespace pst
