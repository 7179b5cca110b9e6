#pragma once

#include "Pages.h"

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

namespace pst {

// The node or block B-tree (MS-PST 2.2.2.7.7) held in memory page by page, so that a commit
// writes only the pages that changed and the pages above them: copy-on-write along the path,
// never the whole tree. Leaves hold the entries; every page above holds its children's first keys.
template <typename Entry>
class PageTree {
public:
    using KeyOf = std::uint64_t (*)(const Entry&);
    // Writes a page: given its contents, returns the page's BREF (the tree allocates nothing).
    using LeafWriter = std::function<BREF(const Entry* entries, int count)>;
    using InnerWriter = std::function<BREF(const BTENTRY* entries, int count, std::uint8_t level)>;
    using PageFreer = std::function<void(const BREF&)>;

    PageTree(int leafMax, KeyOf key)
        : m_leafMax(static_cast<std::size_t>(leafMax))
        , m_key(key)
        , m_root(std::make_unique<Node>())
    {
    }

    // Adds an entry, or replaces the one with the same key.
    void Put(const Entry& entry)
    {
        if (auto right = Insert(*m_root, entry)) {
            auto root = std::make_unique<Node>();
            root->leaf = false;
            root->children.push_back(std::move(m_root));
            root->children.push_back(std::move(right));
            root->firstKey = root->children.front()->firstKey;
            m_root = std::move(root);
        }
    }

    void Erase(std::uint64_t key)
    {
        Remove(*m_root, key);
        // A root left with one child gives way to it; a root left with none becomes an empty leaf.
        while (!m_root->leaf && m_root->children.size() == 1) {
            if (m_root->page.ib)
                m_removed.push_back(m_root->page);
            m_root = std::move(m_root->children.front());
        }
        if (!m_root->leaf && m_root->children.empty()) {
            if (m_root->page.ib)
                m_removed.push_back(m_root->page);
            m_root = std::make_unique<Node>();
        }
    }

    // Writes every changed page, children before parents; pages no longer used go to `freePage`.
    BREF Write(const LeafWriter& leaf, const InnerWriter& inner, const PageFreer& freePage)
    {
        for (const BREF& gone : m_removed)
            freePage(gone);
        m_removed.clear();
        std::uint8_t level = 0;
        WriteNode(*m_root, leaf, inner, freePage, level);
        return m_root->page;
    }

private:
    struct Node {
        bool leaf = true;
        bool dirty = true;
        std::uint64_t firstKey = 0;
        BREF page{};
        std::vector<Entry> entries;
        std::vector<std::unique_ptr<Node>> children;
    };

    static constexpr std::size_t kInnerMax = BTPage::kIntermediateMax;

    std::size_t ChildFor(const Node& n, std::uint64_t key) const
    {
        std::size_t i = 0;
        while (i + 1 < n.children.size() && n.children[i + 1]->firstKey <= key)
            ++i;
        return i;
    }

    void Refresh(Node& n) const
    {
        n.dirty = true;
        if (n.leaf)
            n.firstKey = n.entries.empty() ? 0 : m_key(n.entries.front());
        else
            n.firstKey = n.children.empty() ? 0 : n.children.front()->firstKey;
    }

    // Inserts below `n`; returns a new right sibling when `n` had to split.
    std::unique_ptr<Node> Insert(Node& n, const Entry& entry)
    {
        const std::uint64_t key = m_key(entry);
        if (n.leaf) {
            auto it = std::lower_bound(n.entries.begin(), n.entries.end(), key,
                                       [&](const Entry& e, std::uint64_t k) { return m_key(e) < k; });
            const bool atEnd = it == n.entries.end();
            if (!atEnd && m_key(*it) == key)
                *it = entry;
            else
                n.entries.insert(it, entry);
            Refresh(n);
            if (n.entries.size() <= m_leafMax)
                return nullptr;
            // Keys mostly arrive in ascending order (new NIDs and BIDs): a page split at its end
            // stays full, so the tree stays as shallow as a tree built in one go.
            const std::size_t keep = atEnd ? m_leafMax : n.entries.size() / 2;
            auto right = std::make_unique<Node>();
            right->entries.assign(n.entries.begin() + static_cast<std::ptrdiff_t>(keep), n.entries.end());
            n.entries.resize(keep);
            Refresh(n);
            Refresh(*right);
            return right;
        }
        const std::size_t i = ChildFor(n, key);
        auto split = Insert(*n.children[i], entry);
        const bool atEnd = i + 1 == n.children.size();
        if (split)
            n.children.insert(n.children.begin() + static_cast<std::ptrdiff_t>(i + 1), std::move(split));
        Refresh(n);
        if (n.children.size() <= kInnerMax)
            return nullptr;
        auto right = std::make_unique<Node>();
        right->leaf = false;
        const auto half = static_cast<std::ptrdiff_t>(atEnd ? kInnerMax : n.children.size() / 2);
        std::move(n.children.begin() + half, n.children.end(), std::back_inserter(right->children));
        n.children.resize(static_cast<std::size_t>(half));
        Refresh(n);
        Refresh(*right);
        return right;
    }

    void Forget(Node& n)
    {
        if (n.page.ib)
            m_removed.push_back(n.page);
        for (auto& c : n.children)
            Forget(*c);
    }

    // Removes the entry below `n`; a page left empty leaves the tree (the root stays).
    void Remove(Node& n, std::uint64_t key)
    {
        if (n.leaf) {
            auto it = std::lower_bound(n.entries.begin(), n.entries.end(), key,
                                       [&](const Entry& e, std::uint64_t k) { return m_key(e) < k; });
            if (it != n.entries.end() && m_key(*it) == key) {
                n.entries.erase(it);
                Refresh(n);
            }
            return;
        }
        const std::size_t i = ChildFor(n, key);
        Node& child = *n.children[i];
        Remove(child, key);
        if ((child.leaf && child.entries.empty()) || (!child.leaf && child.children.empty())) {
            Forget(child);
            n.children.erase(n.children.begin() + static_cast<std::ptrdiff_t>(i));
        }
        Refresh(n);
    }

    void WriteNode(Node& n, const LeafWriter& leaf, const InnerWriter& inner, const PageFreer& freePage,
                   std::uint8_t& level)
    {
        if (n.leaf) {
            level = 0;
        } else {
            std::uint8_t childLevel = 0;
            for (auto& c : n.children) {
                if (c->dirty)
                    WriteNode(*c, leaf, inner, freePage, childLevel);
                else
                    childLevel = Level(*c);
            }
            level = static_cast<std::uint8_t>(childLevel + 1);
        }
        if (!n.dirty)
            return;
        if (n.page.ib)
            freePage(n.page);
        if (n.leaf) {
            n.page = leaf(n.entries.data(), static_cast<int>(n.entries.size()));
        } else {
            std::vector<BTENTRY> refs;
            for (const auto& c : n.children)
                refs.push_back({c->firstKey, c->page});
            n.page = inner(refs.data(), static_cast<int>(refs.size()), level);
        }
        n.dirty = false;
    }

    static std::uint8_t Level(const Node& n)
    {
        std::uint8_t level = 0;
        for (const Node* p = &n; !p->leaf; p = p->children.front().get())
            ++level;
        return level;
    }

    std::size_t m_leafMax;
    KeyOf m_key;
    std::unique_ptr<Node> m_root;
    std::vector<BREF> m_removed;
};

}  // namespace pst
