// Unit tests of pstcheck's algorithms: CRC, signatures, permutation, heap items and BTH order.
#include "ltp.h"
#include "ndb_crc.h"

#include <cstdio>
#include <string>

namespace {

int failures = 0;

void expect(bool ok, const std::string& what)
{
    if (!ok) {
        ++failures;
        std::printf("FAIL: %s\n", what.c_str());
    }
}

std::uint32_t crcOf(const std::string& s)
{
    return pstcheck::pstCrc(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
}

void testCrc()
{
    expect(crcOf("123456789") == 0x2DFD2D88, "CRC of \"123456789\"");
    expect(crcOf("a") == 0x3AB551CE, "CRC of \"a\"");
    expect(crcOf("") == 0, "CRC of nothing");
    const pstcheck::Bytes zeros(496, 0);
    expect(pstcheck::pstCrc(zeros.data(), zeros.size()) == 0, "CRC of 496 zero bytes");
    const pstcheck::Bytes ones(4, 0xFF);
    expect(pstcheck::pstCrc(ones.data(), ones.size()) == 0xDEBB20E3, "CRC of FF FF FF FF");
    // "Keywords" in UTF-16LE, as the name-to-ID map hashes string names.
    pstcheck::Bytes keywords;
    for (char c : std::string("Keywords")) {
        keywords.push_back(static_cast<std::uint8_t>(c));
        keywords.push_back(0);
    }
    expect(pstcheck::pstCrc(keywords.data(), keywords.size()) == 0x2EDA4D3B, "CRC of UTF-16LE \"Keywords\"");
    // Continuing from a seed equals one pass over the whole input.
    const std::string all = "123456789";
    const auto* p = reinterpret_cast<const std::uint8_t*>(all.data());
    expect(pstcheck::pstCrc(p + 4, 5, pstcheck::pstCrc(p, 4)) == 0x2DFD2D88, "CRC continued from a seed");
}

void testSignature()
{
    expect(pstcheck::blockSignature(0x9200, 0x17D) == 0x937D, "signature (0x9200, 0x17d)");
    expect(pstcheck::blockSignature(0x8400, 0x17B) == 0x857B, "signature (0x8400, 0x17b)");
    expect(pstcheck::blockSignature(0x5D40, 0x108) == 0x5C48, "signature (0x5d40, 0x108)");
    expect(pstcheck::blockSignature(0x4C00, 0x4) == 0x4C04, "signature (0x4c00, 0x4)");
    // Only the low 32 bits of offset and BID count.
    expect(pstcheck::blockSignature(0x100009200ull, 0x20000017Dull) == 0x937D, "signature ignores high bits");
}

void testPermute()
{
    pstcheck::Bytes all(256);
    for (int i = 0; i < 256; ++i)
        all[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
    pstcheck::Bytes coded = all;
    pstcheck::permuteDecode(coded.data(), coded.size());
    bool seen[256] = {};
    bool bijective = true;
    for (std::uint8_t b : coded) {
        bijective = bijective && !seen[b];
        seen[b] = true;
    }
    expect(bijective, "permute decoding is a permutation of the 256 byte values");
    pstcheck::permuteEncode(coded.data(), coded.size());
    expect(coded == all, "encode undoes decode");
    // An empty PC heap header as Outlook stores it: "34 00 EC BC" decodes from these bytes.
    pstcheck::Bytes hdr = {0x34, 0x00, 0xEC, 0xBC};
    pstcheck::permuteEncode(hdr.data(), hdr.size());
    pstcheck::permuteDecode(hdr.data(), hdr.size());
    expect(hdr[2] == 0xEC && hdr[3] == 0xBC, "heap signature survives a round trip");
}

// One heap page: HNHDR, the given items, then the page map.
pstcheck::Bytes heapBlock(const std::vector<pstcheck::Bytes>& items, std::uint32_t userRoot, unsigned cFree,
                          std::uint8_t clientSig = pstcheck::kSigPc)
{
    pstcheck::Bytes b(12, 0);
    b[2] = 0xEC;
    b[3] = clientSig;
    for (int k = 0; k < 4; ++k)
        b[4 + static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(userRoot >> (8 * k));
    std::vector<std::uint16_t> offs{12};
    for (const auto& item : items) {
        b.insert(b.end(), item.begin(), item.end());
        offs.push_back(static_cast<std::uint16_t>(b.size()));
    }
    if (b.size() % 2)
        b.push_back(0);
    const auto ibHnpm = static_cast<std::uint16_t>(b.size());
    b[0] = static_cast<std::uint8_t>(ibHnpm);
    b[1] = static_cast<std::uint8_t>(ibHnpm >> 8);
    auto put16 = [&b](unsigned v) {
        b.push_back(static_cast<std::uint8_t>(v));
        b.push_back(static_cast<std::uint8_t>(v >> 8));
    };
    put16(static_cast<unsigned>(items.size()));
    put16(cFree);
    for (auto o : offs)
        put16(o);
    return b;
}

void testHeap()
{
    // Item 1: BTH header (key 2, entry 6, no index level, root HID 0x40); item 2: two sorted PC records;
    // item 3: freed.
    const pstcheck::Bytes bth = {0xB5, 2, 6, 0, 0x40, 0, 0, 0};
    const pstcheck::Bytes records = {0x01, 0x30, 0x1F, 0x00, 0, 0, 0, 0, 0x02, 0x36, 0x03, 0x00, 5, 0, 0, 0};
    const pstcheck::Bytes block = heapBlock({bth, records, {}}, 0x20, 1);
    const std::vector<const pstcheck::Bytes*> blocks{&block};

    pstcheck::Report r;
    pstcheck::Heap heap;
    expect(heap.load(blocks, "heap", r), "a well-formed heap loads");
    expect(r.problems().empty(), "a well-formed heap has no problems");
    expect(heap.item(0x20) && heap.item(0x20)->size() == 8, "HID 0x20 is item 1");
    expect(heap.item(0x40) && heap.item(0x40)->size() == 16, "HID 0x40 is item 2");
    expect(!heap.item(0x60), "a freed item does not resolve");
    expect(!heap.item(0x80), "an index beyond cAlloc does not resolve");
    expect(!heap.item(0x10020), "a block beyond the heap does not resolve");
    expect(!heap.item(0x21), "a subnode NID is not a HID");

    const auto recs = pstcheck::readBth(heap, 0x20, 2, 6, "pc", r);
    expect(recs && recs->size() == 2 && (*recs)[1].key == 0x3602, "BTH records read in order");

    pstcheck::Report wrongFree;
    const pstcheck::Bytes stale = heapBlock({bth, records, {}}, 0x20, 0);
    pstcheck::Heap h2;
    h2.load({&stale}, "stale", wrongFree);
    expect(wrongFree.mentions("cFree 0"), "a stale cFree is reported");

    pstcheck::Report unsorted;
    const pstcheck::Bytes swapped = {0x02, 0x36, 0x03, 0x00, 5, 0, 0, 0, 0x01, 0x30, 0x1F, 0x00, 0, 0, 0, 0};
    const pstcheck::Bytes bad = heapBlock({bth, swapped}, 0x20, 0);
    pstcheck::Heap h3;
    h3.load({&bad}, "bad", unsorted);
    pstcheck::readBth(h3, 0x20, 2, 6, "pc", unsorted);
    expect(unsorted.mentions("is not above the previous key"), "BTH records out of order are reported");

    pstcheck::Report wrongShape;
    expect(!pstcheck::readBth(heap, 0x20, 4, 4, "index", wrongShape) && wrongShape.mentions("cbKey/cbEnt"),
           "a BTH of the wrong key size is refused");
}

pstcheck::Bytes le32(std::uint32_t v)
{
    return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v >> 16),
            static_cast<std::uint8_t>(v >> 24)};
}

pstcheck::Bytes cat(std::initializer_list<pstcheck::Bytes> parts)
{
    pstcheck::Bytes out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// A TC with the two mandatory columns; rows and index records as given. Outlook's order puts the
// row index's BTH header first (HID 0x20) and TCINFO second; the other order is legal but odd.
pstcheck::Report readTable(const pstcheck::Bytes& index, const pstcheck::Bytes& rows, pstcheck::Table* out,
                           bool outlookOrder = true)
{
    const std::uint32_t hidInfo = outlookOrder ? 0x40 : 0x20, hidBth = outlookOrder ? 0x20 : 0x40;
    const pstcheck::Bytes info = cat({{0x7C, 2, 8, 0, 8, 0, 8, 0, 9, 0}, le32(hidBth), le32(0x80), le32(0),
                                      le32(0x67F20003), {0, 0, 4, 0}, le32(0x67F30003), {4, 0, 4, 1}});
    const pstcheck::Bytes bth = cat({{0xB5, 4, 4, 0}, le32(0x60)});
    const pstcheck::Bytes block = outlookOrder ? heapBlock({bth, info, index, rows}, hidInfo, 0, pstcheck::kSigTc)
                                               : heapBlock({info, bth, index, rows}, hidInfo, 0, pstcheck::kSigTc);
    pstcheck::Report r;
    pstcheck::Heap heap;
    heap.load({&block}, "tc", r);
    pstcheck::Ndb noStore(pstcheck::Bytes{}, r);
    auto table = pstcheck::readTc(noStore, heap, {}, "tc", r);
    if (table && out)
        *out = *table;
    return r;
}

void testTable()
{
    const pstcheck::Bytes index = cat({le32(0x100), le32(1), le32(0x200), le32(0)});
    const pstcheck::Bytes rows = cat({le32(0x200), le32(7), {0xC0}, le32(0x100), le32(8), {0xC0}});
    pstcheck::Table table;
    const pstcheck::Report ok = readTable(index, rows, &table);
    expect(ok.problems().empty() && ok.warnings().empty(), "a well-formed table has no problems");
    const pstcheck::Report late = readTable(index, rows, nullptr, false);
    expect(late.problems().empty() && late.mentions("BTH header is not the heap's first item"),
           "a row index whose header is not at HID 0x20 is a warning");
    expect(table.rows.size() == 2 && table.rows[0].id == 0x100 && table.rows[1].id == 0x200,
           "rows come back in row-ID order");
    expect(table.rows.size() == 2 && table.rows[0].cells.at(0x67F30003) == le32(8),
           "a row's cells come from the row the index names");

    const pstcheck::Bytes swapped = cat({le32(0x100), le32(0), le32(0x200), le32(1)});
    expect(readTable(swapped, rows, nullptr).mentions("holds LtpRowId"), "an index pointing at the wrong row");

    const pstcheck::Bytes extra = cat({rows, le32(0x300), le32(9), {0xC0}});
    expect(readTable(index, extra, nullptr).mentions("3 rows in the matrix but 2 entries"),
           "a row without an index entry");

    const pstcheck::Bytes ragged(rows.begin(), rows.end() - 1);
    expect(readTable(index, ragged, nullptr).mentions("not a whole number"), "a row matrix cut short");
}

}  // namespace

int main()
{
    testCrc();
    testSignature();
    testPermute();
    testHeap();
    testTable();
    if (failures)
        std::printf("%d failure(s)\n", failures);
    else
        std::printf("all pstcheck unit tests passed\n");
    return failures ? 1 : 0;
}
