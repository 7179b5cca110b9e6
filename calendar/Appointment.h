#pragma once

// What reading a calendar file yields: plain appointment descriptions, their MAPI properties
// (tags and named properties) with values. Nothing here knows how a store lays them out.
#include "OutlookBlobs.h"

#include <cstdint>
#include <map>
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

// Properties by key; times are FILETIME values held as int64.
using PropertyMap = std::map<PropertyKey, PropertyValue>;

// One recipient row (organizer or attendee).
struct Recipient {
    std::string displayName;
    std::string email;
    std::uint32_t recipientType = 1;  // 1 To (required), 2 Cc (optional), 3 Bcc (resource)
    std::uint32_t recipientFlags = 1; // 1 sendable, 3 sendable organizer
    std::uint32_t trackStatus = 0;    // 0 none, 2 tentative, 3 accepted, 4 declined
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

    void Set(PropertySet set, std::uint32_t id, PropType type, PropertyValue value, std::string name = {})
    {
        properties[PropertyKey{set, id, std::move(name), type}] = std::move(value);
    }
    const PropertyValue* Get(PropertySet set, std::uint32_t id, PropType type, const std::string& name = {}) const
    {
        auto it = properties.find(PropertyKey{set, id, name, type});
        return it == properties.end() ? nullptr : &it->second;
    }
};

// The outcome of reading one file.
struct CalendarFile {
    std::vector<Appointment> appointments;  // one per event series, in file order
    int skippedTodos = 0;
    int skippedJournals = 0;
    std::vector<std::string> warnings;  // about the file as a whole
    std::string error;                  // set when nothing could be imported: the reason
};

// Format hints, as the import passes them: 7 vCalendar, 8 iCalendar. The file's own VERSION decides.
inline constexpr int kFormatVCalendar = 7;
inline constexpr int kFormatICalendar = 8;

// Reads one calendar file. Never throws for bad content: the result carries the reason.
CalendarFile ReadCalendarFile(const std::string& path, int formatHint);
// The same for text already in memory; `name` names it in messages.
CalendarFile ReadCalendarText(const std::string& text, int formatHint, const std::string& name);

// FILETIME (100 ns since 1601-01-01 UTC) of a Unix time.
constexpr std::int64_t FileTimeFromUnix(std::int64_t seconds) { return (seconds + 11644473600LL) * 10000000LL; }

}  // namespace cal
