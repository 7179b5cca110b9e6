#pragma once

#include "OutlookBlobs.h"

#include <libical/ical.h>

#include <map>
#include <memory>
#include <string>

namespace cal {

// CLDR's mapping between Windows zone ids and IANA ids.
std::string IanaForWindowsZone(const std::string& windowsId);
std::string WindowsZoneForIana(const std::string& iana);

// A resolved zone: libical's zone, and the name Outlook's structures give it.
struct ResolvedZone {
    icaltimezone* zone = nullptr;  // owned by the resolver
    std::string keyName;           // Windows id when known, else the TZID as written
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
    // Adds the VTIMEZONEs of one VCALENDAR of the current file.
    void LoadDefinitions(icalcomponent* vcalendar);
    // The zone for a TZID, or nullptr when it names nothing known.
    const ResolvedZone* Resolve(const std::string& tzid);

    // One resolver for the whole process: zones stay cached from file to file.
    static ZoneResolver& Shared();

private:
    std::map<std::string, std::unique_ptr<ResolvedZone>> m_byDefinition;  // VTIMEZONE text
    std::map<std::string, const ResolvedZone*> m_current;                  // this file's TZIDs
    std::map<std::string, std::unique_ptr<ResolvedZone>> m_builtin;        // by TZID
};

// Outlook's rule for a zone in a given year: biases and the daylight-saving switch dates.
TimeZoneRule RuleOf(icaltimezone* zone, int year);

}  // namespace cal
