#include "TimeZones.h"

#include "platform/Platform.h"

#include <algorithm>
#include <fstream>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace cal {

namespace {

// Days since 1970-01-01 of a date in the proleptic Gregorian calendar, and back.
std::int64_t DaysFromCivil(std::int64_t y, int m, int d)
{
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<std::int64_t>(y - era * 400);
    const std::int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void CivilFromDays(std::int64_t z, int& year, int& month, int& day)
{
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(yoe + era * 400 + (month <= 2));
}

// Floor division, for times before 1970.
std::int64_t FloorDiv(std::int64_t a, std::int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

}  // namespace

std::int64_t UnixOfUtcFields(const struct icaltimetype& t)
{
    if (icaltime_is_null_time(t))
        return 0;
    const std::int64_t days = DaysFromCivil(t.year, t.month, t.day);
    if (t.is_date)
        return days * 86400;
    return days * 86400 + t.hour * 3600LL + t.minute * 60LL + t.second;
}

struct icaltimetype UtcFieldsOf(std::int64_t unix)
{
    struct icaltimetype t = icaltime_null_time();
    const std::int64_t days = FloorDiv(unix, 86400);
    const std::int64_t seconds = unix - days * 86400;
    CivilFromDays(days, t.year, t.month, t.day);
    t.hour = static_cast<int>(seconds / 3600);
    t.minute = static_cast<int>(seconds / 60 % 60);
    t.second = static_cast<int>(seconds % 60);
    t.zone = icaltimezone_get_utc_timezone();
    return t;
}

std::int64_t UnixOfWallIn(struct icaltimetype wall, icaltimezone* zone)
{
    if (icaltime_is_null_time(wall))
        return 0;
    wall.is_date = 0;
    icaltimezone* utc = icaltimezone_get_utc_timezone();
    if (zone && zone != utc)
        icaltimezone_convert_time(&wall, zone, utc);
    return UnixOfUtcFields(wall);
}

struct icaltimetype WallInZone(std::int64_t unix, icaltimezone* zone)
{
    struct icaltimetype t = UtcFieldsOf(unix);
    icaltimezone* utc = icaltimezone_get_utc_timezone();
    if (zone && zone != utc)
        icaltimezone_convert_time(&t, utc, zone);
    return t;
}

#ifdef _WIN32
namespace {
std::wstring& ShippedZoneFolder()
{
    static std::wstring folder;
    return folder;
}
}  // namespace

// The zone a tz database link names ("US/Eastern" is "America/New_York"); empty for a name that
// is no link. libical ships files for the links' targets only.
static std::string LinkTarget(const std::string& name)
{
    struct Link {
        const char* alias;
        const char* target;
    };
    static const Link links[] = {
#include "ZoneLinks.inc"
    };
    for (const Link& link : links)
        if (name == link.alias)
            return link.target;
    return {};
}

static icaltimezone* ShippedZone(const std::string& name);

icaltimezone* BuiltinZone(const std::string& name)
{
    if (icaltimezone* zone = ShippedZone(name))
        return zone;
    const std::string target = LinkTarget(name);
    return target.empty() ? nullptr : ShippedZone(target);
}

static icaltimezone* ShippedZone(const std::string& name)
{
    if (name == "UTC" || name == "GMT")
        return icaltimezone_get_utc_timezone();
    // libical looks a name its zones do not have up among the build machine's own zone files
    // (/usr/share/zoneinfo, which wine reaches through drive Z:): only the zones shipped with
    // the program are asked for, so that what works here works on Windows.
    const std::wstring& folder = ShippedZoneFolder();
    if (folder.empty() || name.find("..") != std::string::npos)
        return nullptr;
    std::wstring file = folder + L"\\" + platform::WideFromUtf8(name) + L".ics";
    std::replace(file.begin(), file.end(), L'/', L'\\');
    if (GetFileAttributesW(file.c_str()) == INVALID_FILE_ATTRIBUTES)
        return nullptr;
    return icaltimezone_get_builtin_timezone(name.c_str());
}

const std::string& MachineZoneName()
{
    // The zone Windows is set to, read once: its key name ("W. Europe Standard Time") is the
    // Windows id of CLDR's table.
    static const std::string name = [] {
        DYNAMIC_TIME_ZONE_INFORMATION info{};
        if (GetDynamicTimeZoneInformation(&info) == TIME_ZONE_ID_INVALID)
            return std::string();
        std::string key = platform::Utf8FromWide(info.TimeZoneKeyName);
        if (key.empty())
            key = platform::Utf8FromWide(info.StandardName);
        return IanaForWindowsZone(key);
    }();
    return name;
}

void UseShippedZones()
{
    static const bool done = [] {
        // libical opens its zone files with fopen, in the ANSI code page: a folder that code page
        // cannot spell is given by its short (8.3) name.
        const std::wstring folder = platform::WideFromUtf8(platform::ProgramFolder()) + L"\\share\\libical\\zoneinfo";
        const DWORD attributes = GetFileAttributesW(folder.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
            return false;
        auto ansi = [](const std::wstring& wide) -> std::string {
            BOOL lossy = FALSE;
            const int n = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, nullptr, 0, nullptr, &lossy);
            if (n <= 0 || lossy)
                return {};
            std::string out(static_cast<std::size_t>(n), '\0');
            WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, out.data(), n, nullptr, &lossy);
            out.resize(static_cast<std::size_t>(n - 1));
            return lossy ? std::string() : out;
        };
        std::string path = ansi(folder);
        if (path.empty()) {
            wchar_t shortName[MAX_PATH];
            const DWORD n = GetShortPathNameW(folder.c_str(), shortName, MAX_PATH);
            if (n > 0 && n < MAX_PATH)
                path = ansi(shortName);
        }
        if (path.empty())
            return false;
        set_zone_directory(path.c_str());
        ShippedZoneFolder() = folder;
        return true;
    }();
    (void)done;
}

namespace {
// Before anything of the program looks up a zone.
const bool s_zonesShipped = (UseShippedZones(), true);
}  // namespace
#else
const std::string& MachineZoneName()
{
    // Looked up again only when TZ changes.
    static std::string lastTz = "\x01";
    static std::string name;
    const char* tz = std::getenv("TZ");
    const std::string now = tz ? tz : "";
    if (now == lastTz)
        return name;
    lastTz = now;
    name = now;
    if (!name.empty() && name[0] == ':')
        name.erase(0, 1);
    if (name.empty()) {
        char buf[256] = {};
        const ssize_t n = readlink("/etc/localtime", buf, sizeof buf - 1);
        if (n > 0) {
            name = buf;
            const auto at = name.find("zoneinfo/");
            name = at == std::string::npos ? std::string() : name.substr(at + 9);
        }
    }
    if (name.empty()) {
        // /etc/localtime copied rather than linked: Debian also names the zone in /etc/timezone.
        std::ifstream file("/etc/timezone");
        std::getline(file, name);
        while (!name.empty() && (name.back() == ' ' || name.back() == '\r'))
            name.pop_back();
    }
    return name;
}

void UseShippedZones() {}

icaltimezone* BuiltinZone(const std::string& name) { return icaltimezone_get_builtin_timezone(name.c_str()); }
#endif

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
    for (icaltimezone* zone : m_fixed)
        icaltimezone_free(zone, 1);
}

icaltimezone* ZoneResolver::FixedZone(const std::string& tzid, int hoursEast)
{
    const int hours = std::clamp(hoursEast < 0 ? -hoursEast : hoursEast, 0, 23);
    char offset[16];
    std::snprintf(offset, sizeof offset, "%c%02d00", hoursEast < 0 ? '-' : '+', hours);
    const std::string text = "BEGIN:VTIMEZONE\r\nTZID:" + tzid + "\r\nBEGIN:STANDARD\r\nDTSTART:16010101T000000\r\n"
                             "TZOFFSETFROM:" + offset + "\r\nTZOFFSETTO:" + offset + "\r\nEND:STANDARD\r\nEND:VTIMEZONE\r\n";
    icalcomponent* component = icalparser_parse_string(text.c_str());
    if (!component)
        return nullptr;
    icaltimezone* zone = icaltimezone_new();
    if (!icaltimezone_set_component(zone, component)) {
        icalcomponent_free(component);
        icaltimezone_free(zone, 1);
        return nullptr;
    }
    m_fixed.push_back(zone);
    return zone;
}

ZoneResolver& ZoneResolver::Shared()
{
    static ZoneResolver resolver;
    return resolver;
}

namespace {

// A zone switches a few times a year: each rule yearly, on one day of one month (a weekday in
// it, or one of at most a week of days), at one time. libical expands rules from their start,
// so one that switches every minute of the year would keep it busy for ever.
bool YearlyRulesOnly(icalcomponent* vtimezone)
{
    auto count = [](const short* array, int size) {
        int n = 0;
        while (n < size && array[n] != ICAL_RECURRENCE_ARRAY_MAX)
            ++n;
        return n;
    };
    for (icalcomponent* c = icalcomponent_get_first_component(vtimezone, ICAL_ANY_COMPONENT); c;
         c = icalcomponent_get_next_component(vtimezone, ICAL_ANY_COMPONENT)) {
        for (icalproperty* p = icalcomponent_get_first_property(c, ICAL_RRULE_PROPERTY); p;
             p = icalcomponent_get_next_property(c, ICAL_RRULE_PROPERTY)) {
            const struct icalrecurrencetype r = icalproperty_get_rrule(p);
            if (r.freq != ICAL_YEARLY_RECURRENCE || count(r.by_second, ICAL_BY_SECOND_SIZE) > 1
                || count(r.by_minute, ICAL_BY_MINUTE_SIZE) > 1 || count(r.by_hour, ICAL_BY_HOUR_SIZE) > 1
                || count(r.by_year_day, ICAL_BY_YEARDAY_SIZE) > 1 || count(r.by_week_no, ICAL_BY_WEEKNO_SIZE) > 1
                || count(r.by_month, ICAL_BY_MONTH_SIZE) > 1 || count(r.by_month_day, ICAL_BY_MONTHDAY_SIZE) > 7
                || count(r.by_day, ICAL_BY_DAY_SIZE) > 1)
                return false;
        }
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
    icaltimezone* zone = iana.empty() ? nullptr : BuiltinZone(iana);
    if (!zone) {
        // A Windows id written without its VTIMEZONE.
        iana = IanaForWindowsZone(tzid);
        windows = tzid;
        zone = iana.empty() ? nullptr : BuiltinZone(iana);
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
            zone = BuiltinZone(iana);
            if (!zone)
                zone = FixedZone(iana, (tzid[open + 4] == '+' ? 1 : -1) * hours);
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

const Bytes& ResolvedZone::Definition(int year, bool recur, int lastYear) const
{
    lastYear = std::clamp(lastYear, year, year + 200);
    auto [it, added] = m_definitions.try_emplace(std::tuple{year, lastYear, recur});
    if (added) {
        // One rule for each span of years whose switches were the same; the one in force this
        // year is the effective one (MS-OXOCAL 2.2.1.41.1).
        const std::vector<TimeZoneRule> rules = RulesOf(zone, year, lastYear);
        const int thisYear = UtcFieldsOf(static_cast<std::int64_t>(std::time(nullptr))).year;
        std::size_t effective = 0;
        for (std::size_t i = 0; i < rules.size(); ++i)
            if (rules[i].year <= thisYear)
                effective = i;
        it->second = EncodeTimeZoneDefinition(keyName, rules, effective, recur);
    }
    return it->second;
}

const Bytes& ResolvedZone::Struct(int year) const
{
    auto [it, added] = m_structs.try_emplace(year);
    if (added)
        it->second = EncodeTimeZoneStruct(RuleOf(zone, year));
    return it->second;
}

namespace {

// The zone's offset from UTC, in seconds east, at a Unix time.
int OffsetAt(icaltimezone* zone, std::int64_t unix)
{
    struct icaltimetype t = UtcFieldsOf(unix);
    int daylight = 0;
    return icaltimezone_get_utc_offset_of_utc_time(zone, &t, &daylight);
}

// A switch as Outlook's rules give it: month, weekday and its week in the month (5: the last),
// at a local clock time.
SystemTime SwitchOf(std::int64_t localUnix)
{
    const struct icaltimetype t = UtcFieldsOf(localUnix);
    SystemTime st;
    st.month = static_cast<std::uint16_t>(t.month);
    st.dayOfWeek = static_cast<std::uint16_t>(icaltime_day_of_week(t) - 1);
    st.day = static_cast<std::uint16_t>(t.day + 7 > icaltime_days_in_month(t.month, t.year) ? 5 : (t.day - 1) / 7 + 1);
    st.hour = static_cast<std::uint16_t>(t.hour);
    st.minute = static_cast<std::uint16_t>(t.minute);
    return st;
}

bool SameRule(const TimeZoneRule& a, const TimeZoneRule& b)
{
    auto same = [](const SystemTime& x, const SystemTime& y) {
        return x.month == y.month && x.dayOfWeek == y.dayOfWeek && x.day == y.day && x.hour == y.hour && x.minute == y.minute;
    };
    return a.bias == b.bias && a.standardBias == b.standardBias && a.daylightBias == b.daylightBias
           && same(a.standardDate, b.standardDate) && same(a.daylightDate, b.daylightDate);
}

// The last year libical expands a zone's switches to (2582 where time_t has 64 bits, 2037 where
// it has 32). Past it a zone keeps the offset of its last switch; but libical expands the zone
// again from its first observance on every lookup of such a year, so a year's 400 lookups of a
// zone defined from 1601 cost seconds. Found once, from a zone that switches every year.
int LastExpandedYear()
{
    static const int year = [] {
        icalcomponent* definition = icalparser_parse_string(
            "BEGIN:VTIMEZONE\r\nTZID:probe\r\n"
            "BEGIN:STANDARD\r\nDTSTART:20001029T030000\r\nRRULE:FREQ=YEARLY;BYMONTH=10;BYDAY=-1SU\r\n"
            "TZOFFSETFROM:+0100\r\nTZOFFSETTO:+0000\r\nEND:STANDARD\r\n"
            "BEGIN:DAYLIGHT\r\nDTSTART:20000326T020000\r\nRRULE:FREQ=YEARLY;BYMONTH=3;BYDAY=-1SU\r\n"
            "TZOFFSETFROM:+0000\r\nTZOFFSETTO:+0100\r\nEND:DAYLIGHT\r\nEND:VTIMEZONE\r\n");
        icaltimezone* zone = definition ? icaltimezone_new() : nullptr;
        if (!zone || !icaltimezone_set_component(zone, definition)) {
            if (zone)
                icaltimezone_free(zone, 1);
            else if (definition)
                icalcomponent_free(definition);
            return 9999;
        }
        // Summer time in July of every year libical expanded, none after: the last such year.
        auto summer = [&](int y) {
            struct icaltimetype t = icaltime_null_time();
            t.year = y;
            t.month = 7;
            t.day = 1;
            t.hour = 12;
            t.zone = icaltimezone_get_utc_timezone();
            int daylight = 0;
            return icaltimezone_get_utc_offset_of_utc_time(zone, &t, &daylight) == 3600;
        };
        int lo = 2001, hi = 10000;  // summer in lo; none in hi
        if (!summer(lo))
            lo = hi = 2000;
        while (hi - lo > 1) {
            const int mid = lo + (hi - lo) / 2;
            (summer(mid) ? lo : hi) = mid;
        }
        icaltimezone_free(zone, 1);
        return lo;
    }();
    return year;
}

}  // namespace

// The year's rule read from the zone's own offsets, as libical applies them to the file's times:
// whatever form the zone's definition takes (yearly rules, or one-off dates as in the years some
// countries moved their switches), the rule gives the switches that year really had.
TimeZoneRule RuleOf(icaltimezone* zone, int year)
{
    TimeZoneRule rule;
    rule.year = static_cast<std::uint16_t>(std::clamp(year, 1601, 9999));
    if (!zone)
        return rule;
    const std::int64_t yearStart = (static_cast<std::int64_t>(LocalMinutes(std::clamp(year, 1601, 9999), 1, 1)) - 11644473600LL / 60) * 60;
    struct Switch {
        std::int64_t at;  // UTC
        int from, to;     // offsets, seconds east
    };
    std::vector<Switch> switches;
    int previous = OffsetAt(zone, yearStart);
    const int first = previous;
    // Past the years libical expands, the offset never changes (and each lookup is slow).
    const int lastDay = year > LastExpandedYear() ? 0 : 366;
    for (int day = 1; day <= lastDay; ++day) {
        const std::int64_t probe = yearStart + day * 86400LL;
        const int now = OffsetAt(zone, probe);
        if (now == previous)
            continue;
        // The instant of the switch, to the second.
        std::int64_t lo = probe - 86400, hi = probe;
        while (hi - lo > 1) {
            const std::int64_t mid = lo + (hi - lo) / 2;
            (OffsetAt(zone, mid) == previous ? lo : hi) = mid;
        }
        switches.push_back({hi, previous, now});
        previous = now;
    }
    if (switches.size() != 2 || switches[0].from != switches[1].to || switches[0].to != switches[1].from) {
        // No yearly pair of switches: the offset most of the year has.
        rule.bias = -(switches.empty() ? first : OffsetAt(zone, yearStart + 182 * 86400LL)) / 60;
        return rule;
    }
    const Switch& toDaylight = switches[0].to > switches[0].from ? switches[0] : switches[1];
    const Switch& toStandard = switches[0].to > switches[0].from ? switches[1] : switches[0];
    rule.bias = -toDaylight.from / 60;
    rule.daylightBias = -(toDaylight.to - toDaylight.from) / 60;
    // Each switch at the clock time it happens by the clock in force before it.
    rule.daylightDate = SwitchOf(toDaylight.at + toDaylight.from);
    rule.standardDate = SwitchOf(toStandard.at + toStandard.from);
    return rule;
}

std::vector<TimeZoneRule> RulesOf(icaltimezone* zone, int firstYear, int lastYear)
{
    std::vector<TimeZoneRule> rules;
    for (int year = firstYear; year <= std::max(firstYear, lastYear); ++year) {
        TimeZoneRule rule = RuleOf(zone, year);
        if (!rules.empty() && SameRule(rules.back(), rule))
            continue;
        rules.push_back(rule);
    }
    return rules;
}

}  // namespace cal
