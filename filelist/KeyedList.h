#pragma once

#include <QHash>
#include <QString>

#include <stdexcept>
#include <utility>
#include <vector>

// An ordered list whose entries each carry a text key unique within the list. Entries are only
// appended, and are numbered from 1.
template <typename T>
class KeyedList {
public:
    struct DuplicateKey : std::runtime_error {
        explicit DuplicateKey(const QString& key)
            : std::runtime_error("the key " + key.toStdString() + " is already in the list")
        {
        }
    };

    void Add(T value, const QString& key)
    {
        if (m_index.contains(key))
            throw DuplicateKey(key);
        m_index.insert(key, m_entries.size());
        m_entries.emplace_back(key, std::move(value));
    }

    int Count() const { return static_cast<int>(m_entries.size()); }
    bool isEmpty() const { return m_entries.empty(); }

    // Entry `position`, counted from 1.
    const T& Item(int position) const { return m_entries.at(static_cast<size_t>(position - 1)).second; }
    const QString& Key(int position) const { return m_entries.at(static_cast<size_t>(position - 1)).first; }
    bool Contains(const QString& key) const { return m_index.contains(key); }
    const T& Item(const QString& key) const { return m_entries.at(m_index.value(key, m_entries.size())).second; }

    std::vector<T> Values() const
    {
        std::vector<T> values;
        values.reserve(m_entries.size());
        for (const auto& entry : m_entries)
            values.push_back(entry.second);
        return values;
    }

private:
    std::vector<std::pair<QString, T>> m_entries;
    QHash<QString, size_t> m_index;
};
