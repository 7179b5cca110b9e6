// The appointment's binary properties: recurrence blob, time zone structures, global object id,
// addresses and keys.
// Where Microsoft or our mapping guide prints a dump, the encoder must reproduce it byte for byte.
#include "calendar/OutlookBlobs.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>

using namespace cal;

namespace {

// "04 30 0B20 ..." -> bytes; blanks are ignored.
Bytes Hex(const std::string& text)
{
    Bytes out;
    int high = -1;
    for (char c : text) {
        if (std::isspace(static_cast<unsigned char>(c)))
            continue;
        const int v = std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : std::toupper(c) - 'A' + 10;
        if (high < 0) {
            high = v;
        } else {
            out.push_back(static_cast<std::uint8_t>(high << 4 | v));
            high = -1;
        }
    }
    EXPECT_EQ(high, -1) << "odd number of hex digits";
    return out;
}

Bytes Utf16Le(const std::u16string& s)
{
    Bytes out;
    for (char16_t c : s) {
        out.push_back(static_cast<std::uint8_t>(c));
        out.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    return out;
}

Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes Ascii(const std::string& s) { return Bytes(s.begin(), s.end()); }

std::uint16_t Get16(const Bytes& b, std::size_t off)
{
    return static_cast<std::uint16_t>(b.at(off) | b.at(off + 1) << 8);
}

std::uint32_t Get32(const Bytes& b, std::size_t off)
{
    return static_cast<std::uint32_t>(Get16(b, off)) | static_cast<std::uint32_t>(Get16(b, off + 2)) << 16;
}

// Guide c.9: FREQ=WEEKLY;COUNT=10;BYDAY=MO,TH from 2024-01-08 10:00-10:30, W. Europe Standard Time.
AppointmentRecurrence BerlinWeekly()
{
    AppointmentRecurrence r;
    r.frequency = RecurFrequency::Weekly;
    r.patternType = PatternType::Week;
    r.period = 1;
    r.dayMask = Mo | Th;
    r.endType = EndType::AfterN;
    r.occurrenceCount = 10;
    r.firstDOW = 0;
    r.startDate = LocalMinutes(2024, 1, 8);
    r.endDate = LocalMinutes(2024, 2, 8);
    r.startTimeOffset = 600;
    r.endTimeOffset = 630;
    return r;
}

TimeZoneRule Berlin()
{
    TimeZoneRule rule;
    rule.bias = -60;
    rule.standardBias = 0;
    rule.daylightBias = -60;
    rule.standardDate = SystemTime{0, 10, 0, 5, 3, 0, 0, 0};  // last Sunday of October, 03:00
    rule.daylightDate = SystemTime{0, 3, 0, 5, 2, 0, 0, 0};   // last Sunday of March, 02:00
    return rule;
}

const Bytes kBerlinStandardDate = Hex("0000 0A00 0000 0500 0300 0000 0000 0000");
const Bytes kBerlinDaylightDate = Hex("0000 0300 0000 0500 0200 0000 0000 0000");

// Offsets inside a blob whose pattern carries `extra` bytes after SlidingFlag (day mask, day, N).
struct Layout {
    std::size_t extra = 0;
    std::size_t EndType() const { return 22 + extra; }
    std::size_t OccurrenceCount() const { return EndType() + 4; }
    std::size_t FirstDow() const { return EndType() + 8; }
    std::size_t DeletedCount() const { return EndType() + 12; }
};

}  // namespace

TEST(LocalMinutes, CountsFromJanuaryFirst1601WithGregorianLeapYears)
{
    EXPECT_EQ(LocalMinutes(1601, 1, 1), 0u);
    EXPECT_EQ(LocalMinutes(1601, 1, 2), 1440u);
    EXPECT_EQ(LocalMinutes(1602, 1, 1), 365u * 1440);
    EXPECT_EQ(LocalMinutes(2011, 4, 7), 215'776'800u);  // MS-OXOCAL 4.1.1.3
    EXPECT_EQ(LocalMinutes(2024, 1, 8), 0x0D42DD00u);
    EXPECT_EQ(LocalMinutes(2024, 1, 25, 14, 0), 0x0D433FE8u);
    EXPECT_EQ(LocalMinutes(2007, 4, 16, 11, 30), 0x0CBC9952u);

    // 1700 and 1900 skip the leap day, 1604, 2000 and 2024 have it.
    for (int year : {1604, 2000, 2024})
        EXPECT_EQ(LocalMinutes(year, 3, 1) - LocalMinutes(year, 2, 28), 2u * 1440) << year;
    for (int year : {1601, 1700, 1900, 2023})
        EXPECT_EQ(LocalMinutes(year, 3, 1) - LocalMinutes(year, 2, 28), 1440u) << year;
    EXPECT_EQ(LocalMinutes(2001, 1, 1) - LocalMinutes(1601, 1, 1), 146097u * 1440);
}

TEST(FirstDateTime, FollowsThePatternsUnitOfRepetition)
{
    AppointmentRecurrence daily;
    daily.frequency = RecurFrequency::Daily;
    daily.patternType = PatternType::Day;
    daily.period = 3 * 1440;
    daily.startDate = LocalMinutes(2011, 4, 7);
    EXPECT_EQ(FirstDateTime(daily), 1440u);  // MS-OXOCAL 4.1.1.3
    daily.period = 1440;
    EXPECT_EQ(FirstDateTime(daily), 0u);

    // 1601-01-01 was a Monday: a Sunday week of period 1 starts 6 days in, a Monday week at 0.
    AppointmentRecurrence weekly = BerlinWeekly();
    EXPECT_EQ(FirstDateTime(weekly), 0x21C0u);
    weekly.firstDOW = 1;
    EXPECT_EQ(FirstDateTime(weekly), 0u);
    // Every second week: the Sunday 2024-01-07 is an odd number of weeks after the Sunday
    // 1601-01-07, so the week start lands in the second week of the two-week cycle.
    weekly.firstDOW = 0;
    weekly.period = 2;
    EXPECT_EQ(FirstDateTime(weekly), 0x21C0u + 10080);
    weekly.startDate = LocalMinutes(2024, 1, 15);  // one week later: back to the first week
    EXPECT_EQ(FirstDateTime(weekly), 0x21C0u);
    // A Sunday start in a Monday week belongs to the week that began six days earlier.
    weekly.period = 1;
    weekly.firstDOW = 1;
    weekly.startDate = LocalMinutes(2024, 1, 14);
    EXPECT_EQ(FirstDateTime(weekly), 0u);

    AppointmentRecurrence monthly;
    monthly.frequency = RecurFrequency::Monthly;
    monthly.patternType = PatternType::Month;
    monthly.period = 1;
    monthly.startDate = LocalMinutes(2024, 2, 10);
    EXPECT_EQ(FirstDateTime(monthly), 0u);
    monthly.period = 3;  // 2024-02 is month 5077 after January 1601; 5077 % 3 = 1 month
    EXPECT_EQ(FirstDateTime(monthly), 31u * 1440);

    AppointmentRecurrence yearly;
    yearly.frequency = RecurFrequency::Yearly;
    yearly.patternType = PatternType::Month;
    yearly.period = 12;
    yearly.startDate = LocalMinutes(2024, 3, 10);  // month 5078: 2 months, January + February 1601
    EXPECT_EQ(FirstDateTime(yearly), 59u * 1440);
    yearly.period = 24;  // 5078 % 24 = 14 months: all of 1601 plus January and February 1602
    EXPECT_EQ(FirstDateTime(yearly), (365u + 59) * 1440);
}

// Guide c.9, byte for byte.
TEST(RecurrenceBlob, BerlinWeeklyExample)
{
    const Bytes expected = Hex(
        "0430 0430 0B20 0100 0000 C0210000 01000000 00000000"
        "12000000 22200000 0A000000 00000000"
        "00000000 00000000 00DD420D 608B430D"
        "06300000 09300000 58020000 76020000"
        "0000 00000000 00000000");
    const Bytes blob = EncodeAppointmentRecurrence(BerlinWeekly());
    ASSERT_EQ(blob.size(), 80u);
    EXPECT_EQ(blob, expected);

    AppointmentRecurrence monday = BerlinWeekly();
    monday.firstDOW = 1;
    const Bytes mondayBlob = EncodeAppointmentRecurrence(monday);
    EXPECT_EQ(Get32(mondayBlob, 10), 0u);
    EXPECT_EQ(Get32(mondayBlob, Layout{4}.FirstDow()), 1u);
}

TEST(RecurrenceBlob, BerlinWeeklyWithDeletedAndMovedInstance)
{
    AppointmentRecurrence r = BerlinWeekly();
    r.deletedInstanceDates = {LocalMinutes(2024, 1, 18), LocalMinutes(2024, 1, 25)};
    r.modifiedInstanceDates = {LocalMinutes(2024, 1, 25)};
    ExceptionInfo moved;
    moved.startDateTime = LocalMinutes(2024, 1, 25, 14, 0);
    moved.endDateTime = LocalMinutes(2024, 1, 25, 14, 30);
    moved.originalStartDate = LocalMinutes(2024, 1, 25, 10, 0);
    moved.subject = "Team sync (moved)";
    moved.location = "Room 2";
    r.exceptions = {moved};

    const Bytes times = Hex("E83F430D 0640430D F83E430D");
    const Bytes expected = Cat({
        Hex("0430 0430 0B20 0100 0000 C0210000 01000000 00000000"
            "12000000 22200000 0A000000 00000000"
            "02000000 4015430D A03C430D 01000000 A03C430D 00DD420D 608B430D"
            "06300000 09300000 58020000 76020000 0100"),
        times, Hex("1100"),
        Hex("1200 1100"), Ascii("Team sync (moved)"),
        Hex("0700 0600"), Ascii("Room 2"),
        Hex("00000000"),                    // ReservedBlock1Size
        Hex("04000000 00000000 00000000"),  // change highlight, ReservedBlockEE1Size
        times,
        Hex("1100"), Utf16Le(u"Team sync (moved)"),
        Hex("0600"), Utf16Le(u"Room 2"),
        Hex("00000000"),   // ReservedBlockEE2Size
        Hex("00000000"),   // ReservedBlock2Size
    });
    const Bytes blob = EncodeAppointmentRecurrence(r);
    ASSERT_EQ(blob.size(), 215u);
    EXPECT_EQ(blob, expected);
}

// MS-OXOCAL 4.1.1.2: the 4.1.1.1 meeting (Mon/Thu/Fri 10:00-10:30 from 2007-03-26, 12 instances)
// with the 2007-04-16 instance moved to 11:00 under a new subject and location.
TEST(RecurrenceBlob, OxocalWeeklyWithOneMovedInstance)
{
    AppointmentRecurrence r;
    r.frequency = RecurFrequency::Weekly;
    r.patternType = PatternType::Week;
    r.period = 1;
    r.dayMask = Mo | Th | Fr;
    r.endType = EndType::AfterN;
    r.occurrenceCount = 12;
    r.deletedInstanceDates = {LocalMinutes(2007, 4, 16)};
    r.modifiedInstanceDates = {LocalMinutes(2007, 4, 16)};
    r.startDate = LocalMinutes(2007, 3, 26);
    r.endDate = LocalMinutes(2007, 4, 20);
    r.startTimeOffset = 600;
    r.endTimeOffset = 630;
    ExceptionInfo e;
    e.startDateTime = LocalMinutes(2007, 4, 16, 11, 0);
    e.endDateTime = LocalMinutes(2007, 4, 16, 11, 30);
    e.originalStartDate = LocalMinutes(2007, 4, 16, 10, 0);
    e.subject = "Simple Recurrence with exceptions";
    e.location = "34/4141";
    r.exceptions = {e};

    const Bytes expected = Hex(
        "043004300B2001000000C0210000010000000000000032000000222000000C0000000000000001000000A096BC0C"
        "01000000A096BC0C8020BC0C20ADBC0C0630000009300000580200007602000001003499BC0C5299BC0CF898BC0C"
        "11002200210053696D706C6520526563757272656E6365207769746820657863657074696F6E7308000700333"
        "42F34313431000000000400000000000000000000003499BC0C5299BC0CF898BC0C2100530069006D0070006C"
        "006500200052006500630075007200720065006E006300650020007700690074006800200065007800630065"
        "007000740069006F006E0073000700330034002F0034003100340031000000000000000000");
    const Bytes blob = EncodeAppointmentRecurrence(r);
    ASSERT_EQ(blob.size(), 0x106u);
    EXPECT_EQ(blob, expected);
}

// MS-OXOCAL 4.1.1.3: every three days 2011-04-07 .. 05-04, 08:00-08:30, 04-19 and 04-22 deleted.
TEST(RecurrenceBlob, OxocalDailyWithTwoDeletedInstances)
{
    AppointmentRecurrence r;
    r.frequency = RecurFrequency::Daily;
    r.patternType = PatternType::Day;
    r.period = 3 * 1440;
    r.endType = EndType::AfterDate;
    r.occurrenceCount = 10;
    r.deletedInstanceDates = {LocalMinutes(2011, 4, 19), LocalMinutes(2011, 4, 22)};
    r.startDate = LocalMinutes(2011, 4, 7);
    r.endDate = LocalMinutes(2011, 5, 4);
    r.startTimeOffset = 480;
    r.endTimeOffset = 510;

    const Bytes expected = Hex(
        "043004300A2000000000A0050000E010000000000000212000000A0000000000000002000000A0C1DC0C80D2DC0C"
        "00000000207EDC0C0016DD0C0630000009300000E0010000FE01000000000000000000000000");
    const Bytes blob = EncodeAppointmentRecurrence(r);
    ASSERT_EQ(blob.size(), 0x54u);
    EXPECT_EQ(blob, expected);
}

// Every frequency and pattern type: the pattern's own fields after SlidingFlag have the right
// size and content, and everything after them shifts accordingly.
TEST(RecurrenceBlob, PatternFieldsPerPatternType)
{
    struct Case {
        const char* name;
        RecurFrequency frequency;
        PatternType type;
        std::uint32_t period;
        std::uint32_t dayMask, dayOfMonth, nth;
        Bytes extra;
    };
    const Case cases[] = {
        {"daily", RecurFrequency::Daily, PatternType::Day, 2 * 1440, 0, 0, 0, {}},
        {"every weekday", RecurFrequency::Daily, PatternType::Week, 1, 0x3E, 0, 0, Hex("3E000000")},
        {"weekly", RecurFrequency::Weekly, PatternType::Week, 2, Su | Sa, 0, 0, Hex("41000000")},
        {"monthly day", RecurFrequency::Monthly, PatternType::Month, 1, 0, 15, 0, Hex("0F000000")},
        {"month end", RecurFrequency::Monthly, PatternType::MonthEnd, 1, 0, 31, 0, Hex("1F000000")},
        {"monthly nth", RecurFrequency::Monthly, PatternType::MonthNth, 2, Tu, 0, 2, Hex("04000000 02000000")},
        {"monthly last", RecurFrequency::Monthly, PatternType::MonthNth, 1, Fr, 0, 5, Hex("20000000 05000000")},
        {"yearly", RecurFrequency::Yearly, PatternType::Month, 12, 0, 29, 0, Hex("1D000000")},
        {"yearly nth", RecurFrequency::Yearly, PatternType::MonthNth, 24, Mo | We | Fr, 0, 1, Hex("2A000000 01000000")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AppointmentRecurrence r;
        r.frequency = c.frequency;
        r.patternType = c.type;
        r.period = c.period;
        r.dayMask = c.dayMask;
        r.dayOfMonth = c.dayOfMonth;
        r.nthWeek = c.nth;
        r.endType = EndType::AfterN;
        r.occurrenceCount = 7;
        r.firstDOW = 1;
        r.deletedInstanceDates = {LocalMinutes(2024, 6, 1)};
        r.startDate = LocalMinutes(2024, 3, 15);
        r.endDate = LocalMinutes(2025, 3, 15);
        r.startTimeOffset = 9 * 60;
        r.endTimeOffset = 10 * 60;

        const Bytes blob = EncodeAppointmentRecurrence(r);
        const Layout at{c.extra.size()};
        ASSERT_EQ(blob.size(), 76u + c.extra.size() + 4);
        EXPECT_EQ(Get16(blob, 4), static_cast<std::uint16_t>(c.frequency));
        EXPECT_EQ(Get16(blob, 6), static_cast<std::uint16_t>(c.type));
        EXPECT_EQ(Get32(blob, 10), FirstDateTime(r));
        EXPECT_EQ(Get32(blob, 14), c.period);
        EXPECT_EQ(Bytes(blob.begin() + 22, blob.begin() + 22 + c.extra.size()), c.extra);
        EXPECT_EQ(Get32(blob, at.EndType()), 0x2022u);
        EXPECT_EQ(Get32(blob, at.OccurrenceCount()), 7u);
        EXPECT_EQ(Get32(blob, at.FirstDow()), 1u);
        EXPECT_EQ(Get32(blob, at.DeletedCount()), 1u);
        EXPECT_EQ(Get32(blob, at.DeletedCount() + 4), LocalMinutes(2024, 6, 1));
        EXPECT_EQ(Get32(blob, at.DeletedCount() + 8), 0u);  // no modified instances
        EXPECT_EQ(Get32(blob, at.DeletedCount() + 12), LocalMinutes(2024, 3, 15));
        EXPECT_EQ(Get32(blob, at.DeletedCount() + 20), 0x3006u);
        EXPECT_EQ(Get32(blob, at.DeletedCount() + 28), 540u);
    }
}

TEST(RecurrenceBlob, NeverEndingSeries)
{
    AppointmentRecurrence r;
    r.frequency = RecurFrequency::Monthly;
    r.patternType = PatternType::Month;
    r.period = 1;
    r.dayOfMonth = 31;
    r.endType = EndType::Never;
    r.startDate = LocalMinutes(2024, 1, 31);
    r.endDate = kNeverEndDate;

    const Bytes blob = EncodeAppointmentRecurrence(r);
    const Layout at{4};
    EXPECT_EQ(Get32(blob, at.EndType()), 0x2023u);
    EXPECT_EQ(Get32(blob, at.OccurrenceCount()), 10u);
    // No deleted or modified dates: StartDate 2024-01-31 and EndDate follow the two counts.
    EXPECT_EQ(Bytes(blob.begin() + at.DeletedCount() + 8, blob.begin() + at.DeletedCount() + 16),
              Hex("605E430D DF80E95A"));
}

// Outlook keeps an exception's subject and location twice: in Windows-1252 (unmappable
// characters as '?') and in UTF-16. Both lengths count characters of their own encoding.
TEST(RecurrenceBlob, ExceptionTextInBothEncodings)
{
    AppointmentRecurrence r = BerlinWeekly();
    r.deletedInstanceDates = {LocalMinutes(2024, 1, 11)};
    r.modifiedInstanceDates = {LocalMinutes(2024, 1, 11)};
    ExceptionInfo e;
    e.startDateTime = LocalMinutes(2024, 1, 11, 11, 0);
    e.endDateTime = LocalMinutes(2024, 1, 11, 11, 30);
    e.originalStartDate = LocalMinutes(2024, 1, 11, 10, 0);
    e.subject = "Caf\xC3\xA9 \xE2\x80\x93 \xE2\x82\xAC" "5 \xE6\x97\xA5 \xF0\x9F\x8E\x89";  // Café – €5 日 🎉
    e.location = "Z\xC3\xBCrich \xFF";  // Zürich + a stray byte that is not UTF-8
    r.exceptions = {e};

    const Bytes times = Hex("74F0420D 92F0420D 38F0420D");
    const Bytes tail = Cat({
        Hex("0100"), times, Hex("1100"),
        Hex("0E00 0D00 43 61 66 E9 20 96 20 80 35 20 3F 20 3F"),  // 日 and 🎉 become '?'
        Hex("0900 0800 5A FC 72 69 63 68 20 3F"),
        Hex("00000000 04000000 00000000 00000000"), times,
        Hex("0E00"), Utf16Le(u"Caf\u00E9 \u2013 \u20AC5 \u65E5 \U0001F389"),  // the pair counts twice
        Hex("0800"), Utf16Le(u"Z\u00FCrich \uFFFD"),
        Hex("00000000 00000000"),
    });
    const Bytes blob = EncodeAppointmentRecurrence(r);
    const std::size_t tailStart = 70 + 8;  // fixed fields plus one deleted and one modified date
    ASSERT_EQ(blob.size(), tailStart + tail.size());
    EXPECT_EQ(Bytes(blob.begin() + tailStart, blob.end()), tail);
}

// Fields follow OverrideFlags in a fixed order; without a new subject or location the
// ExtendedException stops after its first reserved block.
TEST(RecurrenceBlob, OverriddenFieldsInFlagOrder)
{
    AppointmentRecurrence r;
    r.frequency = RecurFrequency::Daily;
    r.patternType = PatternType::Day;
    r.period = 1440;
    r.endType = EndType::AfterN;
    r.startDate = LocalMinutes(2024, 5, 1);
    r.endDate = LocalMinutes(2024, 5, 10);
    r.deletedInstanceDates = {LocalMinutes(2024, 5, 2), LocalMinutes(2024, 5, 3)};
    r.modifiedInstanceDates = {LocalMinutes(2024, 5, 2), LocalMinutes(2024, 5, 4)};

    ExceptionInfo all;
    all.startDateTime = 0x11111111;
    all.endDateTime = 0x22222222;
    all.originalStartDate = 0x33333333;
    all.subject = "S";
    all.meetingType = 0x0A;
    all.reminderDelta = 0x0B;
    all.reminderSet = true;
    all.location = "L";
    all.busyStatus = 0x0C;
    all.attachment = false;
    all.subType = true;
    all.appointmentColor = 0x0D;
    ExceptionInfo timeOnly;  // moved to another day, nothing else changed
    timeOnly.startDateTime = 0x44444444;
    timeOnly.endDateTime = 0x55555555;
    timeOnly.originalStartDate = 0x66666666;
    r.exceptions = {all, timeOnly};

    const Bytes tail = Cat({
        Hex("0200"),  // ExceptionCount
        Hex("11111111 22222222 33333333 FF01"), Hex("0200 0100"), Ascii("S"),
        Hex("0A000000 0B000000 01000000"), Hex("0200 0100"), Ascii("L"),
        Hex("0C000000 00000000 01000000 0D000000"),
        Hex("44444444 55555555 66666666 0000"),
        Hex("00000000"),
        Hex("04000000 00000000 00000000 11111111 22222222 33333333 0100 5300 0100 4C00 00000000"),
        Hex("04000000 00000000 00000000"),
        Hex("00000000"),
    });
    const Bytes blob = EncodeAppointmentRecurrence(r);
    const std::size_t tailStart = 50 + 16 + 16;  // pattern with four dates, versions and offsets
    ASSERT_EQ(blob.size(), tailStart + tail.size());
    EXPECT_EQ(Get32(blob, Layout{0}.DeletedCount()), 2u);
    EXPECT_EQ(Get32(blob, Layout{0}.DeletedCount() + 12), 2u);  // ModifiedInstanceCount
    EXPECT_EQ(Bytes(blob.begin() + tailStart, blob.end()), tail);
}

TEST(TimeZoneStruct, BerlinExample)
{
    const Bytes expected = Cat({Hex("C4FFFFFF 00000000 C4FFFFFF 0000"), kBerlinStandardDate, Hex("0000"),
                                kBerlinDaylightDate});
    EXPECT_EQ(EncodeTimeZoneStruct(Berlin()), expected);

    TimeZoneRule tokyo;  // no daylight saving time: everything after the bias stays zero
    tokyo.bias = -540;
    Bytes flat(48, 0);
    flat[0] = 0xE4, flat[1] = 0xFD, flat[2] = 0xFF, flat[3] = 0xFF;
    EXPECT_EQ(EncodeTimeZoneStruct(tokyo), flat);

    // A rule with fixed-year dates: the year words in front of each SYSTEMTIME repeat its wYear.
    TimeZoneRule fixed = Berlin();
    fixed.standardDate.year = 2010;
    fixed.daylightDate.year = 2011;
    const Bytes blob = EncodeTimeZoneStruct(fixed);
    EXPECT_EQ(Get16(blob, 12), 2010);
    EXPECT_EQ(Get16(blob, 14), 2010);
    EXPECT_EQ(Get16(blob, 30), 2011);
    EXPECT_EQ(Get16(blob, 32), 2011);
}

TEST(TimeZoneDefinition, BerlinExample)
{
    const Bytes header = Cat({Hex("0201 3400 0200 1700"), Utf16Le(u"W. Europe Standard Time"), Hex("0100")});
    const Bytes ruleBody = Cat({Hex("4106"), Bytes(14, 0), Hex("C4FFFFFF 00000000 C4FFFFFF"),
                                kBerlinStandardDate, kBerlinDaylightDate});

    const Bytes recur = EncodeTimeZoneDefinition("W. Europe Standard Time", {Berlin()}, 0, true);
    ASSERT_EQ(recur.size(), 122u);
    EXPECT_EQ(recur, Cat({header, Hex("0201 3E00 0300"), ruleBody}));

    const Bytes display = EncodeTimeZoneDefinition("W. Europe Standard Time", {Berlin()}, 0, false);
    EXPECT_EQ(display, Cat({header, Hex("0201 3E00 0200"), ruleBody}));
}

TEST(TimeZoneDefinition, OnlyTheEffectiveRuleIsFlagged)
{
    TimeZoneRule old = Berlin();
    old.year = 1601;
    old.daylightDate = SystemTime{};
    old.standardDate = SystemTime{};
    old.daylightBias = 0;
    TimeZoneRule current = Berlin();
    current.year = 1996;
    TimeZoneRule future = Berlin();
    future.year = 2030;

    const Bytes def = EncodeTimeZoneDefinition("Z\xC3\xBCrich", {old, current, future}, 1, true);
    const std::size_t rules = 4 + 6 + 2 * 6;  // "Zürich" is six UTF-16 units
    ASSERT_EQ(def.size(), rules + 3 * 66);
    EXPECT_EQ(Get16(def, 2), 6 + 2 * 6);
    EXPECT_EQ(Get16(def, 6), 6);
    EXPECT_EQ(Get16(def, 10), 0x00FC);
    EXPECT_EQ(Get16(def, rules - 2), 3);
    const std::uint16_t expectedFlags[] = {0, 3, 0};
    const std::uint16_t expectedYears[] = {1601, 1996, 2030};
    for (std::size_t i = 0; i < 3; ++i) {
        const std::size_t at = rules + 66 * i;
        EXPECT_EQ(Get32(def, at), 0x003E0102u) << i;
        EXPECT_EQ(Get16(def, at + 4), expectedFlags[i]) << i;
        EXPECT_EQ(Get16(def, at + 6), expectedYears[i]) << i;
    }
    EXPECT_EQ(Get32(def, rules + 66 + 30), static_cast<std::uint32_t>(-60));  // current lDaylightBias
}

TEST(GlobalObjectId, WrapsAThirdPartyUid)
{
    // Microsoft's worked example of a wrapped UID (MS-ASEMAIL 4.3, example 2): Size 0x33 counts
    // "vCal-Uid", its 01000000, the 38-byte UID and a terminating NUL.
    const std::string uid = "{81412D3C-2A24-4E9D-B20E-11F7BBE92799}";
    const Bytes head = Hex("04000000 8200E000 74C5B710 1A82E008");
    const Bytes tail = Cat({Bytes(16, 0), Hex("33000000 7643616C2D556964 01000000"), Ascii(uid), Hex("00")});

    const Bytes series = EncodeGlobalObjectId(uid, std::nullopt, false);
    ASSERT_EQ(series.size(), 91u);
    EXPECT_EQ(series, Cat({head, Hex("00000000"), tail}));
    EXPECT_EQ(EncodeGlobalObjectId(uid, std::nullopt, true), series);

    const InstanceDate jan25{2024, 1, 25};
    EXPECT_EQ(EncodeGlobalObjectId(uid, jan25, false), Cat({head, Hex("07E80119"), tail}));
    EXPECT_EQ(EncodeGlobalObjectId(uid, jan25, true), series) << "the clean id never carries the date";

    // Size counts UTF-8 bytes, not characters.
    const Bytes accented = EncodeGlobalObjectId("r\xC3\xA9union-7", std::nullopt, false);
    EXPECT_EQ(Get32(accented, 36), 10u + 13);
    EXPECT_EQ(accented.size(), 40u + 13 + 10);
}

TEST(Addresses, OneOffEntryIdAndSearchKeys)
{
    // MS-OXCDATA 2.2.5.1: flags 0, the one-off provider, version 0, Unicode | no rich info (as
    // outlook.pst's sender), then three NUL-terminated UTF-16 strings.
    EXPECT_EQ(EncodeOneOffEntryId("B\xC3\xB6" "b", "SMTP", "b@x.de"),
              Cat({Hex("00000000 812B1FA4BEA310199D6E00DD010F5402 0000 0180"), Utf16Le(u"B\u00F6b"), Hex("0000"),
                   Utf16Le(u"SMTP"), Hex("0000"), Utf16Le(u"b@x.de"), Hex("0000")}));
    // Search keys: type and address upper-cased, 8-bit, NUL-terminated ("UNKNOWN:UNKNOWN" is
    // dist-list.pst's sender search key for the address "Unknown").
    EXPECT_EQ(AddressSearchKey("UNKNOWN", "Unknown"), Cat({Ascii("UNKNOWN:UNKNOWN"), Hex("00")}));
    EXPECT_EQ(AddressSearchKey("SMTP", "Ann.Lee@Example.com"), Cat({Ascii("SMTP:ANN.LEE@EXAMPLE.COM"), Hex("00")}));

    // An item's search key: the Data of an id Outlook made (dist-list.pst's "Test appointment"),
    // else 16 bytes that differ between ids.
    const Bytes outlookId = Hex("040000008200E00074C5B7101A82E00800000000D08AA8F019ECD101000000000000000010000000"
                                "33E8E3DAB52AEB4E9597CB068B12F50E");
    EXPECT_EQ(ItemSearchKey(outlookId), Hex("33E8E3DAB52AEB4E9597CB068B12F50E"));
    const Bytes a = ItemSearchKey(EncodeGlobalObjectId("a@example.com", std::nullopt, false));
    const Bytes b = ItemSearchKey(EncodeGlobalObjectId("a@example.com", InstanceDate{2024, 1, 25}, false));
    EXPECT_EQ(a.size(), 16u);
    EXPECT_EQ(b.size(), 16u);
    EXPECT_NE(a, b);
    EXPECT_EQ(a, ItemSearchKey(EncodeGlobalObjectId("a@example.com", std::nullopt, false)));
}

TEST(TimeZoneRule, BiasAtALocalTime)
{
    // Windows' rules: Pacific (UTC-8, daylight from the 2nd Sunday of March to the 1st Sunday of
    // November), Berlin (UTC+1, last Sunday of March to last Sunday of October), Sydney (UTC+10,
    // daylight from the 1st Sunday of October to the 1st Sunday of April) and Tokyo (no daylight).
    TimeZoneRule pacific;
    pacific.bias = 480, pacific.daylightBias = -60;
    pacific.standardDate = {0, 11, 0, 1, 2, 0, 0, 0};
    pacific.daylightDate = {0, 3, 0, 2, 2, 0, 0, 0};
    TimeZoneRule berlin;
    berlin.bias = -60, berlin.daylightBias = -60;
    berlin.standardDate = {0, 10, 0, 5, 3, 0, 0, 0};
    berlin.daylightDate = {0, 3, 0, 5, 2, 0, 0, 0};
    TimeZoneRule sydney;
    sydney.bias = -600, sydney.daylightBias = -60;
    sydney.standardDate = {0, 4, 0, 1, 3, 0, 0, 0};
    sydney.daylightDate = {0, 10, 0, 1, 2, 0, 0, 0};
    TimeZoneRule tokyo;
    tokyo.bias = -540;
    struct Case {
        const TimeZoneRule* rule;
        int year, month, day, hour, minute;
        std::int32_t bias;
    };
    const Case cases[] = {
        // The end of a series without end, 4500-08-31 23:59: dist-list.pst stores 4500-09-01 06:59Z
        // for its Pacific series, so the daylight bias applies that far out.
        {&pacific, 4500, 8, 31, 23, 59, 420},
        {&berlin, 4500, 8, 31, 23, 59, -120},
        {&sydney, 4500, 8, 31, 23, 59, -600},
        {&tokyo, 4500, 8, 31, 23, 59, -540},
        // Around the switches of 2024: Berlin's last Sundays of March (31st) and October (27th),
        // Pacific's March 10 and November 3, Sydney's October 6 and April 7.
        {&berlin, 2024, 3, 31, 1, 59, -60},
        {&berlin, 2024, 3, 31, 2, 0, -120},
        {&berlin, 2024, 10, 27, 2, 59, -120},
        {&berlin, 2024, 10, 27, 3, 0, -60},
        {&pacific, 2024, 3, 9, 12, 0, 480},
        {&pacific, 2024, 3, 10, 12, 0, 420},
        {&pacific, 2024, 11, 3, 12, 0, 480},
        {&sydney, 2024, 1, 15, 12, 0, -660},
        {&sydney, 2024, 4, 7, 12, 0, -600},
        {&sydney, 2024, 10, 6, 12, 0, -660},
    };
    for (const Case& c : cases)
        EXPECT_EQ(BiasAt(*c.rule, c.year, c.month, c.day, c.hour, c.minute), c.bias)
            << c.year << "-" << c.month << "-" << c.day << " " << c.hour << ":" << c.minute;
}

TEST(GlobalObjectId, DecodesAnOutlookIdGivenInHex)
{
    // An Outlook-made id with an instance date and creation time, written in lower case.
    const std::string hex =
        "040000008200e00074c5b7101a82e008"
        "07e80119"
        "80a4c51e8d3fda01"
        "0000000000000000"
        "10000000"
        "7d3a0b5f2c1e4a9f8b6d0e1f2a3b4c5d";
    ASSERT_GE(hex.size(), 82u);
    Bytes raw = Hex(hex);

    EXPECT_EQ(EncodeGlobalObjectId(hex, std::nullopt, false), raw) << "series id kept as written";
    Bytes clean = raw;
    clean[16] = clean[17] = clean[18] = clean[19] = 0;
    EXPECT_EQ(EncodeGlobalObjectId(hex, InstanceDate{2024, 3, 7}, true), clean);
    Bytes exception = raw;
    exception[16] = 0x07, exception[17] = 0xE8, exception[18] = 0x03, exception[19] = 0x07;
    EXPECT_EQ(EncodeGlobalObjectId(hex, InstanceDate{2024, 3, 7}, false), exception);

    // Near misses are third-party UIDs and get wrapped whole.
    const std::string nearMisses[] = {
        hex.substr(0, 80),                       // too short
        hex + "0",                               // odd length
        "050000008200e00074c5b7101a82e008" + hex.substr(32),  // another prefix
        hex.substr(0, hex.size() - 2) + "zz",    // not hex throughout
    };
    for (const std::string& uid : nearMisses) {
        const Bytes id = EncodeGlobalObjectId(uid, std::nullopt, false);
        EXPECT_EQ(id.size(), 53 + uid.size()) << uid;
        EXPECT_EQ(Bytes(id.begin() + 52, id.end() - 1), Ascii(uid)) << uid;
    }
}
