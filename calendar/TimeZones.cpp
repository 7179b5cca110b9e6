#include "TimeZones.h"

#include <algorithm>
#include <cstring>

namespace cal {

namespace {

struct MapZone {
    const char* windows;
    const char* territory;
    const char* iana;  // one or more ids, blank-separated
};

const MapZone kWindowsZones[] = {
#include "WindowsZones.inc"
};

bool EqualsNoCase(const std::string& a, const char* b)
{
    return a.size() == std::strlen(b)
           && std::equal(a.begin(), a.end(), b, [](char x, char y) { return std::tolower(x) == std::tolower(y); });
}

// TZIDs some producers write in front of an IANA name.
std::string StripPrefix(std::string tzid)
{
    for (const char* prefix : {"/freeassociation.sourceforge.net/Tzfile/", "/freeassociation.sourceforge.net/",
                               "/softwarestudio.org/Olson_20011030_5/", "/mozilla.org/20050126_1/",
                               "/mozilla.org/20070129_1/"}) {
        if (tzid.rfind(prefix, 0) == 0)
            return tzid.substr(std::strlen(prefix));
    }
    if (!tzid.empty() && tzid.front() == '/')
        return tzid.substr(1);
    return tzid;
}

int OffsetMinutes(icalcomponent* sub)
{
    icalproperty* to = icalcomponent_get_first_property(sub, ICAL_TZOFFSETTO_PROPERTY);
    return to ? icalproperty_get_tzoffsetto(to) / 60 : 0;
}

// The STANDARD or DAYLIGHT observance in force in `year`: the latest one starting by then whose
// yearly rule has not ended.
icalcomponent* Observance(icalcomponent* vtimezone, icalcomponent_kind kind, int year, bool needRule)
{
    icalcomponent* best = nullptr;
    struct icaltimetype bestStart = icaltime_null_time();
    for (icalcomponent* c = icalcomponent_get_first_component(vtimezone, kind); c;
         c = icalcomponent_get_next_component(vtimezone, kind)) {
        icalproperty* dtstart = icalcomponent_get_first_property(c, ICAL_DTSTART_PROPERTY);
        if (!dtstart)
            continue;
        const struct icaltimetype start = icalproperty_get_dtstart(dtstart);
        if (start.year > year)
            continue;
        icalproperty* rrule = icalcomponent_get_first_property(c, ICAL_RRULE_PROPERTY);
        if (needRule) {
            if (!rrule)
                continue;
            const struct icalrecurrencetype r = icalproperty_get_rrule(rrule);
            if (!icaltime_is_null_time(r.until) && r.until.year < year)
                continue;
        }
        if (!best || icaltime_compare(start, bestStart) > 0) {
            best = c;
            bestStart = start;
        }
    }
    return best;
}

SystemTime SwitchDate(icalcomponent* observance)
{
    SystemTime st;
    icalproperty* rrule = icalcomponent_get_first_property(observance, ICAL_RRULE_PROPERTY);
    const struct icaltimetype start = icalproperty_get_dtstart(icalcomponent_get_first_property(observance, ICAL_DTSTART_PROPERTY));
    st.hour = static_cast<std::uint16_t>(start.hour);
    st.minute = static_cast<std::uint16_t>(start.minute);
    if (!rrule)
        return st;
    const struct icalrecurrencetype r = icalproperty_get_rrule(rrule);
    st.month = static_cast<std::uint16_t>(r.by_month[0] != ICAL_RECURRENCE_ARRAY_MAX ? r.by_month[0] : start.month);
    if (r.by_day[0] != ICAL_RECURRENCE_ARRAY_MAX) {
        const int weekday = icalrecurrencetype_day_day_of_week(r.by_day[0]);  // 1 = Sunday
        int nth = icalrecurrencetype_day_position(r.by_day[0]);
        if (nth == 0 && r.by_set_pos[0] != ICAL_RECURRENCE_ARRAY_MAX)
            nth = r.by_set_pos[0];
        if (nth == 0 && r.by_month_day[0] != ICAL_RECURRENCE_ARRAY_MAX)
            nth = (r.by_month_day[0] + 6) / 7;  // e.g. BYMONTHDAY=8..14 with BYDAY=SU: the 2nd Sunday
        st.dayOfWeek = static_cast<std::uint16_t>(weekday - 1);
        st.day = static_cast<std::uint16_t>(nth < 0 || nth > 4 ? 5 : nth);
    } else {
        st.day = static_cast<std::uint16_t>(start.day);
    }
    return st;
}

}  // namespace

std::string IanaForWindowsZone(const std::string& windowsId)
{
    for (const MapZone& z : kWindowsZones)
        if (std::strcmp(z.territory, "001") == 0 && EqualsNoCase(windowsId, z.windows))
            return z.iana;
    return {};
}

std::string WindowsZoneForIana(const std::string& iana)
{
    for (const MapZone& z : kWindowsZones) {
        const std::string ids = z.iana;
        std::size_t at = 0;
        while (at <= ids.size()) {
            const std::size_t end = std::min(ids.find(' ', at), ids.size());
            if (ids.compare(at, end - at, iana) == 0)
                return z.windows;
            at = end + 1;
        }
    }
    return {};
}

ZoneResolver::ZoneResolver() = default;

ZoneResolver::~ZoneResolver()
{
    for (auto& [key, z] : m_byDefinition)
        icaltimezone_free(z->zone, 1);
}

ZoneResolver& ZoneResolver::Shared()
{
    static ZoneResolver resolver;
    return resolver;
}

namespace {

bool YearlyRulesOnly(icalcomponent* vtimezone)
{
    for (icalcomponent* c = icalcomponent_get_first_component(vtimezone, ICAL_ANY_COMPONENT); c;
         c = icalcomponent_get_next_component(vtimezone, ICAL_ANY_COMPONENT)) {
        for (icalproperty* p = icalcomponent_get_first_property(c, ICAL_RRULE_PROPERTY); p;
             p = icalcomponent_get_next_property(c, ICAL_RRULE_PROPERTY))
            if (icalproperty_get_rrule(p).freq != ICAL_YEARLY_RECURRENCE)
                return false;
    }
    return true;
}

// Evolution writes a yearly change as FREQ=MONTHLY;INTERVAL=12: the same rule, said yearly.
void MonthlyByTwelveAsYearly(icalcomponent* vtimezone)
{
    for (icalcomponent* c = icalcomponent_get_first_component(vtimezone, ICAL_ANY_COMPONENT); c;
         c = icalcomponent_get_next_component(vtimezone, ICAL_ANY_COMPONENT)) {
        icalproperty* start = icalcomponent_get_first_property(c, ICAL_DTSTART_PROPERTY);
        for (icalproperty* p = icalcomponent_get_first_property(c, ICAL_RRULE_PROPERTY); p;
             p = icalcomponent_get_next_property(c, ICAL_RRULE_PROPERTY)) {
            struct icalrecurrencetype r = icalproperty_get_rrule(p);
            if (r.freq != ICAL_MONTHLY_RECURRENCE || r.interval < 12 || r.interval % 12 != 0 || !start)
                continue;
            r.freq = ICAL_YEARLY_RECURRENCE;
            r.interval = static_cast<short>(r.interval / 12);
            if (r.by_month[0] == ICAL_RECURRENCE_ARRAY_MAX) {
                r.by_month[0] = static_cast<short>(icalproperty_get_dtstart(start).month);
                r.by_month[1] = ICAL_RECURRENCE_ARRAY_MAX;
            }
            icalproperty_set_rrule(p, r);
        }
    }
}

// Each observance must say from when it holds; Apple's iCal 1.5 left DTSTART out, and libical
// then places the changes anywhere.
bool ObservancesHaveStarts(icalcomponent* vtimezone)
{
    bool any = false;
    for (icalcomponent* c = icalcomponent_get_first_component(vtimezone, ICAL_ANY_COMPONENT); c;
         c = icalcomponent_get_next_component(vtimezone, ICAL_ANY_COMPONENT)) {
        const icalcomponent_kind kind = icalcomponent_isa(c);
        if (kind != ICAL_XSTANDARD_COMPONENT && kind != ICAL_XDAYLIGHT_COMPONENT)
            continue;
        any = true;
        if (!icalcomponent_get_first_property(c, ICAL_DTSTART_PROPERTY)
            || !icalcomponent_get_first_property(c, ICAL_TZOFFSETTO_PROPERTY))
            return false;
    }
    return any;
}

}  // namespace

void ZoneResolver::LoadDefinitions(icalcomponent* vcalendar, const std::map<std::string, std::string>* rawText,
                                   std::vector<std::string>* notes)
{
    if (!vcalendar)
        return;
    for (icalcomponent* vtz = icalcomponent_get_first_component(vcalendar, ICAL_VTIMEZONE_COMPONENT); vtz;
         vtz = icalcomponent_get_next_component(vcalendar, ICAL_VTIMEZONE_COMPONENT)) {
        icalproperty* tzidProp = icalcomponent_get_first_property(vtz, ICAL_TZID_PROPERTY);
        if (!tzidProp || !icalproperty_get_tzid(tzidProp))
            continue;
        const std::string tzid = icalproperty_get_tzid(tzidProp);
        std::string lower = tzid;
        std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
        // The definition's text is its identity: the same VTIMEZONE in the next file finds this zone.
        std::string key;
        const auto raw = rawText ? rawText->find(lower) : std::map<std::string, std::string>::const_iterator{};
        if (rawText && raw != rawText->end()) {
            key = raw->second;
        } else {
            char* text = icalcomponent_as_ical_string_r(vtz);
            key = text ? text : "";
            free(text);
        }
        // Zones change their offsets at most a few times a year. libical expands a zone's rules
        // from their first date onwards, so a rule repeating every second (or hour) since year 1
        // would keep it busy for ever: such a zone is not taken, as if it were not defined.
        auto it = m_byDefinition.find(key);
        if (it == m_byDefinition.end()) {
            icalcomponent* definition = icalcomponent_new_clone(vtz);
            MonthlyByTwelveAsYearly(definition);
            // A definition that cannot be used gives way to the zone its name is known by, if any.
            const bool usable = YearlyRulesOnly(definition) && ObservancesHaveStarts(definition);
            icaltimezone* zone = usable ? icaltimezone_new() : nullptr;
            if (!zone || !icaltimezone_set_component(zone, definition)) {
                if (zone)
                    icaltimezone_free(zone, 1);
                else
                    icalcomponent_free(definition);
                if (notes) {
                    m_current.erase(lower);
                    const ResolvedZone* known = Resolve(tzid);
                    notes->push_back("the file's definition of the time zone \"" + tzid + "\" cannot be used; "
                                     + (known ? "the standard zone of that name was used instead"
                                              : "its times were read as local time"));
                }
                continue;
            }
            auto resolved = std::make_unique<ResolvedZone>();
            resolved->zone = zone;
            const std::string windows = IanaForWindowsZone(tzid).empty() ? WindowsZoneForIana(StripPrefix(tzid)) : tzid;
            resolved->keyName = windows.empty() ? tzid : windows;
            it = m_byDefinition.emplace(key, std::move(resolved)).first;
        }
        m_current[lower] = it->second.get();
    }
}

const ResolvedZone* ZoneResolver::Resolve(const std::string& tzid)
{
    std::string lower = tzid;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    if (auto it = m_current.find(lower); it != m_current.end())
        return it->second;
    if (auto it = m_builtin.find(tzid); it != m_builtin.end())
        return it->second.get();

    std::string iana = StripPrefix(tzid);
    std::string windows = WindowsZoneForIana(iana);
    icaltimezone* zone = iana.empty() ? nullptr : icaltimezone_get_builtin_timezone(iana.c_str());
    if (!zone) {
        // A Windows id written without its VTIMEZONE.
        iana = IanaForWindowsZone(tzid);
        windows = tzid;
        zone = iana.empty() ? nullptr : icaltimezone_get_builtin_timezone(iana.c_str());
    }
    if (!zone) {
        // Old Outlook display names: "(GMT+01.00) Sarajevo/Warsaw/Zagreb", "(UTC-05:00) Eastern ...".
        // Whole-hour offsets name a fixed zone; the rules of summer time are not known.
        const auto open = tzid.find('(');
        if (open != std::string::npos && tzid.size() > open + 10
            && (tzid.compare(open + 1, 3, "GMT") == 0 || tzid.compare(open + 1, 3, "UTC") == 0)
            && (tzid[open + 4] == '+' || tzid[open + 4] == '-') && std::isdigit(static_cast<unsigned char>(tzid[open + 5]))
            && std::isdigit(static_cast<unsigned char>(tzid[open + 6])) && tzid.compare(open + 8, 2, "00") == 0) {
            const int hours = std::stoi(tzid.substr(open + 5, 2));
            // Etc/GMT zones count the other way round: Etc/GMT-1 is one hour east of Greenwich.
            iana = hours == 0 ? "Etc/UTC" : std::string("Etc/GMT") + (tzid[open + 4] == '+' ? "-" : "+") + std::to_string(hours);
            zone = icaltimezone_get_builtin_timezone(iana.c_str());
            windows = WindowsZoneForIana(iana);
        }
    }
    if (!zone)
        return nullptr;
    auto resolved = std::make_unique<ResolvedZone>();
    resolved->zone = zone;  // built-in zones belong to libical
    resolved->keyName = windows.empty() ? tzid : windows;
    return m_builtin.emplace(tzid, std::move(resolved)).first->second.get();
}

const Bytes& ResolvedZone::Definition(int year, bool recur) const
{
    auto [it, added] = m_definitions.try_emplace(year * 2 + (recur ? 1 : 0));
    if (added)
        it->second = EncodeTimeZoneDefinition(keyName, {RuleOf(zone, year)}, 0, recur);
    return it->second;
}

const Bytes& ResolvedZone::Struct(int year) const
{
    auto [it, added] = m_structs.try_emplace(year);
    if (added)
        it->second = EncodeTimeZoneStruct(RuleOf(zone, year));
    return it->second;
}

TimeZoneRule RuleOf(icaltimezone* zone, int year)
{
    TimeZoneRule rule;
    icalcomponent* vtz = zone ? icaltimezone_get_component(zone) : nullptr;
    if (!vtz)
        return rule;
    icalcomponent* standard = Observance(vtz, ICAL_XSTANDARD_COMPONENT, year, true);
    icalcomponent* daylight = Observance(vtz, ICAL_XDAYLIGHT_COMPONENT, year, true);
    if (!standard || !daylight) {
        // No yearly switch: a fixed offset, the latest standard observance started by then.
        icalcomponent* fixed = Observance(vtz, ICAL_XSTANDARD_COMPONENT, year, false);
        if (!fixed)
            fixed = Observance(vtz, ICAL_XDAYLIGHT_COMPONENT, year, false);
        if (fixed)
            rule.bias = -OffsetMinutes(fixed);
        return rule;
    }
    rule.bias = -OffsetMinutes(standard);
    rule.daylightBias = -OffsetMinutes(daylight) - rule.bias;
    rule.standardDate = SwitchDate(standard);
    rule.daylightDate = SwitchDate(daylight);
    const struct icaltimetype start = icalproperty_get_dtstart(icalcomponent_get_first_property(standard, ICAL_DTSTART_PROPERTY));
    rule.year = static_cast<std::uint16_t>(std::clamp(start.year, 1601, 9999));
    return rule;
}

}  // namespace cal
