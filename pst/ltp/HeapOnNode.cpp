#include "HeapOnNode.h"

#include "pst/ndb/FileLayer.h"
#include "pst/ndb/NodeDatabase.h"

#include <algorithm>

namespace pst {

namespace {

constexpr std::uint8_t kHeapSig = 0xEC;
constexpr std::size_t kMaxItemsPerPage = 2047;  // the 11-bit hidIndex

}  // namespace

void HeapPageItems::push(const std::uint8_t* item, std::size_t size)
{
    const std::size_t at = data.size();
    data.resize(at + size);
    std::copy_n(item, size, data.data() + at);
    ends.push_back(static_cast<std::uint16_t>(data.size()));
}

HeapOnNode::HeapOnNode(std::uint8_t clientSig)
{
    Reset(clientSig);
}

void HeapOnNode::Reset(std::uint8_t clientSig)
{
    m_clientSig = clientSig;
    m_userRoot = 0;
    for (std::size_t i = 0; i < m_used; ++i)
        m_pages[i].clear();
    if (m_pages.empty())
        m_pages.emplace_back();
    m_used = 1;
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

// The page an item of `size` bytes goes on, a new one when the last is full; returns its HID.
std::uint32_t HeapOnNode::Place(std::size_t size)
{
    if (size > kMaxItem)
        throw StoreError("a heap item larger than 3,580 bytes was asked for");
    std::size_t index = m_used - 1;
    const HeapPageItems* page = &m_pages[index];
    if (page->count() >= kMaxItemsPerPage
        || PageSize(index, page->bytes() + size, page->count() + 1) > NodeDatabase::kMaxBlockData) {
        if (m_used >= 0x10000)
            throw StoreError("a table or property set too large for the store");
        if (m_used == m_pages.size())
            m_pages.emplace_back();
        ++m_used;
        ++index;
    }
    return static_cast<std::uint32_t>(index << 16 | (m_pages[index].count() + 1) << 5);
}

std::uint32_t HeapOnNode::Allocate(const std::uint8_t* item, std::size_t size)
{
    const std::uint32_t hid = Place(size);
    m_pages[hid >> 16].push(item, size);
    return hid;
}

std::uint32_t HeapOnNode::AllocateZeroed(std::size_t size)
{
    const std::uint32_t hid = Place(size);
    HeapPageItems& page = m_pages[hid >> 16];
    page.data.resize(page.data.size() + size, 0);
    page.ends.push_back(static_cast<std::uint16_t>(page.data.size()));
    return hid;
}

std::uint8_t* HeapOnNode::Item(std::uint32_t hid, std::size_t* size)
{
    const std::size_t page = hid >> 16;
    const std::size_t index = (hid >> 5 & 0x7FF);
    if (page >= m_used || index == 0 || index > m_pages[page].count())
        throw StoreError("a heap item that was never allocated was asked for");
    const HeapPageItems& p = m_pages[page];
    if (size)
        *size = p.ends[index - 1] - p.start(index - 1);
    return m_pages[page].data.data() + p.start(index - 1);
}

void HeapOnNode::Replace(std::uint32_t hid, const std::uint8_t* item, std::size_t size)
{
    std::size_t have = 0;
    std::uint8_t* at = Item(hid, &have);
    if (have != size)
        throw StoreError("a heap item was replaced by one of another size");
    std::copy_n(item, size, at);
}

void HeapOnNode::LayOutPage(std::size_t page, const std::uint8_t* header, std::size_t headerSize,
                            const HeapPageItems& items, Bytes& block)
{
    const std::size_t first = HeaderSize(page);
    std::size_t ibHnpm = first + items.bytes();
    ibHnpm += ibHnpm % 2;
    block.resize(ibHnpm + 4 + 2 * (items.count() + 1));
    std::uint8_t* out = block.data();
    Put16(out, static_cast<std::uint16_t>(ibHnpm));
    std::copy_n(header, headerSize, out + 2);
    std::copy_n(items.data.data(), items.bytes(), out + first);
    if (ibHnpm > first + items.bytes())
        out[ibHnpm - 1] = 0;
    // HNPAGEMAP: cAlloc, cFree, then the start of each item and the end of the last.
    std::uint8_t* map = out + ibHnpm;
    Put16(map, static_cast<std::uint16_t>(items.count()));
    Put16(map + 2, 0);
    map += 4;
    Put16(map, static_cast<std::uint16_t>(first));
    for (std::uint16_t end : items.ends) {
        map += 2;
        Put16(map, static_cast<std::uint16_t>(first + end));
    }
}

std::uint8_t HeapOnNode::FillLevel(std::size_t freeBytes)
{
    static constexpr std::size_t kLimits[] = {3584, 2560, 2048, 1792, 1536, 1280, 1024, 768, 512, 256, 128, 64, 32, 16, 8};
    for (std::uint8_t level = 0; level < 15; ++level)
        if (freeBytes >= kLimits[level])
            return level;
    return 15;
}

std::size_t HeapOnNode::BlockBytes() const
{
    std::size_t total = 0;
    for (std::size_t i = 0; i < m_used; ++i)
        total += PageSize(i, m_pages[i].bytes(), m_pages[i].count());
    return total;
}

std::vector<Bytes> HeapOnNode::Blocks() const
{
    std::vector<Bytes> blocks;
    BlocksInto(blocks);
    return blocks;
}

void HeapOnNode::BlocksInto(std::vector<Bytes>& blocks) const
{
    // Fill levels pack two to a byte, the even page in the low nibble.
    auto level = [&](std::size_t i) -> std::uint8_t {
        if (i >= m_used)
            return 0;
        return FillLevel(NodeDatabase::kMaxBlockData - PageSize(i, m_pages[i].bytes(), m_pages[i].count()));
    };
    auto packLevels = [&](std::uint8_t* out, std::size_t first, std::size_t count) {
        for (std::size_t i = 0; i < count; i += 2)
            *out++ = static_cast<std::uint8_t>(level(first + i) | level(first + i + 1) << 4);
    };

    blocks.resize(m_used);
    std::uint8_t header[64];
    for (std::size_t i = 0; i < m_used; ++i) {
        std::size_t headerSize = 0;
        if (i == 0) {
            header[0] = kHeapSig;
            header[1] = m_clientSig;
            Put32(header + 2, m_userRoot);
            packLevels(header + 6, 0, 8);
            headerSize = 10;
        } else if (i % 128 == 8) {
            packLevels(header, i, 128);
            headerSize = 64;
        }
        LayOutPage(i, header, headerSize, m_pages[i], blocks[i]);
    }
}

}  // namespace pst
