#pragma once

#include "pst/ltp/PropertyContext.h"

#include <array>
#include <string>
#include <unordered_map>
#include <vector>

namespace pst {

using Guid = std::array<std::uint8_t, 16>;  // in on-disk byte order

// Property sets of the named properties an appointment uses (MS-OXPROPS 1.3.2).
extern const Guid PSETID_Appointment;
extern const Guid PSETID_Common;
extern const Guid PSETID_Meeting;
extern const Guid PS_PUBLIC_STRINGS;
extern const Guid PS_MAPI;

// The name-to-ID map (MS-PST 2.4.7): gives each named property (a property set with a numeric
// LID or a string name) a property ID from 0x8000 on, and lays the map out as the store's
// node 0x61 holds it, hash buckets included.
class NameToIdMap {
public:
    static constexpr std::uint32_t kBuckets = 251;

    // The property ID of a named property, added to the map when new.
    std::uint16_t Numeric(const Guid& set, std::uint32_t lid);
    std::uint16_t String(const Guid& set, const std::string& name);
    std::size_t size() const { return m_entries.size(); }

    // The map's property context content: bucket count, GUID, entry and string streams, and
    // one property for each bucket that holds entries.
    std::vector<Property> Properties() const;

private:
    struct Entry {
        std::uint32_t key = 0;  // LID, or the string's offset in the string stream
        std::uint32_t hash = 0;  // LID, or the CRC of the UTF-16LE name
        std::uint16_t guidIndex = 0;
        bool isString = false;
    };
    std::uint16_t GuidIndex(const Guid& set);
    std::uint16_t Add(const Entry& entry);

    std::vector<Guid> m_guids;
    std::vector<Entry> m_entries;
    Bytes m_strings;
    // Numeric entries by GUID index and LID, as every message looks its named properties up.
    std::unordered_map<std::uint64_t, std::uint16_t> m_numeric;
};

}  // namespace pst
