#include "ndb.h"

#include "ndb_crc.h"

#include <algorithm>

namespace pstcheck {
namespace {

constexpr std::uint64_t kHeaderSize = 564;
constexpr std::uint64_t kPageSize = 512;
constexpr std::uint64_t kTrailer = 496;  // offset of the page trailer
constexpr std::uint64_t kDListOffset = 0x4200;
constexpr std::uint64_t kFirstAMap = 0x4400;
constexpr std::uint64_t kInterval = 0x3E000;  // bytes mapped by one AMap page
constexpr std::uint64_t kMaxBlock = 8192;

constexpr std::uint8_t kPtypeBBT = 0x80;
constexpr std::uint8_t kPtypeNBT = 0x81;
constexpr std::uint8_t kPtypeFMap = 0x82;
constexpr std::uint8_t kPtypePMap = 0x83;
constexpr std::uint8_t kPtypeAMap = 0x84;
constexpr std::uint8_t kPtypeFPMap = 0x85;
constexpr std::uint8_t kPtypeDList = 0x86;

std::uint64_t align64(std::uint64_t n) { return (n + 63) & ~std::uint64_t{63}; }

bool isMapPage(std::uint8_t ptype)
{
    return ptype == kPtypeAMap || ptype == kPtypePMap || ptype == kPtypeFMap || ptype == kPtypeFPMap;
}

bool allBytes(const std::uint8_t* p, std::size_t n, std::uint8_t value)
{
    return std::all_of(p, p + n, [value](std::uint8_t b) { return b == value; });
}

}  // namespace

Ndb::Ndb(Bytes file, Report& report) : owned_(std::move(file)), data_(owned_.data()), size_(owned_.size()), r_(report) {}

Ndb::Ndb(const std::uint8_t* data, std::uint64_t size, Report& report) : data_(data), size_(size), r_(report) {}

const std::uint8_t* Ndb::fileAt(std::uint64_t ib, std::uint64_t size) const
{
    if (ib > size_ || size > size_ - ib)
        return nullptr;
    return data_ + ib;
}

const NbtEntry* Ndb::node(std::uint32_t nid) const
{
    const auto it = nodes_.find(nid);
    return it == nodes_.end() ? nullptr : &it->second;
}

BbtEntry* Ndb::block(std::uint64_t bid)
{
    const auto it = blockIndex_.find(bid & ~std::uint64_t{1});
    return it == blockIndex_.end() ? nullptr : &blocks_[it->second];
}

const BbtEntry* Ndb::block(std::uint64_t bid) const
{
    const auto it = blockIndex_.find(bid & ~std::uint64_t{1});
    return it == blockIndex_.end() ? nullptr : &blocks_[it->second];
}

bool Ndb::load()
{
    if (!parseHeader())
        return false;
    owner_.assign(size_ / 64 + 1, 0);
    ownerNames_.assign(1, std::string());
    checkMaps();
    walkBTree(true, header_.nbt, -1, std::nullopt, 0);
    walkBTree(false, header_.bbt, -1, std::nullopt, 0);
    if (nodes_.empty()) {
        r_.problem("NBT: no node could be read from the root page at 0x%llx", ull(header_.nbt.ib));
        return false;
    }
    checkBlocks();
    countReferences();
    checkRefCounts();
    checkSpace();
    checkCounters();
    return true;
}

// MS-PST 2.2.2.6
bool Ndb::parseHeader()
{
    const std::uint8_t* h = fileAt(0, kHeaderSize);
    if (!h) {
        r_.problem("HEADER: file is %llu bytes, shorter than a Unicode header (564)", ull(size_));
        return false;
    }
    if (std::memcmp(h, "!BDN", 4) != 0) {
        r_.problem("HEADER 0x0: dwMagic is not \"!BDN\"; not a PST file");
        return false;
    }
    header_.wMagicClient = rd16(h + 0x08);
    header_.wVer = rd16(h + 0x0A);
    header_.wVerClient = rd16(h + 0x0C);
    if (header_.wVer == 14 || header_.wVer == 15) {
        r_.problem("HEADER 0xa: wVer %u is an ANSI store; only Unicode stores (wVer 23) are supported",
                   header_.wVer);
        return false;
    }
    if (header_.wVer != 23) {
        r_.problem("HEADER 0xa: wVer %u is not 23 (Unicode PST)", header_.wVer);
        return false;
    }
    if (header_.wMagicClient != 0x4D53)
        r_.problem("HEADER 0x8: wMagicClient 0x%04x is not 0x4d53 (PST)", header_.wMagicClient);

    const std::uint32_t crcPartial = pstCrc(h + 8, 471);
    if (rd32(h + 4) != crcPartial)
        r_.problem("HEADER 0x4: dwCRCPartial 0x%08x does not match the CRC of bytes 0x8-0x1de (0x%08x)",
                   rd32(h + 4), crcPartial);
    const std::uint32_t crcFull = pstCrc(h + 8, 516);
    if (rd32(h + 0x20C) != crcFull)
        r_.problem("HEADER 0x20c: dwCRCFull 0x%08x does not match the CRC of bytes 0x8-0x20b (0x%08x)",
                   rd32(h + 0x20C), crcFull);

    if (header_.wVerClient != 19)
        r_.problem("HEADER 0xc: wVerClient %u is not 19", header_.wVerClient);
    if (h[0x0E] != 1 || h[0x0F] != 1)
        r_.problem("HEADER 0xe: bPlatformCreate/bPlatformAccess %u/%u are not 1/1", h[0x0E], h[0x0F]);
    header_.bidNextP = rd64(h + 0x20);
    header_.dwUnique = rd32(h + 0x28);
    for (int i = 0; i < 32; ++i)
        header_.rgnid[static_cast<std::size_t>(i)] = rd32(h + 0x2C + 4 * i);
    const std::uint8_t* root = h + 0xB4;  // MS-PST 2.2.2.5 ROOT
    header_.ibFileEof = rd64(root + 4);
    header_.ibAMapLast = rd64(root + 12);
    header_.cbAMapFree = rd64(root + 20);
    header_.cbPMapFree = rd64(root + 28);
    header_.nbt = {rd64(root + 36), rd64(root + 44)};
    header_.bbt = {rd64(root + 52), rd64(root + 60)};
    if (!allBytes(h + 0x100, 128, 0xFF) || !allBytes(h + 0x180, 128, 0xFF))
        r_.warning("HEADER 0x100: rgbFM/rgbFP are not all 0xff");
    if (h[0x200] != 0x80)
        r_.problem("HEADER 0x200: bSentinel 0x%02x is not 0x80", h[0x200]);
    header_.bCryptMethod = h[0x201];
    if (header_.bCryptMethod > 1)
        r_.problem("HEADER 0x201: bCryptMethod %u is neither 0 (none) nor 1 (permute)", header_.bCryptMethod);
    header_.bidNextB = rd64(h + 0x204);

    header_.fAMapValid = root[68];
    mapsTrusted_ = header_.fAMapValid != 0;
    if (!mapsTrusted_)
        r_.warning("ROOT fAMapValid is 0: the allocation maps are marked untrusted (a commit was interrupted); "
                   "readers rebuild them, so they are not checked against the blocks");
    // A commit that did not finish may have grown the file by whole intervals before its header
    // was written: the store is what ibFileEof covers.
    if (header_.ibFileEof < size_ && header_.ibFileEof >= kFirstAMap + kInterval
        && (header_.ibFileEof - kFirstAMap) % kInterval == 0 && (size_ - kFirstAMap) % kInterval == 0) {
        r_.warning("the file is 0x%llx bytes longer than ROOT ibFileEof 0x%llx (space a commit that did not finish "
                   "added); only the store up to ibFileEof is checked",
                   ull(size_ - header_.ibFileEof), ull(header_.ibFileEof));
        size_ = header_.ibFileEof;
    }
    if (header_.ibFileEof != size_)
        r_.problem("ROOT ibFileEof 0x%llx differs from the file length 0x%llx", ull(header_.ibFileEof),
                   ull(size_));
    const std::uint64_t size = size_;
    if (size < kFirstAMap + kInterval || (size - kFirstAMap) % kInterval != 0)
        r_.problem("file length 0x%llx is not 0x4400 + k * 0x3e000", ull(size));
    intervals_ = size > kFirstAMap ? (size - kFirstAMap) / kInterval : 0;
    if (intervals_ == 0) {
        r_.problem("file holds no complete AMap interval");
        return false;
    }
    const std::uint64_t lastAMap = kFirstAMap + (intervals_ - 1) * kInterval;
    if (header_.ibAMapLast != lastAMap)
        r_.problem("ROOT ibAMapLast 0x%llx, but the last AMap page of the file is at 0x%llx",
                   ull(header_.ibAMapLast), ull(lastAMap));
    if (header_.fAMapValid == 1)
        r_.warning("ROOT fAMapValid is 0x01 (deprecated VALID_AMAP1)");
    else if (header_.fAMapValid != 2 && mapsTrusted_)
        r_.problem("ROOT fAMapValid 0x%02x is not 0x02 (VALID_AMAP2): the maps are marked untrusted",
                   header_.fAMapValid);
    if (header_.bidNextB % 4 != 0)
        r_.problem("HEADER 0x204: bidNextB 0x%llx is not a multiple of 4", ull(header_.bidNextB));
    return true;
}

// MS-PST 2.2.2.7.1: trailer of any 512-byte page. bid is the expected trailer bid.
const std::uint8_t* Ndb::checkPage(std::uint64_t ib, std::uint8_t ptype, std::uint64_t bid, const char* what)
{
    const std::uint8_t* p = fileAt(ib, kPageSize);
    if (!p || ib + kPageSize > header_.ibFileEof) {
        r_.problem("%s page at 0x%llx lies beyond the end of the file", what, ull(ib));
        return nullptr;
    }
    if (ib % kPageSize != 0)
        r_.problem("%s page at 0x%llx is not 512-byte aligned", what, ull(ib));
    const std::uint8_t* t = p + kTrailer;
    if (t[0] != ptype)
        r_.problem("%s page at 0x%llx: ptype 0x%02x, expected 0x%02x", what, ull(ib), t[0], ptype);
    if (t[1] != t[0])
        r_.problem("%s page at 0x%llx: ptypeRepeat 0x%02x differs from ptype 0x%02x", what, ull(ib), t[1], t[0]);
    const std::uint64_t trailerBid = rd64(t + 8);
    const std::uint16_t wantSig = isMapPage(ptype) ? 0 : blockSignature(ib, trailerBid);
    if (rd16(t + 2) != wantSig)
        r_.problem("%s page at 0x%llx: wSig 0x%04x, expected 0x%04x", what, ull(ib), rd16(t + 2), wantSig);
    const std::uint32_t crc = pstCrc(p, kTrailer);
    if (rd32(t + 4) != crc)
        r_.problem("%s page at 0x%llx: page CRC 0x%08x, computed 0x%08x", what, ull(ib), rd32(t + 4), crc);
    if (trailerBid != bid) {
        if (ptype == kPtypeDList)
            r_.warning("DList page at 0x%llx: trailer bid 0x%llx differs from bidNextP 0x%llx (stale)", ull(ib),
                       ull(trailerBid), ull(bid));
        else
            r_.problem("%s page at 0x%llx: trailer bid 0x%llx, expected 0x%llx", what, ull(ib), ull(trailerBid),
                       ull(bid));
    }
    return p;
}

void Ndb::claim(std::uint64_t ib, std::uint64_t size, const std::string& what)
{
    if (ib < kFirstAMap) {
        r_.problem("%s at 0x%llx lies in the header region below 0x4400", what.c_str(), ull(ib));
        return;
    }
    if (ib + size > size_)
        return;  // reported by the caller
    ownerNames_.push_back(what);
    const auto id = static_cast<std::uint32_t>(ownerNames_.size() - 1);
    std::uint32_t clash = 0;
    for (std::uint64_t u = ib / 64; u < (ib + size + 63) / 64; ++u) {
        if (owner_[u] != 0 && clash == 0) {
            clash = owner_[u];
            r_.problem("%s at 0x%llx overlaps %s (unit 0x%llx)", what.c_str(), ull(ib),
                       ownerNames_[clash].c_str(), ull(u * 64));
        }
        owner_[u] = id;
    }
}

// MS-PST 2.2.2.7.2-6 and 1.3.2.3: the DList and the map pages of every interval.
void Ndb::checkMaps()
{
    if (!mapsTrusted_) {
        // Pages being rewritten in place when the commit stopped: their content is not checked,
        // but no block may lie on them.
        for (std::uint64_t i = 0; i < intervals_; ++i) {
            const std::uint64_t amap = kFirstAMap + i * kInterval;
            claim(amap, kPageSize, strf("AMap page 0x%llx", ull(amap)));
            if (i % 8 == 0)
                claim(amap + 0x200, kPageSize, strf("PMap page 0x%llx", ull(amap + 0x200)));
            if (i >= 128 && (i - 128) % 496 == 0)
                claim(amap + 0x400, kPageSize, strf("FMap page 0x%llx", ull(amap + 0x400)));
            if (i >= 8192 && (i - 8192) % 31744 == 0) {
                claim(amap + 0x400, kPageSize, strf("FPMap slot 0x%llx", ull(amap + 0x400)));
                claim(amap + 0x600, kPageSize, strf("FPMap page 0x%llx", ull(amap + 0x600)));
            }
        }
        return;
    }
    const std::uint8_t* dlist = fileAt(kDListOffset, kPageSize);
    if (dlist && allBytes(dlist, kPageSize, 0))
        r_.warning("DList page at 0x4200 is all zero (written by an older Outlook)");
    else if (const std::uint8_t* d = checkPage(kDListOffset, kPtypeDList, header_.bidNextP, "DList")) {
        if (d[1] > (kTrailer - 8) / 4)
            r_.problem("DList page at 0x4200: cEntDList %u exceeds the page", d[1]);
    }
    for (std::uint64_t i = 0; i < intervals_; ++i) {
        const std::uint64_t amap = kFirstAMap + i * kInterval;
        checkPage(amap, kPtypeAMap, amap, "AMap");
        claim(amap, kPageSize, strf("AMap page 0x%llx", ull(amap)));
        if (i % 8 == 0) {
            const std::uint64_t pmap = amap + 0x200;
            if (const std::uint8_t* p = checkPage(pmap, kPtypePMap, pmap, "PMap")) {
                if (header_.cbPMapFree == 0 && !allBytes(p, kTrailer, 0xFF))
                    r_.problem("PMap page at 0x%llx is not all 0xff although ROOT cbPMapFree is 0", ull(pmap));
            }
            claim(pmap, kPageSize, strf("PMap page 0x%llx", ull(pmap)));
        }
        if (i >= 128 && (i - 128) % 496 == 0) {
            const std::uint64_t fmap = amap + 0x400;
            checkPage(fmap, kPtypeFMap, fmap, "FMap");
            claim(fmap, kPageSize, strf("FMap page 0x%llx", ull(fmap)));
        }
        if (i >= 8192 && (i - 8192) % 31744 == 0) {
            const std::uint64_t fpmap = amap + 0x600;
            checkPage(fpmap, kPtypeFPMap, fpmap, "FPMap");
            claim(fpmap, kPageSize, strf("FPMap page 0x%llx", ull(fpmap)));
            // Where the interval has no FMap, the slot at +0x400 may hold a copy of the FPMap for
            // readers that count the pages before it; a copy must be a valid FPMap page.
            const std::uint64_t copy = amap + 0x400;
            const std::uint8_t* c = fileAt(copy, kPageSize);
            if (c && c[kTrailer] == kPtypeFPMap) {
                checkPage(copy, kPtypeFPMap, copy, "FPMap copy");
                claim(copy, kPageSize, strf("FPMap copy 0x%llx", ull(copy)));
            }
        }
    }
}

// MS-PST 2.2.2.7.7: BTPAGE, BTENTRY, NBTENTRY, BBTENTRY.
void Ndb::walkBTree(bool nbt, const Bref& ref, int expectLevel, std::optional<std::uint64_t> firstKey, int depth)
{
    const char* tree = nbt ? "NBT" : "BBT";
    if (depth > 12) {
        r_.problem("%s page at 0x%llx: tree deeper than 12 levels (loop?)", tree, ull(ref.ib));
        return;
    }
    if (pageBids_.count(ref.bid)) {
        r_.problem("%s page at 0x%llx: page bid 0x%llx is used twice", tree, ull(ref.ib), ull(ref.bid));
        return;
    }
    const std::uint8_t* p = checkPage(ref.ib, nbt ? kPtypeNBT : kPtypeBBT, ref.bid, tree);
    if (!p)
        return;
    pageBids_[ref.bid] = ref.ib;
    claim(ref.ib, kPageSize, strf("%s page bid 0x%llx", tree, ull(ref.bid)));

    const unsigned cEnt = p[488], cEntMax = p[489], cbEnt = p[490], cLevel = p[491];
    const std::string at = strf("%s page at 0x%llx (bid 0x%llx)", tree, ull(ref.ib), ull(ref.bid));
    if (expectLevel >= 0 && static_cast<int>(cLevel) != expectLevel) {
        r_.problem("%s: cLevel %u, expected %d (one less than its parent)", at.c_str(), cLevel, expectLevel);
        return;
    }
    if (cLevel > 8) {
        r_.problem("%s: cLevel %u is implausible", at.c_str(), cLevel);
        return;
    }
    const unsigned wantCb = cLevel > 0 ? 24 : (nbt ? 32 : 24);
    const unsigned wantMax = cLevel > 0 ? 20 : (nbt ? 15 : 20);
    if (cbEnt != wantCb)
        r_.problem("%s: cbEnt %u, expected %u", at.c_str(), cbEnt, wantCb);
    if (cEntMax != wantMax)
        r_.problem("%s: cEntMax %u, expected %u", at.c_str(), cEntMax, wantMax);
    if (rd32(p + 492) != 0)
        r_.problem("%s: dwPadding is not zero", at.c_str());
    unsigned count = cEnt;
    if (count > wantMax) {
        r_.problem("%s: cEnt %u exceeds %u", at.c_str(), cEnt, wantMax);
        count = wantMax;
    }
    if (count == 0 && depth > 0)
        r_.problem("%s: empty non-root page", at.c_str());

    std::optional<std::uint64_t> prev;
    for (unsigned i = 0; i < count; ++i) {
        const std::uint8_t* e = p + i * wantCb;
        const std::uint64_t key = nbt ? rd32(e) : (rd64(e) & ~std::uint64_t{1});
        if (i == 0 && firstKey && *firstKey != key)
            r_.problem("%s: first key 0x%llx differs from the parent's btkey 0x%llx", at.c_str(), ull(key),
                       ull(*firstKey));
        if (prev && key <= *prev)
            r_.problem("%s: key 0x%llx at entry %u does not ascend (previous 0x%llx)", at.c_str(), ull(key), i,
                       ull(*prev));
        prev = key;
        if (cLevel > 0) {
            walkBTree(nbt, Bref{rd64(e + 8), rd64(e + 16)}, static_cast<int>(cLevel) - 1, key, depth + 1);
            continue;
        }
        auto& last = lastKey_[nbt ? 1 : 0];
        if (last && key <= *last && i == 0)
            r_.problem("%s: key 0x%llx does not ascend from the previous leaf (0x%llx)", at.c_str(), ull(key),
                       ull(*last));
        last = key;
        if (nbt) {
            NbtEntry n;
            n.nid = rd32(e);
            n.bidData = rd64(e + 8);
            n.bidSub = rd64(e + 16);
            n.nidParent = rd32(e + 24);
            n.pageIb = ref.ib;
            if (rd32(e + 4) != 0)
                r_.warning("%s: NID 0x%08x has non-zero high bytes", at.c_str(), n.nid);
            if (!nodes_.emplace(n.nid, n).second)
                r_.problem("%s: NID 0x%08x appears twice in the NBT", at.c_str(), n.nid);
        } else {
            BbtEntry b;
            b.bid = rd64(e);
            b.ib = rd64(e + 8);
            b.cb = rd16(e + 16);
            b.cRef = rd16(e + 18);
            b.pageIb = ref.ib;
            if (blockIndex_.count(key)) {
                r_.problem("%s: BID 0x%llx appears twice in the BBT", at.c_str(), ull(b.bid));
                continue;
            }
            blockIndex_[key] = blocks_.size();
            blocks_.push_back(std::move(b));
        }
    }
}

// MS-PST 2.2.2.8: every block listed in the BBT.
void Ndb::checkBlocks()
{
    for (auto& b : blocks_) {
        const std::string at = strf("block bid 0x%llx at 0x%llx", ull(b.bid), ull(b.ib));
        if (b.bid < 4)
            r_.problem("%s: BID index 0 in the BBT", at.c_str());
        if (b.ib % 64 != 0)
            r_.problem("%s: not 64-byte aligned", at.c_str());
        const std::uint64_t size = align64(std::uint64_t{b.cb} + 16);
        if (size > kMaxBlock)
            r_.problem("%s: cb %u needs %llu bytes, more than 8192", at.c_str(), b.cb, ull(size));
        const std::uint8_t* p = fileAt(b.ib, size);
        if (!p || b.ib + size > header_.ibFileEof) {
            r_.problem("%s: cb %u reaches beyond the end of the file", at.c_str(), b.cb);
            continue;
        }
        claim(b.ib, size, strf("block bid 0x%llx", ull(b.bid)));
        const std::uint8_t* t = p + size - 16;  // BLOCKTRAILER
        if (rd16(t) != b.cb)
            r_.problem("%s: trailer cb %u differs from the BBT cb %u", at.c_str(), rd16(t), b.cb);
        const std::uint16_t sig = blockSignature(b.ib, b.bid);
        if (rd16(t + 2) != sig)
            r_.problem("%s: wSig 0x%04x, expected 0x%04x", at.c_str(), rd16(t + 2), sig);
        const std::uint32_t crc = pstCrc(p, b.cb);
        if (rd32(t + 4) != crc)
            r_.problem("%s: block CRC 0x%08x, computed 0x%08x", at.c_str(), rd32(t + 4), crc);
        if (rd64(t + 8) != b.bid)
            r_.problem("%s: trailer bid 0x%llx differs from the BBT bid", at.c_str(), ull(rd64(t + 8)));
        if (!allBytes(p + b.cb, size - 16 - b.cb, 0))
            r_.warning("%s: padding between data and trailer is not zero", at.c_str());
        b.data.assign(p, p + b.cb);
        if (!(b.bid & 2) && header_.bCryptMethod == 1)
            permuteDecode(b.data.data(), b.data.size());
        b.sound = true;
    }
}

void Ndb::countReferences()
{
    for (const auto& [nid, n] : nodes_) {
        if (n.bidData)
            refData(n.bidData, strf("NBT node 0x%08x bidData", nid), -1);
        if (n.bidSub)
            refSub(n.bidSub, strf("NBT node 0x%08x bidSub", nid), -1);
    }
}

// A data tree: a data block, an XBLOCK or an XXBLOCK (MS-PST 2.2.2.8.3.1-2).
// wantLevel: -1 any, 0 data block, 1 XBLOCK.
void Ndb::refData(std::uint64_t bid, const std::string& where, int wantLevel)
{
    BbtEntry* b = block(bid);
    if (!b) {
        r_.problem("%s: BID 0x%llx is not in the BBT", where.c_str(), ull(bid));
        return;
    }
    ++b->refs;
    const bool internal = bid & 2;
    if (!internal) {
        if (wantLevel > 0)
            r_.problem("%s: BID 0x%llx should be an XBLOCK but has no internal bit", where.c_str(), ull(bid));
        return;
    }
    if (wantLevel == 0) {
        r_.problem("%s: BID 0x%llx should be a data block but has the internal bit", where.c_str(), ull(bid));
        return;
    }
    if (b->walked || !b->sound)
        return;
    b->walked = true;
    const std::string at = strf("XBLOCK bid 0x%llx", ull(bid));
    const Bytes& d = b->data;
    if (d.size() < 8 || d[0] != 0x01 || (d[1] != 1 && d[1] != 2)) {
        r_.problem("%s: internal block referenced as data is not an XBLOCK/XXBLOCK (btype %u, cLevel %u)",
                   at.c_str(), d.size() > 0 ? d[0] : 0, d.size() > 1 ? d[1] : 0);
        return;
    }
    const unsigned level = d[1];
    const unsigned cEnt = rd16(&d[2]);
    const std::uint32_t lcbTotal = rd32(&d[4]);
    if (wantLevel > 0 && static_cast<int>(level) != wantLevel)
        r_.problem("%s: cLevel %u, expected %d", at.c_str(), level, wantLevel);
    if (cEnt == 0 || cEnt > 1021)
        r_.problem("%s: cEnt %u outside 1..1021", at.c_str(), cEnt);
    if (d.size() != 8 + 8ull * cEnt) {
        r_.problem("%s: cb %zu does not match cEnt %u", at.c_str(), d.size(), cEnt);
        if (d.size() < 8 + 8ull * cEnt)
            return;
    }
    std::uint64_t total = 0;
    bool complete = true;
    for (unsigned i = 0; i < cEnt; ++i) {
        const std::uint64_t child = rd64(&d[8 + 8 * i]);
        refData(child, at, static_cast<int>(level) - 1);
        const BbtEntry* c = block(child);
        if (!c || !c->sound) {
            complete = false;
        } else if (level == 1) {
            total += c->cb;
        } else if (c->data.size() >= 8) {
            total += rd32(&c->data[4]);
        }
    }
    if (complete && total != lcbTotal)
        r_.problem("%s: lcbTotal %u, but its children hold %llu bytes", at.c_str(), lcbTotal, ull(total));
}

// A subnode tree: SLBLOCK or SIBLOCK (MS-PST 2.2.2.8.3.3). wantLevel: -1 any, 0 SLBLOCK.
void Ndb::refSub(std::uint64_t bid, const std::string& where, int wantLevel)
{
    BbtEntry* b = block(bid);
    if (!b) {
        r_.problem("%s: BID 0x%llx is not in the BBT", where.c_str(), ull(bid));
        return;
    }
    ++b->refs;
    if (!(bid & 2)) {
        r_.problem("%s: subnode BID 0x%llx lacks the internal bit", where.c_str(), ull(bid));
        return;
    }
    if (b->walked || !b->sound)
        return;
    b->walked = true;
    const Bytes& d = b->data;
    const std::string at = strf("SLBLOCK/SIBLOCK bid 0x%llx", ull(bid));
    if (d.size() < 8 || d[0] != 0x02 || d[1] > 1) {
        r_.problem("%s: not a subnode block (btype %u, cLevel %u)", at.c_str(), d.size() > 0 ? d[0] : 0,
                   d.size() > 1 ? d[1] : 0);
        return;
    }
    const unsigned level = d[1];
    const unsigned cEnt = rd16(&d[2]);
    if (wantLevel >= 0 && static_cast<int>(level) != wantLevel)
        r_.problem("%s: cLevel %u, expected %d", at.c_str(), level, wantLevel);
    const unsigned entSize = level == 0 ? 24 : 16;
    const unsigned maxEnt = level == 0 ? 340 : 510;
    if (cEnt == 0 || cEnt > maxEnt)
        r_.problem("%s: cEnt %u outside 1..%u", at.c_str(), cEnt, maxEnt);
    if (d.size() < 8 + std::uint64_t{entSize} * cEnt) {
        r_.problem("%s: cb %zu too small for %u entries", at.c_str(), d.size(), cEnt);
        return;
    }
    std::optional<std::uint32_t> prev;
    for (unsigned i = 0; i < cEnt; ++i) {
        const std::uint8_t* e = &d[8 + entSize * i];
        const std::uint32_t nid = rd32(e);  // only the low 32 bits count
        if (prev && nid <= *prev)
            r_.problem("%s: subnode NID 0x%08x at entry %u is not above 0x%08x", at.c_str(), nid, i, *prev);
        prev = nid;
        const std::string here = strf("%s entry NID 0x%08x", at.c_str(), nid);
        if (level == 0) {
            const std::uint64_t bidData = rd64(e + 8), bidSub = rd64(e + 16);
            if (bidData == 0)
                r_.problem("%s: bidData is 0", here.c_str());
            else
                refData(bidData, here, -1);
            if (bidSub)
                refSub(bidSub, here, -1);
        } else {
            const std::uint64_t child = rd64(e + 8);
            refSub(child, here, 0);
            const BbtEntry* c = block(child);
            if (c && c->sound && c->data.size() >= 32 && rd32(&c->data[8]) != nid)
                r_.problem("%s: key differs from the first NID 0x%08x of its SLBLOCK", here.c_str(),
                           rd32(&c->data[8]));
        }
    }
}

// MS-PST 2.2.2.7.7.3: cRef counts the BBT entry itself plus every reference.
void Ndb::checkRefCounts()
{
    for (const auto& b : blocks_) {
        if (b.refs == 0)
            r_.warning("block bid 0x%llx at 0x%llx (cb %u): BBT entry not referenced by any node", ull(b.bid),
                       ull(b.ib), b.cb);
        else if (b.cRef != b.refs + 1)
            r_.problem("block bid 0x%llx at 0x%llx: cRef %u, but it has %u reference(s), so cRef should be %u",
                       ull(b.bid), ull(b.ib), b.cRef, b.refs, b.refs + 1);
    }
}

// MS-PST 2.2.2.7.2: the AMap bits against what is really allocated.
void Ndb::checkSpace()
{
    if (!mapsTrusted_)
        return;
    std::uint64_t zeroBits = 0;
    int reported = 0;
    for (std::uint64_t i = 0; i < intervals_; ++i) {
        const std::uint64_t amap = kFirstAMap + i * kInterval;
        const std::uint8_t* bits = fileAt(amap, kPageSize);
        if (!bits)
            break;
        std::uint64_t runStart = 0, runLen = 0;
        int runKind = 0;  // 1 used but free, 2 marked but unused
        std::uint32_t runOwner = 0;
        auto flush = [&]() {
            if (runKind == 1 && reported++ < 64)
                r_.problem("AMap 0x%llx: 0x%llx-0x%llx (%llu bytes) used by %s but marked free", ull(amap),
                           ull(runStart), ull(runStart + runLen - 1), ull(runLen),
                           ownerNames_[runOwner].c_str());
            else if (runKind == 2)
                r_.warning("AMap 0x%llx: 0x%llx-0x%llx (%llu bytes) marked allocated but unused (leak)",
                           ull(amap), ull(runStart), ull(runStart + runLen - 1), ull(runLen));
            runKind = 0;
        };
        for (std::uint64_t j = 0; j < kTrailer * 8; ++j) {
            const std::uint64_t ib = amap + j * 64;
            const bool set = bits[j / 8] & (0x80 >> (j % 8));
            if (!set)
                ++zeroBits;
            const std::uint32_t own = ib / 64 < owner_.size() ? owner_[ib / 64] : 0;
            const int kind = (own && !set) ? 1 : (!own && set) ? 2 : 0;
            if (kind != runKind || (kind == 1 && own != runOwner)) {
                flush();
                if (kind) {
                    runKind = kind;
                    runStart = ib;
                    runLen = 0;
                    runOwner = own;
                }
            }
            runLen += 64;
        }
        flush();
    }
    if (zeroBits * 64 != header_.cbAMapFree)
        r_.problem("ROOT cbAMapFree 0x%llx, but the AMaps mark 0x%llx bytes free", ull(header_.cbAMapFree),
                   ull(zeroBits * 64));
}

// MS-PST 2.2.2.6: bidNextB, bidNextP and rgnid stay above everything in use.
void Ndb::checkCounters()
{
    std::uint64_t maxBlock = 0;
    for (const auto& b : blocks_)
        maxBlock = std::max(maxBlock, b.bid & ~std::uint64_t{3});
    if (!blocks_.empty() && header_.bidNextB <= maxBlock)
        r_.problem("HEADER bidNextB 0x%llx is not above the largest block BID 0x%llx", ull(header_.bidNextB),
                   ull(maxBlock));
    if (!pageBids_.empty() && header_.bidNextP <= pageBids_.rbegin()->first)
        r_.problem("HEADER bidNextP 0x%llx is not above the largest page BID 0x%llx", ull(header_.bidNextP),
                   ull(pageBids_.rbegin()->first));
    for (const auto& [nid, n] : nodes_) {
        const std::uint32_t type = nidType(nid);
        if (nidIndex(nid) > header_.rgnid[type])
            r_.problem("NBT node 0x%08x: nidIndex 0x%x is above HEADER rgnid[0x%x] = 0x%x", nid, nidIndex(nid),
                       type, header_.rgnid[type]);
    }
}

bool Ndb::collect(std::uint64_t bid, int wantLevel, std::vector<const Bytes*>& out, int depth) const
{
    const BbtEntry* b = block(bid);
    if (!b || !b->sound || depth > 2)
        return false;
    if (!(bid & 2)) {
        if (wantLevel > 0)
            return false;
        out.push_back(&b->data);
        return true;
    }
    const Bytes& d = b->data;
    if (wantLevel == 0 || d.size() < 8 || d[0] != 1 || (d[1] != 1 && d[1] != 2))
        return false;
    if (wantLevel > 0 && d[1] != wantLevel)
        return false;
    const unsigned cEnt = rd16(&d[2]);
    if (d.size() < 8 + 8ull * cEnt)
        return false;
    for (unsigned i = 0; i < cEnt; ++i)
        if (!collect(rd64(&d[8 + 8 * i]), d[1] - 1, out, depth + 1))
            return false;
    return true;
}

std::optional<std::vector<const Bytes*>> Ndb::dataBlocks(std::uint64_t bid) const
{
    std::vector<const Bytes*> out;
    if (bid != 0 && !collect(bid, -1, out, 0))
        return std::nullopt;
    return out;
}

std::optional<Bytes> Ndb::dataBytes(std::uint64_t bid) const
{
    const auto blocks = dataBlocks(bid);
    if (!blocks)
        return std::nullopt;
    Bytes out;
    for (const Bytes* b : *blocks)
        out.insert(out.end(), b->begin(), b->end());
    return out;
}

bool Ndb::collectSub(std::uint64_t bid, int wantLevel, SubnodeMap& out, int depth) const
{
    const BbtEntry* b = block(bid);
    if (!b || !b->sound || !(bid & 2) || depth > 1)
        return false;
    const Bytes& d = b->data;
    if (d.size() < 8 || d[0] != 2 || d[1] > 1 || (wantLevel >= 0 && d[1] != wantLevel))
        return false;
    const unsigned cEnt = rd16(&d[2]);
    const unsigned entSize = d[1] == 0 ? 24 : 16;
    if (d.size() < 8 + std::uint64_t{entSize} * cEnt)
        return false;
    for (unsigned i = 0; i < cEnt; ++i) {
        const std::uint8_t* e = &d[8 + entSize * i];
        if (d[1] == 1) {
            if (!collectSub(rd64(e + 8), 0, out, depth + 1))
                return false;
            continue;
        }
        Subnode s{rd32(e), rd64(e + 8), rd64(e + 16)};
        out[s.nid] = s;
    }
    return true;
}

std::optional<SubnodeMap> Ndb::subnodes(std::uint64_t bid) const
{
    SubnodeMap out;
    if (bid != 0 && !collectSub(bid, -1, out, 0))
        return std::nullopt;
    return out;
}

std::uint64_t Ndb::nodeSize(std::uint64_t bidData, std::uint64_t bidSub) const
{
    return nodeSizeAt(bidData, bidSub, 0);
}

std::uint64_t Ndb::nodeSizeAt(std::uint64_t bidData, std::uint64_t bidSub, int depth) const
{
    std::uint64_t total = 0;
    if (depth > 8)
        return total;
    if (const auto blocks = dataBlocks(bidData))
        for (const Bytes* b : *blocks)
            total += b->size();
    if (const auto subs = subnodes(bidSub))
        for (const auto& [nid, s] : *subs)
            total += nodeSizeAt(s.bidData, s.bidSub, depth + 1);
    return total;
}

}  // namespace pstcheck
