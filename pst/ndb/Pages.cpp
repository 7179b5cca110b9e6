#include "Pages.h"

#include "Crc.h"

namespace pst {

namespace {

constexpr std::size_t kEntriesSize = 488;

Bytes BTPageImage(PageType type, std::uint8_t cEnt, std::uint8_t cEntMax, std::uint8_t cbEnt, std::uint8_t level,
                  std::uint64_t bid, std::uint64_t ib, const Bytes& entries)
{
    Bytes page(kPageSize, 0);
    std::copy(entries.begin(), entries.end(), page.begin());
    page[kEntriesSize] = cEnt;
    page[kEntriesSize + 1] = cEntMax;
    page[kEntriesSize + 2] = cbEnt;
    page[kEntriesSize + 3] = level;
    WritePageTrailer(page.data(), type, bid, ib);
    return page;
}

}  // namespace

void WritePageTrailer(std::uint8_t* page, PageType type, std::uint64_t bid, std::uint64_t ib)
{
    std::uint8_t* t = page + kPageDataSize;
    t[0] = static_cast<std::uint8_t>(type);
    t[1] = static_cast<std::uint8_t>(type);
    const bool map = type == PageType::AMap || type == PageType::PMap || type == PageType::FMap
                     || type == PageType::FPMap;
    Put16(t + 2, map ? 0 : ComputeSig(ib, bid));
    Put32(t + 4, ComputeCrc(page, kPageDataSize));
    Put64(t + 8, map ? ib : bid);
}

Bytes BTPage::NbtLeaf(const NBTENTRY* entries, int count, std::uint64_t bid, std::uint64_t ib)
{
    Bytes raw;
    ByteWriter w(raw);
    for (int i = 0; i < count; ++i) {
        w.u64(entries[i].nid);
        w.u64(entries[i].bidData);
        w.u64(entries[i].bidSub);
        w.u32(entries[i].nidParent);
        w.u32(0);
    }
    return BTPageImage(PageType::NBT, static_cast<std::uint8_t>(count), kNbtLeafMax, 32, 0, bid, ib, raw);
}

Bytes BTPage::BbtLeaf(const BBTENTRY* entries, int count, std::uint64_t bid, std::uint64_t ib)
{
    Bytes raw;
    ByteWriter w(raw);
    for (int i = 0; i < count; ++i) {
        w.u64(entries[i].bref.bid);
        w.u64(entries[i].bref.ib);
        w.u16(entries[i].cb);
        w.u16(entries[i].cRef);
        w.u32(0);
    }
    return BTPageImage(PageType::BBT, static_cast<std::uint8_t>(count), kBbtLeafMax, 24, 0, bid, ib, raw);
}

Bytes BTPage::Intermediate(PageType type, const BTENTRY* entries, int count, std::uint8_t level, std::uint64_t bid,
                           std::uint64_t ib)
{
    Bytes raw;
    ByteWriter w(raw);
    for (int i = 0; i < count; ++i) {
        w.u64(entries[i].btkey);
        w.u64(entries[i].bref.bid);
        w.u64(entries[i].bref.ib);
    }
    return BTPageImage(type, static_cast<std::uint8_t>(count), kIntermediateMax, 24, level, bid, ib, raw);
}

int BTPage::ReadLeaf(const std::uint8_t* page, PageType type, const BREF& ref, void* entries)
{
    const std::uint8_t* t = page + kPageDataSize;
    const bool nbt = type == PageType::NBT;
    const std::uint8_t cEnt = page[kEntriesSize];
    if (t[0] != static_cast<std::uint8_t>(type) || t[1] != static_cast<std::uint8_t>(type)
        || Get16(t + 2) != ComputeSig(ref.ib, ref.bid) || Get32(t + 4) != ComputeCrc(page, kPageDataSize)
        || Get64(t + 8) != ref.bid || page[kEntriesSize + 1] != (nbt ? kNbtLeafMax : kBbtLeafMax)
        || page[kEntriesSize + 2] != (nbt ? 32 : 24) || page[kEntriesSize + 3] != 0
        || cEnt > (nbt ? kNbtLeafMax : kBbtLeafMax))
        return -1;
    for (int i = 0; i < cEnt; ++i) {
        if (nbt) {
            const std::uint8_t* e = page + 32 * i;
            static_cast<NBTENTRY*>(entries)[i] = {static_cast<std::uint32_t>(Get64(e)), Get64(e + 8), Get64(e + 16),
                                                  Get32(e + 24)};
        } else {
            const std::uint8_t* e = page + 24 * i;
            static_cast<BBTENTRY*>(entries)[i] = {{Get64(e), Get64(e + 8)}, Get16(e + 16), Get16(e + 18)};
        }
    }
    return cEnt;
}

Bytes AMapPage(const std::uint8_t* bits, std::uint64_t ib)
{
    Bytes page(kPageSize, 0);
    std::copy(bits, bits + kPageDataSize, page.begin());
    WritePageTrailer(page.data(), PageType::AMap, 0, ib);
    return page;
}

Bytes FilledMapPage(PageType type, std::uint64_t ib)
{
    Bytes page(kPageSize, 0);
    std::fill(page.begin(), page.begin() + kPageDataSize, 0xFF);
    WritePageTrailer(page.data(), type, 0, ib);
    return page;
}

Bytes DListPage(std::uint32_t currentAMapPage, std::uint64_t bidNextP, std::uint64_t ib)
{
    Bytes page(kPageSize, 0);
    // bFlags 0, cEntDList 0: no density entries, which readers and Outlook accept.
    Put32(page.data() + 4, currentAMapPage);
    WritePageTrailer(page.data(), PageType::DList, bidNextP, ib);
    return page;
}

}  // namespace pst
