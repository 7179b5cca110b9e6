#include "NameToIdMap.h"

#include "pst/ndb/Crc.h"
#include "pst/ndb/FileLayer.h"

namespace pst {

const Guid PSETID_Appointment = {0x02, 0x20, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00,
                                 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
const Guid PSETID_Common = {0x08, 0x20, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00,
                            0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
const Guid PSETID_Meeting = {0x90, 0xDA, 0xD8, 0x6E, 0x0B, 0x45, 0x1B, 0x10,
                             0x98, 0xDA, 0x00, 0xAA, 0x00, 0x3F, 0x13, 0x05};
const Guid PS_PUBLIC_STRINGS = {0x29, 0x03, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
const Guid PS_MAPI = {0x28, 0x03, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                      0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};

namespace {

// The map's own property IDs.
constexpr std::uint16_t PidTagNameidBucketCount = 0x0001;
constexpr std::uint16_t PidTagNameidStreamGuid = 0x0002;
constexpr std::uint16_t PidTagNameidStreamEntry = 0x0003;
constexpr std::uint16_t PidTagNameidStreamString = 0x0004;
constexpr std::uint16_t PidTagNameidBucketBase = 0x1000;
// PS_MAPI and PS_PUBLIC_STRINGS have fixed indexes and are not stored in the GUID stream.
constexpr std::uint16_t kGuidMapi = 1;
constexpr std::uint16_t kGuidPublicStrings = 2;
constexpr std::uint16_t kFirstStreamGuid = 3;

}  // namespace

std::uint16_t NameToIdMap::GuidIndex(const Guid& set)
{
    if (set == PS_MAPI)
        return kGuidMapi;
    if (set == PS_PUBLIC_STRINGS)
        return kGuidPublicStrings;
    for (std::size_t i = 0; i < m_guids.size(); ++i)
        if (m_guids[i] == set)
            return static_cast<std::uint16_t>(kFirstStreamGuid + i);
    m_guids.push_back(set);
    return static_cast<std::uint16_t>(kFirstStreamGuid + m_guids.size() - 1);
}

std::uint16_t NameToIdMap::Add(const Entry& entry)
{
    for (std::size_t i = 0; i < m_entries.size(); ++i) {
        const Entry& e = m_entries[i];
        if (e.guidIndex == entry.guidIndex && e.isString == entry.isString && e.hash == entry.hash
            && (entry.isString ? e.key == entry.key : true))
            return static_cast<std::uint16_t>(0x8000 + i);
    }
    if (m_entries.size() >= 0x7FFF)
        throw StoreError("too many named properties for one store");
    m_entries.push_back(entry);
    return static_cast<std::uint16_t>(0x8000 + m_entries.size() - 1);
}

std::uint16_t NameToIdMap::Numeric(const Guid& set, std::uint32_t lid)
{
    const std::uint16_t guid = GuidIndex(set);
    const std::uint64_t key = static_cast<std::uint64_t>(guid) << 32 | lid;
    if (auto it = m_numeric.find(key); it != m_numeric.end())
        return it->second;
    const std::uint16_t id = Add({lid, lid, guid, false});
    m_numeric.emplace(key, id);
    return id;
}

std::uint16_t NameToIdMap::String(const Guid& set, const std::string& name)
{
    const Bytes utf16 = Utf16le(name);
    const std::uint16_t guid = GuidIndex(set);
    const std::uint32_t hash = ComputeCrc(utf16.data(), utf16.size());
    // The same name in the same set is one property: look for it before adding its text.
    for (std::size_t i = 0; i < m_entries.size(); ++i) {
        const Entry& e = m_entries[i];
        if (e.isString && e.guidIndex == guid && e.hash == hash
            && Bytes(m_strings.begin() + e.key + 4, m_strings.begin() + e.key + 4 + Get32(m_strings.data() + e.key))
                   == utf16)
            return static_cast<std::uint16_t>(0x8000 + i);
    }
    const auto offset = static_cast<std::uint32_t>(m_strings.size());
    ByteWriter w(m_strings);
    w.u32(static_cast<std::uint32_t>(utf16.size()));
    w.bytes(utf16);
    while (m_strings.size() % 4)
        w.u8(0);
    return Add({offset, hash, guid, true});
}

std::vector<Property> NameToIdMap::Properties() const
{
    Bytes guids;
    for (const Guid& g : m_guids)
        guids.insert(guids.end(), g.begin(), g.end());

    Bytes entries;
    std::vector<Bytes> buckets(kBuckets);
    for (std::size_t i = 0; i < m_entries.size(); ++i) {
        const Entry& e = m_entries[i];
        const auto guidAndKind = static_cast<std::uint16_t>(e.guidIndex << 1 | (e.isString ? 1 : 0));
        ByteWriter w(entries);
        w.u32(e.key);
        w.u16(guidAndKind);
        w.u16(static_cast<std::uint16_t>(i));
        // A bucket record carries the hash where the entry stream has the string's offset.
        ByteWriter b(buckets[(e.hash ^ guidAndKind) % kBuckets]);
        b.u32(e.hash);
        b.u16(guidAndKind);
        b.u16(static_cast<std::uint16_t>(i));
    }

    std::vector<Property> props = {Int32Property(PidTagNameidBucketCount, kBuckets),
                                   BinaryProperty(PidTagNameidStreamGuid, guids),
                                   BinaryProperty(PidTagNameidStreamEntry, entries),
                                   BinaryProperty(PidTagNameidStreamString, m_strings)};
    for (std::uint32_t b = 0; b < kBuckets; ++b)
        if (!buckets[b].empty())
            props.push_back(BinaryProperty(static_cast<std::uint16_t>(PidTagNameidBucketBase + b), buckets[b]));
    return props;
}

}  // namespace pst
