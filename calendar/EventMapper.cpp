#include "EventMapper.h"

#include "TextCodec.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <set>
#include <unordered_map>
#include <strings.h>

namespace cal {

namespace {

constexpr std::size_t kMaxShortText = 255;  // subject, location, category, a person's name: UTF-16 units
constexpr std::size_t kMaxAddress = 320;    // an e-mail address, bytes
constexpr int kMaxInstances = 999;          // the most occurrences a pattern may count
constexpr int kExpansionSteps = 100000;     // hard stop for walking a rule
// The most appointments one series Outlook cannot store as a pattern is written as.
constexpr std::size_t kMaxWrittenOccurrences = 5000;
constexpr std::int64_t kMinute = 600000000LL;  // FILETIME units
const char* const kExceptionClass = "IPM.OLE.CLASS.{00061055-0000-0000-C000-000000000046}";

// --- text -------------------------------------------------------------------------------------

std::size_t Utf16Units(const std::string& s, std::size_t* bytesForLimit, std::size_t limit)
{
    std::size_t units = 0;
    std::size_t i = 0;
    *bytesForLimit = s.size();
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        const std::size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 1;
        const std::size_t u = len == 4 ? 2 : 1;
        if (units + u > limit) {
            *bytesForLimit = i;
            break;
        }
        units += u;
        i += len;
    }
    return units;
}

// One line of at most 255 UTF-16 units, never cutting a character in two; a line break becomes
// a blank, so that the words on either side stay apart.
std::string ShortText(std::string s)
{
    std::string line;
    line.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\r' && s[i] != '\n') {
            line += s[i];
            continue;
        }
        if (s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n')
            ++i;
        if (!line.empty() && line.back() != ' ' && i + 1 < s.size() && s[i + 1] != ' ')
            line += ' ';
    }
    s = std::move(line);
    std::size_t cut = 0;
    Utf16Units(s, &cut, kMaxShortText);
    s.resize(cut);
    return s;
}

std::string Trim(const std::string& s)
{
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

std::string Lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

std::string Upper(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::toupper(c); });
    return s;
}

const char* XValue(icalcomponent* ev, const char* name)
{
    for (icalproperty* p = icalcomponent_get_first_property(ev, ICAL_X_PROPERTY); p;
         p = icalcomponent_get_next_property(ev, ICAL_X_PROPERTY)) {
        const char* n = icalproperty_get_x_name(p);
        if (n && strcasecmp(n, name) == 0)
            return icalproperty_get_x(p);
    }
    return nullptr;
}

std::string Text(icalcomponent* ev, icalproperty_kind kind)
{
    icalproperty* p = icalcomponent_get_first_property(ev, kind);
    if (!p)
        return {};
    // Text values come unescaped from their value; other kinds (URL) print as they are.
    icalvalue* value = icalproperty_get_value(p);
    const char* v = value && icalvalue_isa(value) == ICAL_TEXT_VALUE ? icalvalue_get_text(value)
                                                                      : icalproperty_get_value_as_string(p);
    std::string text = v ? AsUtf8(v) : std::string();
    // Blanks a value started with, kept through libical's reading.
    std::size_t blanks = 0;
    while (text.compare(blanks * 3, 3, kLeadingBlank) == 0)
        ++blanks;
    if (blanks)
        text.replace(0, blanks * 3, std::string(blanks, ' '));
    return text;
}

// --- times ------------------------------------------------------------------------------------

// A time as a file gives it: its wall-clock fields, and the zone they are in.
struct EventTime {
    struct icaltimetype wall = icaltime_null_time();
    const ResolvedZone* zone = nullptr;  // null: UTC when `utc`, else floating
    bool utc = false;
    bool date = false;
    bool valid = false;
};

// The machine's zone as a zone of libical's (nullptr: not known, read as UTC), resolved by a
// resolver of its own, so that a file's definitions never stand in for it.
icaltimezone* MachineZone()
{
    static ZoneResolver* const machine = new ZoneResolver;  // lives as long as the zones it gave
    const std::string& name = MachineZoneName();
    const ResolvedZone* zone = name.empty() ? nullptr : machine->Resolve(name);
    return zone ? zone->zone : nullptr;
}

// Seconds since 1970 UTC of a wall-clock time in a zone. libical's conversion is the costly part
// of mapping an event; calendars repeat the same times, so results are kept per zone and minute.
std::int64_t ZoneToUnix(const struct icaltimetype& wall, icaltimezone* zone)
{
    struct Key {
        icaltimezone* zone;
        std::int64_t minute;
        bool operator==(const Key&) const = default;
    };
    struct Hash {
        std::size_t operator()(const Key& k) const
        {
            return std::hash<std::int64_t>()(k.minute) ^ std::hash<const void*>()(k.zone);
        }
    };
    static std::unordered_map<Key, std::int64_t, Hash> cache;
    const Key key{zone, static_cast<std::int64_t>(LocalMinutes(wall.year, wall.month, wall.day, wall.hour, wall.minute))};
    if (auto it = cache.find(key); it != cache.end())
        return it->second + wall.second;
    struct icaltimetype t = wall;
    t.second = 0;
    const auto unix = UnixOfWallIn(t, zone);
    if (cache.size() > 200000)
        cache.clear();
    cache.emplace(key, unix);
    return unix + wall.second;
}

// Seconds since 1970 UTC of a file's time. Dates and floating times are read in the importing
// machine's zone, as Outlook reads them.
std::int64_t UnixOf(const EventTime& t)
{
    if (t.date || (!t.utc && !t.zone))
        return ZoneToUnix(t.wall, MachineZone());
    if (t.utc)
        return UnixOfUtcFields(t.wall);
    return ZoneToUnix(t.wall, t.zone->zone);
}

std::int64_t FileTimeOf(const EventTime& t) { return FileTimeFromUnix(UnixOf(t)); }

// Wall-clock fields of a Unix time in the series zone (null: the machine's zone).
struct icaltimetype WallIn(std::int64_t unix, const ResolvedZone* zone, bool utc)
{
    if (utc && !zone)
        return UtcFieldsOf(unix);
    if (zone)
        return WallInZone(unix, zone->zone);
    struct icaltimetype w = WallInZone(unix, MachineZone());
    w.zone = nullptr;
    return w;
}

// A rule is walked in the series' wall-clock time: an UNTIL given in UTC is moved there too
// (RFC 5545: the last occurrence may start exactly at UNTIL).
struct icalrecurrencetype InSeriesClock(struct icalrecurrencetype r, const ResolvedZone* zone)
{
    if (!icaltime_is_null_time(r.until) && icaltime_is_utc(r.until) && !r.until.is_date) {
        r.until = WallIn(UnixOfUtcFields(r.until), zone, !zone);
        r.until.zone = nullptr;
        r.until.is_date = 0;
    }
    return r;
}

EventTime ReadTime(icalproperty* p, struct icaltimetype value, ZoneResolver& zones, std::vector<std::string>& warnings)
{
    EventTime t;
    if (!p || icaltime_is_null_time(value) || !icaltime_is_valid_time(value))
        return t;
    t.valid = true;
    t.wall = value;
    t.date = value.is_date != 0;
    t.utc = icaltime_is_utc(value) != 0;
    if (!t.utc && !t.date) {
        if (icalparameter* tz = icalproperty_get_first_parameter(p, ICAL_TZID_PARAMETER)) {
            const char* tzid = icalparameter_get_tzid(tz);
            t.zone = tzid ? zones.Resolve(tzid) : nullptr;
            if (tzid && !t.zone)
                warnings.push_back(std::string("unknown time zone \"") + tzid + "\": its times were read as local time");
        }
    }
    t.wall.zone = nullptr;
    t.wall.is_date = 0;
    if (t.date)
        t.wall.hour = t.wall.minute = t.wall.second = 0;
    return t;
}

EventTime Start(icalcomponent* ev, ZoneResolver& zones, std::vector<std::string>& warnings)
{
    icalproperty* p = icalcomponent_get_first_property(ev, ICAL_DTSTART_PROPERTY);
    return ReadTime(p, p ? icalproperty_get_dtstart(p) : icaltime_null_time(), zones, warnings);
}

// --- the series zone --------------------------------------------------------------------------

// The zone the recurrence blob counts in: the start's zone, else the machine's zone (or UTC).
const ResolvedZone* LocalZone(ZoneResolver& zones)
{
    const std::string& name = MachineZoneName();
    return name.empty() ? nullptr : zones.Resolve(name);
}

void SetZoneProperties(Appointment& a, const ResolvedZone* startZone, const ResolvedZone* endZone,
                       const ResolvedZone* seriesZone, int year, bool recurring, int lastYear = 0)
{
    // A series' own definition holds the rules of every year it spans, so that a year whose
    // switches differed (Sydney's in 2000, the US's from 2007) places its occurrences right.
    auto definition = [&](const ResolvedZone* z, bool recur) { return z->Definition(year, recur, recur ? lastYear : year); };
    if (startZone)
        a.Set(PropertySet::Appointment, lid::TimeZoneDefinitionStartDisplay, PropType::Binary, definition(startZone, false));
    const ResolvedZone* described = recurring && seriesZone ? seriesZone : startZone;
    if (described)
        a.Set(PropertySet::Appointment, lid::TimeZoneDescription, PropType::String, described->keyName);
    if (endZone)
        a.Set(PropertySet::Appointment, lid::TimeZoneDefinitionEndDisplay, PropType::Binary, definition(endZone, false));
    if (recurring && seriesZone) {
        a.Set(PropertySet::Appointment, lid::TimeZoneStruct, PropType::Binary, seriesZone->Struct(year));
        a.Set(PropertySet::Appointment, lid::TimeZoneDefinitionRecur, PropType::Binary, definition(seriesZone, true));
    }
}

// --- recurrence -------------------------------------------------------------------------------

bool Has(const short* array) { return array[0] != ICAL_RECURRENCE_ARRAY_MAX; }
int Count(const short* array, int max)
{
    int n = 0;
    while (n < max && array[n] != ICAL_RECURRENCE_ARRAY_MAX)
        ++n;
    return n;
}

std::uint32_t DayBit(int icalWeekday) { return 1u << (icalWeekday - 1); }  // 1 = Sunday

std::uint32_t MidnightMinutes(const struct icaltimetype& t) { return LocalMinutes(t.year, t.month, t.day); }

const char* kDayNames[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};

std::string DayList(std::uint32_t mask)
{
    std::vector<std::string> days;
    for (int d = 0; d < 7; ++d)
        if (mask & (1u << d))
            days.push_back(kDayNames[d]);
    std::string out;
    for (std::size_t i = 0; i < days.size(); ++i)
        out += (i == 0 ? "" : i + 1 == days.size() ? " and " : ", ") + days[i];
    return out;
}

std::string Clock(std::uint32_t minutes)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02u:%02u", (minutes / 60) % 24, minutes % 60);
    return buf;
}

int DaysInMonth(int month, int year)
{
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[(month + 11) % 12];
}

// The pattern Outlook can store for a rule, or why it cannot.
bool PatternFor(const struct icalrecurrencetype& r, const std::string& ruleText, const struct icaltimetype& start,
                AppointmentRecurrence& out, std::string& why)
{
    if (Has(r.by_second) || Has(r.by_minute) || Has(r.by_hour) || Has(r.by_year_day) || Has(r.by_week_no)) {
        why = "it repeats by time of day, day of the year or week number";
        return false;
    }
    const int interval = std::max<int>(1, r.interval);
    const int days = Count(r.by_day, ICAL_BY_DAY_SIZE);
    const int monthDays = Count(r.by_month_day, ICAL_BY_MONTHDAY_SIZE);
    const int months = Count(r.by_month, ICAL_BY_MONTH_SIZE);
    const int setPos = Count(r.by_set_pos, ICAL_BY_SETPOS_SIZE);
    if (monthDays > 1 || months > 1 || setPos > 1) {
        why = "it lists several days of the month, months or positions";
        return false;
    }
    const int startWeekday = icaltime_day_of_week(start);  // 1 = Sunday
    std::uint32_t mask = 0;
    int ordinal = 0;
    for (int i = 0; i < days; ++i) {
        mask |= DayBit(icalrecurrencetype_day_day_of_week(r.by_day[i]));
        const int pos = icalrecurrencetype_day_position(r.by_day[i]);
        if (pos != 0) {
            // "1MO,1TU" is the first Monday and the first Tuesday; Outlook's pattern would take
            // the first day that is either.
            if (ordinal != 0 || days > 1) {
                why = "it names several weekdays, each with its own position";
                return false;
            }
            ordinal = pos;
        }
    }
    if (setPos == 1) {
        if (ordinal != 0) {
            why = "it has both a weekday position and BYSETPOS";
            return false;
        }
        ordinal = r.by_set_pos[0];
    }
    const bool wkst = ruleText.find("WKST=") != std::string::npos;
    out.firstDOW = wkst ? static_cast<std::uint32_t>(r.week_start - 1) : 0;

    switch (r.freq) {
    case ICAL_DAILY_RECURRENCE:
        if (days == 0 && monthDays == 0 && months == 0 && setPos == 0) {
            out.frequency = RecurFrequency::Daily;
            out.patternType = PatternType::Day;
            out.period = 1440u * static_cast<std::uint32_t>(interval);
            return true;
        }
        if (interval == 1 && mask == (Mo | Tu | We | Th | Fr) && ordinal == 0 && monthDays == 0 && months == 0) {
            out.frequency = RecurFrequency::Weekly;  // "every weekday"
            out.patternType = PatternType::Week;
            out.period = 1;
            out.dayMask = mask;
            return true;
        }
        break;
    case ICAL_WEEKLY_RECURRENCE:
        if (ordinal == 0 && monthDays == 0 && months == 0) {
            out.frequency = RecurFrequency::Weekly;
            out.patternType = PatternType::Week;
            out.period = static_cast<std::uint32_t>(interval);
            out.dayMask = mask ? mask : DayBit(startWeekday);
            // RFC weeks start on Monday; with no WKST and days on both sides of Sunday, keep them.
            if (!wkst && interval > 1 && (out.dayMask & Su) && (out.dayMask & ~Su))
                out.firstDOW = 1;
            return true;
        }
        break;
    case ICAL_MONTHLY_RECURRENCE:
    case ICAL_YEARLY_RECURRENCE: {
        const bool yearly = r.freq == ICAL_YEARLY_RECURRENCE;
        if (yearly && months == 1 && r.by_month[0] != start.month) {
            why = "its month differs from the first occurrence's";
            return false;
        }
        if (!yearly && months > 0) {
            why = "it repeats monthly in some months only";
            return false;
        }
        if (yearly && months == 0 && (monthDays > 0 || days > 0)) {
            // Without BYMONTH the days count through the whole year, not one month's.
            why = "its days are counted through the year";
            return false;
        }
        out.frequency = yearly ? RecurFrequency::Yearly : RecurFrequency::Monthly;
        out.period = static_cast<std::uint32_t>(interval) * (yearly ? 12u : 1u);
        if (days == 0) {
            const int day = monthDays ? r.by_month_day[0] : start.day;
            if (day != -1 && (day < 1 || day > 31)) {
                why = "its day of the month cannot be stored";
                return false;
            }
            // Outlook moves day 29 to 31 to the last day of shorter months (and 29 February to
            // the 28th); the rule skips those months instead.
            const bool everyMonthHasIt = day == -1 || day <= 28;
            if (!everyMonthHasIt && !(yearly && day <= DaysInMonth(start.month, 2001))) {
                why = "its day of the month is missing from some months";
                return false;
            }
            out.patternType = PatternType::Month;
            out.dayOfMonth = day == -1 ? 31u : static_cast<std::uint32_t>(day);
            return true;
        }
        if (monthDays == 0 && ordinal == 0 && setPos == 0) {
            why = "it takes every such weekday of the month";
            return false;
        }
        if (monthDays == 0 && (ordinal == -1 || (ordinal >= 1 && ordinal <= 4))) {
            out.patternType = PatternType::MonthNth;
            out.dayMask = mask;
            out.nthWeek = ordinal == -1 ? 5u : static_cast<std::uint32_t>(ordinal);
            return true;
        }
        why = "its weekday position is not first to fourth or last";
        return false;
    }
    default:
        why = "it repeats more often than daily";
        return false;
    }
    why = "its combination of rule parts has no Outlook equivalent";
    return false;
}

std::string PatternText(const AppointmentRecurrence& r, std::uint32_t startOffset, std::uint32_t endOffset)
{
    std::string text;
    const std::uint32_t n = r.frequency == RecurFrequency::Daily ? r.period / 1440 : r.period;
    switch (r.patternType) {
    case PatternType::Day: text = n == 1 ? "every day" : "every " + std::to_string(n) + " days"; break;
    case PatternType::Week:
        text = (n == 1 ? "every " : "every " + std::to_string(n) + " weeks on ") + DayList(r.dayMask);
        break;
    case PatternType::Month:
    case PatternType::MonthEnd:
        text = "day " + std::to_string(r.dayOfMonth) + " of every "
               + (r.frequency == RecurFrequency::Yearly ? (n == 12 ? std::string("year") : std::to_string(n / 12) + " years")
                                                         : (n == 1 ? std::string("month") : std::to_string(n) + " months"));
        break;
    case PatternType::MonthNth: {
        static const char* kNth[] = {"", "first", "second", "third", "fourth", "last"};
        text = std::string("the ") + kNth[std::min<std::uint32_t>(r.nthWeek, 5)] + " " + DayList(r.dayMask) + " of every "
               + (r.frequency == RecurFrequency::Yearly ? std::string("year") : (n == 1 ? std::string("month") : std::to_string(n) + " months"));
        break;
    }
    }
    return text + " from " + Clock(startOffset) + " to " + Clock(endOffset);
}

// --- people -----------------------------------------------------------------------------------

std::string Address(const char* value)
{
    std::string v = value ? value : "";
    if (Lower(v.substr(0, 7)) == "mailto:")
        v.erase(0, 7);
    // No address is longer than 320 characters (64 before the @, 255 after it); longer text is
    // cut there, whole characters only.
    if (v.size() > kMaxAddress) {
        std::size_t cut = kMaxAddress;
        while (cut > 0 && (static_cast<unsigned char>(v[cut]) & 0xC0) == 0x80)
            --cut;
        v.resize(cut);
    }
    return Trim(v);
}

std::string Param(icalproperty* p, icalparameter_kind kind)
{
    icalparameter* param = icalproperty_get_first_parameter(p, kind);
    // A copy of our own, freed at once: libical's ring of temporary buffers would keep its copy
    // for thousands of calls more, some 60 KB for a long name.
    char* v = param ? icalparameter_as_ical_string_r(param) : nullptr;
    if (!v)
        return {};
    std::string s = v;
    free(v);
    const auto eq = s.find('=');
    s = eq == std::string::npos ? s : s.substr(eq + 1);
    if (s.size() >= 2 && s.front() == '"' && s.back() == '"')
        s = s.substr(1, s.size() - 2);
    return s;
}

// What the people of an event make of it (MS-OXOCAL 2.2.1.10, 2.2.1.11): a plain appointment, a
// meeting whose organizer is its only party, or a meeting the user received from its organizer.
enum class MeetingRole { None, Organized, Received };

struct People {
    MeetingRole role = MeetingRole::None;
    bool responseRequested = false;  // an attendee is asked to reply (RSVP=TRUE)
};

// The organizer and attendees as recipient rows (MS-OXCICAL 2.1.3.1.1.20.2 and .16): the organizer
// first, flagged recipSendable | recipOrganizer; attendees by CUTYPE and ROLE as To, Cc or Bcc.
People MapPeople(icalcomponent* ev, Appointment& a)
{
    People people;
    std::string organizer;
    bool hasOrganizer = false;
    if (icalproperty* org = icalcomponent_get_first_property(ev, ICAL_ORGANIZER_PROPERTY)) {
        Recipient r;
        r.email = Address(icalproperty_get_organizer(org));
        r.displayName = ShortText(Param(org, ICAL_CN_PARAMETER));
        if (r.displayName.empty())
            r.displayName = r.email;
        r.recipientFlags = 3;
        r.recipientType = 1;
        if (!r.email.empty() || !r.displayName.empty()) {
            hasOrganizer = true;
            organizer = Lower(r.email);
            a.recipients.push_back(std::move(r));
        }
    }
    bool attendees = false;
    for (icalproperty* p = icalcomponent_get_first_property(ev, ICAL_ATTENDEE_PROPERTY); p;
         p = icalcomponent_get_next_property(ev, ICAL_ATTENDEE_PROPERTY)) {
        Recipient r;
        r.email = Address(icalproperty_get_attendee(p));
        r.displayName = ShortText(Param(p, ICAL_CN_PARAMETER));
        if (r.displayName.empty())
            r.displayName = r.email;
        if (r.email.empty() && r.displayName.empty())
            continue;
        // Many producers list the organizer among the attendees too: one row is enough.
        if (!organizer.empty() && Lower(r.email) == organizer)
            continue;
        const std::string role = Upper(Param(p, ICAL_ROLE_PARAMETER));
        const std::string cutype = Upper(Param(p, ICAL_CUTYPE_PARAMETER));
        r.recipientType = (cutype == "RESOURCE" || cutype == "ROOM" || role == "NON-PARTICIPANT") ? 3
                          : role == "OPT-PARTICIPANT"                                            ? 2
                                                                                                 : 1;
        const std::string status = Upper(Param(p, ICAL_PARTSTAT_PARAMETER));
        r.trackStatus = status == "ACCEPTED" ? 3 : status == "DECLINED" ? 4 : status == "TENTATIVE" ? 2 : 0;
        if (Upper(Param(p, ICAL_RSVP_PARAMETER)) == "TRUE")
            people.responseRequested = true;
        a.recipients.push_back(std::move(r));
        attendees = true;
    }
    people.role = attendees ? MeetingRole::Received : hasOrganizer ? MeetingRole::Organized : MeetingRole::None;
    return people;
}

// The sender and sent-representing sets: the organizer as a one-off address; without one, what
// Outlook writes for an appointment when it knows no account (dist-list.pst, "Test appointment").
void SetSender(Appointment& a)
{
    std::string name = "Unknown", type = "UNKNOWN", address = "Unknown";
    Bytes entryId;
    if (!a.recipients.empty() && (a.recipients[0].recipientFlags & 2)) {
        name = ShortText(a.recipients[0].displayName);
        type = "SMTP";
        address = a.recipients[0].email;
        entryId = EncodeOneOffEntryId(name, type, address);
    } else {
        // An 8-bit one-off id, byte for byte as Outlook wrote it.
        entryId = {0, 0, 0, 0, 0x81, 0x2B, 0x1F, 0xA4, 0xBE, 0xA3, 0x10, 0x19, 0x9D, 0x6E, 0x00, 0xDD, 0x01, 0x0F, 0x54, 0x02, 0, 0, 0, 0};
        for (const std::string& s : {name, type, address}) {
            entryId.insert(entryId.end(), s.begin(), s.end());
            entryId.push_back(0);
        }
    }
    const Bytes searchKey = AddressSearchKey(type, address);
    a.Set(PropertySet::Tag, tag::SentRepresentingName, PropType::String, name);
    a.Set(PropertySet::Tag, tag::SentRepresentingAddressType, PropType::String, type);
    a.Set(PropertySet::Tag, tag::SentRepresentingEmailAddress, PropType::String, address);
    a.Set(PropertySet::Tag, tag::SentRepresentingEntryId, PropType::Binary, entryId);
    a.Set(PropertySet::Tag, tag::SentRepresentingSearchKey, PropType::Binary, searchKey);
    a.Set(PropertySet::Tag, tag::SenderName, PropType::String, name);
    a.Set(PropertySet::Tag, tag::SenderAddressType, PropType::String, type);
    a.Set(PropertySet::Tag, tag::SenderEmailAddress, PropType::String, address);
    a.Set(PropertySet::Tag, tag::SenderEntryId, PropType::Binary, entryId);
    a.Set(PropertySet::Tag, tag::SenderSearchKey, PropType::Binary, searchKey);
}

// A meeting's state (MS-OXOCAL 2.2.1.10 asfMeeting 0x1, asfReceived 0x2), the user's response
// (2.2.1.11: respOrganized 1, respNotResponded 5) and whether requests went out (PidLidFInvited).
void SetMeetingState(PropertyMap& m, MeetingRole role)
{
    const std::int64_t flags = role == MeetingRole::Received ? 3 : role == MeetingRole::Organized ? 1 : 0;
    const std::int64_t response = role == MeetingRole::Received ? 5 : role == MeetingRole::Organized ? 1 : 0;
    m.set(PropertyKey{PropertySet::Appointment, lid::AppointmentStateFlags, {}, PropType::Int32}, flags);
    m.set(PropertyKey{PropertySet::Appointment, lid::ResponseStatus, {}, PropType::Int32}, response);
    m.set(PropertyKey{PropertySet::Appointment, lid::FInvited, {}, PropType::Boolean}, role == MeetingRole::Received);
}

// --- one event's own fields -------------------------------------------------------------------

struct EventFields {
    EventTime start, end;
    std::int64_t startFt = 0, endFt = 0;
    bool allDay = false;
    std::string subject, location;
};

EventFields ReadFields(icalcomponent* ev, ZoneResolver& zones, std::vector<std::string>& warnings)
{
    EventFields f;
    f.start = Start(ev, zones, warnings);
    icalproperty* endProp = icalcomponent_get_first_property(ev, ICAL_DTEND_PROPERTY);
    if (endProp) {
        f.end = ReadTime(endProp, icalproperty_get_dtend(endProp), zones, warnings);
    }
    const char* allDayX = XValue(ev, "X-MICROSOFT-CDO-ALLDAYEVENT");
    if (!allDayX)
        allDayX = XValue(ev, "X-MICROSOFT-MSNCALENDAR-ALLDAYEVENT");
    f.allDay = f.start.date || (allDayX && strcasecmp(allDayX, "TRUE") == 0);
    if (f.allDay && !f.start.date) {
        f.start.date = true;
        f.start.wall.hour = f.start.wall.minute = f.start.wall.second = 0;
    }
    f.startFt = FileTimeOf(f.start);
    if (!f.end.valid) {
        icalproperty* dur = icalcomponent_get_first_property(ev, ICAL_DURATION_PROPERTY);
        if (dur) {
            const struct icaldurationtype d = icalproperty_get_duration(dur);
            f.endFt = f.startFt + static_cast<std::int64_t>(icaldurationtype_as_int(d)) * 10000000LL;
        } else {
            f.endFt = f.startFt + (f.allDay ? 1440 * kMinute : 0);
        }
    } else {
        if (f.allDay) {
            f.end.date = true;
            f.end.wall.hour = f.end.wall.minute = f.end.wall.second = 0;
        }
        f.endFt = FileTimeOf(f.end);
    }
    if (f.endFt < f.startFt) {
        warnings.push_back("the event ends before it starts: its end was set to its start");
        f.endFt = f.startFt + (f.allDay ? 1440 * kMinute : 0);
    }
    if (f.allDay && f.endFt == f.startFt)
        f.endFt = f.startFt + 1440 * kMinute;
    f.subject = ShortText(Text(ev, ICAL_SUMMARY_PROPERTY));
    f.location = ShortText(Text(ev, ICAL_LOCATION_PROPERTY));
    return f;
}

std::int64_t ReminderDelta(icalcomponent* ev, const EventFields& f, bool* set, std::vector<std::string>& warnings)
{
    *set = false;
    // The first alarm that alerts: Apple writes ACTION:NONE alarms as placeholders.
    icalcomponent* alarm = icalcomponent_get_first_component(ev, ICAL_VALARM_COMPONENT);
    for (; alarm; alarm = icalcomponent_get_next_component(ev, ICAL_VALARM_COMPONENT)) {
        icalproperty* action = icalcomponent_get_first_property(alarm, ICAL_ACTION_PROPERTY);
        const char* value = action ? icalproperty_get_value_as_string(action) : nullptr;
        if (!value || strcasecmp(value, "NONE") != 0)
            break;
    }
    if (!alarm)
        return 15;
    icalproperty* trig = icalcomponent_get_first_property(alarm, ICAL_TRIGGER_PROPERTY);
    if (!trig) {
        *set = true;
        return f.allDay ? 1080 : 15;
    }
    const struct icaltriggertype t = icalproperty_get_trigger(trig);
    if (!icaltime_is_null_time(t.time)) {
        // An alarm at a fixed time belongs to the first occurrence; one more than a year before
        // it is no reminder anyone meant (Apple writes 1976 for "none").
        const std::int64_t at = FileTimeFromUnix(UnixOfUtcFields(t.time));
        const std::int64_t minutes = (f.startFt - at) / kMinute;
        if (minutes > 366 * 1440) {
            warnings.push_back("its reminder was set for more than a year before the event and was left out");
            return 15;
        }
        *set = true;
        return std::max<std::int64_t>(0, minutes);
    }
    *set = true;
    std::int64_t seconds = icaldurationtype_as_int(t.duration);
    if (Upper(Param(trig, ICAL_RELATED_PARAMETER)) == "END")
        seconds += (f.endFt - f.startFt) / 10000000LL;
    return std::max<std::int64_t>(0, -seconds / 60);
}

std::vector<std::string> Categories(icalcomponent* ev)
{
    std::vector<std::string> out;
    std::set<std::string> seen;
    for (icalproperty* p = icalcomponent_get_first_property(ev, ICAL_CATEGORIES_PROPERTY); p;
         p = icalcomponent_get_next_property(ev, ICAL_CATEGORIES_PROPERTY)) {
        const char* v = icalproperty_get_categories(p);
        std::string all = v ? v : "";
        std::size_t at = 0;
        while (at <= all.size()) {
            std::size_t end = all.find_first_of(",;", at);
            if (end == std::string::npos)
                end = all.size();
            std::string one = ShortText(Trim(all.substr(at, end - at)));
            if (!one.empty() && seen.insert(Lower(one)).second)
                out.push_back(one);
            at = end + 1;
        }
    }
    return out;
}

void MapOwnFields(icalcomponent* ev, const EventFields& f, const MappingContext& ctx, Appointment& a)
{
    a.properties.reserve(64);
    a.Set(PropertySet::Tag, tag::MessageClass, PropType::String, std::string("IPM.Appointment"));
    a.Set(PropertySet::Tag, tag::Subject, PropType::String, f.subject);
    a.Set(PropertySet::Tag, tag::NormalizedSubject, PropType::String, f.subject);
    a.Set(PropertySet::Tag, tag::ConversationTopic, PropType::String, f.subject);
    std::string body = Text(ev, ICAL_DESCRIPTION_PROPERTY);
    const std::string url = Text(ev, ICAL_URL_PROPERTY);
    if (!url.empty())
        body += (body.empty() ? "" : "\n") + url;
    if (!body.empty())
        a.Set(PropertySet::Tag, tag::Body, PropType::String, body);
    if (!f.location.empty())
        a.Set(PropertySet::Appointment, lid::Location, PropType::String, f.location);

    a.Set(PropertySet::Appointment, lid::AppointmentStartWhole, PropType::Time, f.startFt);
    a.Set(PropertySet::Appointment, lid::AppointmentEndWhole, PropType::Time, f.endFt);
    a.Set(PropertySet::Common, lid::CommonStart, PropType::Time, f.startFt);
    a.Set(PropertySet::Common, lid::CommonEnd, PropType::Time, f.endFt);
    a.Set(PropertySet::Tag, tag::StartDate, PropType::Time, f.startFt);
    a.Set(PropertySet::Tag, tag::EndDate, PropType::Time, f.endFt);
    a.Set(PropertySet::Appointment, lid::AppointmentDuration, PropType::Int32, (f.endFt - f.startFt) / kMinute);
    a.Set(PropertySet::Appointment, lid::AppointmentSubType, PropType::Boolean, f.allDay);

    // Busy status: Outlook's own property, else TRANSP, else STATUS; busy when nothing says.
    std::int64_t busy = 2;
    if (const char* x = XValue(ev, "X-MICROSOFT-CDO-BUSYSTATUS")) {
        const std::string v = Upper(x);
        busy = v == "FREE" ? 0 : v == "TENTATIVE" ? 1 : v == "OOF" ? 3 : v == "WORKINGELSEWHERE" ? 4 : 2;
    } else if (icalproperty* transp = icalcomponent_get_first_property(ev, ICAL_TRANSP_PROPERTY)) {
        busy = icalproperty_get_transp(transp) == ICAL_TRANSP_TRANSPARENT ? 0 : 2;
    } else if (icalproperty* status = icalcomponent_get_first_property(ev, ICAL_STATUS_PROPERTY)) {
        const icalproperty_status s = icalproperty_get_status(status);
        busy = s == ICAL_STATUS_TENTATIVE ? 1 : s == ICAL_STATUS_CANCELLED ? 0 : 2;
    }
    a.Set(PropertySet::Appointment, lid::BusyStatus, PropType::Int32, busy);
    a.Set(PropertySet::Appointment, lid::IntendedBusyStatus, PropType::Int32, busy);

    std::int64_t sensitivity = 0;
    if (icalproperty* cls = icalcomponent_get_first_property(ev, ICAL_CLASS_PROPERTY)) {
        const std::string v = Upper(icalproperty_get_value_as_string(cls) ? icalproperty_get_value_as_string(cls) : "");
        sensitivity = v == "PRIVATE" ? 2 : v == "CONFIDENTIAL" ? 3 : v == "X-PERSONAL" ? 1 : 0;
    }
    a.Set(PropertySet::Tag, tag::Sensitivity, PropType::Int32, sensitivity);
    if (sensitivity == 2 || sensitivity == 3)
        a.Set(PropertySet::Common, lid::Private, PropType::Boolean, true);

    std::int64_t importance = 1;
    if (icalproperty* pr = icalcomponent_get_first_property(ev, ICAL_PRIORITY_PROPERTY)) {
        const int v = icalproperty_get_priority(pr);
        if (ctx.vcalendar)
            importance = v == 1 ? 2 : v >= 3 ? 0 : 1;  // vCalendar: 1 highest, 2 normal
        else
            importance = (v >= 1 && v <= 4) ? 2 : v == 5 || v == 0 ? 1 : 0;
    }
    if (const char* x = XValue(ev, "X-MICROSOFT-CDO-IMPORTANCE"))
        importance = std::clamp(std::atoi(x), 0, 2);
    a.Set(PropertySet::Tag, tag::Importance, PropType::Int32, importance);

    const auto keywords = Categories(ev);
    if (!keywords.empty())
        a.Set(PropertySet::PublicStrings, 0, PropType::MultiString, keywords, "Keywords");

    icalproperty* seq = icalcomponent_get_first_property(ev, ICAL_SEQUENCE_PROPERTY);
    a.Set(PropertySet::Appointment, lid::AppointmentSequence, PropType::Int32,
          static_cast<std::int64_t>(seq ? std::max(0, icalproperty_get_sequence(seq)) : 0));

    bool reminderSet = false;
    const std::int64_t delta = ReminderDelta(ev, f, &reminderSet, a.warnings);
    a.Set(PropertySet::Common, lid::ReminderSet, PropType::Boolean, reminderSet);
    a.Set(PropertySet::Common, lid::ReminderDelta, PropType::Int32, reminderSet ? delta : 15);
    if (reminderSet) {
        a.Set(PropertySet::Common, lid::ReminderTime, PropType::Time, f.startFt);
        a.Set(PropertySet::Common, lid::ReminderSignalTime, PropType::Time, f.startFt - delta * kMinute);
    }

    std::int64_t created = ctx.importTime;
    std::int64_t modified = ctx.importTime;
    if (icalproperty* c = icalcomponent_get_first_property(ev, ICAL_CREATED_PROPERTY)) {
        const struct icaltimetype t = icalproperty_get_created(c);
        if (!icaltime_is_null_time(t) && icaltime_is_valid_time(t))
            created = FileTimeFromUnix(UnixOfWallIn(t, icaltimezone_get_utc_timezone()));
    }
    if (icalproperty* m = icalcomponent_get_first_property(ev, ICAL_LASTMODIFIED_PROPERTY)) {
        const struct icaltimetype t = icalproperty_get_lastmodified(m);
        if (!icaltime_is_null_time(t) && icaltime_is_valid_time(t))
            modified = FileTimeFromUnix(UnixOfWallIn(t, icaltimezone_get_utc_timezone()));
    }
    a.Set(PropertySet::Tag, tag::CreationTime, PropType::Time, created);
    a.Set(PropertySet::Tag, tag::LastModificationTime, PropType::Time, std::max(created, modified));

    a.Set(PropertySet::Tag, tag::MessageFlags, PropType::Int32, std::int64_t{1});  // read
    a.Set(PropertySet::Tag, tag::MessageStatus, PropType::Int32, std::int64_t{0});
    a.Set(PropertySet::Appointment, lid::AppointmentColor, PropType::Int32, std::int64_t{0});
    a.Set(PropertySet::Common, lid::SideEffects, PropType::Int32, std::int64_t{0x171});
    a.Set(PropertySet::Tag, tag::MessageLocaleId, PropType::Int32, std::int64_t{0x409});  // en-US, as Outlook's sample
}

std::string Uid(icalcomponent* ev)
{
    const char* uid = icalcomponent_get_uid(ev);
    return uid ? uid : "";
}

// libical removes a repeat rule it cannot read, leaving an error property with the rule's text.
// A rule with both COUNT and UNTIL is only over-specified: it is read again without UNTIL.
void RepairRule(icalcomponent* ev, std::vector<std::string>& warnings)
{
    if (icalcomponent_get_first_property(ev, ICAL_RRULE_PROPERTY))
        return;
    for (icalproperty* p = icalcomponent_get_first_property(ev, ICAL_XLICERROR_PROPERTY); p;
         p = icalcomponent_get_next_property(ev, ICAL_XLICERROR_PROPERTY)) {
        const char* text = icalproperty_get_xlicerror(p);
        const std::string error = text ? text : "";
        const std::string marker = "RRULE property. Removing entire property: ";
        const auto at = error.find(marker);
        if (at == std::string::npos)
            continue;
        std::string rule;
        for (std::size_t i = at + marker.size(); i < error.size(); ++i) {
            if (error[i] == '\\' && i + 1 < error.size())
                ++i;
            rule += error[i];
        }
        std::string kept;
        bool count = false;
        std::size_t from = 0;
        while (from <= rule.size()) {
            std::size_t end = rule.find(';', from);
            if (end == std::string::npos)
                end = rule.size();
            const std::string part = rule.substr(from, end - from);
            count = count || Upper(part).rfind("COUNT=", 0) == 0;
            if (Upper(part).rfind("UNTIL=", 0) != 0 && !part.empty())
                kept += (kept.empty() ? "" : ";") + part;
            from = end + 1;
        }
        const struct icalrecurrencetype r = icalrecurrencetype_from_string(kept.c_str());
        if (count && r.freq != ICAL_NO_RECURRENCE) {
            icalcomponent_add_property(ev, icalproperty_new_rrule(r));
            warnings.push_back("the repeat rule " + rule + " gives both a count and an end date; the end date was ignored");
        } else {
            warnings.push_back("the repeat rule " + rule + " could not be read: only the first occurrence was imported");
        }
        return;
    }
}

// The properties every appointment made from an event gets, with the start and end of `f`.
Appointment BaseAppointment(icalcomponent* ev, const EventFields& f, const MappingContext& ctx, People& people)
{
    Appointment a;
    MapOwnFields(ev, f, ctx, a);
    people = MapPeople(ev, a);
    SetMeetingState(a.properties, people.role);
    SetSender(a);
    // Outlook writes these on every item; for an import, the item arrives when it is written.
    a.Set(PropertySet::Tag, tag::ClientSubmitTime, PropType::Time, ctx.importTime);
    a.Set(PropertySet::Tag, tag::MessageDeliveryTime, PropType::Time, ctx.importTime);
    a.Set(PropertySet::Tag, tag::InternetCodepage, PropType::Int32, std::int64_t{65001});
    // MS-OXOCAL 2.2.1.37: the reply request follows the response request. A plain appointment
    // carries TRUE as Outlook writes it; a received meeting asks for replies when an attendee has RSVP.
    const bool responseRequested = people.role != MeetingRole::Received || people.responseRequested;
    a.Set(PropertySet::Tag, tag::ResponseRequested, PropType::Boolean, responseRequested);
    a.Set(PropertySet::Tag, tag::ReplyRequested, PropType::Boolean, responseRequested);
    return a;
}

// The global object ids of an appointment of series `uid`; an instance date ties a single
// occurrence to its series, as Outlook's exceptions are tied (MS-OXOCAL 2.2.1.27).
void SetIdentity(Appointment& a, const std::string& uid, std::optional<InstanceDate> instance)
{
    const Bytes goid = EncodeGlobalObjectId(uid, instance, false);
    a.Set(PropertySet::Meeting, lid::GlobalObjectId, PropType::Binary, goid);
    a.Set(PropertySet::Meeting, lid::CleanGlobalObjectId, PropType::Binary, EncodeGlobalObjectId(uid, std::nullopt, true));
    a.Set(PropertySet::Tag, tag::SearchKey, PropType::Binary, ItemSearchKey(goid));
}

// Where a series' dates are counted, and its first start there.
struct SeriesClock {
    const ResolvedZone* startZone = nullptr;
    const ResolvedZone* endZone = nullptr;
    const ResolvedZone* zone = nullptr;      // the series zone; null: the machine's, unresolved
    struct icaltimetype localStart = icaltime_null_time();
    int year = 0;

    // A time of the file as wall-clock time in the series zone.
    struct icaltimetype Local(const EventTime& t) const
    {
        return (t.date || (!t.utc && !t.zone) || t.zone == zone) ? t.wall : WallIn(UnixOf(t), zone, !zone);
    }
    // FILETIME of a wall-clock time in the series zone (a date: its midnight, read as the file's
    // dates are).
    std::int64_t FileTime(const struct icaltimetype& wall, bool date) const
    {
        EventTime t;
        t.wall = wall;
        t.date = date;
        t.zone = date ? nullptr : zone;
        t.valid = true;
        return FileTimeOf(t);
    }
};

// The properties that close a single (not repeating) appointment.
void FinishSingle(Appointment& a, const EventFields& f, const People& people, const SeriesClock& clock)
{
    a.Set(PropertySet::Appointment, lid::ClipStart, PropType::Time, f.startFt);
    a.Set(PropertySet::Appointment, lid::ClipEnd, PropType::Time, f.endFt);
    a.Set(PropertySet::Appointment, lid::Recurring, PropType::Boolean, false);
    a.Set(PropertySet::Meeting, lid::IsRecurring, PropType::Boolean, false);
    // MS-OXOCAL 2.2.1.49: 0x400/0x401 single/recurring appointment, 0x402/0x403 the same as meetings.
    a.Set(PropertySet::Tag, tag::IconIndex, PropType::Int32, std::int64_t{0x400 + (people.role != MeetingRole::None ? 2 : 0)});
    SetZoneProperties(a, clock.startZone, clock.endZone, clock.zone, clock.year, false);
}

// Moves an appointment's own start and end (the reminder with them).
void SetTimes(Appointment& a, const EventFields& f)
{
    PropertyMap& m = a.properties;
    for (const auto& [set, id] : {std::pair{PropertySet::Appointment, lid::AppointmentStartWhole},
                                  std::pair{PropertySet::Common, lid::CommonStart}, std::pair{PropertySet::Tag, tag::StartDate},
                                  std::pair{PropertySet::Common, lid::ReminderTime}})
        if (m.get(PropertyKey{set, id, {}, PropType::Time}))
            m.set(PropertyKey{set, id, {}, PropType::Time}, f.startFt);
    for (const auto& [set, id] : {std::pair{PropertySet::Appointment, lid::AppointmentEndWhole},
                                  std::pair{PropertySet::Common, lid::CommonEnd}, std::pair{PropertySet::Tag, tag::EndDate}})
        m.set(PropertyKey{set, id, {}, PropType::Time}, f.endFt);
    const PropertyKey signal{PropertySet::Common, lid::ReminderSignalTime, {}, PropType::Time};
    const PropertyKey delta{PropertySet::Common, lid::ReminderDelta, {}, PropType::Int32};
    if (m.get(signal) && m.get(delta))
        m.set(signal, f.startFt - std::get<std::int64_t>(*m.get(delta)) * kMinute);
}

// Minutes since 1601 of a wall-clock time, and back.
std::uint32_t WallMinutes(const struct icaltimetype& t) { return LocalMinutes(t.year, t.month, t.day, t.hour, t.minute); }
struct icaltimetype WallOfMinutes(std::uint32_t minutes)
{
    struct icaltimetype t = UtcFieldsOf(static_cast<std::int64_t>(minutes) * 60 - 11644473600LL);
    t.zone = nullptr;
    return t;
}

// The occurrences of a master's rules, RDATEs and start, less its EXDATEs, as wall-clock minutes
// in the series zone; endless rules stop at `horizon`. At most `cap`, the first ones.
struct Occurrences {
    std::vector<std::uint32_t> minutes;
    bool endless = false;
    bool capped = false;
};

Occurrences ExpandRules(icalcomponent* master, const SeriesClock& clock, std::uint32_t horizon, std::size_t cap,
                        ZoneResolver& zones, const MappingContext& ctx, const std::string& uid,
                        std::vector<std::string>& warnings)
{
    Occurrences out;
    std::set<std::uint32_t> set;
    const bool allDay = clock.localStart.is_date != 0;
    set.insert(WallMinutes(clock.localStart));  // DTSTART is always an occurrence
    for (icalproperty* p = icalcomponent_get_first_property(master, ICAL_RRULE_PROPERTY); p;
         p = icalcomponent_get_next_property(master, ICAL_RRULE_PROPERTY)) {
        struct icalrecurrencetype r = icalproperty_get_rrule(p);
        if (r.interval < 1)
            continue;  // libical never moves on from such a rule
        const bool endless = r.count == 0 && icaltime_is_null_time(r.until);
        out.endless = out.endless || endless;
        r = InSeriesClock(r, clock.zone);
        struct icaltimetype start = clock.localStart;
        start.is_date = 0;
        std::vector<std::uint32_t> given;
        icalrecur_iterator* it = icalrecur_iterator_new(r, start);
        for (int step = 0; it && step < kExpansionSteps; ++step) {
            const struct icaltimetype t = icalrecur_iterator_next(it);
            if (icaltime_is_null_time(t))
                break;
            const std::uint32_t m = WallMinutes(t);
            if (endless && m > horizon)
                break;
            given.push_back(m);
            if (given.size() > cap * 2)
                break;
        }
        if (it)
            icalrecur_iterator_free(it);
        // RFC 5545: DTSTART counts as the first of COUNT occurrences even where the rule does not
        // give it; libical then gives one too many.
        if (r.count > 0 && !given.empty() && given.front() != WallMinutes(start) && static_cast<int>(given.size()) == r.count)
            given.pop_back();
        set.insert(given.begin(), given.end());
    }
    auto local = [&](icalproperty* p, struct icaltimetype value) -> std::optional<EventTime> {
        EventTime t = ReadTime(p, value, zones, warnings);
        if (!t.valid)
            return std::nullopt;
        return t;
    };
    for (icalproperty* p = icalcomponent_get_first_property(master, ICAL_RDATE_PROPERTY); p;
         p = icalcomponent_get_next_property(master, ICAL_RDATE_PROPERTY)) {
        const struct icaldatetimeperiodtype v = icalproperty_get_rdate(p);
        const auto t = local(p, icaltime_is_null_time(v.time) ? v.period.start : v.time);
        if (!t)
            continue;
        struct icaltimetype w = clock.Local(*t);
        if (t->date && !allDay) {  // a date alone: the series' time of day
            w.hour = clock.localStart.hour;
            w.minute = clock.localStart.minute;
        }
        set.insert(WallMinutes(w));
    }
    std::set<std::uint32_t> exDays, exMinutes;
    // EXRULE (RFC 2445): occurrences taken out by a rule.
    for (icalproperty* p = icalcomponent_get_first_property(master, ICAL_EXRULE_PROPERTY); p;
         p = icalcomponent_get_next_property(master, ICAL_EXRULE_PROPERTY)) {
        struct icalrecurrencetype r = icalproperty_get_exrule(p);
        if (r.interval < 1)
            continue;
        r = InSeriesClock(r, clock.zone);
        struct icaltimetype start = clock.localStart;
        start.is_date = 0;
        const std::uint32_t last = set.empty() ? 0 : *set.rbegin();
        icalrecur_iterator* it = icalrecur_iterator_new(r, start);
        for (int step = 0; it && step < kExpansionSteps; ++step) {
            const struct icaltimetype t = icalrecur_iterator_next(it);
            if (icaltime_is_null_time(t) || WallMinutes(t) > last)
                break;
            exMinutes.insert(WallMinutes(t));
        }
        if (it)
            icalrecur_iterator_free(it);
    }
    for (icalproperty* p = icalcomponent_get_first_property(master, ICAL_EXDATE_PROPERTY); p;
         p = icalcomponent_get_next_property(master, ICAL_EXDATE_PROPERTY)) {
        const auto t = local(p, icalproperty_get_exdate(p));
        if (!t)
            continue;
        if (t->date)
            exDays.insert(MidnightMinutes(t->wall));
        else
            exMinutes.insert(WallMinutes(clock.Local(*t)));
    }
    if (auto raw = ctx.rawExdates.find(uid); raw != ctx.rawExdates.end())
        for (const std::string& v : raw->second) {
            const struct icaltimetype t = icaltime_from_string(v.c_str());
            if (!icaltime_is_null_time(t) && icaltime_is_valid_time(t))
                exDays.insert(MidnightMinutes(t));
        }
    for (std::uint32_t m : set) {
        if (exMinutes.count(m) || exDays.count(m - m % 1440))
            continue;
        if (out.minutes.size() >= cap) {
            out.capped = true;
            break;
        }
        out.minutes.push_back(m);
    }
    return out;
}

// A series Outlook cannot hold as a pattern, written as the single appointments of its
// occurrences, each tied to the series by its instance date; changed occurrences as changed.
void WriteOccurrences(icalcomponent* master, const std::vector<icalcomponent*>& overrides, const EventFields& f,
                      const SeriesClock& clock, const std::string& uid, const std::string& reason, ZoneResolver& zones,
                      const MappingContext& ctx, std::vector<std::string> warnings, const AppointmentSink& emit)
{
    // Endless rules are written up to two years past today or the series' start, whichever is later.
    const std::int64_t nowUnix = ctx.importTime / 10000000LL - 11644473600LL;
    const struct icaltimetype today = WallIn(nowUnix, clock.zone, !clock.zone);
    const struct icaltimetype from = WallMinutes(today) > WallMinutes(clock.localStart) ? today : clock.localStart;
    const std::uint32_t horizon = LocalMinutes(from.year + 2, from.month, std::min(from.day, 28), 23, 59);
    const Occurrences occ = ExpandRules(master, clock, horizon, kMaxWrittenOccurrences, zones, ctx, uid, warnings);

    // Changed occurrences by their original start (a date alone: by its day).
    std::map<std::uint32_t, icalcomponent*> changed;
    std::vector<icalcomponent*> unplaced;
    for (icalcomponent* o : overrides) {
        icalproperty* ridProp = icalcomponent_get_first_property(o, ICAL_RECURRENCEID_PROPERTY);
        const EventTime rid = ReadTime(ridProp, icalproperty_get_recurrenceid(ridProp), zones, warnings);
        if (!rid.valid) {
            unplaced.push_back(o);
            continue;
        }
        std::uint32_t m = WallMinutes(clock.Local(rid));
        if (rid.date && !clock.localStart.is_date)
            m += static_cast<std::uint32_t>(clock.localStart.hour * 60 + clock.localStart.minute);
        changed[m] = o;
    }

    // What will be written, in order: an occurrence as the series has it, or as it was changed.
    struct Job {
        icalcomponent* changedBy = nullptr;
        std::uint32_t original = 0;
    };
    std::vector<Job> jobs;
    auto cancelled = [](icalcomponent* o) {
        icalproperty* status = icalcomponent_get_first_property(o, ICAL_STATUS_PROPERTY);
        return status && icalproperty_get_status(status) == ICAL_STATUS_CANCELLED;
    };
    for (std::uint32_t m : occ.minutes) {
        auto it = changed.find(m);
        if (it == changed.end()) {
            jobs.push_back({nullptr, m});
            continue;
        }
        if (!cancelled(it->second))
            jobs.push_back({it->second, m});
        changed.erase(it);
    }
    // A changed occurrence the rules do not give is still one the file describes.
    for (const auto& [m, o] : changed)
        if (!cancelled(o))
            jobs.push_back({o, m});
    for (icalcomponent* o : unplaced)
        jobs.push_back({o, WallMinutes(clock.localStart)});

    std::string note = "it repeats in a way Outlook cannot store (" + reason + "): its " + std::to_string(jobs.size())
                       + " occurrence(s) were written as separate appointments";
    if (occ.capped) {
        note += ", the first " + std::to_string(kMaxWrittenOccurrences) + " only";
    } else if (occ.endless) {
        char date[16];
        const struct icaltimetype h = WallOfMinutes(horizon);
        std::snprintf(date, sizeof date, "%04d-%02d-%02d", h.year, h.month, h.day);
        note += std::string(" up to ") + date + "; the rule goes on after that";
    }
    warnings.push_back(note);

    const std::int64_t duration = f.endFt - f.startFt;
    const std::int64_t allDayDays = std::max<std::int64_t>(1, (duration + 720 * kMinute) / (1440 * kMinute));
    bool first = true;
    for (const Job& job : jobs) {
        EventFields of = f;
        icalcomponent* ev = master;
        if (job.changedBy) {
            std::vector<std::string> ow;
            ev = job.changedBy;
            of = ReadFields(ev, zones, ow);
        } else {
            const struct icaltimetype wall = WallOfMinutes(job.original);
            of.startFt = clock.FileTime(wall, f.allDay);
            if (f.allDay) {
                struct icaltimetype end = wall;
                end.day += static_cast<int>(allDayDays);
                end = icaltime_normalize(end);
                of.endFt = clock.FileTime(end, true);
            } else {
                of.endFt = of.startFt + duration;
            }
        }
        People people;
        Appointment a = BaseAppointment(ev, of, ctx, people);
        const struct icaltimetype original = WallOfMinutes(job.original);
        SetIdentity(a, uid, InstanceDate{original.year, original.month, original.day});
        FinishSingle(a, of, people, clock);
        if (first)
            a.warnings.insert(a.warnings.begin(), warnings.begin(), warnings.end());
        first = false;
        emit(std::move(a));
    }
}

// A rule that repeats several times a day at the same times every day (DAILY with BYHOUR or
// BYMINUTE, or HOURLY and MINUTELY with an interval that divides the day) is, in Outlook's terms,
// a daily series for each of those times. Writes those series and returns true; false, writing
// nothing, when the series is not of that kind.
bool SplitByTimeOfDay(icalcomponent* master, const std::vector<icalcomponent*>& overrides, const EventFields& f,
                      const SeriesClock& clock, ZoneResolver& zones, const MappingContext& ctx,
                      const std::vector<std::string>& warnings, const AppointmentSink& emit)
{
    if (!overrides.empty() || f.allDay || clock.localStart.second != 0
        || icalcomponent_get_first_property(master, ICAL_RDATE_PROPERTY)
        || icalcomponent_get_first_property(master, ICAL_EXDATE_PROPERTY)
        || icalcomponent_get_first_property(master, ICAL_EXRULE_PROPERTY))
        return false;
    icalproperty* prop = icalcomponent_get_first_property(master, ICAL_RRULE_PROPERTY);
    if (!prop || icalcomponent_get_next_property(master, ICAL_RRULE_PROPERTY))
        return false;
    const struct icalrecurrencetype r = icalproperty_get_rrule(prop);
    if (r.count != 0 || r.interval < 1 || Has(r.by_second) || Has(r.by_set_pos) || Has(r.by_year_day) || Has(r.by_week_no))
        return false;
    auto listed = [](const short* array, int size, int value) {
        if (!Has(array))
            return true;
        for (int i = 0; i < size && array[i] != ICAL_RECURRENCE_ARRAY_MAX; ++i)
            if (array[i] == value)
                return true;
        return false;
    };
    const int startHour = clock.localStart.hour, startMinute = clock.localStart.minute;
    std::set<int> times;  // minutes after midnight
    int dayInterval = 1;
    if (r.freq == ICAL_DAILY_RECURRENCE && (Has(r.by_hour) || Has(r.by_minute))) {
        dayInterval = r.interval;
        for (int h = 0; h < 24; ++h)
            for (int m = 0; m < 60; ++m)
                if ((Has(r.by_hour) ? listed(r.by_hour, ICAL_BY_HOUR_SIZE, h) : h == startHour)
                    && (Has(r.by_minute) ? listed(r.by_minute, ICAL_BY_MINUTE_SIZE, m) : m == startMinute))
                    times.insert(h * 60 + m);
    } else if (r.freq == ICAL_HOURLY_RECURRENCE && 24 % r.interval == 0) {
        for (int h = startHour % r.interval; h < 24; h += r.interval)
            for (int m = 0; m < 60; ++m)
                if (listed(r.by_hour, ICAL_BY_HOUR_SIZE, h)
                    && (Has(r.by_minute) ? listed(r.by_minute, ICAL_BY_MINUTE_SIZE, m) : m == startMinute))
                    times.insert(h * 60 + m);
    } else if (r.freq == ICAL_MINUTELY_RECURRENCE && 1440 % r.interval == 0) {
        for (int t = (startHour * 60 + startMinute) % r.interval; t < 1440; t += r.interval)
            if (listed(r.by_hour, ICAL_BY_HOUR_SIZE, t / 60) && listed(r.by_minute, ICAL_BY_MINUTE_SIZE, t % 60))
                times.insert(t);
    } else {
        return false;
    }
    if (times.size() < 2 || times.size() > 288)
        return false;

    // The days: what is left of the rule, said daily; Outlook must be able to store it.
    struct icalrecurrencetype day = r;
    day.freq = ICAL_DAILY_RECURRENCE;
    day.interval = static_cast<short>(dayInterval);
    day.by_hour[0] = ICAL_RECURRENCE_ARRAY_MAX;
    day.by_minute[0] = ICAL_RECURRENCE_ARRAY_MAX;
    struct icaltimetype localStart = clock.localStart;
    localStart.is_date = 0;
    AppointmentRecurrence rec;
    std::string why;
    const char* ruleText = icalproperty_get_value_as_string(prop);
    if (!PatternFor(day, ruleText ? ruleText : "", localStart, rec, why))
        return false;

    const std::int64_t seconds = (f.endFt - f.startFt) / 10000000LL;
    std::uint32_t until = UINT32_MAX;
    if (!icaltime_is_null_time(r.until)) {
        const struct icaltimetype u = InSeriesClock(r, clock.zone).until;
        until = u.is_date ? LocalMinutes(u.year, u.month, u.day, 23, 59) : WallMinutes(u);
    }
    std::vector<struct icaltimetype> firsts;
    for (int t : times) {
        // Its first day: the start's own when the time comes after the start, else the next day
        // of the rule.
        struct icaltimetype from = localStart;
        from.hour = t / 60;
        from.minute = t % 60;
        struct icaltimetype firstAt = icaltime_null_time();
        icalrecur_iterator* it = icalrecur_iterator_new(day, from);
        for (int step = 0; it && step < 1000; ++step) {
            const struct icaltimetype c = icalrecur_iterator_next(it);
            if (icaltime_is_null_time(c))
                break;
            if (WallMinutes(c) >= WallMinutes(localStart)) {
                firstAt = c;
                break;
            }
        }
        if (it)
            icalrecur_iterator_free(it);
        if (!icaltime_is_null_time(firstAt) && WallMinutes(firstAt) <= until)
            firsts.push_back(firstAt);  // else no occurrence at this time of day
    }
    if (firsts.empty())
        return false;
    const std::string note = firsts.size() == 1
                                 ? std::string("it repeats more often than daily but only once a day: it was written as a daily series")
                                 : "it repeats " + std::to_string(firsts.size())
                                       + " times a day: it was written as a daily series for each time of day";
    bool first = true;
    auto noteFirst = [&](Appointment&& a) {
        if (first) {
            a.warnings.insert(a.warnings.begin(), warnings.begin(), warnings.end());
            a.warnings.push_back(note);
        }
        first = false;
        emit(std::move(a));
    };
    for (struct icaltimetype firstAt : firsts) {
        icalcomponent* one = icalcomponent_new_clone(master);
        icalproperty* start = icalcomponent_get_first_property(one, ICAL_DTSTART_PROPERTY);
        firstAt.zone = f.start.utc ? icaltimezone_get_utc_timezone() : nullptr;
        icalproperty_set_dtstart(start, firstAt);
        for (icalproperty_kind kind : {ICAL_DTEND_PROPERTY, ICAL_DURATION_PROPERTY})
            while (icalproperty* p = icalcomponent_get_first_property(one, kind)) {
                icalcomponent_remove_property(one, p);
                icalproperty_free(p);
            }
        icalcomponent_add_property(one, icalproperty_new_duration(icaldurationtype_from_int(static_cast<int>(seconds))));
        icalproperty_set_rrule(icalcomponent_get_first_property(one, ICAL_RRULE_PROPERTY), day);
        MapSeries(one, {}, zones, ctx, noteFirst);
        icalcomponent_free(one);
    }
    return !first;
}

}  // namespace

void MapSeries(icalcomponent* master, const std::vector<icalcomponent*>& overrides, ZoneResolver& zones,
               const MappingContext& ctx, const AppointmentSink& emit)
{
    std::vector<std::string> warnings;
    icalcomponent* ev = master ? master : overrides.front();
    if (master)
        RepairRule(master, warnings);
    const EventFields f = ReadFields(ev, zones, warnings);
    People people;
    Appointment a = BaseAppointment(ev, f, ctx, people);
    a.warnings.insert(a.warnings.begin(), warnings.begin(), warnings.end());

    const std::string uid = Uid(ev);
    std::optional<InstanceDate> instance;
    if (!master) {
        // An instance whose series is not in the file: an appointment of its own, tied to the
        // series through the instance date in its global object id.
        icalproperty* rid = icalcomponent_get_first_property(ev, ICAL_RECURRENCEID_PROPERTY);
        const struct icaltimetype t = icalproperty_get_recurrenceid(rid);
        instance = InstanceDate{t.year, t.month, t.day};
        a.warnings.push_back("a changed occurrence of a series that is not in the file was imported on its own");
    }
    SetIdentity(a, uid, instance);

    // The series zone: where the recurrence's dates and times are counted.
    SeriesClock clock;
    clock.startZone = f.start.zone;
    clock.endZone = f.end.valid ? f.end.zone : clock.startZone;
    // A start written in UTC anchors the series in UTC; only floating times and dates follow the
    // importing machine's zone.
    clock.zone = clock.startZone ? clock.startZone : f.start.utc ? zones.Resolve("UTC") : LocalZone(zones);
    clock.year = f.start.wall.year;
    const ResolvedZone* const seriesZone = clock.zone;
    const int year = clock.year;
    // The series' first start as wall time in its zone (dates: local midnight).
    clock.localStart = clock.Local(f.start);
    clock.localStart.is_date = f.start.date ? 1 : 0;
    struct icaltimetype localStart = clock.localStart;
    localStart.is_date = 0;

    icalproperty* rruleProp = master ? icalcomponent_get_first_property(master, ICAL_RRULE_PROPERTY) : nullptr;
    bool recurring = false;
    std::optional<std::uint32_t> offPatternFirst;  // the pattern's first start, when DTSTART is not on it
    int seriesLastYear = year;                     // the last year the series has an occurrence in
    if (rruleProp) {
        const struct icalrecurrencetype r = icalproperty_get_rrule(rruleProp);
        const char* ruleText = icalproperty_get_value_as_string(rruleProp);
        AppointmentRecurrence rec;
        std::string why;
        // What a pattern cannot hold makes the series its occurrences, one appointment each.
        if (r.interval < 1) {
            // libical's iterator never moves on from a rule whose interval is 0 (found by fuzzing).
            a.warnings.push_back(std::string("the repeat rule ") + (ruleText ? ruleText : "")
                                 + " has no positive interval: only the first occurrence was imported");
        } else if (icalcomponent_get_next_property(master, ICAL_RRULE_PROPERTY)) {
            WriteOccurrences(master, overrides, f, clock, uid, "it has several repeat rules", zones, ctx, a.warnings, emit);
            return;
        } else if (icalcomponent_get_first_property(master, ICAL_RDATE_PROPERTY)) {
            WriteOccurrences(master, overrides, f, clock, uid, "it adds single dates to its rule", zones, ctx, a.warnings, emit);
            return;
        } else if (icalcomponent_get_first_property(master, ICAL_EXRULE_PROPERTY)) {
            WriteOccurrences(master, overrides, f, clock, uid, "it takes occurrences out by a rule", zones, ctx, a.warnings, emit);
            return;
        } else if (!PatternFor(r, ruleText ? ruleText : "", localStart, rec, why)) {
            if (!SplitByTimeOfDay(master, overrides, f, clock, zones, ctx, a.warnings, emit))
                WriteOccurrences(master, overrides, f, clock, uid, why, zones, ctx, a.warnings, emit);
            return;
        } else {
            // Walk the rule once: the occurrences' dates, for the count, the last date and the
            // exceptions that must name real occurrences.
            std::set<std::uint32_t> instanceDays;
            struct icaltimetype first = icaltime_null_time(), last = icaltime_null_time();
            const struct icalrecurrencetype walk = InSeriesClock(r, seriesZone);
            icalrecur_iterator* it = icalrecur_iterator_new(walk, localStart);
            struct icaltimetype beforeLast = icaltime_null_time();
            int n = 0;
            const bool endless = r.count == 0 && icaltime_is_null_time(r.until);
            for (int step = 0; it && step < kExpansionSteps; ++step) {
                const struct icaltimetype t = icalrecur_iterator_next(it);
                if (icaltime_is_null_time(t))
                    break;
                if (n == 0)
                    first = t;
                beforeLast = last;
                last = t;
                instanceDays.insert(MidnightMinutes(t));
                ++n;
                // An endless series needs its first occurrence only: its deleted and changed
                // occurrences are taken as they are dated, and it has no last day.
                if (endless)
                    break;
            }
            if (it)
                icalrecur_iterator_free(it);
            // RFC 5545: DTSTART always counts as the first of COUNT occurrences, also where the
            // rule does not give it (libical's iterator then gives COUNT more).
            const bool startCounted = r.count > 0 && n > 0 && WallMinutes(first) != WallMinutes(localStart);
            if (startCounted) {
                instanceDays.erase(MidnightMinutes(last));
                last = beforeLast;
                --n;
            }
            if (n == 0 && startCounted) {
                // Only the start is left: a single appointment.
            } else if (n == 0) {
                a.warnings.push_back(std::string("the repeat rule ") + (ruleText ? ruleText : "") + " has no occurrences: imported as a single appointment");
            } else {
                recurring = true;
                // RFC 5545: DTSTART is an occurrence even where the rule does not give it; it is
                // written on its own, and the pattern starts where the rule does.
                if (WallMinutes(first) != WallMinutes(localStart))
                    offPatternFirst = WallMinutes(first);
                rec.startDate = MidnightMinutes(first);
                const std::uint32_t startOffset = static_cast<std::uint32_t>(localStart.hour * 60 + localStart.minute);
                const auto durationMin = static_cast<std::uint32_t>((f.endFt - f.startFt) / kMinute);
                rec.startTimeOffset = startOffset;
                rec.endTimeOffset = startOffset + durationMin;
                const int thisYear = UtcFieldsOf(static_cast<std::int64_t>(std::time(nullptr))).year;
                seriesLastYear = endless ? std::max(year, thisYear + 2) : last.year;
                if (endless) {
                    rec.endType = EndType::Never;
                    rec.occurrenceCount = 10;
                    rec.endDate = kNeverEndDate;
                } else {
                    // Outlook counts at most 999 occurrences; a longer series ends by its last date.
                    rec.endType = r.count && n <= kMaxInstances ? EndType::AfterN : EndType::AfterDate;
                    rec.occurrenceCount = static_cast<std::uint32_t>(n);
                    rec.endDate = MidnightMinutes(last);
                }

                // Deleted occurrences: EXDATEs, as dates in the series zone.
                std::set<std::uint32_t> deleted;
                std::vector<std::string> rawLists;
                for (icalproperty* ex = icalcomponent_get_first_property(master, ICAL_EXDATE_PROPERTY); ex;
                     ex = icalcomponent_get_next_property(master, ICAL_EXDATE_PROPERTY)) {
                    const EventTime t = ReadTime(ex, icalproperty_get_exdate(ex), zones, a.warnings);
                    if (!t.valid)
                        continue;
                    const struct icaltimetype local = (t.date || (!t.utc && !t.zone) || t.zone == seriesZone)
                                                          ? t.wall
                                                          : WallIn(UnixOf(t), seriesZone, !seriesZone);
                    const std::uint32_t day = MidnightMinutes(local);
                    if (instanceDays.count(day) || endless)
                        deleted.insert(day);
                }
                if (auto raw = ctx.rawExdates.find(uid); raw != ctx.rawExdates.end()) {
                    for (const std::string& v : raw->second) {
                        const struct icaltimetype t = icaltime_from_string(v.c_str());
                        if (!icaltime_is_null_time(t) && icaltime_is_valid_time(t))
                            deleted.insert(MidnightMinutes(t));
                    }
                }

                // Changed occurrences: their original day is deleted, their new day modified.
                auto originalLocal = [&](const EventTime& rid) {
                    return (rid.date || (!rid.utc && !rid.zone) || rid.zone == seriesZone) ? rid.wall
                                                                                           : WallIn(UnixOf(rid), seriesZone, !seriesZone);
                };
                // One exception a day (MS-OXOCAL: one ExceptionInfo a modified instance): of several
                // changes to one occurrence, the one of the highest SEQUENCE, the later in the file
                // on a tie, as RFC 5545 3.8.7.4 has revisions.
                std::map<std::uint32_t, std::size_t> latest;  // original day: index in `overrides`
                for (std::size_t k = 0; k < overrides.size(); ++k) {
                    std::vector<std::string> ignored;
                    icalproperty* ridProp = icalcomponent_get_first_property(overrides[k], ICAL_RECURRENCEID_PROPERTY);
                    const EventTime rid = ReadTime(ridProp, icalproperty_get_recurrenceid(ridProp), zones, ignored);
                    if (!rid.valid)
                        continue;
                    auto sequence = [](icalcomponent* o) {
                        icalproperty* seq = icalcomponent_get_first_property(o, ICAL_SEQUENCE_PROPERTY);
                        return seq ? icalproperty_get_sequence(seq) : 0;
                    };
                    auto [it, added] = latest.try_emplace(MidnightMinutes(originalLocal(rid)), k);
                    if (!added && sequence(overrides[k]) >= sequence(overrides[it->second]))
                        it->second = k;
                }
                std::vector<ExceptionInfo> infos;
                for (std::size_t k = 0; k < overrides.size(); ++k) {
                    icalcomponent* o = overrides[k];
                    std::vector<std::string> ow;
                    icalproperty* ridProp = icalcomponent_get_first_property(o, ICAL_RECURRENCEID_PROPERTY);
                    const EventTime rid = ReadTime(ridProp, icalproperty_get_recurrenceid(ridProp), zones, ow);
                    if (!rid.valid)
                        continue;
                    const struct icaltimetype origLocal = originalLocal(rid);
                    const std::uint32_t origDay = MidnightMinutes(origLocal);
                    deleted.insert(origDay);
                    if (latest.at(origDay) != k)
                        continue;  // an earlier revision of the same change
                    icalproperty* status = icalcomponent_get_first_property(o, ICAL_STATUS_PROPERTY);
                    if (status && icalproperty_get_status(status) == ICAL_STATUS_CANCELLED)
                        continue;
                    const EventFields of = ReadFields(o, zones, ow);
                    const struct icaltimetype newStart = WallIn(UnixOf(of.start), seriesZone, !seriesZone);
                    const struct icaltimetype newEnd = WallIn(of.endFt / 10000000LL - 11644473600LL, seriesZone, !seriesZone);
                    ExceptionInfo info;
                    info.startDateTime = LocalMinutes(newStart.year, newStart.month, newStart.day, newStart.hour, newStart.minute);
                    info.endDateTime = LocalMinutes(newEnd.year, newEnd.month, newEnd.day, newEnd.hour, newEnd.minute);
                    info.originalStartDate = origDay + startOffset;
                    if (of.subject != f.subject)
                        info.subject = of.subject;
                    if (of.location != f.location)
                        info.location = of.location;
                    infos.push_back(info);

                    AppointmentException ex;
                    Appointment instanceItem;
                    MapOwnFields(o, of, ctx, instanceItem);
                    ex.message = instanceItem.properties;
                    ex.message[PropertyKey{PropertySet::Tag, tag::MessageClass, {}, PropType::String}] = std::string(kExceptionClass);
                    const std::int64_t replaceFt = FileTimeOf(rid.date ? EventTime{origLocal, nullptr, false, true, true} : rid);
                    ex.message[PropertyKey{PropertySet::Appointment, lid::ExceptionReplaceTime, {}, PropType::Time}] = replaceFt;
                    const Bytes exGoid = EncodeGlobalObjectId(uid, InstanceDate{origLocal.year, origLocal.month, origLocal.day}, false);
                    ex.message[PropertyKey{PropertySet::Meeting, lid::GlobalObjectId, {}, PropType::Binary}] = exGoid;
                    ex.message[PropertyKey{PropertySet::Tag, tag::SearchKey, {}, PropType::Binary}] = ItemSearchKey(exGoid);
                    SetMeetingState(ex.message, people.role);
                    ex.message.erase(PropertyKey{PropertySet::Tag, tag::Sensitivity, {}, PropType::Int32});
                    ex.message.erase(PropertyKey{PropertySet::PublicStrings, 0, "Keywords", PropType::MultiString});
                    ex.message.erase(PropertyKey{PropertySet::Common, lid::Private, {}, PropType::Boolean});
                    ex.attachment[PropertyKey{PropertySet::Tag, tag::AttachMethod, {}, PropType::Int32}] = std::int64_t{5};
                    ex.attachment[PropertyKey{PropertySet::Tag, tag::AttachmentFlags, {}, PropType::Int32}] = std::int64_t{2};
                    ex.attachment[PropertyKey{PropertySet::Tag, tag::AttachmentHidden, {}, PropType::Boolean}] = true;
                    ex.attachment[PropertyKey{PropertySet::Tag, tag::RenderingPosition, {}, PropType::Int32}] = std::int64_t{0xFFFFFFFF};
                    // The original start as local clock time counted like a FILETIME, as Outlook
                    // writes it (dist-list.pst: 08:00 for an 8:00 Pacific occurrence), although
                    // MS-OXOCAL 2.2.10.1.6 calls it UTC; PidLidExceptionReplaceTime above is UTC.
                    ex.attachment[PropertyKey{PropertySet::Tag, tag::ExceptionReplaceTime, {}, PropType::Time}] =
                        static_cast<std::int64_t>(info.originalStartDate) * kMinute;
                    // The exception's own start and end as local wall time, counted from 1601 like FILETIME.
                    ex.attachment[PropertyKey{PropertySet::Tag, tag::ExceptionStartTime, {}, PropType::Time}] =
                        static_cast<std::int64_t>(info.startDateTime) * kMinute;
                    ex.attachment[PropertyKey{PropertySet::Tag, tag::ExceptionEndTime, {}, PropType::Time}] =
                        static_cast<std::int64_t>(info.endDateTime) * kMinute;
                    ex.attachment[PropertyKey{PropertySet::Tag, tag::DisplayName, {}, PropType::String}] = of.subject;
                    a.exceptions.push_back(std::move(ex));
                    for (std::string& w : ow)
                        a.warnings.push_back("a changed occurrence: " + w);
                }
                std::sort(infos.begin(), infos.end(),
                          [](const ExceptionInfo& x, const ExceptionInfo& y) { return x.startDateTime < y.startDateTime; });
                rec.deletedInstanceDates.assign(deleted.begin(), deleted.end());
                std::set<std::uint32_t> modified;
                for (const ExceptionInfo& info : infos)
                    modified.insert(info.startDateTime - info.startDateTime % 1440);
                rec.modifiedInstanceDates.assign(modified.begin(), modified.end());
                rec.exceptions = std::move(infos);

                a.Set(PropertySet::Appointment, lid::AppointmentRecur, PropType::Binary, EncodeAppointmentRecurrence(rec));
                const std::int64_t type = rec.frequency == RecurFrequency::Daily ? 1
                                          : rec.frequency == RecurFrequency::Weekly ? 2
                                          : rec.frequency == RecurFrequency::Monthly ? 3 : 4;
                a.Set(PropertySet::Appointment, lid::RecurrenceType, PropType::Int32, type);
                a.Set(PropertySet::Appointment, lid::RecurrencePattern, PropType::String,
                      PatternText(rec, rec.startTimeOffset, rec.endTimeOffset));
                // Clip: the series' first and last day, as local midnights in UTC.
                auto midnightFt = [&](const struct icaltimetype& d) {
                    EventTime t;
                    t.wall = icaltime_null_time();
                    t.wall.year = d.year;
                    t.wall.month = d.month;
                    t.wall.day = d.day;
                    t.zone = seriesZone;
                    t.utc = !seriesZone;
                    t.valid = true;
                    return seriesZone ? FileTimeOf(t) : FileTimeFromUnix(UnixOfUtcFields(t.wall));
                };
                a.Set(PropertySet::Appointment, lid::ClipStart, PropType::Time, midnightFt(first));
                // A series without end is clipped at 4500-08-31 23:59 local time (MS-OXOCAL
                // 2.2.1.15), in UTC by the series zone's rule as Outlook does it (dist-list.pst:
                // 4500-09-01 06:59Z for a Pacific series).
                const std::int64_t neverLocal = LocalMinutes(4500, 8, 31, 23, 59);
                const std::int64_t neverBias = seriesZone ? BiasAt(RuleOf(seriesZone->zone, year), 4500, 8, 31, 23, 59) : 0;
                a.Set(PropertySet::Appointment, lid::ClipEnd, PropType::Time,
                      endless ? (neverLocal + neverBias) * kMinute : midnightFt(last));
            }
        }
    }
    if (!recurring) {
        if (master && !overrides.empty() && !rruleProp) {
            // Changed occurrences of an event that does not repeat: each the file describes.
            WriteOccurrences(master, overrides, f, clock, uid, "it has changed occurrences but no rule", zones, ctx, a.warnings, emit);
            return;
        }
        a.exceptions.clear();
        FinishSingle(a, f, people, clock);
        emit(std::move(a));
        return;
    }
    a.Set(PropertySet::Appointment, lid::Recurring, PropType::Boolean, true);
    a.Set(PropertySet::Meeting, lid::IsRecurring, PropType::Boolean, true);
    // MS-OXOCAL 2.2.1.49: 0x400/0x401 single/recurring appointment, 0x402/0x403 the same as meetings.
    a.Set(PropertySet::Tag, tag::IconIndex, PropType::Int32, std::int64_t{0x401 + (people.role != MeetingRole::None ? 2 : 0)});
    SetZoneProperties(a, clock.startZone, clock.endZone, seriesZone, year, true, seriesLastYear);
    if (!offPatternFirst) {
        emit(std::move(a));
        return;
    }
    // The series starts at the pattern's first occurrence; DTSTART follows as its own appointment
    // unless an EXDATE or a changed occurrence takes it.
    const std::int64_t duration = f.endFt - f.startFt;
    EventFields series = f;
    series.startFt = clock.FileTime(WallOfMinutes(*offPatternFirst), f.allDay);
    series.endFt = series.startFt + duration;
    SetTimes(a, series);
    bool startTaken = false;
    for (icalproperty* ex = icalcomponent_get_first_property(master, ICAL_EXDATE_PROPERTY); ex;
         ex = icalcomponent_get_next_property(master, ICAL_EXDATE_PROPERTY)) {
        std::vector<std::string> ignored;
        const EventTime t = ReadTime(ex, icalproperty_get_exdate(ex), zones, ignored);
        if (t.valid && (t.date ? MidnightMinutes(t.wall) == MidnightMinutes(localStart)
                               : WallMinutes(clock.Local(t)) == WallMinutes(localStart)))
            startTaken = true;
    }
    for (icalcomponent* o : overrides) {
        std::vector<std::string> ignored;
        icalproperty* ridProp = icalcomponent_get_first_property(o, ICAL_RECURRENCEID_PROPERTY);
        const EventTime rid = ReadTime(ridProp, icalproperty_get_recurrenceid(ridProp), zones, ignored);
        if (rid.valid && MidnightMinutes(clock.Local(rid)) == MidnightMinutes(localStart))
            startTaken = true;
    }
    emit(std::move(a));
    if (startTaken)
        return;
    People startPeople;
    Appointment start = BaseAppointment(master, f, ctx, startPeople);
    SetIdentity(start, uid, InstanceDate{localStart.year, localStart.month, localStart.day});
    FinishSingle(start, f, startPeople, clock);
    start.warnings.push_back("its first occurrence is not on its repeat rule's pattern: it was written as an appointment of its own");
    emit(std::move(start));
}

}  // namespace cal
