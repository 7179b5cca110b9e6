#include "ltp.h"

#include <algorithm>
#include <set>

namespace pstcheck {
namespace {

constexpr std::size_t kMaxBlockData = 8176;  // bytes of data in a full block (MS-PST 2.2.2.8)

constexpr unsigned kMaxItem = 3580;  // MS-PST 2.3.1.1

bool knownClientSig(std::uint8_t s)
{
    switch (s) {
    case 0x6C: case 0x7C: case 0x8C: case 0x9C: case 0xA5: case 0xAC: case 0xB5: case 0xBC: case 0xCC:
        return true;
    default:
        return false;
    }
}

// Bytes of a property value by type: > 0 fixed size, 0 variable, -1 unknown type (MS-PST 2.3.3.1).
int valueSize(std::uint16_t type)
{
    switch (type) {
    case 0x0002: return 2;
    case 0x0003: case 0x0004: case 0x000A: return 4;
    case 0x000B: return 1;
    case 0x0005: case 0x0006: case 0x0007: case 0x0014: case 0x0040: return 8;
    case 0x0048: return 16;
    case 0x000D: case 0x001E: case 0x001F: case 0x00FB: case 0x00FD: case 0x00FE: case 0x0102: return 0;
    case 0x1002: case 0x1003: case 0x1004: case 0x1005: case 0x1006: case 0x1007: case 0x1014: case 0x1040:
    case 0x1048: case 0x101E: case 0x101F: case 0x1102: return 0;
    default: return -1;
    }
}

// Values of at most 4 bytes that a PC stores in dwValueHnid itself.
bool inlineInPc(std::uint16_t type)
{
    return type == 0x0002 || type == 0x0003 || type == 0x0004 || type == 0x000A || type == 0x000B;
}

// Width of a TC cell (MS-PST 2.3.4.2): fixed values up to 8 bytes inline, the rest as a 4-byte HNID.
unsigned cellWidth(std::uint16_t type)
{
    const int size = valueSize(type);
    if (size == 8 || size == 2 || size == 1)
        return static_cast<unsigned>(size);
    return 4;
}

bool cellIsHnid(std::uint16_t type)
{
    const int size = valueSize(type);
    return size == 0 || size == 16;
}

// Checks a resolved value against its type; returns a description of the fault or empty.
std::string valueFault(std::uint16_t type, const Bytes& v)
{
    const int size = valueSize(type);
    if (size > 0) {
        if (v.size() != static_cast<std::size_t>(size))
            return strf("%zu bytes for a %d-byte type", v.size(), size);
        return {};
    }
    if (type == 0x001F && v.size() % 2 != 0)
        return strf("odd length %zu for a UTF-16 string", v.size());
    if (type & 0x1000) {
        const std::uint16_t base = type & 0x0FFF;
        const int elem = valueSize(base);
        if (elem > 0) {
            if (v.size() % static_cast<std::size_t>(elem) != 0)
                return strf("%zu bytes is not a whole number of %d-byte values", v.size(), elem);
            return {};
        }
        if (v.empty())
            return {};
        if (v.size() < 4)
            return "multi-value shorter than its count";
        const std::uint32_t count = rd32(v.data());
        if (count > (v.size() - 4) / 4)
            return strf("multi-value count %u does not fit in %zu bytes", count, v.size());
        std::uint64_t prev = 4 + 4ull * count;
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::uint32_t off = rd32(v.data() + 4 + 4 * i);
            if (off < prev || off > v.size())
                return strf("multi-value offset %u of item %u out of order or range", off, i);
            prev = off;
        }
    }
    return {};
}

std::optional<Bytes> resolveHnid(const Ndb& ndb, const Heap& heap, const SubnodeMap& subs, std::uint32_t hnid,
                                 const std::string& where, Report& r)
{
    if (hnid == 0)
        return Bytes{};
    if ((hnid & 0x1F) == 0) {
        const auto item = heap.item(hnid);
        if (!item) {
            r.problem("%s: HID 0x%08x does not resolve to a heap allocation", where.c_str(), hnid);
            return std::nullopt;
        }
        return Bytes(item->begin(), item->end());
    }
    const auto it = subs.find(hnid);
    if (it == subs.end()) {
        r.problem("%s: subnode NID 0x%08x is not in the node's subnode tree", where.c_str(), hnid);
        return std::nullopt;
    }
    auto bytes = ndb.dataBytes(it->second.bidData);
    if (!bytes)
        r.problem("%s: data of subnode 0x%08x cannot be read", where.c_str(), hnid);
    return bytes;
}

void walkBth(const Heap& heap, std::uint32_t hid, unsigned level, unsigned cbKey, unsigned cbEnt,
             std::optional<std::uint64_t> firstKey, std::optional<std::uint64_t>& last,
             std::vector<BthRecord>& out, const std::string& where, Report& r, bool& ok)
{
    const auto item = heap.item(hid);
    if (!item) {
        r.problem("%s: BTH %s HID 0x%08x does not resolve", where.c_str(), level ? "index" : "leaf", hid);
        ok = false;
        return;
    }
    const unsigned rec = cbKey + (level > 0 ? 4 : cbEnt);
    if (item->empty() || item->size() % rec != 0) {
        r.problem("%s: BTH item HID 0x%08x is %zu bytes, not a multiple of %u", where.c_str(), hid, item->size(),
                  rec);
        ok = false;
        return;
    }
    for (std::size_t off = 0; off < item->size(); off += rec) {
        std::uint64_t key = 0;
        for (unsigned k = 0; k < cbKey && k < 8; ++k)
            key |= std::uint64_t{(*item)[off + k]} << (8 * k);
        if (off == 0 && firstKey && key != *firstKey)
            r.problem("%s: BTH index key 0x%llx differs from its child's first key 0x%llx", where.c_str(),
                      ull(*firstKey), ull(key));
        if (level > 0) {
            walkBth(heap, rd32(item->data() + off + cbKey), level - 1, cbKey, cbEnt, key, last, out, where, r, ok);
            continue;
        }
        if (last && key <= *last)
            r.problem("%s: BTH key 0x%llx is not above the previous key 0x%llx", where.c_str(), ull(key),
                      ull(*last));
        last = key;
        out.push_back({key, item->subspan(off + cbKey, cbEnt)});
    }
}

// Outlook allocates the BTH header of a PC, or of a TC's row index, first (HID 0x20), and readers
// of the java-libpst family look for it only there.
void checkBthFirst(const Heap& heap, bool pc, const std::string& where, Report& r)
{
    const auto first = heap.item(0x20);
    if (!first || first->empty() || (*first)[0] != 0xB5 || (pc && heap.userRoot() != 0x20))
        r.warning("%s: the BTH header is not the heap's first item (HID 0x20), where Outlook puts it", where.c_str());
}

}  // namespace

PropertyContext readPc(const Ndb& ndb, const Heap& heap, const SubnodeMap& subs, const std::string& where,
                       Report& r)
{
    PropertyContext pc;
    checkBthFirst(heap, true, where, r);
    const auto records = readBth(heap, heap.userRoot(), 2, 6, where + " PC", r);
    if (!records)
        return pc;
    for (const auto& rec : *records) {
        const auto id = static_cast<std::uint16_t>(rec.key);
        PropValue v;
        v.type = rd16(rec.data.data());
        const std::uint32_t hnid = rd32(rec.data.data() + 2);
        const std::string at = strf("%s property 0x%04x%04x", where.c_str(), id, v.type);
        const int size = valueSize(v.type);
        if (size < 0) {
            r.problem("%s: unknown property type 0x%04x", at.c_str(), v.type);
        } else if (inlineInPc(v.type)) {
            Bytes b(4);
            for (int k = 0; k < 4; ++k)
                b[static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(hnid >> (8 * k));
            b.resize(static_cast<std::size_t>(size));
            v.bytes = std::move(b);
        } else {
            v.bytes = resolveHnid(ndb, heap, subs, hnid, at, r);
            if (v.bytes) {
                const std::string fault = valueFault(v.type, *v.bytes);
                if (!fault.empty())
                    r.problem("%s: %s", at.c_str(), fault.c_str());
            }
        }
        pc.props[id] = std::move(v);
    }
    return pc;
}

// MS-PST 2.3.4: TCINFO, TCOLDESC, the row index and the row matrix.
std::optional<Table> readTc(const Ndb& ndb, const Heap& heap, const SubnodeMap& subs, const std::string& where,
                            Report& r, const RowSink* sink)
{
    const auto info = heap.item(heap.userRoot());
    if (!info || info->size() < 22 || (*info)[0] != 0x7C) {
        r.problem("%s: TCINFO at HID 0x%08x is missing or has no bType 0x7c", where.c_str(), heap.userRoot());
        return std::nullopt;
    }
    const unsigned cCols = (*info)[1];
    if (info->size() != 22 + 8u * cCols) {
        r.problem("%s: TCINFO is %zu bytes, expected %u for %u columns", where.c_str(), info->size(),
                  22 + 8 * cCols, cCols);
        if (info->size() < 22 + 8u * cCols)
            return std::nullopt;
    }
    const std::uint8_t* t = info->data();
    const unsigned rgib[4] = {rd16(t + 2), rd16(t + 4), rd16(t + 6), rd16(t + 8)};
    const std::uint32_t hidRowIndex = rd32(t + 10), hnidRows = rd32(t + 14);
    if (hidRowIndex != 0x20)
        checkBthFirst(heap, false, where, r);
    // rgib: ends of the 8/4-byte, 2-byte and 1-byte cells, then of the existence bitmap (= row size).
    const unsigned rowSize = rgib[3];
    if (!(8 <= rgib[0] && rgib[0] <= rgib[1] && rgib[1] <= rgib[2] && rgib[2] <= rgib[3]) ||
        rgib[3] - rgib[2] != (cCols + 7) / 8) {
        r.problem("%s: TCINFO rgib %u/%u/%u/%u inconsistent with %u columns", where.c_str(), rgib[0], rgib[1],
                  rgib[2], rgib[3], cCols);
        return std::nullopt;
    }

    Table table;
    std::vector<bool> bitsUsed(cCols, false);
    std::vector<int> byteUser(rgib[2], -1);
    for (unsigned i = 0; i < cCols; ++i) {
        const std::uint8_t* c = t + 22 + 8 * i;
        Column col{rd32(c), rd16(c + 4), c[6], c[7]};
        const auto type = static_cast<std::uint16_t>(col.tag & 0xFFFF);
        const std::string at = strf("%s column 0x%08x", where.c_str(), col.tag);
        if (!table.columns.empty() && col.tag <= table.columns.back().tag)
            r.problem("%s: TCOLDESC not sorted by tag (after 0x%08x)", at.c_str(), table.columns.back().tag);
        if (valueSize(type) < 0)
            r.problem("%s: unknown property type 0x%04x", at.c_str(), type);
        else if (col.cb != cellWidth(type))
            r.problem("%s: cbData %u, expected %u for its type", at.c_str(), col.cb, cellWidth(type));
        const unsigned lo = col.cb >= 4 ? 0 : col.cb == 2 ? rgib[0] : rgib[1];
        const unsigned hi = col.cb >= 4 ? rgib[0] : col.cb == 2 ? rgib[1] : rgib[2];
        if (col.ib < lo || col.ib + col.cb > hi) {
            r.problem("%s: ibData %u + cbData %u outside its group %u..%u of TCINFO rgib", at.c_str(), col.ib,
                      col.cb, lo, hi);
        } else {
            for (unsigned b = col.ib; b < col.ib + col.cb; ++b) {
                if (byteUser[b] >= 0) {
                    r.problem("%s: cell overlaps column 0x%08x", at.c_str(), table.columns[byteUser[b]].tag);
                    break;
                }
                byteUser[b] = static_cast<int>(i);
            }
        }
        if (col.iBit >= cCols || bitsUsed[col.iBit])
            r.problem("%s: iBit %u out of range or used twice", at.c_str(), col.iBit);
        else
            bitsUsed[col.iBit] = true;
        table.columns.push_back(col);
    }
    auto findCol = [&](std::uint32_t tag) -> const Column* {
        for (const auto& c : table.columns)
            if (c.tag == tag)
                return &c;
        return nullptr;
    };
    const Column* rowId = findCol(0x67F20003);
    const Column* rowVer = findCol(0x67F30003);
    if (!rowId || rowId->ib != 0 || rowId->cb != 4 || rowId->iBit != 0)
        r.problem("%s: column 0x67f20003 (LtpRowId) missing or not at ibData 0, iBit 0", where.c_str());
    if (!rowVer || rowVer->ib != 4 || rowVer->cb != 4 || rowVer->iBit != 1)
        r.problem("%s: column 0x67f30003 (LtpRowVer) missing or not at ibData 4, iBit 1", where.c_str());

    // Row index: dwRowID -> dwRowIndex.
    const auto index = readBth(heap, hidRowIndex, 4, 4, where + " row index", r);
    // Row matrix.
    Bytes matrix;
    if (hnidRows != 0 && (hnidRows & 0x1F) == 0) {
        const auto item = heap.item(hnidRows);
        if (!item)
            r.problem("%s: hnidRows HID 0x%08x does not resolve", where.c_str(), hnidRows);
        else
            matrix.assign(item->begin(), item->end());
    } else if (hnidRows != 0) {
        const auto it = subs.find(hnidRows);
        const auto blocks = it == subs.end() ? std::nullopt : ndb.dataBlocks(it->second.bidData);
        if (!blocks) {
            r.problem("%s: row matrix subnode 0x%08x is missing or unreadable", where.c_str(), hnidRows);
        } else {
            // MS-PST 2.3.4.4: each block holds as many whole rows as fit in a full block; every block
            // but the last is padded to the full size, and readers find row i in block i / rowsPerBlock.
            const std::size_t rowsPerBlock = rowSize ? kMaxBlockData / rowSize : 0;
            for (std::size_t i = 0; i < blocks->size(); ++i) {
                const Bytes* b = (*blocks)[i];
                const bool last = i + 1 == blocks->size();
                std::size_t take = b->size();
                if (rowSize && b->size() == kMaxBlockData) {
                    take = rowsPerBlock * rowSize;
                } else if (rowSize && b->size() % rowSize != 0) {
                    r.problem("%s: row matrix block of %zu bytes does not hold whole %u-byte rows", where.c_str(),
                              b->size(), rowSize);
                } else if (rowSize && !last) {
                    r.warning("%s: row matrix block %zu holds %zu bytes, not padded to %zu as Outlook does "
                              "(readers that find row i in block i / %zu misread the rows after it)",
                              where.c_str(), i, b->size(), kMaxBlockData, rowsPerBlock);
                }
                matrix.insert(matrix.end(), b->begin(), b->begin() + static_cast<std::ptrdiff_t>(take));
            }
        }
    }
    if (rowSize == 0 || matrix.size() % rowSize != 0) {
        r.problem("%s: row matrix of %zu bytes is not a whole number of %u-byte rows", where.c_str(),
                  matrix.size(), rowSize);
        return table;
    }
    const std::size_t rowCount = matrix.size() / rowSize;
    if (!index)
        return table;
    if (index->size() != rowCount)
        r.problem("%s: %zu rows in the matrix but %zu entries in the row index", where.c_str(), rowCount,
                  index->size());
    std::set<std::uint32_t> seen;
    for (const auto& rec : *index) {
        const auto id = static_cast<std::uint32_t>(rec.key);
        const std::uint32_t pos = rd32(rec.data.data());
        const std::string at = strf("%s row 0x%08x", where.c_str(), id);
        if (pos >= rowCount || !seen.insert(pos).second) {
            r.problem("%s: row index %u is out of range or used twice", at.c_str(), pos);
            continue;
        }
        const std::uint8_t* row = matrix.data() + std::size_t{pos} * rowSize;
        if (rd32(row) != id)
            r.problem("%s: row %u holds LtpRowId 0x%08x", at.c_str(), pos, rd32(row));
        Row out;
        out.id = id;
        for (const auto& col : table.columns) {
            if (col.ib + col.cb > rgib[2] || col.iBit >= cCols)
                continue;
            const bool present = row[rgib[2] + col.iBit / 8] & (0x80 >> (col.iBit % 8));
            const auto type = static_cast<std::uint16_t>(col.tag & 0xFFFF);
            if (!present) {
                if (!std::all_of(row + col.ib, row + col.ib + col.cb, [](std::uint8_t b) { return b == 0; }))
                    r.warning("%s: cell 0x%08x is absent but not zero", at.c_str(), col.tag);
                continue;
            }
            if (cellIsHnid(type)) {
                auto v = resolveHnid(ndb, heap, subs, rd32(row + col.ib), strf("%s cell 0x%08x", at.c_str(), col.tag),
                                     r);
                if (!v)
                    continue;
                const std::string fault = valueFault(type, *v);
                if (!fault.empty())
                    r.problem("%s cell 0x%08x: %s", at.c_str(), col.tag, fault.c_str());
                out.cells[col.tag] = std::move(*v);
            } else {
                out.cells[col.tag] = Bytes(row + col.ib, row + col.ib + col.cb);
            }
        }
        ++table.rowCount;
        if (sink)
            (*sink)(std::move(out));
        else
            table.rows.push_back(std::move(out));
    }
    return table;
}

bool Heap::load(const std::vector<const Bytes*>& blocks, const std::string& where, Report& r)
{
    blocks_ = blocks;
    allocs_.clear();
    if (blocks.empty() || blocks[0]->size() < 12) {
        r.problem("%s: heap has no HNHDR", where.c_str());
        return false;
    }
    const Bytes& b0 = *blocks[0];
    if (b0[2] != 0xEC) {
        r.problem("%s: HNHDR bSig 0x%02x is not 0xec", where.c_str(), b0[2]);
        return false;
    }
    clientSig_ = b0[3];
    userRoot_ = rd32(&b0[4]);
    if (!knownClientSig(clientSig_))
        r.problem("%s: HNHDR bClientSig 0x%02x is not a known value", where.c_str(), clientSig_);
    if (blocks.size() > 65536)
        r.problem("%s: heap spans %zu blocks, more than 65536", where.c_str(), blocks.size());
    bool ok = true;
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        const Bytes& b = *blocks[i];
        const std::size_t header = i == 0 ? 12 : (i % 128 == 8 ? 66 : 2);
        const std::string at = strf("%s heap block %zu", where.c_str(), i);
        allocs_.emplace_back();
        if (b.size() < header + 4) {
            r.problem("%s: %zu bytes, too short for its header", at.c_str(), b.size());
            ok = false;
            continue;
        }
        const std::size_t ibHnpm = rd16(b.data());
        if (ibHnpm % 2 != 0)
            r.problem("%s: ibHnpm 0x%zx is odd", at.c_str(), ibHnpm);
        if (ibHnpm < header || ibHnpm + 4 > b.size()) {
            r.problem("%s: ibHnpm 0x%zx outside the block", at.c_str(), ibHnpm);
            ok = false;
            continue;
        }
        const unsigned cAlloc = rd16(&b[ibHnpm]);
        const unsigned cFree = rd16(&b[ibHnpm + 2]);
        if (ibHnpm + 4 + 2 * (std::size_t{cAlloc} + 1) > b.size()) {
            r.problem("%s: HNPAGEMAP of %u allocations runs past the block", at.c_str(), cAlloc);
            ok = false;
            continue;
        }
        if (cAlloc > 2047)
            r.problem("%s: cAlloc %u exceeds 2047", at.c_str(), cAlloc);
        auto& offs = allocs_.back();
        unsigned empty = 0;
        for (unsigned k = 0; k <= cAlloc; ++k)
            offs.push_back(rd16(&b[ibHnpm + 4 + 2 * k]));
        if (offs.front() != header)
            r.problem("%s: first allocation at 0x%x, expected right after the header (0x%zx)", at.c_str(),
                      offs.front(), header);
        if (offs.back() > ibHnpm || ibHnpm - offs.back() > 1)
            r.problem("%s: last rgibAlloc 0x%x does not end at ibHnpm 0x%zx", at.c_str(), offs.back(), ibHnpm);
        for (unsigned k = 0; k < cAlloc; ++k) {
            if (offs[k + 1] < offs[k] || offs[k + 1] > ibHnpm) {
                r.problem("%s: rgibAlloc[%u] 0x%x does not ascend within the block", at.c_str(), k + 1, offs[k + 1]);
                ok = false;
                break;
            }
            if (offs[k + 1] == offs[k])
                ++empty;
            else if (unsigned(offs[k + 1] - offs[k]) > kMaxItem)
                r.problem("%s: item %u is %u bytes, more than %u", at.c_str(), k + 1,
                          unsigned(offs[k + 1] - offs[k]), kMaxItem);
        }
        if (ok && cFree != empty)
            r.problem("%s: cFree %u, but %u items are free", at.c_str(), cFree, empty);
        if (!ok)
            offs.clear();
    }
    if (ok && !item(userRoot_) && userRoot_ != 0)
        r.problem("%s: hidUserRoot 0x%08x does not resolve", where.c_str(), userRoot_);
    return ok;
}

std::optional<ByteView> Heap::item(std::uint32_t hid) const
{
    if (hid == 0 || (hid & 0x1F) != 0)
        return std::nullopt;
    const std::size_t blockIndex = hid >> 16;
    const std::size_t index = (hid >> 5) & 0x7FF;
    if (blockIndex >= allocs_.size() || index == 0 || index >= allocs_[blockIndex].size())
        return std::nullopt;
    const auto& offs = allocs_[blockIndex];
    const std::size_t begin = offs[index - 1], end = offs[index];
    if (end <= begin)
        return std::nullopt;
    return ByteView(blocks_[blockIndex]->data() + begin, end - begin);
}

std::optional<std::vector<BthRecord>> readBth(const Heap& heap, std::uint32_t hid, unsigned cbKey, unsigned cbEnt,
                                              const std::string& where, Report& r)
{
    const auto header = heap.item(hid);
    if (!header || header->size() != 8 || (*header)[0] != 0xB5) {
        r.problem("%s: BTHHEADER at HID 0x%08x is missing or has no bType 0xb5", where.c_str(), hid);
        return std::nullopt;
    }
    const unsigned key = (*header)[1], ent = (*header)[2], levels = (*header)[3];
    const std::uint32_t root = rd32(header->data() + 4);
    if (key != cbKey || ent != cbEnt) {
        r.problem("%s: BTH cbKey/cbEnt %u/%u, expected %u/%u", where.c_str(), key, ent, cbKey, cbEnt);
        return std::nullopt;
    }
    std::vector<BthRecord> out;
    if (root == 0) {
        if (levels != 0)
            r.problem("%s: empty BTH with bIdxLevels %u", where.c_str(), levels);
        return out;
    }
    if (levels > 8) {
        r.problem("%s: BTH bIdxLevels %u is implausible", where.c_str(), levels);
        return std::nullopt;
    }
    std::optional<std::uint64_t> last;
    bool ok = true;
    walkBth(heap, root, levels, cbKey, cbEnt, std::nullopt, last, out, where, r, ok);
    if (!ok)
        return std::nullopt;
    return out;
}

std::uint8_t expectedClientSig(std::uint32_t nid, bool subnode)
{
    if (!subnode && (nid == 0x21 || nid == 0x61))
        return kSigPc;
    switch (nidType(nid)) {
    case 0x02: case 0x03: case 0x04: case 0x05: case 0x07: case 0x08:
        return kSigPc;
    case 0x0D: case 0x0E: case 0x0F: case 0x11: case 0x12:
        return kSigTc;
    // Search contents tables (0x10) are TCs in current stores; Outlook 2013 also leaves 0xac heaps there.
    default:
        return 0;
    }
}

NodeContent readNode(const Ndb& ndb, std::uint64_t bidData, std::uint64_t bidSub, std::uint8_t wantSig,
                     const std::string& where, Report& r, const RowSink* sink)
{
    NodeContent c;
    const auto blocks = ndb.dataBlocks(bidData);
    if (!blocks) {
        r.problem("%s: data tree 0x%llx cannot be read", where.c_str(), ull(bidData));
        return c;
    }
    for (const Bytes* b : *blocks)
        c.bytes += b->size();
    const bool heapLike = !blocks->empty() && (*blocks)[0]->size() >= 12 && (*(*blocks)[0])[2] == 0xEC;
    if (!heapLike) {
        if (wantSig)
            r.problem("%s: holds no heap (HNHDR bSig 0xec), expected a %s", where.c_str(),
                      wantSig == kSigPc ? "property context" : "table context");
        return c;
    }
    Heap heap;
    if (!heap.load(*blocks, where, r))
        return c;
    if (wantSig && heap.clientSig() != wantSig) {
        r.problem("%s: bClientSig 0x%02x, expected 0x%02x for this node type", where.c_str(), heap.clientSig(),
                  wantSig);
        return c;
    }
    auto subs = ndb.subnodes(bidSub);
    if (!subs)
        subs.emplace();  // already reported by the NDB checks
    if (heap.clientSig() == kSigPc) {
        c.kind = NodeContent::Kind::Pc;
        c.pc = readPc(ndb, heap, *subs, where, r);
    } else if (heap.clientSig() == kSigTc) {
        c.tc = readTc(ndb, heap, *subs, where, r, sink);
        if (c.tc)
            c.kind = NodeContent::Kind::Tc;
    }
    return c;
}

}  // namespace pstcheck
