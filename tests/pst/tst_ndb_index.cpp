// The node database's index read back from its own pages: a database that lets go of every B-tree
// leaf and block state after each commit, and so reads them back from the file whenever it needs
// them, writes the same file byte for byte as one that holds them all, through node replacements,
// removals, shared blocks, subnode trees, data trees that keep their full XBLOCKs as they grow, and
// a node B-tree emptied down to its root.
#include "PstTestSupport.h"
#include "ndb.h"
#include "pst/ndb/NodeDatabase.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>

using namespace pst;
using namespace pst::test;

namespace {

// One run of changes, the same for every database it is given to (seeded).
struct Workload {
    MemoryFile memory;
    NodeDatabase db{memory.Layer()};
    std::map<std::uint32_t, Bytes> data;  // what each node's data tree holds
    std::vector<std::uint64_t> growing;   // data blocks of a node rewritten at its end
    std::uint32_t growingNid = 0;
    Bytes growingData;

    void Run(std::uint32_t seed, int steps)
    {
        std::mt19937 random(seed);
        auto pick = [&](std::size_t n) { return static_cast<std::size_t>(random() % n); };
        growingNid = db.NewNid(NID_TYPE_INTERNAL);
        for (int step = 0; step < steps; ++step) {
            const std::size_t what = pick(100);
            if (what < 30 || data.size() < 4) {
                // A new node: data of 0 to 3 blocks, at times with subnodes sharing other nodes' data.
                const std::uint32_t nid = db.NewNid(NID_TYPE_INTERNAL);
                const Bytes bytes = Pattern(pick(20000) + 1, static_cast<std::uint32_t>(step));
                std::uint64_t sub = 0;
                if (pick(3) == 0 && !data.empty()) {
                    std::vector<SLENTRY> entries;
                    const std::size_t count = pick(3) == 0 ? 300 + pick(200) : 1 + pick(5);
                    for (std::size_t i = 0; i < count; ++i) {
                        auto other = data.begin();
                        std::advance(other, static_cast<std::ptrdiff_t>(pick(data.size())));
                        const std::uint64_t shared = db.Node(other->first)->bidData;
                        entries.push_back({MakeNid(static_cast<std::uint32_t>(i + 1), NID_TYPE_LTP),
                                           shared ? shared : db.WriteData(Pattern(10, static_cast<std::uint32_t>(i))), 0});
                    }
                    sub = db.WriteSubnodes(entries);
                }
                db.SetNode({nid, db.WriteData(bytes), sub, 0});
                data[nid] = bytes;
            } else if (what < 50) {
                // A node's data replaced, or the same blocks given again.
                auto it = data.begin();
                std::advance(it, static_cast<std::ptrdiff_t>(pick(data.size())));
                NBTENTRY entry = *db.Node(it->first);
                if (pick(2)) {
                    it->second = Pattern(pick(30000) + 1, static_cast<std::uint32_t>(step) + 7);
                    entry.bidData = db.WriteData(it->second);
                }
                db.SetNode(entry);
            } else if (what < 62) {
                auto it = data.begin();
                std::advance(it, static_cast<std::ptrdiff_t>(pick(data.size())));
                db.RemoveNode(it->first);
                data.erase(it);
            } else if (what < 90) {
                // The growing node: new blocks at its end, the last one rewritten, over 1,021 blocks.
                if (!growing.empty() && pick(3) == 0) {
                    growing.pop_back();
                    growingData.resize(growingData.size() - 64);
                }
                for (std::size_t n = pick(60) + 1; n > 0; --n) {
                    const Bytes block = Pattern(64, static_cast<std::uint32_t>(growing.size() * 31 + step));
                    growing.push_back(db.WriteDataBlock(block));
                    growingData.insert(growingData.end(), block.begin(), block.end());
                }
                db.SetNode({growingNid, db.WriteTree(growing), 0, 0});
            } else {
                db.Commit();
            }
        }
        db.Commit();
    }

    // Every node but the growing one removed in random order, so that pages empty and the node
    // B-tree shrinks to its root.
    void RemoveAllButGrowing(std::uint32_t seed)
    {
        std::vector<std::uint32_t> nids;
        for (const auto& entry : data)
            nids.push_back(entry.first);
        std::shuffle(nids.begin(), nids.end(), std::mt19937(seed));
        for (std::size_t i = 0; i < nids.size(); ++i) {
            db.RemoveNode(nids[i]);
            if (i % 25 == 0)
                db.Commit();
        }
        data.clear();
        db.Commit();
    }
};

TEST(Index, ReadBackFromItsPagesTheStoreIsTheSameByteForByte)
{
    for (std::uint32_t seed : {1u, 2u, 3u}) {
        Workload held;
        Workload readBack;
        readBack.db.HoldInMemory(0, 0);
        held.Run(seed, 2000);
        readBack.Run(seed, 2000);
        ASSERT_GT(readBack.growing.size(), 2 * NodeDatabase::kXBlockMaxEntries) << "seed " << seed;

        // The nodes and their data, as the database reads them back and as the file holds them.
        const auto nodes = ReadNodeTree(readBack.memory.content);
        ASSERT_TRUE(nodes);
        EXPECT_EQ(nodes->size(), readBack.data.size() + 1);
        EXPECT_EQ(readBack.db.NodeCount(), readBack.data.size() + 1);
        for (const auto& [nid, bytes] : readBack.data) {
            ASSERT_TRUE(nodes->count(nid));
            EXPECT_EQ(readBack.db.ReadData(nodes->at(nid).bidData), bytes);
        }
        EXPECT_EQ(readBack.db.ReadData(readBack.db.Node(readBack.growingNid)->bidData), readBack.growingData);

        held.RemoveAllButGrowing(seed);
        readBack.RemoveAllButGrowing(seed);
        EXPECT_EQ(readBack.db.NodeCount(), 1u);
        EXPECT_EQ(readBack.db.ReadData(readBack.db.Node(readBack.growingNid)->bidData), readBack.growingData);

        held.db.Close();
        readBack.db.Close();
        ASSERT_EQ(held.memory.content.size(), readBack.memory.content.size()) << "seed " << seed;
        EXPECT_TRUE(held.memory.content == readBack.memory.content) << "seed " << seed;

        // Reference counts, allocation maps and every page, as the strict checker finds them.
        pstcheck::Report report;
        pstcheck::Ndb ndb(readBack.memory.content, report);
        EXPECT_TRUE(ndb.load());
        for (const std::string& p : report.problems())
            ADD_FAILURE() << "seed " << seed << ": " << p;
    }
}

}  // namespace
