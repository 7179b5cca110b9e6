// The node database's table of block states, against a plain map: blocks added in runs of
// consecutive BIDs (as they are written) and one by one (as they are read back), erased, and
// let go all but the recent ones, must be found exactly as the map finds them.
#include "pst/ndb/BlockTable.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

using namespace pst;

TEST(BlockTable, FindsWhatAPlainMapFinds)
{
    BlockTable table;
    std::map<std::uint64_t, std::uint32_t> model;  // BID -> refs
    std::mt19937 random(5);
    std::uint64_t next = 4;
    auto add = [&](std::uint64_t bid) {
        if (model.count(bid))
            return;
        BlockState s;
        s.bid = bid;
        s.refs = static_cast<std::uint32_t>(random());
        table.Add(s);
        model[bid] = s.refs;
    };
    auto check = [&](std::uint64_t bid) {
        const BlockState* found = table.Find(bid);
        auto it = model.find(bid);
        ASSERT_EQ(found != nullptr, it != model.end()) << "BID " << bid;
        if (found) {
            ASSERT_EQ(found->refs, it->second) << "BID " << bid;
        }
    };
    for (int round = 0; round < 300; ++round) {
        // A run of new blocks, data (BID a multiple of 4) and internal (bit 1 set).
        for (unsigned n = random() % 2000; n > 0; --n, next += 4)
            add(next | (random() % 5 == 0 ? 2 : 0));
        // Older blocks read back one by one, some erased.
        for (int k = 0; k < 50; ++k)
            add(4 + 4 * (random() % (next / 4)));
        for (int k = 0; k < 300 && !model.empty(); ++k) {
            auto it = model.lower_bound(random() % next);
            if (it == model.end())
                continue;
            table.Erase(it->first);
            model.erase(it);
        }
        if (round % 20 == 19) {
            // Only the newest blocks stay, as after a commit.
            const std::uint64_t keepFrom = next > 20000 ? next - 20000 : 0;
            table.Retain([&](const BlockState& s) { return s.bid >= keepFrom; });
            for (auto it = model.begin(); it != model.end();)
                it = it->first < keepFrom ? model.erase(it) : std::next(it);
        }
        ASSERT_EQ(table.size(), model.size()) << "round " << round;
        for (int k = 0; k < 500; ++k)
            check(random() % (next + 64));
        for (auto it = model.lower_bound(next > 3000 ? next - 3000 : 0); it != model.end(); ++it)
            check(it->first);
    }
}
