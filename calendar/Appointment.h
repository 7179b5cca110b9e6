#pragma once

// What reading a calendar file yields: plain appointment descriptions, their MAPI properties
// (tags and named properties) with values. Nothing here knows how a store lays them out.
#include "OutlookBlobs.h"

#include <cstdint>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

namespace cal {

// Where a property's ID comes from: a fixed MAPI tag, or a named property of a property set.
enum class PropertySet : std::uint8_t {
    Tag,            // `id` is the property ID itself (below 0x8000)
    Appointment,    // PSETID_Appointment, `id` is the LID
    Common,         // PSETID_Common
    Meeting,        // PSETID_Meeting
    PublicStrings,  // PS_PUBLIC_STRINGS, named by `name`
};

// Property types of the values below (MS-OXCDATA 2.11.1).
enum class PropType : std::uint16_t {
    Int32 = 0x0003,
    Boolean = 0x000B,
    Int64 = 0x0014,
    String = 0x001F,
    Time = 0x0040,  // FILETIME, UTC
    Binary = 0x0102,
    MultiString = 0x101F,
};

struct PropertyKey {
    PropertySet set = PropertySet::Tag;
    std::uint32_t id = 0;
    std::string name;
    PropType type = PropType::Int32;

    auto operator<=>(const PropertyKey&) const = default;
};

using PropertyValue = std::variant<std::int64_t, bool, std::string, Bytes, std::vector<std::string>>;

// Properties by key, in the order first set; times are FILETIME values held as int64. An
// appointment has a few dozen properties, so a flat list serves better than a tree.
class PropertyMap {
public:
    using Entry = std::pair<PropertyKey, PropertyValue>;

    PropertyValue& operator[](const PropertyKey& key)
    {
        if (Entry* e = Find(key))
            return e->second;
        return m_entries.emplace_back(key, PropertyValue{}).second;
    }
    // Appends a property the map does not hold yet.
    void add(PropertyKey key, PropertyValue value) { m_entries.emplace_back(std::move(key), std::move(value)); }
    void set(PropertyKey key, PropertyValue value)
    {
        if (Entry* e = Find(key))
            e->second = std::move(value);
        else
            m_entries.emplace_back(std::move(key), std::move(value));
    }
    const PropertyValue& at(const PropertyKey& key) const
    {
        if (const Entry* e = Find(key))
            return e->second;
        throw std::out_of_range("no such property");
    }
    const PropertyValue* get(const PropertyKey& key) const
    {
        const Entry* e = Find(key);
        return e ? &e->second : nullptr;
    }
    void erase(const PropertyKey& key)
    {
        std::erase_if(m_entries, [&](const Entry& e) { return e.first == key; });
    }
    std::size_t size() const { return m_entries.size(); }
    void reserve(std::size_t n) { m_entries.reserve(n); }
    auto begin() const { return m_entries.begin(); }
    auto end() const { return m_entries.end(); }

private:
    Entry* Find(const PropertyKey& key)
    {
        for (Entry& e : m_entries)
            if (e.first.id == key.id && e.first.set == key.set && e.first.type == key.type && e.first.name == key.name)
                return &e;
        return nullptr;
    }
    const Entry* Find(const PropertyKey& key) const { return const_cast<PropertyMap*>(this)->Find(key); }

    std::vector<Entry> m_entries;
};

// One recipient row (organizer or attendee).
struct Recipient {
    std::string displayName;
    std::string email;
    std::uint32_t recipientType = 1;  // 1 To (required), 2 Cc (optional), 3 Bcc (resource, non-participant)
    std::uint32_t recipientFlags = 1; // PidTagRecipientFlags: 1 sendable, 3 sendable organizer
    std::uint32_t trackStatus = 0;    // PidTagRecipientTrackStatus: 0 none, 2 tentative, 3 accepted, 4 declined
};

// A modified instance of a series: the properties of its embedded message and of its attachment.
struct AppointmentException {
    PropertyMap message;
    PropertyMap attachment;
};

struct Appointment {
    PropertyMap properties;
    std::vector<Recipient> recipients;
    std::vector<AppointmentException> exceptions;
    std::vector<std::string> warnings;  // defects met in this event, each a sentence

    // Sets a property; each property is set once while an appointment is built.
    void Set(PropertySet set, std::uint32_t id, PropType type, PropertyValue value, std::string name = {})
    {
        properties.add(PropertyKey{set, id, std::move(name), type}, std::move(value));
    }
    const PropertyValue* Get(PropertySet set, std::uint32_t id, PropType type, const std::string& name = {}) const
    {
        return properties.get(PropertyKey{set, id, name, type});
    }
};

// The outcome of reading one file.
struct CalendarFile {
    std::vector<Appointment> appointments;  // one per event series, in file order (without a sink)
    int imported = 0;                       // appointments produced
    int skippedTodos = 0;
    int skippedJournals = 0;
    std::vector<std::string> warnings;  // about the file as a whole
    std::size_t notesLeftOut = 0;       // warnings past the most a file keeps, only counted
    std::string error;                  // set when nothing could be imported: the reason
};

// Format hints, as the import passes them: 7 vCalendar, 8 iCalendar. The file's own VERSION decides.
inline constexpr int kFormatVCalendar = 7;
inline constexpr int kFormatICalendar = 8;

// Receives each appointment as soon as it is mapped, so that a large file never has to be held
// whole as appointments.
using AppointmentSink = std::function<void(Appointment&&)>;

// Reads one calendar file. Never throws for bad content: the result carries the reason. With a
// sink, the appointments go to it instead of into the result; `imported` counts them either way.
CalendarFile ReadCalendarFile(const std::string& path, int formatHint, const AppointmentSink& sink = {});
// The same for text already in memory; `name` names it in messages.
CalendarFile ReadCalendarText(const std::string& text, int formatHint, const std::string& name,
                              const AppointmentSink& sink = {});

// FILETIME (100 ns since 1601-01-01 UTC) of a Unix time; times before 1601 or past what a
// FILETIME holds (about the year 30828) are held at those ends.
constexpr std::int64_t FileTimeFromUnix(std::int64_t seconds)
{
    constexpr std::int64_t kFrom1601 = 11644473600LL;
    constexpr std::int64_t kLast = INT64_MAX / 10000000LL - kFrom1601;
    if (seconds < -kFrom1601)
        return 0;
    if (seconds > kLast)
        seconds = kLast;
    return (seconds + kFrom1601) * 10000000LL;
}

}  // namespace cal
