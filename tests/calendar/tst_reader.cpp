// Reading calendar text into appointments: the worked weekly example, times and zones, fields,
// series with exceptions, vCalendar's peculiarities, and files that are not what they claim.
// The tests run with TZ=Europe/Berlin.
#include "calendar/Appointment.h"
#include "calendar/EventMapper.h"
#include "calendar/TimeZones.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <limits>

#ifdef _WIN32
#include <windows.h>
#endif

using namespace cal;

namespace {

std::string Crlf(const std::string& s)
{
    std::string out;
    for (char c : s) {
        if (c == '\n')
            out += "\r\n";
        else
            out += c;
    }
    return out;
}

CalendarFile Read(const std::string& text, int hint = kFormatICalendar) { return ReadCalendarText(Crlf(text), hint, "test"); }

std::int64_t Utc(int y, int mo, int d, int h = 0, int mi = 0)
{
    return (static_cast<std::int64_t>(LocalMinutes(y, mo, d, h, mi)) * 60) * 10000000LL;
}

template <typename T>
T Value(const Appointment& a, PropertySet set, std::uint32_t id, PropType type, const std::string& name = {})
{
    const PropertyValue* v = a.Get(set, id, type, name);
    EXPECT_TRUE(v) << "property " << std::hex << id << " missing";
    return v ? std::get<T>(*v) : T{};
}

std::int64_t Time(const Appointment& a, PropertySet set, std::uint32_t id) { return Value<std::int64_t>(a, set, id, PropType::Time); }
std::int64_t Int(const Appointment& a, PropertySet set, std::uint32_t id) { return Value<std::int64_t>(a, set, id, PropType::Int32); }
bool Bool(const Appointment& a, PropertySet set, std::uint32_t id) { return Value<bool>(a, set, id, PropType::Boolean); }
std::string Str(const Appointment& a, PropertySet set, std::uint32_t id) { return Value<std::string>(a, set, id, PropType::String); }
Bytes Bin(const Appointment& a, PropertySet set, std::uint32_t id) { return Value<Bytes>(a, set, id, PropType::Binary); }

Bytes Hex(const std::string& text)
{
    Bytes out;
    std::string digits;
    for (char c : text)
        if (std::isxdigit(static_cast<unsigned char>(c)))
            digits += c;
    for (std::size_t i = 0; i + 1 < digits.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
    return out;
}

const char* const kBerlinZone = R"(BEGIN:VTIMEZONE
TZID:W. Europe Standard Time
BEGIN:STANDARD
DTSTART:16011028T030000
RRULE:FREQ=YEARLY;BYDAY=-1SU;BYMONTH=10
TZOFFSETFROM:+0200
TZOFFSETTO:+0100
END:STANDARD
BEGIN:DAYLIGHT
DTSTART:16010325T020000
RRULE:FREQ=YEARLY;BYDAY=-1SU;BYMONTH=3
TZOFFSETFROM:+0100
TZOFFSETTO:+0200
END:DAYLIGHT
END:VTIMEZONE
)";

std::string WeeklyBerlin(const std::string& extra = {}, const std::string& more = {})
{
    return std::string("BEGIN:VCALENDAR\nVERSION:2.0\nPRODID:-//test//EN\n") + kBerlinZone + R"(BEGIN:VEVENT
UID:weekly-berlin-1@example.com
SUMMARY:Team sync
LOCATION:Room 1
DTSTART;TZID="W. Europe Standard Time":20240108T100000
DTEND;TZID="W. Europe Standard Time":20240108T103000
RRULE:FREQ=WEEKLY;COUNT=10;BYDAY=MO,TH
)" + extra + R"(BEGIN:VALARM
ACTION:DISPLAY
TRIGGER:-PT15M
END:VALARM
END:VEVENT
)" + more + "END:VCALENDAR\n";
}

}  // namespace

TEST(WorkedExample, WeeklyMondayThursdayInBerlin)
{
    const CalendarFile file = Read(WeeklyBerlin());
    ASSERT_TRUE(file.error.empty()) << file.error;
    ASSERT_EQ(file.appointments.size(), 1u);
    const Appointment& a = file.appointments[0];
    EXPECT_TRUE(a.warnings.empty()) << a.warnings.front();
    EXPECT_EQ(Str(a, PropertySet::Tag, tag::MessageClass), "IPM.Appointment");
    EXPECT_EQ(Str(a, PropertySet::Tag, tag::Subject), "Team sync");
    EXPECT_EQ(Str(a, PropertySet::Appointment, lid::Location), "Room 1");
    EXPECT_EQ(Time(a, PropertySet::Appointment, lid::AppointmentStartWhole), Utc(2024, 1, 8, 9));
    EXPECT_EQ(Time(a, PropertySet::Appointment, lid::AppointmentEndWhole), Utc(2024, 1, 8, 9, 30));
    EXPECT_EQ(Time(a, PropertySet::Common, lid::CommonStart), Utc(2024, 1, 8, 9));
    EXPECT_EQ(Int(a, PropertySet::Appointment, lid::AppointmentDuration), 30);
    EXPECT_FALSE(Bool(a, PropertySet::Appointment, lid::AppointmentSubType));
    EXPECT_TRUE(Bool(a, PropertySet::Appointment, lid::Recurring));
    EXPECT_EQ(Int(a, PropertySet::Appointment, lid::RecurrenceType), 2);
    EXPECT_EQ(Int(a, PropertySet::Tag, tag::IconIndex), 0x401);
    EXPECT_EQ(Str(a, PropertySet::Appointment, lid::TimeZoneDescription), "W. Europe Standard Time");
    EXPECT_EQ(Time(a, PropertySet::Appointment, lid::ClipStart), Utc(2024, 1, 7, 23));
    EXPECT_EQ(Time(a, PropertySet::Appointment, lid::ClipEnd), Utc(2024, 2, 7, 23));
    EXPECT_TRUE(Bool(a, PropertySet::Common, lid::ReminderSet));
    EXPECT_EQ(Int(a, PropertySet::Common, lid::ReminderDelta), 15);
    EXPECT_EQ(Time(a, PropertySet::Common, lid::ReminderSignalTime), Utc(2024, 1, 8, 8, 45));

    EXPECT_EQ(Bin(a, PropertySet::Appointment, lid::AppointmentRecur),
              Hex("0430 0430 0B20 0100 0000 C0210000 01000000 00000000"
                  "12000000 22200000 0A000000 00000000"
                  "00000000 00000000 00DD420D 608B430D"
                  "06300000 09300000 58020000 76020000"
                  "0000 00000000 00000000"));
    EXPECT_EQ(Bin(a, PropertySet::Appointment, lid::TimeZoneStruct),
              Hex("C4FFFFFF 00000000 C4FFFFFF 0000 0000 0A00 0000 0500 0300 0000 0000 0000"
                  "0000 0000 0300 0000 0500 0200 0000 0000 0000"));
    const Bytes recur = Bin(a, PropertySet::Appointment, lid::TimeZoneDefinitionRecur);
    EXPECT_EQ(recur.size(), 122u);
    EXPECT_EQ(Bytes(recur.begin(), recur.begin() + 8), Hex("02 01 34 00 02 00 17 00"));
    const Bytes goid = Bin(a, PropertySet::Meeting, lid::GlobalObjectId);
    ASSERT_EQ(goid.size(), 80u);
    EXPECT_EQ(Bytes(goid.begin(), goid.begin() + 16), Hex("04000000 8200E000 74C5B710 1A82E008"));
    EXPECT_EQ(std::string(goid.begin() + 52, goid.end() - 1), "weekly-berlin-1@example.com");
    EXPECT_EQ(goid.back(), 0);
    EXPECT_EQ(Bin(a, PropertySet::Meeting, lid::CleanGlobalObjectId), goid);
}

TEST(WorkedExample, DeletedAndMovedInstancesBecomeExceptions)
{
    const std::string moved = std::string(R"(BEGIN:VEVENT
UID:weekly-berlin-1@example.com
RECURRENCE-ID;TZID="W. Europe Standard Time":20240125T100000
SUMMARY:Team sync (moved)
LOCATION:Room 2
DTSTART;TZID="W. Europe Standard Time":20240125T140000
DTEND;TZID="W. Europe Standard Time":20240125T143000
END:VEVENT
)");
    const CalendarFile file = Read(WeeklyBerlin("EXDATE;TZID=\"W. Europe Standard Time\":20240118T100000\n", moved));
    ASSERT_EQ(file.appointments.size(), 1u) << file.error;
    const Appointment& a = file.appointments[0];
    const Bytes blob = Bin(a, PropertySet::Appointment, lid::AppointmentRecur);
    EXPECT_EQ(blob.size(), 215u);
    // Deleted: 01-18 and the moved 01-25; modified: the new 01-25.
    EXPECT_EQ(Bytes(blob.begin() + 38, blob.begin() + 54), Hex("02000000 4015430D A03C430D 01000000"));
    ASSERT_EQ(a.exceptions.size(), 1u);
    const AppointmentException& ex = a.exceptions[0];
    auto get = [](const PropertyMap& m, PropertySet set, std::uint32_t id, PropType type) {
        return m.at(PropertyKey{set, id, {}, type});
    };
    // The attachment's replace time is the original start's local clock time (10:00 in Berlin), as
    // Outlook writes it; the embedded message's is UTC (09:00Z).
    EXPECT_EQ(std::get<std::int64_t>(get(ex.attachment, PropertySet::Tag, tag::ExceptionReplaceTime, PropType::Time)),
              Utc(2024, 1, 25, 10));
    EXPECT_EQ(std::get<std::int64_t>(get(ex.message, PropertySet::Appointment, lid::ExceptionReplaceTime, PropType::Time)),
              Utc(2024, 1, 25, 9));
    EXPECT_EQ(std::get<std::int64_t>(get(ex.attachment, PropertySet::Tag, tag::AttachMethod, PropType::Int32)), 5);
    EXPECT_EQ(std::get<std::string>(get(ex.message, PropertySet::Tag, tag::MessageClass, PropType::String)),
              "IPM.OLE.CLASS.{00061055-0000-0000-C000-000000000046}");
    EXPECT_EQ(std::get<std::int64_t>(get(ex.message, PropertySet::Appointment, lid::AppointmentStartWhole, PropType::Time)),
              Utc(2024, 1, 25, 13));
    const Bytes goid = std::get<Bytes>(get(ex.message, PropertySet::Meeting, lid::GlobalObjectId, PropType::Binary));
    EXPECT_EQ(Bytes(goid.begin() + 16, goid.begin() + 20), Hex("07 E8 01 19"));
}

// Several revisions of one changed occurrence make one exception: the one of the highest
// SEQUENCE, the later on a tie. Each once became an exception of its own, for the same day.
TEST(Series, RevisionsOfOneChangedOccurrenceMakeOneException)
{
    auto revision = [](const char* sequence, int hour) {
        return std::string("BEGIN:VEVENT\nUID:weekly-berlin-1@example.com\n") + sequence
               + "RECURRENCE-ID;TZID=\"W. Europe Standard Time\":20240125T100000\nSUMMARY:Moved to " + std::to_string(hour)
               + "\nDTSTART;TZID=\"W. Europe Standard Time\":20240125T" + std::to_string(hour)
               + "0000\nDTEND;TZID=\"W. Europe Standard Time\":20240125T" + std::to_string(hour) + "3000\nEND:VEVENT\n";
    };
    const CalendarFile file = Read(WeeklyBerlin({}, revision("SEQUENCE:2\n", 15) + revision("SEQUENCE:1\n", 14)
                                                        + revision("", 16) + revision("SEQUENCE:2\n", 17)));
    ASSERT_EQ(file.appointments.size(), 1u) << file.error;
    const Appointment& a = file.appointments[0];
    ASSERT_EQ(a.exceptions.size(), 1u);
    const PropertyValue& start =
        a.exceptions[0].message.at(PropertyKey{PropertySet::Appointment, lid::AppointmentStartWhole, {}, PropType::Time});
    EXPECT_EQ(std::get<std::int64_t>(start), Utc(2024, 1, 25, 16));  // 17:00 in Berlin
}

TEST(Times, AllDayFloatingAndZones)
{
    const CalendarFile file = Read(R"(BEGIN:VCALENDAR
VERSION:2.0
BEGIN:VEVENT
UID:a
SUMMARY:All day
DTSTART;VALUE=DATE:20240310
DTEND;VALUE=DATE:20240312
END:VEVENT
BEGIN:VEVENT
UID:b
SUMMARY:Floating
DTSTART:20240701T090000
DTEND:20240701T100000
END:VEVENT
BEGIN:VEVENT
UID:c
SUMMARY:Windows zone without its definition
DTSTART;TZID=Eastern Standard Time:20240115T090000
DTEND;TZID=Eastern Standard Time:20240115T100000
END:VEVENT
BEGIN:VEVENT
UID:d
SUMMARY:IANA zone
DTSTART;TZID=America/New_York:20240715T090000
DURATION:PT45M
END:VEVENT
BEGIN:VEVENT
UID:e
SUMMARY:Unknown zone
DTSTART;TZID=Mars/Olympus:20240715T090000
END:VEVENT
BEGIN:VEVENT
UID:f
SUMMARY:Backwards
DTSTART:20240715T090000Z
DTEND:20240715T080000Z
END:VEVENT
END:VCALENDAR
)");
    ASSERT_EQ(file.appointments.size(), 6u) << file.error;
    const Appointment& allDay = file.appointments[0];
    EXPECT_TRUE(Bool(allDay, PropertySet::Appointment, lid::AppointmentSubType));
    EXPECT_EQ(Time(allDay, PropertySet::Appointment, lid::AppointmentStartWhole), Utc(2024, 3, 9, 23));  // Berlin midnight
    EXPECT_EQ(Int(allDay, PropertySet::Appointment, lid::AppointmentDuration), 2 * 1440);
    EXPECT_EQ(Time(file.appointments[1], PropertySet::Appointment, lid::AppointmentStartWhole), Utc(2024, 7, 1, 7));
    EXPECT_EQ(Time(file.appointments[2], PropertySet::Appointment, lid::AppointmentStartWhole), Utc(2024, 1, 15, 14));
    EXPECT_EQ(Str(file.appointments[2], PropertySet::Appointment, lid::TimeZoneDescription), "Eastern Standard Time");
    EXPECT_EQ(Time(file.appointments[3], PropertySet::Appointment, lid::AppointmentStartWhole), Utc(2024, 7, 15, 13));
    EXPECT_EQ(Int(file.appointments[3], PropertySet::Appointment, lid::AppointmentDuration), 45);
    EXPECT_EQ(Str(file.appointments[3], PropertySet::Appointment, lid::TimeZoneDescription), "Eastern Standard Time");
    ASSERT_FALSE(file.appointments[4].warnings.empty());
    EXPECT_NE(file.appointments[4].warnings[0].find("Mars/Olympus"), std::string::npos);
    EXPECT_EQ(Time(file.appointments[4], PropertySet::Appointment, lid::AppointmentStartWhole), Utc(2024, 7, 15, 7));
    ASSERT_FALSE(file.appointments[5].warnings.empty());
    EXPECT_EQ(Time(file.appointments[5], PropertySet::Appointment, lid::AppointmentEndWhole), Utc(2024, 7, 15, 9));
}

TEST(Fields, ClassPriorityTransparencyCategoriesAndPeople)
{
    const CalendarFile file = Read(R"(BEGIN:VCALENDAR
VERSION:2.0
BEGIN:VEVENT
UID:x
DTSTART:20240715T090000Z
SUMMARY:Line one\nline two
DESCRIPTION:Agenda\, first\; then\nmore
CLASS:PRIVATE
PRIORITY:1
TRANSP:TRANSPARENT
CATEGORIES:Work,Travel
CATEGORIES:work;Family
URL:https://example.com/x
ORGANIZER;CN=Ann:mailto:ann@example.com
ATTENDEE;CN=Bob;ROLE=REQ-PARTICIPANT;PARTSTAT=ACCEPTED:mailto:bob@example.com
ATTENDEE;ROLE=OPT-PARTICIPANT:mailto:cy@example.com
ATTENDEE;CUTYPE=ROOM;CN=Room 5:mailto:room5@example.com
END:VEVENT
END:VCALENDAR
)");
    ASSERT_EQ(file.appointments.size(), 1u) << file.error;
    const Appointment& a = file.appointments[0];
    EXPECT_EQ(Str(a, PropertySet::Tag, tag::Subject), "Line one line two");
    EXPECT_EQ(Str(a, PropertySet::Tag, tag::Body), "Agenda, first; then\nmore\nhttps://example.com/x");
    EXPECT_EQ(Int(a, PropertySet::Tag, tag::Sensitivity), 2);
    EXPECT_TRUE(Bool(a, PropertySet::Common, lid::Private));
    EXPECT_EQ(Int(a, PropertySet::Tag, tag::Importance), 2);
    EXPECT_EQ(Int(a, PropertySet::Appointment, lid::BusyStatus), 0);
    EXPECT_EQ(Value<std::vector<std::string>>(a, PropertySet::PublicStrings, 0, PropType::MultiString, "Keywords"),
              (std::vector<std::string>{"Work", "Travel", "Family"}));
    ASSERT_EQ(a.recipients.size(), 4u);
    EXPECT_EQ(a.recipients[0].displayName, "Ann");
    EXPECT_EQ(a.recipients[0].recipientFlags, 3u);
    EXPECT_EQ(a.recipients[1].email, "bob@example.com");
    EXPECT_EQ(a.recipients[1].trackStatus, 3u);
    EXPECT_EQ(a.recipients[2].recipientType, 2u);
    EXPECT_EQ(a.recipients[3].recipientType, 3u);
    EXPECT_FALSE(Bool(a, PropertySet::Common, lid::ReminderSet));
}

TEST(People, PlainAppointmentOrganisedAndReceivedMeetings)
{
    const CalendarFile file = Read(R"(BEGIN:VCALENDAR
VERSION:2.0
BEGIN:VEVENT
UID:plain
DTSTART:20240715T090000Z
SUMMARY:Alone
END:VEVENT
BEGIN:VEVENT
UID:organised
DTSTART:20240715T090000Z
SUMMARY:Only the organizer
ORGANIZER;CN=Ann:mailto:ann@example.com
ATTENDEE;CN=Ann;PARTSTAT=ACCEPTED:mailto:ANN@example.com
END:VEVENT
BEGIN:VEVENT
UID:received
DTSTART:20240715T090000Z
RRULE:FREQ=WEEKLY;COUNT=3
SUMMARY:Invited
ORGANIZER;CN=Ann:mailto:ann@example.com
ATTENDEE;CN=Bob;ROLE=REQ-PARTICIPANT;PARTSTAT=ACCEPTED;RSVP=TRUE:mailto:bob@example.com
ATTENDEE;ROLE=OPT-PARTICIPANT;PARTSTAT=DECLINED:mailto:cy@example.com
ATTENDEE;ROLE=NON-PARTICIPANT:mailto:di@example.com
ATTENDEE;CUTYPE=ROOM;CN=Room 5:mailto:room5@example.com
END:VEVENT
END:VCALENDAR
)");
    ASSERT_EQ(file.appointments.size(), 3u) << file.error;
    // MS-OXOCAL: icon 2.2.1.49, state flags 2.2.1.10 (asfMeeting 1, asfReceived 2), response status
    // 2.2.1.11 (respOrganized 1, respNotResponded 5); the organizer's own ATTENDEE line is no row.
    struct Expect {
        std::int64_t icon, stateFlags, responseStatus;
        bool invited, responseRequested;
        std::size_t rows;
        std::string sender, senderAddress;
    };
    const Expect expected[] = {
        {0x400, 0, 0, false, true, 0, "Unknown", "Unknown"},
        {0x402, 1, 1, false, true, 1, "Ann", "ann@example.com"},
        {0x403, 3, 5, true, true, 5, "Ann", "ann@example.com"},
    };
    for (std::size_t i = 0; i < 3; ++i) {
        const Appointment& a = file.appointments[i];
        const Expect& e = expected[i];
        SCOPED_TRACE(Str(a, PropertySet::Tag, tag::Subject));
        EXPECT_EQ(Int(a, PropertySet::Tag, tag::IconIndex), e.icon);
        EXPECT_EQ(Int(a, PropertySet::Appointment, lid::AppointmentStateFlags), e.stateFlags);
        EXPECT_EQ(Int(a, PropertySet::Appointment, lid::ResponseStatus), e.responseStatus);
        EXPECT_EQ(Bool(a, PropertySet::Appointment, lid::FInvited), e.invited);
        EXPECT_EQ(Bool(a, PropertySet::Tag, tag::ResponseRequested), e.responseRequested);
        EXPECT_EQ(Bool(a, PropertySet::Tag, tag::ReplyRequested), e.responseRequested);
        EXPECT_EQ(a.recipients.size(), e.rows);
        EXPECT_EQ(Str(a, PropertySet::Tag, tag::SenderName), e.sender);
        EXPECT_EQ(Str(a, PropertySet::Tag, tag::SentRepresentingName), e.sender);
        EXPECT_EQ(Str(a, PropertySet::Tag, tag::SenderEmailAddress), e.senderAddress);
        EXPECT_EQ(Str(a, PropertySet::Tag, tag::SentRepresentingEmailAddress), e.senderAddress);
        EXPECT_EQ(Bin(a, PropertySet::Tag, tag::SearchKey).size(), 16u);
        EXPECT_EQ(Int(a, PropertySet::Tag, tag::MessageLocaleId), 0x409);
        EXPECT_EQ(Int(a, PropertySet::Tag, tag::InternetCodepage), 65001);
        EXPECT_GT(Time(a, PropertySet::Tag, tag::MessageDeliveryTime), 0);
        EXPECT_EQ(Time(a, PropertySet::Tag, tag::ClientSubmitTime), Time(a, PropertySet::Tag, tag::MessageDeliveryTime));
    }
    // Without an organizer, Outlook's own placeholder sender, byte for byte (dist-list.pst).
    EXPECT_EQ(Bin(file.appointments[0], PropertySet::Tag, tag::SenderEntryId),
              Hex("00000000812b1fa4bea310199d6e00dd010f540200000000556e6b6e6f776e00554e4b4e4f574e00556e6b6e6f776e00"));
    EXPECT_EQ(Bin(file.appointments[0], PropertySet::Tag, tag::SenderSearchKey), Hex("554e4b4e4f574e3a554e4b4e4f574e00"));
    EXPECT_EQ(Str(file.appointments[0], PropertySet::Tag, tag::SenderAddressType), "UNKNOWN");
    // With one, the organizer as a one-off SMTP address.
    const Appointment& received = file.appointments[2];
    EXPECT_EQ(Str(received, PropertySet::Tag, tag::SentRepresentingAddressType), "SMTP");
    EXPECT_EQ(Bin(received, PropertySet::Tag, tag::SentRepresentingEntryId), EncodeOneOffEntryId("Ann", "SMTP", "ann@example.com"));
    EXPECT_EQ(Bin(received, PropertySet::Tag, tag::SentRepresentingSearchKey), AddressSearchKey("SMTP", "ann@example.com"));
    // Rows: organizer To with recipOrganizer; REQ To, OPT Cc, NON-PARTICIPANT and ROOM Bcc (MS-OXCICAL
    // 2.1.3.1.1.20.2), each recipSendable with PARTSTAT as its track status.
    struct Row {
        std::string email;
        std::uint32_t type, flags, track;
    };
    const Row rows[] = {
        {"ann@example.com", 1, 3, 0}, {"bob@example.com", 1, 1, 3}, {"cy@example.com", 2, 1, 4},
        {"di@example.com", 3, 1, 0},  {"room5@example.com", 3, 1, 0},
    };
    ASSERT_EQ(received.recipients.size(), 5u);
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(received.recipients[i].email, rows[i].email);
        EXPECT_EQ(received.recipients[i].recipientType, rows[i].type) << rows[i].email;
        EXPECT_EQ(received.recipients[i].recipientFlags, rows[i].flags) << rows[i].email;
        EXPECT_EQ(received.recipients[i].trackStatus, rows[i].track) << rows[i].email;
    }
}

TEST(Series, OverridesFoldIntoTheirMasterAndOrphansStandAlone)
{
    const CalendarFile file = Read(R"(BEGIN:VCALENDAR
VERSION:2.0
BEGIN:VEVENT
UID:orphan
RECURRENCE-ID:20240301T090000Z
DTSTART:20240301T100000Z
SUMMARY:Moved, series elsewhere
END:VEVENT
END:VCALENDAR
BEGIN:VCALENDAR
VERSION:2.0
BEGIN:VEVENT
UID:daily
DTSTART:20240301T090000Z
RRULE:FREQ=DAILY;INTERVAL=2
SUMMARY:Every other day
END:VEVENT
BEGIN:VEVENT
UID:odd
DTSTART:20240301T090000Z
RRULE:FREQ=YEARLY;BYYEARDAY=1,100;COUNT=4
SUMMARY:Days of the year
END:VEVENT
BEGIN:VTODO
UID:t
SUMMARY:A task
END:VTODO
END:VCALENDAR
)");
    // The orphan, the daily series, and the days of the year one by one: its start (not one of
    // them, but the first of the four COUNT gives), then day 100 of 2024 and days 1 and 100 of 2025.
    ASSERT_EQ(file.appointments.size(), 6u) << file.error;
    EXPECT_EQ(file.skippedTodos, 1);
    EXPECT_FALSE(file.appointments[0].warnings.empty());
    const Appointment& daily = file.appointments[1];
    EXPECT_TRUE(Bool(daily, PropertySet::Appointment, lid::Recurring));
    const Bytes blob = Bin(daily, PropertySet::Appointment, lid::AppointmentRecur);
    EXPECT_EQ(blob[4] | blob[5] << 8, 0x200A);        // daily
    EXPECT_EQ(blob[14] | blob[15] << 8, 2 * 1440);    // every 2 days
    EXPECT_EQ(Time(daily, PropertySet::Appointment, lid::ClipEnd), Utc(4500, 8, 31, 23, 59));  // never ends, in UTC
    const std::int64_t days[] = {Utc(2024, 3, 1, 9), Utc(2024, 4, 9, 9), Utc(2025, 1, 1, 9), Utc(2025, 4, 10, 9)};
    for (std::size_t i = 0; i < 4; ++i) {
        const Appointment& odd = file.appointments[2 + i];
        EXPECT_FALSE(Bool(odd, PropertySet::Appointment, lid::Recurring));
        EXPECT_EQ(Time(odd, PropertySet::Appointment, lid::AppointmentStartWhole), days[i]) << i;
        EXPECT_EQ(odd.warnings.empty(), i > 0) << i;
    }
    ASSERT_FALSE(file.appointments[2].warnings.empty());
    EXPECT_NE(file.appointments[2].warnings[0].find("its 4 occurrence(s) were written as separate appointments"), std::string::npos)
        << file.appointments[2].warnings[0];
}

// The file is read a series at a time; a series still gathers its events from anywhere in the
// file: its changed occurrences before its master, in another calendar block, with other events
// between them. Each series stands where its first event does.
TEST(Series, AMasterAfterItsOverridesAcrossTheFileStillFolds)
{
    const std::string text = Crlf(R"(BEGIN:VCALENDAR
VERSION:2.0
BEGIN:VEVENT
UID:weekly
RECURRENCE-ID:20240311T090000Z
DTSTART:20240311T140000Z
SUMMARY:Moved to the afternoon
END:VEVENT
BEGIN:VEVENT
UID:single
DTSTART:20240305T090000Z
SUMMARY:In between
END:VEVENT
BEGIN:VEVENT
UID:twice
DTSTART:20240306T090000Z
SUMMARY:First of two
END:VEVENT
END:VCALENDAR
BEGIN:VCALENDAR
VERSION:2.0
BEGIN:VEVENT
UID:weekly
RECURRENCE-ID:20240318T090000Z
DTSTART:20240318T100000Z
SUMMARY:An hour later
END:VEVENT
BEGIN:VEVENT
UID:twice
DTSTART:20240307T090000Z
SUMMARY:Second of two
END:VEVENT
BEGIN:VEVENT
UID:weekly
DTSTART:20240304T090000Z
DTEND:20240304T100000Z
RRULE:FREQ=WEEKLY;COUNT=4
SUMMARY:Weekly
END:VEVENT
END:VCALENDAR
)");
    const std::string path = ::testing::TempDir() + "series-across.ics";
    {
        std::ofstream out(path, std::ios::binary);
        out << text;
    }
    for (const CalendarFile& file : {ReadCalendarText(text, kFormatICalendar, "across"), ReadCalendarFile(path, kFormatICalendar)}) {
        ASSERT_EQ(file.appointments.size(), 4u) << file.error;
        const char* subjects[] = {"Weekly", "In between", "First of two", "Second of two"};
        for (std::size_t i = 0; i < 4; ++i)
            EXPECT_EQ(Str(file.appointments[i], PropertySet::Tag, tag::Subject), subjects[i]) << i;
        const Appointment& weekly = file.appointments[0];
        EXPECT_TRUE(Bool(weekly, PropertySet::Appointment, lid::Recurring));
        ASSERT_EQ(weekly.exceptions.size(), 2u);
        EXPECT_EQ(Time(weekly, PropertySet::Appointment, lid::AppointmentStartWhole), Utc(2024, 3, 4, 9));
        EXPECT_EQ(std::count_if(file.warnings.begin(), file.warnings.end(),
                                [](const std::string& w) { return w.find("share the UID twice") != std::string::npos; }),
                  1);
    }
    std::remove(path.c_str());
}

TEST(Files, WhatIsNotACalendarSaysWhy)
{
    EXPECT_EQ(Read("").error, "the file is empty");
    EXPECT_NE(ReadCalendarText(std::string("BEGIN:VCALENDAR\0\x01\x02", 18), 8, "x").error.find("binary"), std::string::npos);
    EXPECT_NE(Read("Hello, world\n").error.find("not a calendar"), std::string::npos);
    const CalendarFile tasks = Read("BEGIN:VCALENDAR\nVERSION:2.0\nBEGIN:VTODO\nUID:t\nEND:VTODO\nEND:VCALENDAR\n");
    EXPECT_TRUE(tasks.appointments.empty());
    EXPECT_NE(tasks.error.find("1 tasks"), std::string::npos) << tasks.error;
    EXPECT_NE(ReadCalendarFile("/nonexistent/dir/a.ics", 8).error.find("cannot be opened"), std::string::npos);
}

TEST(Files, DamagedOrMislabelledFilesStillImport)
{
    // No END:VEVENT before the next event, and no END:VCALENDAR at all.
    const CalendarFile broken = Read("BEGIN:VCALENDAR\nVERSION:2.0\nBEGIN:VEVENT\nUID:1\nDTSTART:20240101T100000Z\n"
                                     "BEGIN:VEVENT\nUID:2\nDTSTART:20240102T100000Z\nEND:VEVENT\n");
    EXPECT_EQ(broken.appointments.size(), 2u) << broken.error;
    // A byte-order mark and Windows-1252 text.
    const CalendarFile latin = Read("\xEF\xBB\xBF" "BEGIN:VCALENDAR\nVERSION:2.0\nBEGIN:VEVENT\nUID:1\n"
                                    "DTSTART:20240101T100000Z\nSUMMARY:M\xFCnchen\nEND:VEVENT\nEND:VCALENDAR\n");
    ASSERT_EQ(latin.appointments.size(), 1u);
    EXPECT_EQ(Str(latin.appointments[0], PropertySet::Tag, tag::Subject), "M\xC3\xBCnchen");
    EXPECT_FALSE(latin.warnings.empty());
    // An iCalendar file given as vCalendar, and the other way round: VERSION decides.
    EXPECT_EQ(Read(WeeklyBerlin(), kFormatVCalendar).appointments.size(), 1u);
    const std::string vcal = "BEGIN:VCALENDAR\nVERSION:1.0\nBEGIN:VEVENT\nDTSTART:20240105T090000\n"
                             "DTEND:20240105T100000\nSUMMARY:v\nPRIORITY:2\nEND:VEVENT\nEND:VCALENDAR\n";
    const CalendarFile asIcs = Read(vcal, kFormatICalendar);
    ASSERT_EQ(asIcs.appointments.size(), 1u) << asIcs.error;
    EXPECT_EQ(Int(asIcs.appointments[0], PropertySet::Tag, tag::Importance), 1);  // vCalendar 2 is normal
}

TEST(Files, LineEndingsAndLongLines)
{
    // Lines ended by a carriage return alone, as some mail programs write them.
    const std::string two = "BEGIN:VCALENDAR\rVERSION:2.0\rBEGIN:VEVENT\rUID:1\rDTSTART:20240101T100000Z\r"
                            "SUMMARY:First\rEND:VEVENT\rBEGIN:VEVENT\rUID:2\rDTSTART:20240102T100000Z\r"
                            "SUMMARY:Second\rEND:VEVENT\rEND:VCALENDAR\r";
    const CalendarFile cr = ReadCalendarText(two, kFormatICalendar, "cr");
    ASSERT_EQ(cr.appointments.size(), 2u) << cr.error;
    EXPECT_EQ(Str(cr.appointments[1], PropertySet::Tag, tag::Subject), "Second");

    // A body of some megabytes on one folded line, and another on one unfolded line, arrive whole.
    std::string body;
    while (body.size() < 3'000'000)
        body += "Agenda item " + std::to_string(body.size()) + ". ";
    body += "End.";
    std::string folded;
    for (std::size_t at = 0; at < body.size(); at += 74)
        folded += (at ? "\r\n " : "") + body.substr(at, 74);
    for (const std::string& line : {folded, body}) {
        const CalendarFile big = ReadCalendarText("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nBEGIN:VEVENT\r\nUID:b\r\n"
                                                  "DTSTART:20240101T100000Z\r\nDESCRIPTION:" + line +
                                                      "\r\nSUMMARY:After\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n",
                                                  kFormatICalendar, "big");
        ASSERT_EQ(big.appointments.size(), 1u) << big.error;
        EXPECT_EQ(Str(big.appointments[0], PropertySet::Tag, tag::Body), body);
        EXPECT_EQ(Str(big.appointments[0], PropertySet::Tag, tag::Subject), "After");
    }
}

TEST(VCalendar, ManyEventsRulesAndExdateLists)
{
    std::string big = "BEGIN:VCALENDAR\nVERSION:1.0\n";
    for (int i = 0; i < 1000; ++i)
        big += "BEGIN:VEVENT\nUID:e" + std::to_string(i) + "\nDTSTART:20240105T090000\nDTEND:20240105T100000\nSUMMARY:n"
               + std::to_string(i) + "\nEND:VEVENT\n";
    big += "END:VCALENDAR\n";
    const CalendarFile many = Read(big, kFormatVCalendar);
    EXPECT_EQ(many.appointments.size(), 1000u) << many.error;

    const CalendarFile rule = Read("BEGIN:VCALENDAR\nVERSION:1.0\nBEGIN:VEVENT\nUID:w\nDTSTART:20240108T100000\n"
                                   "DTEND:20240108T103000\nRRULE:W1 MO TH #10\nEXDATE:20240111T100000;20240115T100000\n"
                                   "SUMMARY:vcal weekly\nEND:VEVENT\nEND:VCALENDAR\n",
                                   kFormatVCalendar);
    ASSERT_EQ(rule.appointments.size(), 1u) << rule.error;
    const Bytes blob = Bin(rule.appointments[0], PropertySet::Appointment, lid::AppointmentRecur);
    ASSERT_GE(blob.size(), 50u);
    EXPECT_EQ(blob[4] | blob[5] << 8, 0x200B);  // weekly
    EXPECT_EQ(blob[22], 0x12);                  // Monday and Thursday
    EXPECT_EQ(blob[38], 2);                     // both listed dates deleted
}

TEST(VCalendar, EncodedValuesAreReadSafely)
{
    // Inputs on which libical's own vCalendar parser loops for ever (found by fuzzing). A ';' in
    // a quoted-printable value is text: "a;b=c" followed by a soft line break looped.
    const CalendarFile loop = Read("BEGIN:VCALENDAR\nVERSION:1.0\nBEGIN:VEVENT\nDTSTART:20240105T090000Z\n"
                                   "DESCRIPTION;ENCODING=QUOTED-PRINTABLE:a;b=c=\nEND:VEVENT\nEND:VCALENDAR\n",
                                   kFormatVCalendar);
    EXPECT_TRUE(loop.error.empty() || !loop.appointments.empty());
    const CalendarFile text = Read("BEGIN:VCALENDAR\nVERSION:1.0\nBEGIN:VEVENT\nDTSTART:20240105T090000Z\n"
                                   "SUMMARY;ENCODING=QUOTED-PRINTABLE:Call me; room=3D4=\n, please\n"
                                   "END:VEVENT\nEND:VCALENDAR\n",
                                   kFormatVCalendar);
    ASSERT_EQ(text.appointments.size(), 1u) << text.error;
    EXPECT_EQ(Str(text.appointments[0], PropertySet::Tag, tag::Subject), "Call me; room=4, please");

    // A soft line break at the very end, in a character set that does not decode: libical's
    // parser waited for the rest for ever.
    const CalendarFile cut = Read("BEGIN:VEVENT\nDESCRIPTION;ENCODING=QUOTED-PRINTABLE;CHARSET=Shift_JIS:=\n=8D=A1=KD=82=",
                                  kFormatVCalendar);
    EXPECT_FALSE(cut.error.empty());

    // The encoding named by a parameter of another name, and on a line that is no property.
    EXPECT_FALSE(Read("VERSION:1.0\nBEGIN:VEVENT\nDESCRIPTION;X=QUOTED-PRINTABLE:a valid vca=\xff\xff",
                      kFormatVCalendar).error.empty());
    EXPECT_FALSE(Read("BEGIN:VJOURNAL\nD;ENCODING=QUOTED-PRINTABLE\nSUMMARY:Staff meet;UNTIL=utes",
                      kFormatVCalendar).error.empty());

    EXPECT_FALSE(Read("DESCRIPTION;ENCODILG=BASE64;CHARAALARM;ENCODI\xB1G=QUOTED-PRINTABLE:20000222T100000Z;;;\n"
                      "DALARM;ENCODING=QUOTED.PRINTABLBEGIN:VEVENTf-8:=\n20000222T100000ZSION;ENCODING=BASE64:MS4w",
                      kFormatVCalendar).error.empty());

    // Base64 values, also without the empty line that should end them, are read as text.
    const CalendarFile b64 = Read("BEGIN:VCALENDAR\nVERSION:1.0\nBEGIN:VEVENT\nDTSTART:20240105T090000Z\n"
                                  "DESCRIPTION;ENCODING=BASE64:SGVsbG8s\n IHdvcmxk\n"
                                  "ATTACH;BASE64;VALUE=BINARY:iVBORw0K000Z\nSUMMARY;BASE64:UGxhbg==\n"
                                  "END:VEVENT\nEND:VCALENDAR\n",
                                  kFormatVCalendar);
    ASSERT_EQ(b64.appointments.size(), 1u) << b64.error;
    EXPECT_EQ(Str(b64.appointments[0], PropertySet::Tag, tag::Body), "Hello, world");
    EXPECT_EQ(Str(b64.appointments[0], PropertySet::Tag, tag::Subject), "Plan");
}

TEST(VCalendar, ARuleWithoutAPositiveIntervalKeepsTheFirstOccurrence)
{
    // libical's iterator never moved on from interval 0 (found by fuzzing).
    const CalendarFile file = Read("BEGIN:VCALENDAR\nVERSION:1.0\nBEGIN:VEVENT\nDTSTART:20240315T130000Z\n"
                                   "RRULE:MP0 1+ FR #4\nEND:VEVENT\nEND:VCALENDAR\n",
                                   kFormatVCalendar);
    ASSERT_EQ(file.appointments.size(), 1u) << file.error;
    EXPECT_FALSE(file.appointments[0].warnings.empty());
}

TEST(VCalendar, TzAndDaylightPlaceFloatingTimes)
{
    const CalendarFile file = Read("BEGIN:VCALENDAR\nVERSION:1.0\nTZ:-05:00\nDAYLIGHT:TRUE;-04;20240310T020000;20241103T020000;EST;EDT\n"
                                   "BEGIN:VEVENT\nUID:w\nDTSTART:20240115T090000\nDTEND:20240115T100000\nSUMMARY:winter\nEND:VEVENT\n"
                                   "BEGIN:VEVENT\nUID:s\nDTSTART:20240715T090000\nDTEND:20240715T100000\nSUMMARY:summer\nEND:VEVENT\n"
                                   "END:VCALENDAR\n",
                                   kFormatVCalendar);
    ASSERT_EQ(file.appointments.size(), 2u) << file.error;
    EXPECT_EQ(Time(file.appointments[0], PropertySet::Appointment, lid::AppointmentStartWhole), Utc(2024, 1, 15, 14));
    EXPECT_EQ(Time(file.appointments[1], PropertySet::Appointment, lid::AppointmentStartWhole), Utc(2024, 7, 15, 13));
}

TEST(Series, AnEndlessSeriesIsClippedAt4500InItsOwnZone)
{
    // MS-OXOCAL 2.2.1.15: 4500-08-31 23:59, local time of the series zone, kept in UTC by that
    // zone's rule as Outlook does (dist-list.pst: 4500-09-01 06:59Z for its Pacific series).
    struct Case {
        const char* start;
        std::int64_t clipEnd;
    };
    const Case cases[] = {
        {"DTSTART:20240301T090000Z", Utc(4500, 8, 31, 23, 59)},                          // UTC
        {"DTSTART;TZID=America/Los_Angeles:20240301T090000", Utc(4500, 9, 1, 6, 59)},   // PDT, UTC-7
        {"DTSTART:20240301T090000", Utc(4500, 8, 31, 21, 59)},                           // floating: Berlin CEST, UTC+2
        {"DTSTART;TZID=Australia/Sydney:20240301T090000", Utc(4500, 8, 31, 13, 59)},    // AEST in August, UTC+10
    };
    for (const Case& c : cases) {
        const CalendarFile file = Read(std::string("BEGIN:VCALENDAR\nVERSION:2.0\nBEGIN:VEVENT\nUID:e\n") + c.start
                                       + "\nRRULE:FREQ=WEEKLY\nSUMMARY:Weekly\nEND:VEVENT\nEND:VCALENDAR\n");
        ASSERT_EQ(file.appointments.size(), 1u) << file.error;
        EXPECT_EQ(Time(file.appointments[0], PropertySet::Appointment, lid::ClipEnd), c.clipEnd) << c.start;
    }
}

TEST(Series, ARuleWithCountAndUntilKeepsItsCount)
{
    const CalendarFile file = Read("BEGIN:VCALENDAR\nVERSION:2.0\nBEGIN:VEVENT\nUID:cu\nDTSTART:20240101T100000Z\n"
                                   "RRULE:FREQ=DAILY;COUNT=5;UNTIL=20240110T000000Z\nSUMMARY:both\nEND:VEVENT\nEND:VCALENDAR\n");
    ASSERT_EQ(file.appointments.size(), 1u) << file.error;
    const Appointment& a = file.appointments[0];
    EXPECT_TRUE(Bool(a, PropertySet::Appointment, lid::Recurring));
    ASSERT_FALSE(a.warnings.empty());
    EXPECT_NE(a.warnings[0].find("end date was ignored"), std::string::npos);
    const Bytes blob = Bin(a, PropertySet::Appointment, lid::AppointmentRecur);
    EXPECT_EQ(blob[22] | blob[23] << 8, 0x2022);  // ends after a count
    EXPECT_EQ(blob[26], 5);
}

TEST(VCalendar, NamedCharacterSetsBecomeUtf8)
{
    const CalendarFile file = Read("BEGIN:VCALENDAR\nVERSION:1.0\nBEGIN:VEVENT\nUID:c\nDTSTART:20240105T090000\n"
                                   "SUMMARY;ENCODING=QUOTED-PRINTABLE;CHARSET=ISO-8859-1:M=FCnchen=20Hbf\n"
                                   "DESCRIPTION;ENCODING=QUOTED-PRINTABLE;CHARSET=Shift_JIS:=82=A0=\n=82=A2\n"
                                   "LOCATION;CHARSET=ISO-8859-1:K\xF6ln\nEND:VEVENT\nEND:VCALENDAR\n",
                                   kFormatVCalendar);
    ASSERT_EQ(file.appointments.size(), 1u) << file.error;
    const Appointment& a = file.appointments[0];
    EXPECT_EQ(Str(a, PropertySet::Tag, tag::Subject), "M\xC3\xBCnchen Hbf");
    EXPECT_EQ(Str(a, PropertySet::Tag, tag::Body), "\xE3\x81\x82\xE3\x81\x84");  // あい
    EXPECT_EQ(Str(a, PropertySet::Appointment, lid::Location), "K\xC3\xB6ln");
    EXPECT_TRUE(file.warnings.empty()) << file.warnings.front();
}

TEST(Text, StrayBytesAndLineBreaksKeepTheWords)
{
    const struct {
        const char* summary;      // as the file writes it (escaped line breaks included)
        const char* expected;     // the stored subject, UTF-8
        const char* warningPart;  // nullptr: no warning
    } cases[] = {
        {"Memorial Day\\n(fed holiday)", "Memorial Day (fed holiday)", nullptr},
        {"Two\\n\\nbreaks", "Two breaks", nullptr},
        {"Ends in a break\\n", "Ends in a break", nullptr},
        // One bad byte among valid UTF-8: the rest stays as written.
        {"M\xC3\xBCnchen \xE6\x97\xA5\xE6\x9C\xAC \xFC", "M\xC3\xBCnchen \xE6\x97\xA5\xE6\x9C\xAC \xC3\xBC", "but for 1 stray byte"},
        // No UTF-8 in it at all: Windows-1252 throughout, as before.
        {"K\xF6ln \x80 5", "K\xC3\xB6ln \xE2\x82\xAC 5", "not UTF-8; it was read as Windows-1252"},
    };
    for (const auto& c : cases) {
        const CalendarFile file = Read(std::string("BEGIN:VCALENDAR\nVERSION:2.0\nBEGIN:VEVENT\nUID:t\nDTSTART:20240527T090000Z\nSUMMARY:")
                                       + c.summary + "\nEND:VEVENT\nEND:VCALENDAR\n");
        ASSERT_EQ(file.appointments.size(), 1u) << file.error;
        EXPECT_EQ(Str(file.appointments[0], PropertySet::Tag, tag::Subject), c.expected) << c.summary;
        if (c.warningPart) {
            ASSERT_EQ(file.warnings.size(), 1u) << c.summary;
            EXPECT_NE(file.warnings[0].find(c.warningPart), std::string::npos) << file.warnings[0];
        } else {
            EXPECT_TRUE(file.warnings.empty()) << c.summary << ": " << file.warnings.front();
        }
    }
}

TEST(Text, ADescriptionKeepsItsLeadingBlanks)
{
    for (const char* line : {"DESCRIPTION:  indented", "DESCRIPTION;LANGUAGE=\"en:x\":  indented", "description:  indented"}) {
        const CalendarFile file = Read(std::string("BEGIN:VCALENDAR\nVERSION:2.0\nBEGIN:VEVENT\nUID:t\n"
                                                   "DTSTART:20240527T090000Z\nSUMMARY:x\n") + line + "\nEND:VEVENT\nEND:VCALENDAR\n");
        ASSERT_EQ(file.appointments.size(), 1u) << file.error;
        EXPECT_EQ(Str(file.appointments[0], PropertySet::Tag, tag::Body), "  indented") << line;
    }
}

TEST(Fields, PlaceholderAndFarAwayAlarmsSetNoReminder)
{
    const char* none1976 = "BEGIN:VALARM\nACTION:NONE\nTRIGGER;VALUE=DATE-TIME:19760401T005545Z\nEND:VALARM\n";
    const struct {
        std::string alarms;
        bool set;
        std::int64_t delta;
        bool noted;
    } cases[] = {
        {none1976, false, 15, false},
        {"BEGIN:VALARM\nACTION:DISPLAY\nTRIGGER;VALUE=DATE-TIME:19760401T005545Z\nEND:VALARM\n", false, 15, true},
        {"BEGIN:VALARM\nACTION:DISPLAY\nTRIGGER;VALUE=DATE-TIME:20240527T083000Z\nEND:VALARM\n", true, 30, false},
        {std::string(none1976) + "BEGIN:VALARM\nACTION:AUDIO\nTRIGGER:-PT10M\nEND:VALARM\n", true, 10, false},
    };
    for (const auto& c : cases) {
        const CalendarFile file = Read("BEGIN:VCALENDAR\nVERSION:2.0\nBEGIN:VEVENT\nUID:a\nSUMMARY:Alarm\n"
                                       "DTSTART:20240527T090000Z\n" + c.alarms + "END:VEVENT\nEND:VCALENDAR\n");
        ASSERT_EQ(file.appointments.size(), 1u) << file.error;
        const Appointment& a = file.appointments[0];
        EXPECT_EQ(Bool(a, PropertySet::Common, lid::ReminderSet), c.set) << c.alarms;
        EXPECT_EQ(Int(a, PropertySet::Common, lid::ReminderDelta), c.delta) << c.alarms;
        EXPECT_EQ(file.warnings.size(), c.noted ? 1u : 0u) << c.alarms;
    }
}

TEST(Times, ZonesReadAsTheirWritersMeantThem)
{
    const char* evolution = "BEGIN:VTIMEZONE\nTZID:EST/EDT\nBEGIN:STANDARD\nTZOFFSETFROM:-0400\nTZOFFSETTO:-0500\n"
                            "DTSTART:19671029T020000\nRRULE:FREQ=MONTHLY;INTERVAL=12;BYDAY=-1SU\nEND:STANDARD\n"
                            "BEGIN:DAYLIGHT\nTZOFFSETFROM:-0500\nTZOFFSETTO:-0400\nDTSTART:19870405T020000\n"
                            "RRULE:FREQ=MONTHLY;INTERVAL=12;BYDAY=1SU\nEND:DAYLIGHT\nEND:VTIMEZONE\n";
    const char* apple = "BEGIN:VTIMEZONE\nTZID:Europe/Paris\nBEGIN:STANDARD\nTZOFFSETTO:0100\nEND:STANDARD\n"
                        "BEGIN:DAYLIGHT\nTZOFFSETTO:0200\nEND:DAYLIGHT\nEND:VTIMEZONE\n";
    const struct {
        const char* version;
        const char* zones;
        const char* start;
        std::int64_t utc;  // worked out by hand
        const char* note;
    } cases[] = {
        // iCalendar written under VERSION:1.0: Los Angeles in summer is UTC-7.
        {"1.0", "", "DTSTART;TZID=America/Los_Angeles:20040630T193000", Utc(2004, 7, 1, 2, 30), "written in iCalendar 2.0"},
        // Evolution's yearly rules said monthly: 6 April 2006 is after the first Sunday of April, EDT = UTC-4.
        {"2.0", evolution, "DTSTART;TZID=EST/EDT:20060406T140000", Utc(2006, 4, 6, 18), nullptr},
        {"2.0", evolution, "DTSTART;TZID=EST/EDT:20060105T140000", Utc(2006, 1, 5, 19), nullptr},
        // Apple iCal 1.5's observances have no start: Paris itself, CET on 29 October 2003, CEST on 25 April 2004.
        {"2.0", apple, "DTSTART;TZID=Europe/Paris:20031029T090000", Utc(2003, 10, 29, 8), "standard zone of that name"},
        {"2.0", apple, "DTSTART;TZID=Europe/Paris:20040425T100000", Utc(2004, 4, 25, 8), "standard zone of that name"},
    };
    for (const auto& c : cases) {
        const CalendarFile file = Read(std::string("BEGIN:VCALENDAR\nVERSION:") + c.version + "\n" + c.zones
                                       + "BEGIN:VEVENT\nUID:z\nSUMMARY:Zone\n" + c.start + "\nEND:VEVENT\nEND:VCALENDAR\n",
                                       std::string(c.version) == "1.0" ? kFormatVCalendar : kFormatICalendar);
        ASSERT_EQ(file.appointments.size(), 1u) << file.error;
        EXPECT_EQ(Time(file.appointments[0], PropertySet::Appointment, lid::AppointmentStartWhole), c.utc) << c.start;
        if (c.note) {
            ASSERT_EQ(file.warnings.size(), 1u) << c.start;
            EXPECT_NE(file.warnings[0].find(c.note), std::string::npos) << file.warnings[0];
        } else {
            EXPECT_TRUE(file.warnings.empty()) << c.start << ": " << file.warnings.front();
        }
    }
}

// Times before 1970 (a birthday series from 1965): msvcrt's mktime and gmtime refuse them, and
// one came out as 1969-12-31T23:59:59Z. The tests run with TZ=Europe/Berlin: CET, UTC+1, with
// no summer time from 1950 to 1979.
TEST(Times, BeforeNineteenSeventy)
{
    const struct {
        const char* start;
        std::int64_t utc;  // worked out by hand
    } cases[] = {
        {"DTSTART:19650314T090000Z", Utc(1965, 3, 14, 9)},
        {"DTSTART:19650314T090000", Utc(1965, 3, 14, 8)},              // floating: the machine's zone
        {"DTSTART;VALUE=DATE:19650314", Utc(1965, 3, 13, 23)},         // its local midnight
        {"DTSTART;TZID=Europe/Berlin:19650314T090000", Utc(1965, 3, 14, 8)},
        {"DTSTART:18991231T230000Z", Utc(1899, 12, 31, 23)},            // before any 32-bit time
        {"DTSTART:19691231T235959Z", Utc(1969, 12, 31, 23, 59) + 59 * 10000000LL},
    };
    // 1965-03-14 is 293 + 1461 = 1754 days before 1970-01-01: 09:00 that day is Unix -151,513,200.
    EXPECT_EQ(Utc(1965, 3, 14, 9), (11644473600LL - 151513200LL) * 10000000LL);
    for (const auto& c : cases) {
        const CalendarFile file = Read(std::string("BEGIN:VCALENDAR\nVERSION:2.0\nBEGIN:VEVENT\nUID:old\nSUMMARY:Birthday\n") + c.start
                                       + "\nRRULE:FREQ=YEARLY;COUNT=3\nEND:VEVENT\nEND:VCALENDAR\n");
        ASSERT_EQ(file.appointments.size(), 1u) << c.start << ": " << file.error;
        EXPECT_EQ(Time(file.appointments[0], PropertySet::Appointment, lid::AppointmentStartWhole), c.utc) << c.start;
    }
}

// The machine's zone is read from the system: TZ on POSIX, on Windows the zone Windows is set
// to (under wine, derived from TZ) by its key name through CLDR's table.
TEST(Times, TheMachineZoneIsTheSystems)
{
    EXPECT_EQ(MachineZoneName(), "Europe/Berlin");
#ifdef _WIN32
    DYNAMIC_TIME_ZONE_INFORMATION info{};
    ASSERT_NE(GetDynamicTimeZoneInformation(&info), TIME_ZONE_ID_INVALID);
    EXPECT_EQ(std::wstring(info.TimeZoneKeyName), L"W. Europe Standard Time");
#endif
}

TEST(Times, AbsurdTimesStayInsideWhatAFiletimeHolds)
{
    // A month of 90 takes libical's time far past the year 30828; the FILETIME overflowed (found
    // by fuzzing). It is held at the last time a FILETIME can hold.
    const CalendarFile file = Read("BEGIN:VCALENDAR\nVERSION:1.0\nBEGIN:VEVENT\nDTSTART:20240105T090000Z\n"
                                   "DCREATED:00349012T200410Z\nLAST-MODIFIED:99999999T999999Z\nEND:VEVENT\nEND:VCALENDAR\n",
                                   kFormatVCalendar);
    ASSERT_EQ(file.appointments.size(), 1u) << file.error;
    EXPECT_GE(Time(file.appointments[0], PropertySet::Tag, tag::CreationTime), 0);
    EXPECT_EQ(FileTimeFromUnix(std::numeric_limits<std::int64_t>::max() / 2), std::numeric_limits<std::int64_t>::max() / 10000000 * 10000000);
    EXPECT_EQ(FileTimeFromUnix(-20000000000LL), 0);
}

TEST(Times, OldOutlookDisplayNamesGiveTheirOffset)
{
    const CalendarFile file = Read("BEGIN:VCALENDAR\nVERSION:2.0\nBEGIN:VEVENT\nUID:g\n"
                                   "DTSTART;TZID=\"(GMT+01.00) Sarajevo/Warsaw/Zagreb\":20240115T090000\nSUMMARY:old\nEND:VEVENT\n"
                                   "END:VCALENDAR\n");
    ASSERT_EQ(file.appointments.size(), 1u) << file.error;
    EXPECT_TRUE(file.appointments[0].warnings.empty());
    EXPECT_EQ(Time(file.appointments[0], PropertySet::Appointment, lid::AppointmentStartWhole), Utc(2024, 1, 15, 8));
}
