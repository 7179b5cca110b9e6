#include "NodeDatabase.h"

#include "Crc.h"

#include <algorithm>

namespace pst {

namespace {

constexpr std::size_t kUnit = 64;
constexpr std::size_t kUnitsPerInterval = kPageDataSize * 8;
constexpr std::size_t kBlockTrailerSize = 16;
constexpr std::uint8_t kBTypeData = 0x01;      // XBLOCK / XXBLOCK
constexpr std::uint8_t kBTypeSubnode = 0x02;   // SLBLOCK / SIBLOCK
// The first free-map page sits in interval 128, then every 496 intervals (MS-PST 2.2.2.7.5).
constexpr std::size_t kFirstFMapInterval = 128;
constexpr std::size_t kFMapEvery = 496;
// A free-page-map page every 64 free-map pages' worth of intervals, from interval 8,192 (about
// 2 GB) on. MS-PST leaves its slot in the interval open: Microsoft's own reader places it at +0x600,
// past the unused free-map slot, while a count of the pages before it gives +0x400. The page is
// written at +0x600 and a copy of it at +0x400, both marked in the AMap, so a reader of either view
// finds a valid page where it looks and nothing else claims the other slot.
constexpr std::size_t kFirstFPMapInterval = 8192;
constexpr std::size_t kFPMapEvery = 496 * 64;

constexpr std::size_t Align(std::size_t n, std::size_t a) { return (n + a - 1) / a * a; }

std::size_t BlockAllocation(std::size_t cb) { return Align(cb + kBlockTrailerSize, kUnit); }

// The file as the database writes it: once a write, resize or flush has failed, the database's
// own structures may be half updated, so nothing more is written and the file keeps its last
// committed state. Every later attempt fails with the first failure's reason.
class GuardedFile : public FileLayer {
public:
    GuardedFile(std::unique_ptr<FileLayer> file, std::string& failure)
        : m_file(std::move(file))
        , m_failure(failure)
    {
    }
    void Write(std::uint64_t offset, const std::uint8_t* data, std::size_t size) override
    {
        Guard([&] { m_file->Write(offset, data, size); });
    }
    void Read(std::uint64_t offset, std::uint8_t* data, std::size_t size) override { m_file->Read(offset, data, size); }
    void Resize(std::uint64_t size) override
    {
        Guard([&] { m_file->Resize(size); });
    }
    void Sync() override
    {
        Guard([&] { m_file->Sync(); });
    }
    void Close() override { m_file->Close(); }

private:
    template <typename F>
    void Guard(F&& operation)
    {
        if (!m_failure.empty())
            throw StoreError("nothing more is written to the store after an earlier failure: " + m_failure);
        try {
            operation();
        } catch (const std::exception& e) {
            m_failure = e.what();
            throw;
        }
    }

    std::unique_ptr<FileLayer> m_file;
    std::string& m_failure;
};

bool HasFMap(std::size_t interval)
{
    return interval >= kFirstFMapInterval && (interval - kFirstFMapInterval) % kFMapEvery == 0;
}

bool HasFPMap(std::size_t interval)
{
    return interval >= kFirstFPMapInterval && (interval - kFirstFPMapInterval) % kFPMapEvery == 0;
}

std::uint64_t HashBids(const std::uint64_t* bids, std::size_t count)
{
    std::uint64_t h = 0xCBF29CE484222325ull;
    for (std::size_t i = 0; i < count; ++i)
        h = (h ^ bids[i]) * 0x100000001B3ull;
    return h;
}

}  // namespace

NodeDatabase::NodeDatabase(std::unique_ptr<FileLayer> file)
    : m_file(std::make_unique<GuardedFile>(std::move(file), m_writeFailure))
    , m_nbt(BTPage::kNbtLeafMax, [this](const BREF& page, NBTENTRY* out) { return ReadLeaf(page, PageType::NBT, out); })
    , m_bbt(BTPage::kBbtLeafMax, [this](const BREF& page, BBTENTRY* out) { return ReadLeaf(page, PageType::BBT, out); })
{
    m_header.bidNextB = 4;
    m_header.bidNextP = 1;
    // Counters of the NID indexes given out so far, as a new Outlook store starts them.
    m_header.rgnid.fill(0x400);
    m_header.rgnid[NID_TYPE_SEARCH_FOLDER] = 0x4000;
    m_header.rgnid[NID_TYPE_NORMAL_MESSAGE] = 0x10000;
    m_header.rgnid[NID_TYPE_ASSOC_MESSAGE] = 0x8000;
    // The first 0x4400 bytes (header, then the density list at 0x4200) lie before the maps.
    Bytes zeros(kFirstAMap, 0);
    m_file->Write(0, zeros.data(), zeros.size());
    AddInterval();
}

NodeDatabase::~NodeDatabase() = default;

std::uint64_t NodeDatabase::FileSize() const { return kFirstAMap + m_intervals.size() * kIntervalSize; }

void NodeDatabase::AddInterval()
{
    const std::size_t index = m_intervals.size();
    const std::uint64_t start = kFirstAMap + index * kIntervalSize;
    if (start + kIntervalSize > kMaxFileSize)
        throw StoreError("the store has reached 50 GB, the largest store Outlook accepts unless told otherwise");
    m_intervals.emplace_back();
    // Each interval maps its own AMap page; every eighth one also holds a PMap page.
    MarkUnits(start, kPageSize, true);
    if (index % 8 == 0)
        MarkUnits(start + kPageSize, kPageSize, true);
    if (HasFMap(index))
        MarkUnits(start + 2 * kPageSize, kPageSize, true);
    if (HasFPMap(index))
        MarkUnits(start + 2 * kPageSize, 2 * kPageSize, true);
    m_file->Resize(start + kIntervalSize);
}

void NodeDatabase::MarkUnits(std::uint64_t ib, std::size_t size, bool used)
{
    const std::size_t interval = (ib - kFirstAMap) / kIntervalSize;
    std::size_t unit = (ib - kFirstAMap - interval * kIntervalSize) / kUnit;
    Interval& iv = m_intervals.at(interval);
    for (std::size_t n = size / kUnit; n > 0; --n, ++unit) {
        const auto mask = static_cast<std::uint8_t>(0x80 >> (unit % 8));
        const bool was = iv.bits[unit / 8] & mask;
        if (used && !was) {
            iv.bits[unit / 8] |= mask;
            ++iv.used;
        } else if (!used && was) {
            iv.bits[unit / 8] &= static_cast<std::uint8_t>(~mask);
            --iv.used;
        }
    }
    if (!used)
        iv.noRoomFor = {UINT32_MAX, UINT32_MAX};
    iv.dirty = true;
}

void NodeDatabase::FreeLater(std::uint64_t ib, std::size_t size) { m_pendingFree.emplace_back(ib, size); }

std::uint64_t NodeDatabase::Allocate(std::size_t size, std::size_t align)
{
    const std::size_t units = size / kUnit;
    const std::size_t step = align / kUnit;
    // First fit, searching on from where the last allocation ended, then from the start, before
    // the file grows: allocations in one commit then cost no more than one pass over the maps.
    auto search = [&](std::size_t interval, std::size_t fromUnit, std::size_t toUnit) -> std::optional<std::uint64_t> {
        // An interval without that many free units anywhere is passed over without a look.
        Interval& iv = m_intervals[interval];
        const std::size_t alignment = step > 1 ? 1 : 0;
        if (kUnitsPerInterval - iv.used < units || units >= iv.noRoomFor[alignment])
            return std::nullopt;
        const auto& bits = iv.bits;
        auto isFree = [&](std::size_t u) { return !(bits[u / 8] & (0x80 >> (u % 8))); };
        for (std::size_t u = Align(fromUnit, step); u + units <= toUnit;) {
            if (bits[u / 8] == 0xFF) {
                u = Align((u / 8 + 1) * 8, step);
                continue;
            }
            std::size_t run = 0;
            while (run < units && isFree(u + run))
                ++run;
            if (run == units)
                return kFirstAMap + interval * kIntervalSize + u * kUnit;
            // The next candidate starts past the used unit that ended the run.
            u = Align(u + run + 1, step);
        }
        if (fromUnit == 0)
            iv.noRoomFor[alignment] = static_cast<std::uint32_t>(units);
        return std::nullopt;
    };
    auto take = [&](std::uint64_t ib) {
        MarkUnits(ib, size, true);
        const std::uint64_t end = ib + size - kFirstAMap;
        m_cursorInterval = end / kIntervalSize;
        m_cursorUnit = (end % kIntervalSize) / kUnit;
        if (m_cursorInterval >= m_intervals.size()) {
            m_cursorInterval = m_intervals.size() - 1;
            m_cursorUnit = kUnitsPerInterval;
        }
        return ib;
    };
    for (std::size_t i = m_cursorInterval; i < m_intervals.size(); ++i)
        if (auto ib = search(i, i == m_cursorInterval ? m_cursorUnit : 0, kUnitsPerInterval))
            return take(*ib);
    for (std::size_t i = 0; i <= m_cursorInterval && i < m_intervals.size(); ++i)
        if (auto ib = search(i, 0, kUnitsPerInterval))
            return take(*ib);
    AddInterval();
    auto ib = search(m_intervals.size() - 1, 0, kUnitsPerInterval);
    if (!ib)
        throw StoreError("an allocation larger than an allocation-map interval was asked for");
    return take(*ib);
}

std::uint64_t NodeDatabase::WriteBlock(const Bytes& payload, bool internal)
{
    if (payload.size() > kMaxBlockData)
        throw StoreError("a block larger than 8,176 bytes was asked for");
    const std::size_t allocation = BlockAllocation(payload.size());
    const std::uint64_t ib = Allocate(allocation, kUnit);
    const std::uint64_t bid = m_header.bidNextB | (internal ? 2u : 0u);
    m_header.bidNextB += 4;

    // BLOCKTRAILER (MS-PST 2.2.2.8.1): the CRC covers the stored data only.
    Bytes image(allocation, 0);
    std::copy(payload.begin(), payload.end(), image.begin());
    std::uint8_t* t = image.data() + allocation - kBlockTrailerSize;
    Put16(t, static_cast<std::uint16_t>(payload.size()));
    Put16(t + 2, ComputeSig(ib, bid));
    Put32(t + 4, ComputeCrc(payload.data(), payload.size()));
    Put64(t + 8, bid);
    m_file->Write(ib, image.data(), image.size());
    BlockState state;
    state.bid = bid;
    state.ib = ib;
    state.cb = static_cast<std::uint16_t>(payload.size());
    state.lastUse = m_clock;
    MarkBlock(*m_blocks.Add(state));
    return bid;
}

BlockState* NodeDatabase::Block(std::uint64_t bid)
{
    if (BlockState* known = m_blocks.Find(bid)) {
        known->lastUse = m_clock;
        return known;
    }
    const BBTENTRY* entry = m_bbt.Find(bid);
    if (!entry)
        return nullptr;
    BlockState state;
    state.bid = bid;
    state.ib = entry->bref.ib;
    state.cb = entry->cb;
    state.refs = static_cast<std::uint32_t>(entry->cRef - 1);
    state.committedRefs = state.refs;
    state.lastUse = m_clock;
    return m_blocks.Add(state);
}

std::optional<BlockState> NodeDatabase::Locate(std::uint64_t bid)
{
    if (const BlockState* known = m_blocks.Find(bid))
        return *known;
    const BBTENTRY* entry = m_bbt.Find(bid);
    if (!entry)
        return std::nullopt;
    BlockState state;
    state.bid = bid;
    state.ib = entry->bref.ib;
    state.cb = entry->cb;
    return state;
}

Bytes NodeDatabase::Payload(std::uint64_t bid)
{
    const auto block = Locate(bid & ~std::uint64_t{1});
    if (!block)
        throw StoreError("a read of a block that does not exist");
    Bytes payload(block->cb);
    m_file->Read(block->ib, payload.data(), payload.size());
    return payload;
}

std::vector<std::uint64_t> NodeDatabase::ChildrenOf(std::uint64_t bid, const Bytes& payload)
{
    std::vector<std::uint64_t> children;
    if (!(bid & 2))
        return children;
    if (payload.size() < 8)
        throw StoreError("an internal block of the store reads back damaged");
    const std::uint8_t type = payload[0];
    const std::uint8_t level = payload[1];
    const std::size_t count = Get16(payload.data() + 2);
    const std::size_t size = type == kBTypeData ? 8 : level == 0 ? 24 : 16;
    if ((type != kBTypeData && type != kBTypeSubnode) || 8 + count * size > payload.size())
        throw StoreError("an internal block of the store reads back damaged");
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* e = payload.data() + 8 + i * size;
        if (type == kBTypeData) {
            children.push_back(Get64(e));
        } else if (level == 0) {
            // SLENTRY: the subnode's data and its own subnodes.
            for (std::uint64_t child : {Get64(e + 8), Get64(e + 16)})
                if (child)
                    children.push_back(child);
        } else {
            children.push_back(Get64(e + 8));
        }
    }
    return children;
}

std::optional<std::pair<std::uint64_t, std::uint32_t>> NodeDatabase::KnownGroup(const std::uint64_t* group,
                                                                                std::uint64_t hash)
{
    for (const Group& g : m_groups) {
        if (g.hash != hash)
            continue;
        // The XBLOCK itself says which blocks it holds.
        const Bytes payload = Payload(g.xbid);
        if (payload.size() != 8 + 8 * kXBlockMaxEntries || Get16(payload.data() + 2) != kXBlockMaxEntries)
            continue;
        bool same = true;
        for (std::size_t i = 0; i < kXBlockMaxEntries && same; ++i)
            same = Get64(payload.data() + 8 + 8 * i) == group[i];
        if (same)
            return std::make_pair(g.xbid, Get32(payload.data() + 4));
    }
    return std::nullopt;
}

int NodeDatabase::ReadLeaf(const BREF& ref, PageType type, void* entries)
{
    // The page as this database wrote it: anything else means the file changed under it.
    std::uint8_t page[kPageSize];
    m_file->Read(ref.ib, page, sizeof page);
    const int count = BTPage::ReadLeaf(page, type, ref, entries);
    if (count < 0)
        throw StoreError("a page of the store's B-trees reads back other than it was written");
    return count;
}

void NodeDatabase::AddRef(std::uint64_t bid)
{
    if (bid == 0)
        return;
    BlockState* block = Block(bid & ~std::uint64_t{1});
    if (!block)
        throw StoreError("a reference to a block that does not exist");
    ++block->refs;
    MarkBlock(*block);
}

void NodeDatabase::Release(std::uint64_t bid)
{
    if (bid == 0)
        return;
    bid &= ~std::uint64_t{1};
    BlockState* block = Block(bid);
    if (!block || block->refs == 0)
        throw StoreError("a block was released more often than it was referenced");
    if (--block->refs > 0) {
        MarkBlock(*block);
        return;
    }
    const BlockState gone = *block;
    // An internal block's references are read from the block itself, while it is still there.
    const std::vector<std::uint64_t> children = ChildrenOf(bid, bid & 2 ? Payload(bid) : Bytes{});
    m_blocks.Erase(bid);
    // A full XBLOCK kept for reuse goes with its block.
    if (children.size() == kXBlockMaxEntries)
        m_groups.erase(std::remove_if(m_groups.begin(), m_groups.end(), [&](const Group& g) { return g.xbid == bid; }),
                       m_groups.end());
    const bool committed = gone.committedRefs != BlockState::kNotCommitted;
    if (committed)
        m_bbt.Erase(bid);
    for (std::uint64_t child : children)
        Release(child);
    // A block no commit has named can be reused at once; one the committed state still uses only
    // after the next commit.
    if (committed)
        FreeLater(gone.ib, BlockAllocation(gone.cb));
    else
        MarkUnits(gone.ib, BlockAllocation(gone.cb), false);
}

std::uint64_t NodeDatabase::WriteXBlocks(const std::vector<std::uint64_t>& dataBids, std::optional<std::uint64_t> total)
{
    auto xblock = [&](std::uint8_t level, const std::uint64_t* bids, std::size_t count, std::uint64_t bytes) {
        Bytes payload;
        ByteWriter w(payload);
        w.u8(kBTypeData);
        w.u8(level);
        w.u16(static_cast<std::uint16_t>(count));
        w.u32(static_cast<std::uint32_t>(bytes));
        for (std::size_t i = 0; i < count; ++i)
            w.u64(bids[i]);
        const std::uint64_t bid = WriteBlock(payload, true);
        for (std::size_t i = 0; i < count; ++i)
            AddRef(bids[i]);
        return bid;
    };
    // The bytes under data blocks about to be referenced.
    auto sizeOf = [&](const std::uint64_t* bids, std::size_t count) {
        std::uint64_t bytes = 0;
        for (std::size_t i = 0; i < count; ++i) {
            const BlockState* block = Block(bids[i] & ~std::uint64_t{1});
            if (!block)
                throw StoreError("a reference to a block that does not exist");
            bytes += block->cb;
        }
        return bytes;
    };

    if (dataBids.size() <= kXBlockMaxEntries)
        return xblock(1, dataBids.data(), dataBids.size(), total ? *total : sizeOf(dataBids.data(), dataBids.size()));

    // Full groups already under an XBLOCK keep it, with the size it gives.
    std::vector<std::uint64_t> xbids;
    std::uint64_t sum = 0;
    for (std::size_t first = 0; first < dataBids.size(); first += kXBlockMaxEntries) {
        const std::size_t count = std::min(kXBlockMaxEntries, dataBids.size() - first);
        const std::uint64_t* group = dataBids.data() + first;
        const std::uint64_t hash = count == kXBlockMaxEntries ? HashBids(group, count) : 0;
        if (count == kXBlockMaxEntries) {
            if (auto known = KnownGroup(group, hash)) {
                xbids.push_back(known->first);
                sum += known->second;
                continue;
            }
        }
        const std::uint64_t bytes = sizeOf(group, count);
        xbids.push_back(xblock(1, group, count, bytes));
        sum += bytes;
        if (count == kXBlockMaxEntries)
            m_groups.push_back({hash, xbids.back()});
    }
    if (!total)
        total = sum;
    if (xbids.size() > kXBlockMaxEntries || *total > 0xFFFFFFFFu)
        throw StoreError("a value too large for the store");
    return xblock(2, xbids.data(), xbids.size(), *total);
}

std::uint64_t NodeDatabase::WriteData(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    if (size <= kMaxBlockData)
        return WriteBlock(Bytes(data, data + size), false);
    std::vector<std::uint64_t> bids;
    for (std::size_t at = 0; at < size; at += kMaxBlockData) {
        const std::size_t n = std::min(kMaxBlockData, size - at);
        bids.push_back(WriteBlock(Bytes(data + at, data + at + n), false));
    }
    return WriteXBlocks(bids, size);
}

std::uint64_t NodeDatabase::WriteBlocks(const std::vector<Bytes>& blocks)
{
    if (blocks.empty())
        return 0;
    if (blocks.size() == 1)
        return WriteBlock(blocks.front(), false);
    std::vector<std::uint64_t> bids;
    std::uint64_t total = 0;
    for (const Bytes& b : blocks) {
        bids.push_back(WriteBlock(b, false));
        total += b.size();
    }
    return WriteXBlocks(bids, total);
}

std::uint64_t NodeDatabase::WriteTree(const std::vector<std::uint64_t>& dataBids)
{
    if (dataBids.empty())
        return 0;
    if (dataBids.size() == 1)
        return dataBids.front();
    return WriteXBlocks(dataBids, std::nullopt);
}

std::uint64_t NodeDatabase::WriteSubnodes(std::vector<SLENTRY> entries)
{
    if (entries.empty())
        return 0;
    std::sort(entries.begin(), entries.end(), [](const SLENTRY& a, const SLENTRY& b) { return a.nid < b.nid; });

    auto slblock = [&](const SLENTRY* e, std::size_t count) {
        Bytes payload;
        ByteWriter w(payload);
        w.u8(kBTypeSubnode);
        w.u8(0);
        w.u16(static_cast<std::uint16_t>(count));
        w.u32(0);
        for (std::size_t i = 0; i < count; ++i) {
            w.u64(e[i].nid);
            w.u64(e[i].bidData);
            w.u64(e[i].bidSub);
        }
        const std::uint64_t bid = WriteBlock(payload, true);
        for (std::size_t i = 0; i < count; ++i)
            for (std::uint64_t child : {e[i].bidData, e[i].bidSub})
                AddRef(child);
        return bid;
    };

    if (entries.size() <= kSLBlockMaxEntries)
        return slblock(entries.data(), entries.size());

    Bytes payload;
    ByteWriter w(payload);
    std::vector<std::uint64_t> children;
    std::size_t count = 0;
    Bytes body;
    ByteWriter b(body);
    for (std::size_t first = 0; first < entries.size(); first += kSLBlockMaxEntries) {
        const std::size_t n = std::min(kSLBlockMaxEntries, entries.size() - first);
        const std::uint64_t child = slblock(entries.data() + first, n);
        b.u64(entries[first].nid);
        b.u64(child);
        children.push_back(child);
        ++count;
    }
    if (count > kSIBlockMaxEntries)
        throw StoreError("too many subnodes in one node");
    w.u8(kBTypeSubnode);
    w.u8(1);
    w.u16(static_cast<std::uint16_t>(count));
    w.u32(0);
    w.bytes(body);
    const std::uint64_t bid = WriteBlock(payload, true);
    for (std::uint64_t child : children)
        AddRef(child);
    return bid;
}

void NodeDatabase::SetNode(const NBTENTRY& entry)
{
    AddRef(entry.bidData);
    AddRef(entry.bidSub);
    std::optional<NBTENTRY> old;
    if (const NBTENTRY* known = m_nbt.Find(entry.nid))
        old = *known;
    m_nbt.Put(entry);
    if (old) {
        Release(old->bidData);
        Release(old->bidSub);
    }
}

void NodeDatabase::RemoveNode(std::uint32_t nid)
{
    const NBTENTRY* known = m_nbt.Find(nid);
    if (!known)
        return;
    const NBTENTRY old = *known;
    m_nbt.Erase(nid);
    Release(old.bidData);
    Release(old.bidSub);
}

std::optional<NBTENTRY> NodeDatabase::Node(std::uint32_t nid) const
{
    if (const NBTENTRY* known = m_nbt.Find(nid))
        return *known;
    return std::nullopt;
}

std::vector<Bytes> NodeDatabase::ReadBlocks(std::uint64_t bid)
{
    std::vector<Bytes> out;
    if (bid == 0)
        return out;
    Bytes payload = Payload(bid);
    if (!(bid & 2)) {
        out.push_back(std::move(payload));
        return out;
    }
    for (std::uint64_t child : ChildrenOf(bid, payload)) {
        auto part = ReadBlocks(child);
        std::move(part.begin(), part.end(), std::back_inserter(out));
    }
    return out;
}

Bytes NodeDatabase::ReadData(std::uint64_t bid)
{
    Bytes out;
    for (const Bytes& b : ReadBlocks(bid))
        out.insert(out.end(), b.begin(), b.end());
    return out;
}

std::vector<SLENTRY> NodeDatabase::ReadSubnodes(std::uint64_t bid)
{
    std::vector<SLENTRY> out;
    if (bid == 0)
        return out;
    const Bytes payload = Payload(bid);
    const std::uint8_t level = payload[1];
    const std::uint16_t count = Get16(payload.data() + 2);
    for (std::uint16_t i = 0; i < count; ++i) {
        if (level == 0) {
            const std::uint8_t* e = payload.data() + 8 + 24 * i;
            out.push_back({Get32(e), Get64(e + 8), Get64(e + 16)});
        } else {
            auto part = ReadSubnodes(Get64(payload.data() + 8 + 16 * i + 8));
            out.insert(out.end(), part.begin(), part.end());
        }
    }
    return out;
}

std::uint32_t NodeDatabase::NewNid(NidType type)
{
    const std::uint32_t index = ++m_header.rgnid[type];
    if (index >= (1u << 27))
        throw StoreError("the store has run out of node numbers");
    return MakeNid(index, type);
}

void NodeDatabase::ReserveNidIndex(NidType type, std::uint32_t index)
{
    m_header.rgnid[type] = std::max(m_header.rgnid[type], index);
}

BREF NodeDatabase::WritePage(const std::function<Bytes(std::uint64_t bid, std::uint64_t ib)>& image)
{
    // A B-tree page: the next page BID, a fresh 512-byte place.
    const std::uint64_t bid = m_header.bidNextP++;
    const std::uint64_t ib = Allocate(kPageSize, kPageSize);
    const Bytes page = image(bid, ib);
    m_file->Write(ib, page.data(), page.size());
    return {bid, ib};
}

void NodeDatabase::WriteHeader(std::uint8_t fAMapValid)
{
    ++m_header.dwUnique;
    m_header.root.fAMapValid = fAMapValid;
    const Bytes image = m_header.Serialize();
    m_file->Write(0, image.data(), image.size());
}

std::uint64_t NodeDatabase::WriteMaps()
{
    std::uint64_t freeBytes = 0;
    for (std::size_t i = 0; i < m_intervals.size(); ++i) {
        Interval& iv = m_intervals[i];
        freeBytes += static_cast<std::uint64_t>(kUnitsPerInterval - iv.used) * kUnit;
        if (!iv.dirty)
            continue;
        const std::uint64_t start = kFirstAMap + i * kIntervalSize;
        const Bytes amap = AMapPage(iv.bits.data(), start);
        m_file->Write(start, amap.data(), amap.size());
        if (i % 8 == 0) {
            const Bytes pmap = FilledMapPage(PageType::PMap, start + kPageSize);
            m_file->Write(start + kPageSize, pmap.data(), pmap.size());
        }
        if (HasFMap(i)) {
            const Bytes fmap = FilledMapPage(PageType::FMap, start + 2 * kPageSize);
            m_file->Write(start + 2 * kPageSize, fmap.data(), fmap.size());
        }
        if (HasFPMap(i)) {
            for (std::uint64_t at : {start + 3 * kPageSize, start + 2 * kPageSize}) {
                const Bytes fpmap = FilledMapPage(PageType::FPMap, at);
                m_file->Write(at, fpmap.data(), fpmap.size());
            }
        }
        iv.dirty = false;
    }
    return freeBytes;
}

void NodeDatabase::Commit()
{
    if (m_closed)
        throw StoreError("the store is closed");
    // Step 1: while the maps are being rewritten in place they are flagged untrusted; the B-tree
    // roots in this header are still the last committed ones.
    if (m_committed) {
        WriteHeader(0);
        m_file->Sync();
    }

    // Step 2: the B-tree pages that changed, and the pages above them, written anew on pages no
    // committed state uses. The old pages stay marked until the new header is down.
    // A block referenced once more and once less (a page kept by a node's new tree) needs no new
    // entry; the others go in in BID order, new blocks to the end of the tree, filling its last leaf.
    std::size_t entries = 0;
    for (std::uint64_t bid : m_changed) {
        BlockState* b = m_blocks.Find(bid);
        if (!b)
            continue;  // released since
        b->changed = false;
        if (b->committedRefs != b->refs)
            m_changed[entries++] = bid;
    }
    m_changed.resize(entries);
    std::sort(m_changed.begin(), m_changed.end());
    for (std::uint64_t bid : m_changed) {
        BlockState* b = m_blocks.Find(bid);
        // cRef: the entry itself and each reference (MS-PST 2.2.2.7.7.3).
        m_bbt.Put({{bid, b->ib}, b->cb, static_cast<std::uint16_t>(1 + b->refs)});
        b->committedRefs = b->refs;
    }
    m_changed.clear();
    auto freePage = [this](const BREF& page) { FreeLater(page.ib, kPageSize); };
    const BREF nbt = m_nbt.Write(
        [this](const NBTENTRY* e, int n) {
            return WritePage([&](std::uint64_t bid, std::uint64_t ib) { return BTPage::NbtLeaf(e, n, bid, ib); });
        },
        [this](const BTENTRY* e, int n, std::uint8_t level) {
            return WritePage([&](std::uint64_t bid, std::uint64_t ib) {
                return BTPage::Intermediate(PageType::NBT, e, n, level, bid, ib);
            });
        },
        freePage);
    const BREF bbt = m_bbt.Write(
        [this](const BBTENTRY* e, int n) {
            return WritePage([&](std::uint64_t bid, std::uint64_t ib) { return BTPage::BbtLeaf(e, n, bid, ib); });
        },
        [this](const BTENTRY* e, int n, std::uint8_t level) {
            return WritePage([&](std::uint64_t bid, std::uint64_t ib) {
                return BTPage::Intermediate(PageType::BBT, e, n, level, bid, ib);
            });
        },
        freePage);

    // Step 3: the maps, then everything on disk before the header that points at it.
    const std::uint64_t freeBytes = WriteMaps();
    const Bytes dlist = DListPage(static_cast<std::uint32_t>(m_intervals.size() - 1), m_header.bidNextP, kDListOffset);
    m_file->Write(kDListOffset, dlist.data(), dlist.size());
    m_file->Sync();

    // Step 4: the commit itself.
    m_header.root.ibFileEof = FileSize();
    m_header.root.ibAMapLast = kFirstAMap + (m_intervals.size() - 1) * kIntervalSize;
    m_header.root.cbAMapFree = freeBytes;
    m_header.root.cbPMapFree = 0;
    m_header.root.BREFNBT = nbt;
    m_header.root.BREFBBT = bbt;
    WriteHeader(Header::kAMapValid);
    m_file->Sync();
    m_committed = true;

    // What only the previous state used is free from now on; the next commit's maps say so.
    for (const auto& [ib, size] : m_pendingFree)
        MarkUnits(ib, size, false);
    m_pendingFree.clear();
    // Allocation goes on from where it stood; the space just freed is found when the search
    // wraps round, before the file grows.

    // Block states not used in this commit are let go once there are many: the block B-tree holds
    // them. A count too large for cRef stays here, the only place that has it right.
    if (m_blocks.size() > m_holdBlocks) {
        const std::uint32_t now = m_clock;
        const bool keepRecent = m_holdBlocks > 0;
        m_blocks.Retain([&](const BlockState& b) {
            return b.refs >= 0xFFFF || (keepRecent && b.lastUse == now);
        });
    }
    ++m_clock;
}

void NodeDatabase::HoldInMemory(std::size_t leavesPerTree, std::size_t blockStates)
{
    m_nbt.HoldLeaves(leavesPerTree);
    m_bbt.HoldLeaves(leavesPerTree);
    m_holdBlocks = blockStates;
}

void NodeDatabase::Close()
{
    if (m_closed)
        return;
    if (!m_writeFailure.empty()) {
        // After a failed write the file is left as the last commit made it.
        m_closed = true;
        m_file->Close();
        return;
    }
    if (!m_committed) {
        Commit();
    } else if (std::any_of(m_intervals.begin(), m_intervals.end(), [](const Interval& iv) { return iv.dirty; })) {
        // Space freed by the last commit: rewrite the maps so that they match the B-trees exactly.
        WriteHeader(0);
        m_file->Sync();
        const std::uint64_t freeBytes = WriteMaps();
        m_file->Sync();
        m_header.root.cbAMapFree = freeBytes;
        WriteHeader(Header::kAMapValid);
        m_file->Sync();
    }
    m_file->Close();
    m_closed = true;
}

}  // namespace pst
