#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

namespace pst {

// What the node database knows of a block in use: where it is, how many references it has now
// and how many the block B-tree holds for it.
struct BlockState {
    static constexpr std::uint32_t kNotCommitted = UINT32_MAX;

    std::uint64_t bid = 0;  // 0 marks an empty slot; no block has BID 0
    std::uint64_t ib = 0;
    std::uint32_t refs = 0;                        // from nodes and internal blocks
    std::uint32_t committedRefs = kNotCommitted;  // as the block B-tree holds them
    std::uint32_t lastUse = 0;                     // the commit it was last used in
    std::uint16_t cb = 0;
    bool changed = false;  // listed among the blocks the next commit looks at
};

// Block states by BID in one flat array (open addressing, linear probing): no allocation per
// entry, a lookup touches one or two cache lines.
class BlockTable {
public:
    BlockState* Find(std::uint64_t bid)
    {
        if (m_slots.empty())
            return nullptr;
        for (std::size_t i = Home(bid);; i = (i + 1) & Mask()) {
            if (m_slots[i].bid == bid)
                return &m_slots[i];
            if (m_slots[i].bid == 0)
                return nullptr;
        }
    }

    // Adds the state of a block not in the table. The pointer holds until the next Add or Erase.
    BlockState* Add(const BlockState& state)
    {
        if ((m_size + 1) * 2 > m_slots.size())
            Rebuild(std::max<std::size_t>(kMinSlots, m_slots.size() * 2));
        ++m_size;
        return Place(state);
    }

    void Erase(std::uint64_t bid)
    {
        BlockState* found = Find(bid);
        if (!found)
            return;
        // Backward-shift deletion: the entries after the hole that would no longer be found move up.
        std::size_t hole = static_cast<std::size_t>(found - m_slots.data());
        for (std::size_t j = (hole + 1) & Mask(); m_slots[j].bid != 0; j = (j + 1) & Mask()) {
            const std::size_t home = Home(m_slots[j].bid);
            const bool between = hole <= j ? (hole < home && home <= j) : (hole < home || home <= j);
            if (!between) {
                m_slots[hole] = m_slots[j];
                hole = j;
            }
        }
        m_slots[hole] = BlockState{};
        --m_size;
    }

    std::size_t size() const { return m_size; }

    // Keeps the entries `keep` says yes to, in a table sized for them.
    template <typename Keep>
    void Retain(Keep keep)
    {
        std::vector<BlockState> old;
        old.swap(m_slots);
        std::size_t kept = 0;
        for (const BlockState& s : old)
            kept += s.bid != 0 && keep(s);
        std::size_t capacity = kMinSlots;
        while (kept * 2 > capacity)
            capacity *= 2;
        m_slots.assign(capacity, BlockState{});
        m_shift = Shift(capacity);
        m_size = 0;
        for (const BlockState& s : old) {
            if (s.bid != 0 && keep(s)) {
                Place(s);
                ++m_size;
            }
        }
    }

private:
    static constexpr std::size_t kMinSlots = 1024;

    std::size_t Mask() const { return m_slots.size() - 1; }
    // Blocks are numbered in the order they are written, and a run of them is mostly looked at
    // together: sixteen consecutive BIDs share one aligned stretch of slots (eight cache lines),
    // and the stretches are spread by a multiplicative hash, so that adding a commit's blocks
    // does not miss the cache once a block.
    std::size_t Home(std::uint64_t bid) const
    {
        const std::uint64_t n = bid >> 2;
        return static_cast<std::size_t>(((n >> 4) * 0x9E3779B97F4A7C15ull) >> m_shift & ~std::uint64_t{15}) | (n & 15);
    }
    static unsigned Shift(std::size_t capacity)
    {
        unsigned bits = 0;
        while ((std::size_t{1} << bits) < capacity)
            ++bits;
        return 64 - bits;
    }

    BlockState* Place(const BlockState& state)
    {
        std::size_t i = Home(state.bid);
        while (m_slots[i].bid != 0)
            i = (i + 1) & Mask();
        m_slots[i] = state;
        return &m_slots[i];
    }

    void Rebuild(std::size_t capacity)
    {
        std::vector<BlockState> old(capacity, BlockState{});
        old.swap(m_slots);
        m_shift = Shift(capacity);
        for (const BlockState& s : old)
            if (s.bid != 0)
                Place(s);
    }

    std::vector<BlockState> m_slots;  // a power of two of them, at most half full
    std::size_t m_size = 0;
    unsigned m_shift = 64;
};

}  // namespace pst
