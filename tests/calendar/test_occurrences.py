#!/usr/bin/python3
"""Every occurrence a file describes reaches the store, at the instant the file means, and no
other: small files of ours, imported by cal2pst under two machine zones, read back with pypff, and
each appointment's recurrence expanded by the benchmark's own decoder of MS-OXOCAL's blobs (it
knows nothing of the writer). The expected instants are worked out by hand, in UTC.

usage: test_occurrences.py CAL2PST BENCH_DIR"""
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, sys.argv[2])
import occurrences as decoder  # noqa: E402  (bench/occurrences.py: the store side only)

HEAD = "BEGIN:VCALENDAR\nVERSION:2.0\nPRODID:-//Varnel//Tests//EN\n"
TAIL = "END:VCALENDAR\n"


def event(summary, *lines):
    return "BEGIN:VEVENT\nUID:%s@test\nSUMMARY:%s\n%s\nEND:VEVENT\n" % (summary.replace(" ", "-"), summary,
                                                                     "\n".join(lines))


# (file name, its events, {summary: [UTC starts, "YYYYMMDDTHHMM"]}, {summary: appointments})
CASES = [
    # An UNTIL in UTC is compared in the series' own clock: 09:00 CEST on 24 April is 07:00Z,
    # so that Wednesday is the last; in New York 12:59Z is before 09:00 EDT (13:00Z) on the 24th.
    ("until.ics",
     event("Berlin weekly", "DTSTART;TZID=Europe/Berlin:20240403T090000", "DTEND;TZID=Europe/Berlin:20240403T100000",
           "RRULE:FREQ=WEEKLY;UNTIL=20240424T070000Z")
     + event("New York weekly", "DTSTART;TZID=America/New_York:20240403T090000",
             "DTEND;TZID=America/New_York:20240403T100000", "RRULE:FREQ=WEEKLY;UNTIL=20240424T125900Z"),
     {"Berlin weekly": ["20240403T0700", "20240410T0700", "20240417T0700", "20240424T0700"],
      "New York weekly": ["20240403T1300", "20240410T1300", "20240417T1300"]},
     {"Berlin weekly": 1, "New York weekly": 1}),
    # Rules no Outlook pattern holds: their occurrences one by one.
    ("unstorable.ics",
     event("Two days a month", "DTSTART:20240101T090000Z", "DURATION:PT1H", "RRULE:FREQ=MONTHLY;BYMONTHDAY=1,15;COUNT=4")
     + event("April only", "DTSTART:20240405T100000Z", "DURATION:PT1H", "RRULE:FREQ=MONTHLY;BYMONTH=4;BYDAY=1FR;COUNT=2")
     + event("Friday 13th", "DTSTART:20240902T090000Z", "DURATION:PT1H",
             "RRULE:FREQ=MONTHLY;BYDAY=FR;BYMONTHDAY=13;UNTIL=20241231T235959Z", "EXDATE:20240902T090000Z")
     + event("With a date added", "DTSTART:20240101T090000Z", "DURATION:PT1H", "RRULE:FREQ=WEEKLY;COUNT=2",
             "RDATE:20240110T150000Z")
     + event("Two rules", "DTSTART:20240101T090000Z", "DURATION:PT1H", "RRULE:FREQ=WEEKLY;COUNT=2",
             "RRULE:FREQ=MONTHLY;COUNT=2"),
     {"Two days a month": ["20240101T0900", "20240115T0900", "20240201T0900", "20240215T0900"],
      "April only": ["20240405T1000", "20250404T1000"],
      "Friday 13th": ["20240913T0900", "20241213T0900"],
      "With a date added": ["20240101T0900", "20240108T0900", "20240110T1500"],
      "Two rules": ["20240101T0900", "20240108T0900", "20240201T0900"]},
     {"Two days a month": 4, "April only": 2, "Friday 13th": 2, "With a date added": 3, "Two rules": 3}),
    # Patterns Outlook does hold: the last weekday of the month (29 February 2024 is a Thursday,
    # 29 March a Friday); a start off its pattern, which counts as the first of COUNT.
    ("patterns.ics",
     event("Last weekday", "DTSTART:20240131T090000Z", "DURATION:PT1H",
           "RRULE:FREQ=MONTHLY;BYDAY=MO,TU,WE,TH,FR;BYSETPOS=-1;COUNT=3")
     + event("Off its pattern", "DTSTART:20240315T130000Z", "DURATION:PT90M",
             "RRULE:FREQ=MONTHLY;INTERVAL=3;BYDAY=FR;BYSETPOS=1;COUNT=3"),
     {"Last weekday": ["20240131T0900", "20240229T0900", "20240329T0900"],
      "Off its pattern": ["20240315T1300", "20240607T1300", "20240906T1300"]},
     {"Last weekday": 1, "Off its pattern": 2}),
    # Times in UTC stay in UTC across Sydney's switch of 7 April 2024; every 4 hours is a daily
    # series for each time of day; a daily series of three years keeps all its 1,096 days.
    ("clocks.ics",
     event("UTC weekly", "DTSTART:20240320T090000Z", "DURATION:PT1H", "RRULE:FREQ=WEEKLY;COUNT=4")
     + event("Every four hours", "DTSTART:20240101T090000Z", "DURATION:PT30M",
             "RRULE:FREQ=HOURLY;INTERVAL=4;UNTIL=20240102T090000Z")
     + event("Three years daily", "DTSTART:20240101T090000Z", "DURATION:PT15M",
             "RRULE:FREQ=DAILY;UNTIL=20270101T000000Z"),
     {"UTC weekly": ["20240320T0900", "20240327T0900", "20240403T0900", "20240410T0900"],
      "Every four hours": ["20240101T0900", "20240101T1300", "20240101T1700", "20240101T2100", "20240102T0100",
                           "20240102T0500", "20240102T0900"],
      "Three years daily": None},  # 1,096 days: checked by count, first and last below
     {"UTC weekly": 1, "Every four hours": 6, "Three years daily": 1}),
]

failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what)
    return ok


def stamp(epoch):
    return decoder.datetime.datetime.utcfromtimestamp(epoch).strftime("%Y%m%dT%H%M")


def main():
    cal2pst = sys.argv[1]
    work = tempfile.mkdtemp(prefix="occurrences-")
    for name, events, _, _ in CASES:
        with open(os.path.join(work, name), "w") as f:
            f.write(HEAD + events + TAIL)
    files = [os.path.join(work, c[0]) for c in CASES]
    for tz in ("UTC", "Australia/Sydney"):
        store = os.path.join(work, tz.replace("/", "-") + ".pst")
        r = subprocess.run([cal2pst, "-q", "-o", store] + files, env=dict(os.environ, TZ=tz), capture_output=True,
                           text=True)
        if not check(r.returncode == 0, "%s: cal2pst: %s %s" % (tz, r.stdout, r.stderr)):
            continue
        found, count = {}, {}
        for a in decoder.read_store(store):
            s = decoder.store_series(a, 4000)
            found.setdefault(a["subject"], []).extend(stamp(o[0]) for o in s["occ"])
            count[a["subject"]] = count.get(a["subject"], 0) + 1
        for _, _, expected, appointments in CASES:
            for subject, want in expected.items():
                got = sorted(found.get(subject, []))
                if want is None:
                    check(len(got) == 1096 and got[0] == "20240101T0900" and got[-1] == "20261231T0900",
                          "%s: %s: %d occurrences, %s to %s" % (tz, subject, len(got), got[:1], got[-1:]))
                else:
                    check(got == sorted(want), "%s: %s: the store has %s, the file %s" % (tz, subject, got, want))
                check(count.get(subject) == appointments[subject], "%s: %s: %s appointment(s), expected %d"
                      % (tz, subject, count.get(subject), appointments[subject]))
    if failures:
        print("0 passed, %d failed" % len(failures))
        sys.exit(1)
    print("1 passed, 0 failed")


if __name__ == "__main__":
    main()
