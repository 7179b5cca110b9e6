#pragma once

#include "import/Text.h"

#include <unordered_map>

#include <stdexcept>
#include <utility>
#include <vector>

// An ordered list whose entries each carry a text key unique within the list. Entries are only
// appended, and are numbered from 1.
template <typename T>
class KeyedList {
public:
    struct DuplicateKey : std::runtime_error {
        explicit DuplicateKey(const Text& key)
            : std::runtime_error("the key " + Utf8(key) + " is already in the list")
        {
        }
    };

    void Add(T value, const Text& key)
    {
        if (!m_index.emplace(key, m_entries.size()).second)
            throw DuplicateKey(key);
        m_entries.emplace_back(key, std::move(value));
    }

    int Count() const { return static_cast<int>(m_entries.size()); }
    bool isEmpty() const { return m_entries.empty(); }

    // Entry `position`, counted from 1.
    const T& Item(int position) const { return m_entries.at(static_cast<size_t>(position - 1)).second; }
    const Text& Key(int position) const { return m_entries.at(static_cast<size_t>(position - 1)).first; }
    bool Contains(const Text& key) const { return m_index.contains(key); }
    const T& Item(const Text& key) const
    {
        const auto found = m_index.find(key);
        return m_entries.at(found == m_index.end() ? m_entries.size() : found->second).second;
    }

    std::vector<T> Values() const
    {
        std::vector<T> values;
        values.reserve(m_entries.size());
        for (const auto& entry : m_entries)
            values.push_back(entry.second);
        return values;
    }

private:
    std::vector<std::pair<Text, T>> m_entries;
    std::unordered_map<Text, size_t> m_index;
};
