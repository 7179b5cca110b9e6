// Figures for reading calendar files: 10,000 small files that each carry the same Outlook-style
// VTIMEZONE, and one file of 50,000 events; each beside libical parsing the same text and
// nothing else, measured in the same run. Prints a table; asserts nothing.
//   calendar_bench [FILES] [EVENTS]
#include "calendar/Appointment.h"

#include <libical/ical.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

const char* const kZone =
    "BEGIN:VTIMEZONE\r\nTZID:W. Europe Standard Time\r\nBEGIN:STANDARD\r\nDTSTART:16010101T030000\r\n"
    "TZOFFSETFROM:+0200\r\nTZOFFSETTO:+0100\r\nRRULE:FREQ=YEARLY;INTERVAL=1;BYDAY=-1SU;BYMONTH=10\r\nEND:STANDARD\r\n"
    "BEGIN:DAYLIGHT\r\nDTSTART:16010101T020000\r\nTZOFFSETFROM:+0100\r\nTZOFFSETTO:+0200\r\n"
    "RRULE:FREQ=YEARLY;INTERVAL=1;BYDAY=-1SU;BYMONTH=3\r\nEND:DAYLIGHT\r\nEND:VTIMEZONE\r\n";

std::string Event(int i)
{
    char buf[768];
    std::snprintf(buf, sizeof buf,
                  "BEGIN:VEVENT\r\nUID:%08d-bench@example.com\r\nSUMMARY:Meeting %d\r\nLOCATION:Room %d\r\n"
                  "DESCRIPTION:Quarterly planning with the whole team\\, bring numbers.\r\n"
                  "DTSTART;TZID=W. Europe Standard Time:2024%02d%02dT%02d0000\r\n"
                  "DTEND;TZID=W. Europe Standard Time:2024%02d%02dT%02d3000\r\n"
                  "CLASS:PUBLIC\r\nPRIORITY:5\r\nTRANSP:OPAQUE\r\n"
                  "BEGIN:VALARM\r\nACTION:DISPLAY\r\nTRIGGER:-PT15M\r\nEND:VALARM\r\nEND:VEVENT\r\n",
                  i, i, i % 40, 1 + i % 12, 1 + i % 28, 8 + i % 9, 1 + i % 12, 1 + i % 28, 8 + i % 9);
    return buf;
}

std::string Calendar(int first, int count)
{
    std::string text = "BEGIN:VCALENDAR\r\nPRODID:-//Microsoft Corporation//Outlook 16.0 MIMEDIR//EN\r\nVERSION:2.0\r\n";
    text += kZone;
    for (int i = first; i < first + count; ++i)
        text += Event(i);
    return text + "END:VCALENDAR\r\n";
}

template <typename F>
double Seconds(F f)
{
    const auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

int main(int argc, char* argv[])
{
    const int files = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int events = argc > 2 ? std::atoi(argv[2]) : 50000;
    icalerror_set_errors_are_fatal(0);

    std::vector<std::string> small;
    for (int i = 0; i < files; ++i)
        small.push_back(Calendar(i, 1));
    const std::string big = Calendar(0, events);

    std::size_t mapped = 0;
    // Each appointment is handed on and let go, as the import does once it is written.
    const cal::AppointmentSink drop = [](cal::Appointment&&) {};
    auto parseAll = [&] {
        for (const std::string& t : small)
            icalcomponent_free(icalparser_parse_string(t.c_str()));
    };
    auto readAll = [&] {
        for (const std::string& t : small)
            mapped += static_cast<std::size_t>(cal::ReadCalendarText(t, cal::kFormatICalendar, "bench", drop).imported);
    };
    // Warm both once, then measure them alternately, best of three.
    parseAll();
    readAll();
    double parseSmall = 1e9, readSmall = 1e9, parseBig = 1e9, readBig = 1e9;
    for (int round = 0; round < 3; ++round) {
        parseSmall = std::min(parseSmall, Seconds(parseAll));
        readSmall = std::min(readSmall, Seconds(readAll));
    }
    for (int round = 0; round < 2; ++round) {
        parseBig = std::min(parseBig, Seconds([&] { icalcomponent_free(icalparser_parse_string(big.c_str())); }));
        readBig = std::min(readBig, Seconds([&] {
            mapped += static_cast<std::size_t>(cal::ReadCalendarText(big, cal::kFormatICalendar, "bench", drop).imported);
        }));
    }

    std::printf("| workload | libical parse only | read and map | ratio | files/s | appointments/s |\n");
    std::printf("|---|---|---|---|---|---|\n");
    std::printf("| %d files of one event, same VTIMEZONE | %.2f s | %.2f s | %.2f | %.0f | %.0f |\n", files, parseSmall,
                readSmall, readSmall / parseSmall, files / readSmall, files / readSmall);
    std::printf("| one file of %d events | %.2f s | %.2f s | %.2f | - | %.0f |\n", events, parseBig, readBig,
                readBig / parseBig, events / readBig);
    std::fprintf(stderr, "(%zu appointments mapped in all)\n", mapped);
    return 0;
}
