#pragma once

#include "OutlookBlobs.h"

#include <libical/ical.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

namespace cal {

// Times without the C runtime's time functions (msvcrt's refuse any time before 1970): the
// calendar's own day arithmetic, and libical's zones for the offsets.
// Seconds since 1970 of wall-clock fields read as UTC (a date at its midnight); 0 for the null time.
std::int64_t UnixOfUtcFields(const struct icaltimetype& t);
// The UTC fields of a Unix time, in libical's UTC zone.
struct icaltimetype UtcFieldsOf(std::int64_t unix);
// Seconds since 1970 of a wall-clock time in `zone` (nullptr: UTC), and back (the result is in `zone`).
std::int64_t UnixOfWallIn(struct icaltimetype wall, icaltimezone* zone);
struct icaltimetype WallInZone(std::int64_t unix, icaltimezone* zone);

// The machine's zone as an IANA name: TZ, else /etc/localtime on POSIX; on Windows the zone the
// system is set to (GetDynamicTimeZoneInformation) through CLDR's table. Empty when not known.
const std::string& MachineZoneName();

// Points libical at the zone files shipped beside the program (share\libical\zoneinfo below
// the folder of the .exe) on Windows, where libical's own zones are read at run time; nothing on
// POSIX, where the system's zones are used. Done once, before the first zone is looked up.
void UseShippedZones();

// libical's zone of an IANA name (UTC and GMT too); on Windows only the zones shipped beside the
// program.
icaltimezone* BuiltinZone(const std::string& name);

// CLDR's mapping between Windows zone ids and IANA ids.
std::string IanaForWindowsZone(const std::string& windowsId);
std::string WindowsZoneForIana(const std::string& iana);

// Outlook's rule for a zone in a given year: biases and the daylight-saving switch dates.
TimeZoneRule RuleOf(icaltimezone* zone, int year);
// The rules of the years from `firstYear` to `lastYear`, one for each span of years that switch
// alike, each with the first year it holds for.
std::vector<TimeZoneRule> RulesOf(icaltimezone* zone, int firstYear, int lastYear);

// A resolved zone: libical's zone, and the name Outlook's structures give it. Its Outlook
// structures are built once per year asked for.
struct ResolvedZone {
    icaltimezone* zone = nullptr;  // owned by the resolver
    std::string keyName;           // Windows id when known, else the TZID as written

    // TZDEFINITION from `year` on; a series' definition also holds the rules of the years to
    // `lastYear`.
    const Bytes& Definition(int year, bool recur, int lastYear = 0) const;
    const Bytes& Struct(int year) const;

private:
    mutable std::map<std::tuple<int, int, bool>, Bytes> m_definitions;  // first and last year, recur
    mutable std::map<int, Bytes> m_structs;
};

// Resolves the TZIDs of calendar files to zones, once: a file's VTIMEZONE is kept by its content,
// so that the next file carrying the same definition reuses the zone and its expanded rules.
// Without a VTIMEZONE, an IANA name, a prefixed IANA name or a Windows id names a built-in zone.
class ZoneResolver {
public:
    ZoneResolver();
    ~ZoneResolver();
    ZoneResolver(const ZoneResolver&) = delete;
    ZoneResolver& operator=(const ZoneResolver&) = delete;

    // Forgets the previous file's TZIDs (the zones themselves stay cached).
    void BeginFile() { m_current.clear(); }
    // Adds the VTIMEZONEs of one VCALENDAR of the current file. `rawText` may give each one's
    // text as the file has it, by lower-case TZID: a cheaper identity than printing it again.
    // A definition that cannot be used (observances without a start, rules repeating more often
    // than yearly) is left out, and a note for `notes` says what was used instead.
    void LoadDefinitions(icalcomponent* vcalendar, const std::map<std::string, std::string>* rawText = nullptr,
                         std::vector<std::string>* notes = nullptr);
    // The zone for a TZID, or nullptr when it names nothing known.
    const ResolvedZone* Resolve(const std::string& tzid);

    // One resolver for the whole process: zones stay cached from file to file.
    static ZoneResolver& Shared();

private:
    std::map<std::string, std::unique_ptr<ResolvedZone>> m_byDefinition;  // VTIMEZONE text
    std::map<std::string, const ResolvedZone*> m_current;                  // this file's TZIDs
    std::map<std::string, std::unique_ptr<ResolvedZone>> m_builtin;        // by TZID
    icaltimezone* FixedZone(const std::string& tzid, int hoursEast);
    std::vector<icaltimezone*> m_fixed;  // whole-hour offsets libical has no zone for, owned
};


}  // namespace cal
