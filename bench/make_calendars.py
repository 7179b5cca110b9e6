#!/usr/bin/env python3
"""Makes calendar workloads for the import benchmark.
  make_calendars.py tree DIR FILES    FILES single-event .ics files, 100 to a folder, 10 folders
                                      to a parent, each with the same Outlook-style VTIMEZONE
  make_calendars.py big FILE EVENTS   one .ics file of EVENTS events"""
import os
import sys

ZONE = ("BEGIN:VTIMEZONE\r\nTZID:W. Europe Standard Time\r\nBEGIN:STANDARD\r\nDTSTART:16010101T030000\r\n"
        "TZOFFSETFROM:+0200\r\nTZOFFSETTO:+0100\r\nRRULE:FREQ=YEARLY;INTERVAL=1;BYDAY=-1SU;BYMONTH=10\r\n"
        "END:STANDARD\r\nBEGIN:DAYLIGHT\r\nDTSTART:16010101T020000\r\nTZOFFSETFROM:+0100\r\nTZOFFSETTO:+0200\r\n"
        "RRULE:FREQ=YEARLY;INTERVAL=1;BYDAY=-1SU;BYMONTH=3\r\nEND:DAYLIGHT\r\nEND:VTIMEZONE\r\n")
HEAD = "BEGIN:VCALENDAR\r\nPRODID:-//Microsoft Corporation//Outlook 16.0 MIMEDIR//EN\r\nVERSION:2.0\r\n" + ZONE


def event(i):
    m, d, h = 1 + i % 12, 1 + i % 28, 8 + i % 9
    return ("BEGIN:VEVENT\r\nUID:%08d-bench@example.com\r\nSUMMARY:Meeting %d\r\nLOCATION:Room %d\r\n"
            "DESCRIPTION:Quarterly planning with the whole team\\, bring numbers.\r\n"
            "DTSTART;TZID=W. Europe Standard Time:2024%02d%02dT%02d0000\r\n"
            "DTEND;TZID=W. Europe Standard Time:2024%02d%02dT%02d3000\r\n"
            "CLASS:PUBLIC\r\nPRIORITY:5\r\nTRANSP:OPAQUE\r\n"
            "BEGIN:VALARM\r\nACTION:DISPLAY\r\nTRIGGER:-PT15M\r\nEND:VALARM\r\nEND:VEVENT\r\n"
            % (i, i, i % 40, m, d, h, m, d, h))


def main():
    kind, target, count = sys.argv[1], sys.argv[2], int(sys.argv[3])
    if kind == "tree":
        for i in range(count):
            folder = os.path.join(target, "group%03d" % (i // 1000), "folder%02d" % (i // 100 % 10))
            if i % 100 == 0:
                os.makedirs(folder, exist_ok=True)
            with open(os.path.join(folder, "event%06d.ics" % i), "w", newline="") as f:
                f.write(HEAD + event(i) + "END:VCALENDAR\r\n")
    else:
        with open(target, "w", newline="") as f:
            f.write(HEAD)
            for i in range(count):
                f.write(event(i))
            f.write("END:VCALENDAR\r\n")


if __name__ == "__main__":
    main()
