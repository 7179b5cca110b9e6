// An event centuries ahead in a zone whose rules start in 1601. libical expands a zone's switches
// up to a last year (2582) and, asked about a later year, expands the whole zone again on every
// lookup: one such event took 6 to 10 seconds to read. Past that year the zone keeps the offset
// of its last switch (here standard time, +05:00).
#include "calendar/Appointment.h"
#include "calendar/EventMapper.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace cal;

TEST(FarFutureZone, ReadsQuicklyWithLibicalsOffsets)
{
    struct Case {
        int year;
        int offsetHours;  // of 15:00 local on 30 May
    };
    for (const Case c : {Case{2500, 6}, Case{2600, 5}, Case{2708, 5}, Case{3000, 5}}) {
        SCOPED_TRACE(c.year);
        const std::string text = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//test//EN\r\n"
                                 "BEGIN:VTIMEZONE\r\nTZID:Far\r\n"
                                 "BEGIN:STANDARD\r\nDTSTART:16011028T030000\r\nRRULE:FREQ=YEARLY;BYDAY=-1SU;BYMONTH=10\r\n"
                                 "TZOFFSETFROM:+0600\r\nTZOFFSETTO:+0500\r\nEND:STANDARD\r\n"
                                 "BEGIN:DAYLIGHT\r\nDTSTART:16010325T020000\r\nRRULE:FREQ=YEARLY;BYDAY=-1SU;BYMONTH=3\r\n"
                                 "TZOFFSETFROM:+0500\r\nTZOFFSETTO:+0600\r\nEND:DAYLIGHT\r\nEND:VTIMEZONE\r\n"
                                 "BEGIN:VEVENT\r\nUID:far\r\nDTSTART;TZID=Far:"
                                 + std::to_string(c.year) + "0530T150000\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";
        const auto start = std::chrono::steady_clock::now();
        const CalendarFile file = ReadCalendarText(text, kFormatICalendar, "far");
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
        ASSERT_EQ(file.appointments.size(), 1u) << file.error;
        const auto* at = std::get_if<std::int64_t>(
            file.appointments[0].Get(PropertySet::Appointment, lid::AppointmentStartWhole, PropType::Time));
        ASSERT_NE(at, nullptr);
        EXPECT_EQ(*at, static_cast<std::int64_t>(LocalMinutes(c.year, 5, 30, 15 - c.offsetHours, 0)) * 60 * 10000000LL);
    }
}
