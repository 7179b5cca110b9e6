#include "calendar/OutlookBlobs.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <utility>

namespace cal {

namespace {

constexpr std::uint32_t kMinutesPerDay = 1440;
constexpr std::uint32_t kMinutesPerWeek = 7 * kMinutesPerDay;

// Days since 0000-03-01 (proleptic Gregorian, March-based years so the leap day ends the year).
// Months outside 1..12 roll over into neighbouring years; FirstDateTime relies on that.
constexpr std::int64_t CivilDays(std::int64_t year, std::int64_t month, std::int64_t day)
{
    const std::int64_t m0 = month - 1;
    const std::int64_t carry = m0 >= 0 ? m0 / 12 : (m0 - 11) / 12;
    const std::int64_t m = m0 - carry * 12;  // 0 = January
    const std::int64_t y = year + carry - (m < 2 ? 1 : 0);
    const std::int64_t mp = (m + 10) % 12;  // 0 = March ... 11 = February
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t doy = (153 * mp + 2) / 5 + day - 1;
    return era * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy;
}

constexpr std::int64_t DaysSince1601(std::int64_t year, std::int64_t month, std::int64_t day)
{
    return CivilDays(year, month, day) - CivilDays(1601, 1, 1);
}

class Writer {
public:
    void U8(std::uint8_t v) { out_.push_back(v); }
    void U16(std::uint16_t v)
    {
        out_.push_back(static_cast<std::uint8_t>(v));
        out_.push_back(static_cast<std::uint8_t>(v >> 8));
    }
    void U32(std::uint32_t v)
    {
        U16(static_cast<std::uint16_t>(v));
        U16(static_cast<std::uint16_t>(v >> 16));
    }
    void I32(std::int32_t v) { U32(static_cast<std::uint32_t>(v)); }
    void Zeros(std::size_t n) { out_.insert(out_.end(), n, 0); }
    void Raw(const std::string& s) { out_.insert(out_.end(), s.begin(), s.end()); }
    void Utf16(const std::u16string& s)
    {
        for (char16_t c : s)
            U16(static_cast<std::uint16_t>(c));
    }
    void Time(const SystemTime& t)
    {
        for (std::uint16_t v : {t.year, t.month, t.dayOfWeek, t.day, t.hour, t.minute, t.second, t.milliseconds})
            U16(v);
    }
    Bytes Take() { return std::move(out_); }

private:
    Bytes out_;
};

// UTF-8 to code points; a malformed sequence becomes U+FFFD and decoding resumes at the next byte.
std::u32string DecodeUtf8(const std::string& s)
{
    std::u32string out;
    std::size_t i = 0;
    while (i < s.size()) {
        const auto b0 = static_cast<std::uint8_t>(s[i]);
        std::size_t len = 0;
        char32_t cp = 0;
        char32_t min = 0;
        if (b0 < 0x80) {
            out.push_back(b0);
            ++i;
            continue;
        } else if ((b0 & 0xE0) == 0xC0) {
            len = 2, cp = b0 & 0x1F, min = 0x80;
        } else if ((b0 & 0xF0) == 0xE0) {
            len = 3, cp = b0 & 0x0F, min = 0x800;
        } else if ((b0 & 0xF8) == 0xF0) {
            len = 4, cp = b0 & 0x07, min = 0x10000;
        }
        bool ok = len != 0 && i + len <= s.size();
        for (std::size_t k = 1; ok && k < len; ++k) {
            const auto b = static_cast<std::uint8_t>(s[i + k]);
            ok = (b & 0xC0) == 0x80;
            cp = (cp << 6) | (b & 0x3F);
        }
        if (ok && (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)))
            ok = false;
        if (!ok) {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        out.push_back(cp);
        i += len;
    }
    return out;
}

std::u16string ToUtf16(const std::u32string& text)
{
    std::u16string out;
    for (char32_t cp : text) {
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

// Code points of Windows-1252 bytes 0x80-0x9F; 0 where the code page leaves the byte undefined.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0,
};

char ToCp1252(char32_t cp)
{
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF))
        return static_cast<char>(cp);
    for (std::size_t i = 0; i < kCp1252High.size(); ++i)
        if (kCp1252High[i] != 0 && kCp1252High[i] == cp)
            return static_cast<char>(0x80 + i);
    return '?';
}

// The two copies ExceptionInfo and ExtendedException keep of a subject or location. Both lengths
// are 16-bit and the 8-bit one is stored plus one, so the text is cut to fit them.
struct ExceptionText {
    std::string ansi;
    std::u16string wide;
};

ExceptionText MakeExceptionText(const std::string& utf8)
{
    constexpr std::size_t kMaxUnits = 0xFFFE;
    ExceptionText t;
    for (char32_t cp : DecodeUtf8(utf8)) {
        const std::size_t units = cp >= 0x10000 ? 2 : 1;
        if (t.wide.size() + units > kMaxUnits || t.ansi.size() + 1 > kMaxUnits)
            break;
        t.ansi.push_back(ToCp1252(cp));
        t.wide += ToUtf16(std::u32string(1, cp));
    }
    return t;
}

// OverrideFlags bits (MS-OXOCAL 2.2.1.44.2).
enum : std::uint16_t {
    ARO_SUBJECT = 0x0001,
    ARO_MEETINGTYPE = 0x0002,
    ARO_REMINDERDELTA = 0x0004,
    ARO_REMINDER = 0x0008,
    ARO_LOCATION = 0x0010,
    ARO_BUSYSTATUS = 0x0020,
    ARO_ATTACHMENT = 0x0040,
    ARO_SUBTYPE = 0x0080,
    ARO_APPTCOLOR = 0x0100,
};

std::uint16_t OverrideFlags(const ExceptionInfo& e)
{
    std::uint16_t f = 0;
    if (e.subject) f |= ARO_SUBJECT;
    if (e.meetingType) f |= ARO_MEETINGTYPE;
    if (e.reminderDelta) f |= ARO_REMINDERDELTA;
    if (e.reminderSet) f |= ARO_REMINDER;
    if (e.location) f |= ARO_LOCATION;
    if (e.busyStatus) f |= ARO_BUSYSTATUS;
    if (e.attachment) f |= ARO_ATTACHMENT;
    if (e.subType) f |= ARO_SUBTYPE;
    if (e.appointmentColor) f |= ARO_APPTCOLOR;
    return f;
}

void WriteDates(Writer& w, const std::vector<std::uint32_t>& dates)
{
    w.U32(static_cast<std::uint32_t>(dates.size()));
    for (std::uint32_t d : dates)
        w.U32(d);
}

void WriteTimeZoneRuleBody(Writer& w, const TimeZoneRule& rule)
{
    w.I32(rule.bias);
    w.I32(rule.standardBias);
    w.I32(rule.daylightBias);
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

constexpr std::array<std::uint8_t, 16> kGlobalObjectIdPrefix = {
    0x04, 0x00, 0x00, 0x00, 0x82, 0x00, 0xE0, 0x00, 0x74, 0xC5, 0xB7, 0x10, 0x1A, 0x82, 0xE0, 0x08,
};

// An Outlook id written out in hex (MS-OXCICAL 2.1.3.1.1.20.26), decoded; nothing otherwise.
std::optional<Bytes> DecodeOutlookUid(const std::string& uid)
{
    if (uid.size() < 82 || uid.size() % 2 != 0)
        return std::nullopt;
    Bytes out;
    out.reserve(uid.size() / 2);
    for (std::size_t i = 0; i < uid.size(); i += 2) {
        const int hi = HexValue(uid[i]);
        const int lo = HexValue(uid[i + 1]);
        if (hi < 0 || lo < 0)
            return std::nullopt;
        out.push_back(static_cast<std::uint8_t>(hi << 4 | lo));
    }
    for (std::size_t i = 0; i < kGlobalObjectIdPrefix.size(); ++i)
        if (out[i] != kGlobalObjectIdPrefix[i])
            return std::nullopt;
    return out;
}

void SetInstanceDate(Bytes& id, std::optional<InstanceDate> instance)
{
    const InstanceDate d = instance.value_or(InstanceDate{});
    id[16] = static_cast<std::uint8_t>(d.year >> 8);
    id[17] = static_cast<std::uint8_t>(d.year);
    id[18] = static_cast<std::uint8_t>(d.month);
    id[19] = static_cast<std::uint8_t>(d.day);
}

}  // namespace

std::uint32_t LocalMinutes(int year, int month, int day, int hour, int minute)
{
    const std::int64_t minutes = DaysSince1601(year, month, day) * kMinutesPerDay + hour * 60 + minute;
    return static_cast<std::uint32_t>(minutes);
}

std::uint32_t FirstDateTime(const AppointmentRecurrence& r)
{
    // MS-OXOCAL 2.2.1.44.1.1
    switch (r.frequency) {
    case RecurFrequency::Daily:
        if (r.patternType == PatternType::Day)
            return r.period == 0 ? 0 : r.startDate % r.period;
        [[fallthrough]];  // "every weekday": a week pattern (Period 1) under a daily frequency
    case RecurFrequency::Weekly: {
        // 1601-01-01 was a Monday: day 0 has weekday 1.
        const std::uint32_t day = r.startDate / kMinutesPerDay;
        const std::uint32_t weekday = (day + 1) % 7;
        const std::uint32_t back = (weekday + 7 - r.firstDOW % 7) % 7;
        const std::uint32_t weekStart = (day >= back ? day - back : 0) * kMinutesPerDay;
        return r.period == 0 ? weekStart : weekStart % (r.period * kMinutesPerWeek);
    }
    case RecurFrequency::Monthly:
    case RecurFrequency::Yearly: {
        if (r.period == 0)
            return 0;
        // Months from January 1601 to the start's month, reduced modulo the period, then turned
        // back into minutes from 1601-01-01.
        const std::int64_t day = r.startDate / kMinutesPerDay;
        std::int64_t year = 1601 + day / 366;  // at or before the start's year
        while (DaysSince1601(year + 1, 1, 1) <= day)
            ++year;
        std::int64_t month = 1;
        while (month < 12 && DaysSince1601(year, month + 1, 1) <= day)
            ++month;
        const std::int64_t months = ((year - 1601) * 12 + month - 1) % r.period;
        return static_cast<std::uint32_t>(DaysSince1601(1601, 1 + months, 1) * kMinutesPerDay);
    }
    }
    return 0;
}

Bytes EncodeAppointmentRecurrence(const AppointmentRecurrence& r)
{
    Writer w;
    // RecurrencePattern, MS-OXOCAL 2.2.1.44.1
    w.U16(0x3004);  // ReaderVersion
    w.U16(0x3004);  // WriterVersion
    w.U16(static_cast<std::uint16_t>(r.frequency));
    w.U16(static_cast<std::uint16_t>(r.patternType));
    w.U16(0);  // CalendarType: Gregorian
    w.U32(FirstDateTime(r));
    w.U32(r.period);
    w.U32(0);  // SlidingFlag: tasks only
    switch (r.patternType) {
    case PatternType::Day:
        break;
    case PatternType::Week:
        w.U32(r.dayMask);
        break;
    case PatternType::Month:
    case PatternType::MonthEnd:
        w.U32(r.dayOfMonth);
        break;
    case PatternType::MonthNth:
        w.U32(r.dayMask);
        w.U32(r.nthWeek);
        break;
    }
    w.U32(static_cast<std::uint32_t>(r.endType));
    w.U32(r.occurrenceCount);
    w.U32(r.firstDOW);
    WriteDates(w, r.deletedInstanceDates);
    WriteDates(w, r.modifiedInstanceDates);
    w.U32(r.startDate);
    w.U32(r.endDate);

    // AppointmentRecurrencePattern, MS-OXOCAL 2.2.1.44.5
    w.U32(0x3006);  // ReaderVersion2
    w.U32(0x3009);  // WriterVersion2: ExtendedException carries ChangeHighlight
    w.U32(r.startTimeOffset);
    w.U32(r.endTimeOffset);
    w.U16(static_cast<std::uint16_t>(r.exceptions.size()));

    struct Texts {
        std::optional<ExceptionText> subject, location;
    };
    std::vector<Texts> texts;
    texts.reserve(r.exceptions.size());
    for (const ExceptionInfo& e : r.exceptions) {
        Texts& t = texts.emplace_back();
        if (e.subject) t.subject = MakeExceptionText(*e.subject);
        if (e.location) t.location = MakeExceptionText(*e.location);
    }

    // ExceptionInfo, MS-OXOCAL 2.2.1.44.2
    for (std::size_t i = 0; i < r.exceptions.size(); ++i) {
        const ExceptionInfo& e = r.exceptions[i];
        const Texts& t = texts[i];
        w.U32(e.startDateTime);
        w.U32(e.endDateTime);
        w.U32(e.originalStartDate);
        w.U16(OverrideFlags(e));
        if (t.subject) {
            w.U16(static_cast<std::uint16_t>(t.subject->ansi.size() + 1));
            w.U16(static_cast<std::uint16_t>(t.subject->ansi.size()));
            w.Raw(t.subject->ansi);
        }
        if (e.meetingType) w.U32(*e.meetingType);
        if (e.reminderDelta) w.U32(*e.reminderDelta);
        if (e.reminderSet) w.U32(*e.reminderSet ? 1 : 0);
        if (t.location) {
            w.U16(static_cast<std::uint16_t>(t.location->ansi.size() + 1));
            w.U16(static_cast<std::uint16_t>(t.location->ansi.size()));
            w.Raw(t.location->ansi);
        }
        if (e.busyStatus) w.U32(*e.busyStatus);
        if (e.attachment) w.U32(*e.attachment ? 1 : 0);
        if (e.subType) w.U32(*e.subType ? 1 : 0);
        if (e.appointmentColor) w.U32(*e.appointmentColor);
    }
    w.U32(0);  // ReservedBlock1Size

    // ExtendedException, MS-OXOCAL 2.2.1.44.4
    for (std::size_t i = 0; i < r.exceptions.size(); ++i) {
        const ExceptionInfo& e = r.exceptions[i];
        const Texts& t = texts[i];
        w.U32(4);  // ChangeHighlightSize
        w.U32(0);  // ChangeHighlightValue
        w.U32(0);  // ReservedBlockEE1Size
        if (!t.subject && !t.location)
            continue;
        w.U32(e.startDateTime);
        w.U32(e.endDateTime);
        w.U32(e.originalStartDate);
        if (t.subject) {
            w.U16(static_cast<std::uint16_t>(t.subject->wide.size()));
            w.Utf16(t.subject->wide);
        }
        if (t.location) {
            w.U16(static_cast<std::uint16_t>(t.location->wide.size()));
            w.Utf16(t.location->wide);
        }
        w.U32(0);  // ReservedBlockEE2Size
    }
    w.U32(0);  // ReservedBlock2Size
    return w.Take();
}

namespace {

// Local minutes since 1601 of a switch date in `year`: a SYSTEMTIME with wYear 0 names the wDay-th
// (5: last) wDayOfWeek of its month; with a year, it is a plain date.
std::int64_t SwitchMinutes(const SystemTime& t, int year)
{
    std::int64_t day = 0;
    if (t.year != 0) {
        day = DaysSince1601(year, t.month, t.day);
    } else {
        const std::int64_t first = DaysSince1601(year, t.month, 1);
        const std::int64_t length = DaysSince1601(year, t.month + 1, 1) - first;
        const std::int64_t weekday = (first + 1) % 7;  // 1601-01-01 was a Monday; 0 = Sunday
        std::int64_t offset = (t.dayOfWeek - weekday + 7) % 7 + 7 * (std::max<int>(t.day, 1) - 1);
        while (offset >= length)
            offset -= 7;
        day = first + offset;
    }
    return day * kMinutesPerDay + t.hour * 60 + t.minute;
}

}  // namespace

std::int32_t BiasAt(const TimeZoneRule& rule, int year, int month, int day, int hour, int minute)
{
    if (rule.standardDate.month == 0 || rule.daylightDate.month == 0)
        return rule.bias + rule.standardBias;
    const std::int64_t t = DaysSince1601(year, month, day) * kMinutesPerDay + hour * 60 + minute;
    const std::int64_t toDaylight = SwitchMinutes(rule.daylightDate, year);
    const std::int64_t toStandard = SwitchMinutes(rule.standardDate, year);
    const bool daylight = toDaylight < toStandard ? (t >= toDaylight && t < toStandard)   // northern
                                                  : (t >= toDaylight || t < toStandard);  // southern
    return rule.bias + (daylight ? rule.daylightBias : rule.standardBias);
}

Bytes EncodeTimeZoneStruct(const TimeZoneRule& rule)
{
    // MS-OXOCAL 2.2.1.39: the years repeat the SYSTEMTIMEs' own wYear.
    Writer w;
    WriteTimeZoneRuleBody(w, rule);
    w.U16(rule.standardDate.year);
    w.Time(rule.standardDate);
    w.U16(rule.daylightDate.year);
    w.Time(rule.daylightDate);
    return w.Take();
}

Bytes EncodeTimeZoneDefinition(const std::string& keyName, const std::vector<TimeZoneRule>& rules,
                               std::size_t effective, bool recur)
{
    // MS-OXOCAL 2.2.1.41
    constexpr std::uint16_t TZRULE_FLAG_RECUR_CURRENT_TZREG = 0x0001;
    constexpr std::uint16_t TZRULE_FLAG_EFFECTIVE_TZREG = 0x0002;
    constexpr std::uint16_t TZDEFINITION_FLAG_VALID_KEYNAME = 0x0002;

    std::u16string key = ToUtf16(DecodeUtf8(keyName));
    // cchKeyName is 16-bit; a Windows zone id is far shorter than that.
    if (key.size() > 0xFFFF - 6)
        key.resize(0xFFFF - 6);

    Writer w;
    w.U8(0x02);  // bMajorVersion
    w.U8(0x01);  // bMinorVersion
    w.U16(static_cast<std::uint16_t>(6 + 2 * key.size()));  // cbHeader: wFlags .. cRules
    w.U16(TZDEFINITION_FLAG_VALID_KEYNAME);
    w.U16(static_cast<std::uint16_t>(key.size()));
    w.Utf16(key);
    w.U16(static_cast<std::uint16_t>(rules.size()));
    for (std::size_t i = 0; i < rules.size(); ++i) {
        const TimeZoneRule& rule = rules[i];
        std::uint16_t flags = 0;
        if (i == effective)
            flags = TZRULE_FLAG_EFFECTIVE_TZREG | (recur ? TZRULE_FLAG_RECUR_CURRENT_TZREG : 0);
        // TZRule, MS-OXOCAL 2.2.1.41.1
        w.U8(0x02);    // bMajorVersion
        w.U8(0x01);    // bMinorVersion
        w.U16(0x003E);  // Reserved
        w.U16(flags);
        w.U16(rule.year);  // stStart: only wYear is used
        w.Zeros(14);
        WriteTimeZoneRuleBody(w, rule);
        w.Time(rule.standardDate);
        w.Time(rule.daylightDate);
    }
    return w.Take();
}

Bytes EncodeGlobalObjectId(const std::string& uid, std::optional<InstanceDate> instance, bool clean)
{
    if (clean)
        instance.reset();

    if (std::optional<Bytes> decoded = DecodeOutlookUid(uid)) {
        // An id Outlook exported keeps its own bytes; only the instance date is ours to set.
        if (clean || instance)
            SetInstanceDate(*decoded, instance);
        return *decoded;
    }

    // MS-OXCICAL 2.1.3.1.1.20.26: a third-party UID wrapped after the "vCal-Uid" marker. The UID
    // ends in a NUL that Size counts, as in the worked example of MS-ASEMAIL 4.3 (Size 0x33 for a
    // 38-byte UID).
    static const std::string kMarker = "vCal-Uid";
    Writer w;
    for (std::uint8_t b : kGlobalObjectIdPrefix)
        w.U8(b);
    w.Zeros(4);   // YH YL M D, set below
    w.Zeros(8);   // Creation Time
    w.Zeros(8);   // X
    w.U32(static_cast<std::uint32_t>(uid.size() + 13));
    w.Raw(kMarker);
    w.U32(1);
    w.Raw(uid);
    w.U8(0);
    Bytes id = w.Take();
    SetInstanceDate(id, instance);
    return id;
}

Bytes ItemSearchKey(const Bytes& globalObjectId)
{
    constexpr std::size_t kHeader = 40;
    if (globalObjectId.size() == kHeader + 16 && globalObjectId[36] == 16 && globalObjectId[37] == 0
        && globalObjectId[38] == 0 && globalObjectId[39] == 0)
        return Bytes(globalObjectId.begin() + kHeader, globalObjectId.end());
    // Two 64-bit FNV-1a sums with different starting points, each finished with a bit mixer.
    auto mix = [](std::uint64_t x) {
        x ^= x >> 30;
        x *= 0xBF58476D1CE4E5B9ULL;
        x ^= x >> 27;
        x *= 0x94D049BB133111EBULL;
        return x ^ (x >> 31);
    };
    std::uint64_t a = 0xCBF29CE484222325ULL, b = 0x84222325CBF29CE4ULL;
    for (std::uint8_t c : globalObjectId) {
        a = (a ^ c) * 0x100000001B3ULL;
        b = (b ^ static_cast<std::uint8_t>(c + 0x5A)) * 0x100000001B3ULL;
    }
    Writer w;
    const std::uint64_t halves[] = {mix(a), mix(b ^ a)};
    for (std::uint64_t h : halves) {
        w.U32(static_cast<std::uint32_t>(h));
        w.U32(static_cast<std::uint32_t>(h >> 32));
    }
    return w.Take();
}

Bytes EncodeOneOffEntryId(const std::string& displayName, const std::string& addressType, const std::string& address)
{
    constexpr std::uint8_t kOneOffUid[16] = {0x81, 0x2B, 0x1F, 0xA4, 0xBE, 0xA3, 0x10, 0x19,
                                             0x9D, 0x6E, 0x00, 0xDD, 0x01, 0x0F, 0x54, 0x02};
    constexpr std::uint16_t MAPI_ONE_OFF_NO_RICH_INFO = 0x0001;
    constexpr std::uint16_t MAPI_ONE_OFF_UNICODE = 0x8000;
    Writer w;
    w.U32(0);  // Flags: a long-term id
    for (std::uint8_t b : kOneOffUid)
        w.U8(b);
    w.U16(0);  // Version
    w.U16(MAPI_ONE_OFF_UNICODE | MAPI_ONE_OFF_NO_RICH_INFO);
    for (const std::string* s : {&displayName, &addressType, &address}) {
        w.Utf16(ToUtf16(DecodeUtf8(*s)));
        w.U16(0);
    }
    return w.Take();
}

Bytes AddressSearchKey(const std::string& addressType, const std::string& address)
{
    Bytes key;
    for (char32_t cp : DecodeUtf8(addressType + ":" + address)) {
        char c = ToCp1252(cp);
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
        key.push_back(static_cast<std::uint8_t>(c));
    }
    key.push_back(0);
    return key;
}

}  // namespace cal
