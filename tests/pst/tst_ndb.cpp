// The node database: checksums, header, data and subnode trees, large B-trees, and the commit
// order that keeps a file consistent wherever a process stops.
#include "PstTestSupport.h"
#include "tests/support/Shell.h"
#include "pst/ndb/Header.h"
#include "pst/ndb/NodeDatabase.h"
#include "pst/store/MessageStore.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <random>

using namespace pst;
using namespace pst::test;

namespace {

Bytes Ascii(const char* s) { return Bytes(s, s + std::strlen(s)); }

Bytes ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// Runs pstcheck on a file when the checker was built; returns its report.
void ExpectPstcheckSound(const std::string& path)
{
#ifdef PSTCHECK
    std::string out;
    EXPECT_EQ(RunCommand(testshell::PstcheckCommand(PSTCHECK, path), &out), 0) << out;
#else
    (void)path;
#endif
}

}  // namespace

TEST(Crc, MatchesTheFormatsVectors)
{
    Bytes digits = Ascii("123456789");
    EXPECT_EQ(ComputeCrc(digits.data(), digits.size()), 0x2DFD2D88u);
    Bytes a = Ascii("a");
    EXPECT_EQ(ComputeCrc(a.data(), a.size()), 0x3AB551CEu);
    Bytes ones(4, 0xFF);
    EXPECT_EQ(ComputeCrc(ones.data(), ones.size()), 0xDEBB20E3u);
    Bytes zeros(496, 0);
    EXPECT_EQ(ComputeCrc(zeros.data(), zeros.size()), 0u);
    const Bytes keywords = Utf16le("Keywords");
    EXPECT_EQ(ComputeCrc(keywords.data(), keywords.size()), 0x2EDA4D3Bu);
}

// Long runs take a faster path than the tables where the processor has one: every length and
// alignment, from any starting value, gives what the CRC's definition gives bit by bit.
TEST(Crc, EveryLengthMatchesTheBitwiseDefinition)
{
    auto bitwise = [](const std::uint8_t* data, std::size_t size, std::uint32_t crc) {
        for (std::size_t i = 0; i < size; ++i) {
            crc ^= data[i];
            for (int k = 0; k < 8; ++k)
                crc = (crc & 1) ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
        }
        return crc;
    };
    const Bytes data = Pattern(9000, 17);
    for (std::size_t size : {0u, 1u, 15u, 16u, 63u, 64u, 65u, 79u, 80u, 127u, 128u, 129u, 511u, 512u, 4093u, 8176u}) {
        for (std::size_t offset : {0u, 1u, 8u, 13u}) {
            for (std::uint32_t start : {0u, 0xFFFFFFFFu, 0x12345678u}) {
                EXPECT_EQ(ComputeCrc(data.data() + offset, size, start), bitwise(data.data() + offset, size, start))
                    << size << " bytes at offset " << offset << " from " << start;
            }
        }
    }
}

TEST(Crc, SignaturesMatchOutlooksPages)
{
    EXPECT_EQ(ComputeSig(0x9200, 0x17D), 0x937D);
    EXPECT_EQ(ComputeSig(0x8400, 0x17B), 0x857B);
    EXPECT_EQ(ComputeSig(0x5D40, 0x108), 0x5C48);
    EXPECT_EQ(ComputeSig(0x4C00, 0x4), 0x4C04);
}

TEST(Header, RoundTripsAndRefusesAnyFlippedByteUnderItsChecksums)
{
    Header h;
    h.bidNextP = 0x17F;
    h.bidNextB = 0x130;
    h.dwUnique = 0x16;
    for (std::size_t i = 0; i < h.rgnid.size(); ++i)
        h.rgnid[i] = static_cast<std::uint32_t>(0x400 + i);
    h.root = {0x42400, 0x4400, 0x3AD40, 0, {0x17D, 0x9200}, {0x17B, 0x8400}, Header::kAMapValid};
    const Bytes image = h.Serialize();
    ASSERT_EQ(image.size(), Header::kSize);
    const auto back = Header::Parse(image.data(), image.size());
    ASSERT_TRUE(back);
    EXPECT_EQ(back->Serialize(), image);

    // dwCRCFull covers bytes 8 to 0x20B: any change there is caught.
    for (std::size_t at = 8; at < 0x20C; ++at) {
        Bytes bad = image;
        bad[at] ^= 0x01;
        EXPECT_FALSE(Header::Parse(bad.data(), bad.size())) << "byte " << at;
    }
}

TEST(Header, OutlooksEmptyStoreCarriesTheSameChecksums)
{
    const std::string sample = std::string(VARNEL_SHARED_DIR) + "/reference/pst-samples/Empty.pst";
    const Bytes file = ReadFile(sample);
    if (file.empty())
        GTEST_SKIP() << "Outlook's sample store is not here: " << sample;
    EXPECT_EQ(Get32(file.data() + 4), ComputeCrc(file.data() + 8, 471));
    EXPECT_EQ(Get32(file.data() + 0x20C), ComputeCrc(file.data() + 8, 516));
    EXPECT_TRUE(Header::Parse(file.data(), file.size()));
}

class DataTrees : public ::testing::TestWithParam<std::size_t> {};

TEST_P(DataTrees, ReadBackAsWritten)
{
    TempDir dir;
    const std::string path = dir.path + "/data.pst";
    const std::size_t size = GetParam();
    const Bytes data = Pattern(size, static_cast<std::uint32_t>(size));
    std::uint64_t bid = 0;
    std::uint32_t nid = 0;
    {
        auto store = MessageStore::Create(path, "Data trees");
        NodeDatabase& db = store->Database();
        bid = db.WriteData(data);
        nid = db.NewNid(NID_TYPE_INTERNAL);
        db.SetNode({nid, bid, 0, 0});
        store->Commit();
        EXPECT_EQ(db.ReadData(bid), data);
        // One block up to 8,176 bytes; beyond that an internal block over full data blocks.
        EXPECT_EQ((bid & 2) != 0, size > NodeDatabase::kMaxBlockData);
        EXPECT_EQ(db.ReadBlocks(bid).size(), (size + NodeDatabase::kMaxBlockData - 1) / NodeDatabase::kMaxBlockData);
        store->Close();
    }
    const Bytes file = ReadFile(path);
    EXPECT_EQ(file.size() % 0x3E000, 0x4400u);
    const auto nodes = ReadNodeTree(file);
    ASSERT_TRUE(nodes);
    EXPECT_EQ(nodes->at(nid).bidData, bid);
    ExpectPstcheckSound(path);
}

INSTANTIATE_TEST_SUITE_P(Sizes, DataTrees,
                         ::testing::Values(std::size_t{8176}, std::size_t{8192}, std::size_t{1} << 20,
                                           std::size_t{100} << 20));

TEST(Subnodes, SpreadOverSeveralBlocksAndReadBackSorted)
{
    MemoryFile memory;
    NodeDatabase db(memory.Layer());
    std::vector<SLENTRY> entries;
    for (std::uint32_t i = 1000; i > 0; --i)
        entries.push_back({MakeNid(i, NID_TYPE_LTP), db.WriteData(Pattern(10, i)), 0});
    const std::uint64_t bid = db.WriteSubnodes(entries);
    db.SetNode({MakeNid(0x10000, NID_TYPE_INTERNAL), 0, bid, 0});
    EXPECT_TRUE(bid & 2);
    const auto back = db.ReadSubnodes(bid);
    ASSERT_EQ(back.size(), 1000u);
    for (std::size_t i = 0; i < back.size(); ++i) {
        EXPECT_EQ(back[i].nid, MakeNid(static_cast<std::uint32_t>(i + 1), NID_TYPE_LTP));
        EXPECT_EQ(db.ReadData(back[i].bidData), Pattern(10, static_cast<std::uint32_t>(i + 1)));
    }
}

TEST(NodeBTree, HoldsAHundredThousandNodesOnFourLevels)
{
    TempDir dir;
    const std::string path = dir.path + "/many.pst";
    std::vector<std::uint32_t> nids;
    {
        auto store = MessageStore::Create(path, "Many nodes");
        NodeDatabase& db = store->Database();
        for (std::uint32_t i = 0; i < 100000; ++i)
            nids.push_back(db.NewNid(NID_TYPE_INTERNAL));
        for (std::uint32_t nid : nids)
            db.SetNode({nid, 0, 0, 0});
        store->Commit();
        store->Close();
    }
    int depth = 0;
    const auto nodes = ReadNodeTree(ReadFile(path), &depth);
    ASSERT_TRUE(nodes);
    EXPECT_GE(nodes->size(), 100000u);
    EXPECT_EQ(depth, 3);  // 15 nodes a leaf, 20 entries a page above
    for (std::size_t i = 0; i < nids.size(); i += 997)
        EXPECT_TRUE(nodes->count(nids[i]));
    // libpff needs about a minute for a tree this size, so the strict checker alone reads it.
    ExpectPstcheckSound(path);
}

TEST(Commit, EveryPrefixOfTheWritesLeavesTheOldOrTheNewState)
{
    MemoryFile memory;
    NodeDatabase db(memory.Layer());
    for (std::uint32_t i = 0; i < 40; ++i) {
        const std::uint32_t nid = MakeNid(0x400 + i, NID_TYPE_INTERNAL);
        db.SetNode({nid, db.WriteData(Pattern(3000, i)), 0, 0});
    }
    db.Commit();
    const Bytes committed = memory.content;
    const auto before = ReadNodeTree(committed);
    ASSERT_TRUE(before);
    const std::size_t from = memory.writes.size();

    // A second transaction: replace half the nodes, remove some, add more.
    for (std::uint32_t i = 0; i < 40; i += 2)
        db.SetNode({MakeNid(0x400 + i, NID_TYPE_INTERNAL), db.WriteData(Pattern(5000, 100 + i)), 0, 0});
    for (std::uint32_t i = 1; i < 10; i += 2)
        db.RemoveNode(MakeNid(0x400 + i, NID_TYPE_INTERNAL));
    for (std::uint32_t i = 40; i < 60; ++i)
        db.SetNode({MakeNid(0x400 + i, NID_TYPE_INTERNAL), db.WriteData(Pattern(100, i)), 0, 0});
    db.Commit();
    const auto after = ReadNodeTree(memory.content);
    ASSERT_TRUE(after);

    auto same = [](const std::map<std::uint32_t, NodeInfo>& a, const std::map<std::uint32_t, NodeInfo>& b) {
        return a.size() == b.size()
               && std::equal(a.begin(), a.end(), b.begin(), [](const auto& x, const auto& y) {
                      return x.first == y.first && x.second.bidData == y.second.bidData;
                  });
    };
    const std::size_t count = memory.writes.size() - from;
    for (std::size_t k = 0; k <= count; ++k) {
        const auto state = ReadNodeTree(MemoryFile::Replay(committed, memory.writes, from, k));
        ASSERT_TRUE(state) << "unreadable after " << k << " of " << count << " writes";
        EXPECT_TRUE(same(*state, *before) || same(*state, *after)) << "mixed state after " << k << " writes";
        // Until the last write the old state stands.
        if (k < count) {
            EXPECT_TRUE(same(*state, *before)) << "new state visible before the header write, at " << k;
        }
    }
}

TEST(Growth, FileGrowsByWholeIntervalsWithTheirMaps)
{
    MemoryFile memory;
    NodeDatabase db(memory.Layer());
    for (std::uint32_t i = 0; i < 200; ++i)
        db.SetNode({MakeNid(0x400 + i, NID_TYPE_INTERNAL), db.WriteData(Pattern(8000, i)), 0, 0});
    db.Commit();
    EXPECT_EQ(memory.content.size(), db.FileSize());
    EXPECT_EQ((db.FileSize() - 0x4400) % 0x3E000, 0u);
    EXPECT_GT(db.FileSize(), 0x4400u + 0x3E000u);
    const Header h = *Header::Parse(memory.content.data(), memory.content.size());
    EXPECT_EQ(h.root.ibFileEof, db.FileSize());
    EXPECT_EQ(h.root.ibAMapLast, db.FileSize() - 0x3E000);
    EXPECT_EQ(h.root.fAMapValid, Header::kAMapValid);
    for (std::uint32_t i = 0; i < 200; i += 17)
        EXPECT_EQ(db.ReadData(db.Node(MakeNid(0x400 + i, NID_TYPE_INTERNAL))->bidData), Pattern(8000, i));
}

// Past interval 8,192 (about 2 GB) the interval holds a free-page-map page: in the slot
// Microsoft's reader uses (+0x600) and in the one a count of the pages before it gives (+0x400),
// both marked allocated, each a valid page of its own offset. Writes some 2 GB to a temporary file.
TEST(Growth, PastTwoGigabytesTheFreePageMapStandsInBothSlots)
{
    TempDir dir;
    const std::string path = dir.path + "/large.pst";
    constexpr std::uint64_t kInterval = 0x3E000;
    const std::uint64_t fpmapInterval = 0x4400 + 8192 * kInterval;
    {
        NodeDatabase db(CreateDiskFile(path));
        Bytes chunk = Pattern(8'000'000, 1);
        for (std::uint32_t i = 0; db.FileSize() <= fpmapInterval + kInterval; ++i) {
            for (std::size_t at = 0; at + 4 <= chunk.size(); at += NodeDatabase::kMaxBlockData)
                std::memcpy(&chunk[at], &i, 4);  // no block like another
            db.SetNode({MakeNid(0x400 + i, NID_TYPE_INTERNAL), db.WriteData(chunk), 0, 0});
            if (i % 64 == 63)
                db.Commit();
        }
        db.Commit();
    }
    std::ifstream in(path, std::ios::binary);
    Bytes interval(kInterval);
    in.seekg(static_cast<std::streamoff>(fpmapInterval));
    in.read(reinterpret_cast<char*>(interval.data()), static_cast<std::streamsize>(interval.size()));
    ASSERT_TRUE(in);
    // AMap bytes: its own page, the PMap, and the two free-page-map slots.
    EXPECT_EQ(Bytes(interval.begin(), interval.begin() + 4), Bytes(4, 0xFF));
    for (const std::uint64_t slot : {0x400u, 0x600u}) {
        const std::uint8_t* page = &interval[slot];
        EXPECT_EQ(Bytes(page, page + 496), Bytes(496, 0xFF)) << slot;
        // Trailer: ptype and its repeat 0x85 (FPMap), wSig 0, the CRC, the page's own offset.
        EXPECT_EQ(Bytes(page + 496, page + 500), Bytes({0x85, 0x85, 0, 0})) << slot;
        EXPECT_EQ(Get32(page + 500), ComputeCrc(page, 496)) << slot;
        EXPECT_EQ(Get64(page + 504), fpmapInterval + slot) << slot;
    }
}

TEST(Store, AnExistingFileIsNeverOverwritten)
{
    TempDir dir;
    const std::string path = dir.path + "/taken.pst";
    std::ofstream(path) << "not a store";
    EXPECT_THROW(MessageStore::Create(path, "x"), StoreError);
    EXPECT_EQ(ReadFile(path), Ascii("not a store"));
    // Nothing is left behind under another name either.
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path))
        ++files;
    EXPECT_EQ(files, 1u);
}
