#pragma once

#include "Pages.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace pst {

// The node or block B-tree (MS-PST 2.2.2.7.7) kept page by page, so that a commit writes only the
// pages that changed and the pages above them: copy-on-write along the path, never the whole
// tree. Leaves hold the entries; every page above holds its children's first keys.
//
// The pages above the leaves stay in memory. A leaf is held while it is in use; once it is written
// and has not been used for a while, it is dropped and read back from its page when needed again,
// so that memory follows the pages in use, not the size of the store.
template <typename Entry>
class PageTree {
public:
    // Writes a page: given its contents, returns the page's BREF (the tree allocates nothing).
    using LeafWriter = std::function<BREF(const Entry* entries, int count)>;
    using InnerWriter = std::function<BREF(const BTENTRY* entries, int count, std::uint8_t level)>;
    using PageFreer = std::function<void(const BREF&)>;
    // Reads the entries of a leaf page this tree wrote into `out` (room for the most a leaf holds);
    // returns how many there are.
    using LeafReader = std::function<int(const BREF& page, Entry* out)>;

    // By default this many written leaves are kept in memory beyond those in use.
    static constexpr std::size_t kDefaultHeldLeaves = 4096;

    PageTree(int leafMax, LeafReader reader)
        : m_leafMax(static_cast<std::size_t>(leafMax))
        , m_read(std::move(reader))
    {
        m_root.node = NewLeaf();
    }

    // How many written leaves stay in memory after a write; 0 drops every one.
    void HoldLeaves(std::size_t leaves) { m_holdLeaves = leaves; }
    std::size_t LeavesInMemory() const { return m_leavesInMemory; }
    std::size_t size() const { return m_size; }

    // The entry with this key, or null. The pointer holds until the tree next changes or writes.
    const Entry* Find(std::uint64_t key)
    {
        Child* c = &m_root;
        while (c->node && !c->node->leaf)
            c = &c->node->children[ChildFor(*c->node, key)];
        Node& n = Load(*c);
        Entry* e = LowerBound(n, key);
        return e != n.entries.get() + n.count && TreeKey(*e) == key ? e : nullptr;
    }

    // Adds an entry, or replaces the one with the same key.
    void Put(const Entry& entry)
    {
        if (auto right = Insert(m_root, entry)) {
            auto root = std::make_unique<Node>();
            root->leaf = false;
            root->level = static_cast<std::uint8_t>(Level(m_root) + 1);
            root->children.push_back(std::move(m_root));
            root->children.push_back(std::move(*right));
            m_root = Child{root->children.front().key, BREF{}, std::move(root)};
        }
    }

    // Removes the entry with this key; false when there is none.
    bool Erase(std::uint64_t key)
    {
        if (!Remove(m_root, key))
            return false;
        // A root left with one child gives way to it; a root left with none becomes an empty leaf.
        while (!m_root.node->leaf && m_root.node->children.size() == 1) {
            if (m_root.page.ib)
                m_removed.push_back(m_root.page);
            Child only = std::move(m_root.node->children.front());
            m_root = std::move(only);
            if (!m_root.node)
                break;
        }
        if (m_root.node && !m_root.node->leaf && m_root.node->children.empty()) {
            if (m_root.page.ib)
                m_removed.push_back(m_root.page);
            m_root = Child{0, BREF{}, NewLeaf()};
        }
        return true;
    }

    // Writes every changed page, children before parents; pages no longer used go to `freePage`.
    // Leaves unused for longest are then let go, down to the number to hold.
    BREF Write(const LeafWriter& leaf, const InnerWriter& inner, const PageFreer& freePage)
    {
        for (const BREF& gone : m_removed)
            freePage(gone);
        m_removed.clear();
        WriteNode(m_root, leaf, inner, freePage);
        ++m_clock;
        if (m_leavesInMemory > m_holdLeaves)
            LetGo();
        return m_root.page;
    }

private:
    struct Node;
    // A page as its parent sees it: its first key, where it was last written, and its contents
    // while in memory (inner pages always are; a leaf not in memory is read from `page`).
    struct Child {
        std::uint64_t key = 0;
        BREF page{};
        std::unique_ptr<Node> node;
    };
    struct Node {
        bool leaf = true;
        bool dirty = true;
        std::uint8_t level = 0;
        std::uint16_t count = 0;  // entries, in a leaf
        std::uint32_t lastUse = 0;
        std::unique_ptr<Entry[]> entries;  // a leaf's, room for one more than a page holds
        std::vector<Child> children;       // an inner page's
    };

    static constexpr std::size_t kInnerMax = BTPage::kIntermediateMax;

    std::unique_ptr<Node> NewLeaf()
    {
        auto n = std::make_unique<Node>();
        n->entries = std::make_unique<Entry[]>(m_leafMax + 1);
        n->lastUse = m_clock;
        ++m_leavesInMemory;
        return n;
    }

    Node& Load(Child& c)
    {
        if (!c.node) {
            auto n = NewLeaf();
            const int count = m_read(c.page, n->entries.get());
            n->count = static_cast<std::uint16_t>(count);
            n->dirty = false;
            c.node = std::move(n);
        }
        c.node->lastUse = m_clock;
        return *c.node;
    }

    static std::uint8_t Level(const Child& c) { return c.node ? c.node->level : 0; }

    Entry* LowerBound(Node& n, std::uint64_t key) const
    {
        return std::lower_bound(n.entries.get(), n.entries.get() + n.count, key,
                                [](const Entry& e, std::uint64_t k) { return TreeKey(e) < k; });
    }

    // The child whose keys `key` falls among: the last one whose first key is not above it.
    static std::size_t ChildFor(const Node& n, std::uint64_t key)
    {
        auto it = std::upper_bound(n.children.begin(), n.children.end(), key,
                                   [](std::uint64_t k, const Child& c) { return k < c.key; });
        return it == n.children.begin() ? 0 : static_cast<std::size_t>(it - n.children.begin() - 1);
    }

    std::uint64_t FirstKey(const Node& n) const
    {
        if (n.leaf)
            return n.count ? TreeKey(n.entries[0]) : 0;
        return n.children.empty() ? 0 : n.children.front().key;
    }

    // Inserts below `c`; returns a new right sibling when the page had to split.
    std::optional<Child> Insert(Child& c, const Entry& entry)
    {
        Node& n = Load(c);
        const std::uint64_t key = TreeKey(entry);
        n.dirty = true;
        if (n.leaf) {
            Entry* const begin = n.entries.get();
            Entry* const it = LowerBound(n, key);
            const bool atEnd = it == begin + n.count;
            if (!atEnd && TreeKey(*it) == key) {
                *it = entry;
            } else {
                std::move_backward(it, begin + n.count, begin + n.count + 1);
                *it = entry;
                ++n.count;
                ++m_size;
            }
            c.key = FirstKey(n);
            if (n.count <= m_leafMax)
                return std::nullopt;
            // Keys mostly arrive in ascending order (new NIDs and BIDs): a page split at its end
            // stays full, so the tree stays as shallow as a tree built in one go.
            const std::size_t keep = atEnd ? m_leafMax : n.count / 2;
            auto right = NewLeaf();
            std::copy(begin + keep, begin + n.count, right->entries.get());
            right->count = static_cast<std::uint16_t>(n.count - keep);
            n.count = static_cast<std::uint16_t>(keep);
            c.key = FirstKey(n);
            const std::uint64_t rightKey = FirstKey(*right);
            return Child{rightKey, BREF{}, std::move(right)};
        }
        const std::size_t i = ChildFor(n, key);
        auto split = Insert(n.children[i], entry);
        const bool atEnd = i + 1 == n.children.size();
        if (split)
            n.children.insert(n.children.begin() + static_cast<std::ptrdiff_t>(i + 1), std::move(*split));
        c.key = FirstKey(n);
        if (n.children.size() <= kInnerMax)
            return std::nullopt;
        auto right = std::make_unique<Node>();
        right->leaf = false;
        right->level = n.level;
        const auto half = static_cast<std::ptrdiff_t>(atEnd ? kInnerMax : n.children.size() / 2);
        std::move(n.children.begin() + half, n.children.end(), std::back_inserter(right->children));
        n.children.erase(n.children.begin() + half, n.children.end());
        c.key = FirstKey(n);
        const std::uint64_t rightKey = FirstKey(*right);
        return Child{rightKey, BREF{}, std::move(right)};
    }

    // The pages of a subtree leaving the tree.
    void Forget(Child& c)
    {
        if (c.page.ib)
            m_removed.push_back(c.page);
        if (c.node) {
            for (Child& g : c.node->children)
                Forget(g);
            if (c.node->leaf)
                --m_leavesInMemory;
        }
    }

    // Removes the entry below `c`; a page left empty leaves the tree (the root stays).
    bool Remove(Child& c, std::uint64_t key)
    {
        Node& n = Load(c);
        if (n.leaf) {
            Entry* const it = LowerBound(n, key);
            Entry* const end = n.entries.get() + n.count;
            if (it == end || TreeKey(*it) != key)
                return false;
            std::move(it + 1, end, it);
            --n.count;
            --m_size;
            n.dirty = true;
            c.key = FirstKey(n);
            return true;
        }
        const std::size_t i = ChildFor(n, key);
        Child& child = n.children[i];
        if (!Remove(child, key))
            return false;
        const Node& cn = *child.node;
        if ((cn.leaf && cn.count == 0) || (!cn.leaf && cn.children.empty())) {
            Forget(child);
            n.children.erase(n.children.begin() + static_cast<std::ptrdiff_t>(i));
        }
        n.dirty = true;
        c.key = FirstKey(n);
        return true;
    }

    void WriteNode(Child& c, const LeafWriter& leaf, const InnerWriter& inner, const PageFreer& freePage)
    {
        if (!c.node)
            return;  // a leaf only on disk is as written
        Node& n = *c.node;
        if (!n.leaf) {
            for (Child& g : n.children)
                if (g.node && g.node->dirty)
                    WriteNode(g, leaf, inner, freePage);
        }
        if (!n.dirty)
            return;
        if (c.page.ib)
            freePage(c.page);
        if (n.leaf) {
            c.page = leaf(n.entries.get(), n.count);
        } else {
            std::vector<BTENTRY> refs;
            refs.reserve(n.children.size());
            for (const Child& g : n.children)
                refs.push_back({g.key, g.page});
            c.page = inner(refs.data(), static_cast<int>(refs.size()), n.level);
        }
        n.dirty = false;
    }

    // Drops the written leaves used longest ago, down to three quarters of the number to hold, so
    // that a look over the tree comes only after many leaves were read.
    void LetGo()
    {
        std::vector<Child*> held;
        Collect(m_root, held);
        const std::size_t keep = m_holdLeaves - m_holdLeaves / 4;
        if (held.size() <= keep)
            return;
        const std::size_t drop = held.size() - keep;
        std::nth_element(held.begin(), held.begin() + static_cast<std::ptrdiff_t>(drop - 1), held.end(),
                         [](const Child* a, const Child* b) { return a->node->lastUse < b->node->lastUse; });
        for (std::size_t i = 0; i < drop; ++i) {
            held[i]->node.reset();
            --m_leavesInMemory;
        }
    }

    static void Collect(Child& c, std::vector<Child*>& out)
    {
        if (!c.node)
            return;
        if (c.node->leaf) {
            // A leaf never written has no page to be read back from.
            if (!c.node->dirty && c.page.ib)
                out.push_back(&c);
            return;
        }
        for (Child& g : c.node->children)
            Collect(g, out);
    }

    std::size_t m_leafMax;
    LeafReader m_read;
    Child m_root;
    std::vector<BREF> m_removed;
    std::size_t m_size = 0;
    std::size_t m_leavesInMemory = 0;
    std::size_t m_holdLeaves = kDefaultHeldLeaves;
    std::uint32_t m_clock = 0;
};

}  // namespace pst
