#!/usr/bin/env python3
"""Peak memory of cal2pst on the calendar shapes that grow without bound in one series or file.

  memory_shapes.py [--cal2pst PATH] [--pstcheck PATH] [--keep DIR] [--only NAME,...] [--large-mb N]

Each shape is written at run time into a temporary folder, imported alone by `cal2pst -o` under
/usr/bin/time -v, and reported with its size, exit status, peak RSS, the peak's ratio to the
file's size and the line cal2pst gave the file. --large-mb sizes the file of ordinary events
(default 500)."""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile

HEAD = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Varnel//Memory shapes//EN\r\n"
TAIL = "END:VCALENDAR\r\n"


def event_head(uid, extra=""):
    return ("BEGIN:VEVENT\r\nUID:%s\r\nDTSTART:20240301T090000Z\r\nDTEND:20240301T100000Z\r\nSUMMARY:Shape\r\n%s"
            % (uid, extra))


def attendees(f, n):
    f.write(HEAD + event_head("many-attendees", "ORGANIZER;CN=Boss:mailto:boss@example.org\r\n"))
    for i in range(n):
        f.write("ATTENDEE:mailto:p%d@x.org\r\n" % i)
    f.write("END:VEVENT\r\n" + TAIL)


def exceptions(f, n):
    f.write(HEAD + event_head("series", "RRULE:FREQ=DAILY;COUNT=%d\r\n" % n) + "END:VEVENT\r\n")
    for i in range(n):
        day = 19700 + i  # days since 1970, from 2023-12-09
        d = "%04d%02d%02d" % tuple(__import__("time").gmtime(day * 86400)[:3])
        f.write("BEGIN:VEVENT\r\nUID:series\r\nRECURRENCE-ID:%sT090000Z\r\nDTSTART:%sT110000Z\r\n"
                "DTEND:%sT120000Z\r\nSUMMARY:Changed %d\r\nEND:VEVENT\r\n" % (d, d, d, i))
    f.write(TAIL)


def rdates(f, n):
    f.write(HEAD + event_head("rdates"))
    for i in range(n):
        f.write("RDATE:%04d%02d%02dT150000Z\r\n" % (2024 + i // 336 % 50, 1 + i // 28 % 12, 1 + i % 28))
    f.write("END:VEVENT\r\n" + TAIL)


def exdates(f, n):
    f.write(HEAD + event_head("exdates", "RRULE:FREQ=DAILY;COUNT=30\r\n"))
    for i in range(n):
        f.write("EXDATE:%04d%02d%02dT090000Z\r\n" % (2024 + i // 336 % 50, 1 + i // 28 % 12, 1 + i % 28))
    f.write("END:VEVENT\r\n" + TAIL)


def xprops(f, n):
    f.write(HEAD + event_head("xprops"))
    for i in range(n):
        f.write("X-PROP-%d:value %d\r\n" % (i, i))
    f.write("END:VEVENT\r\n" + TAIL)


def categories(f, n):
    f.write(HEAD + event_head("categories"))
    for i in range(n):
        f.write("CATEGORIES:Category %d\r\n" % i)
    f.write("END:VEVENT\r\n" + TAIL)


def alarms(f, n):
    f.write(HEAD + event_head("alarms"))
    for i in range(n):
        f.write("BEGIN:VALARM\r\nACTION:DISPLAY\r\nTRIGGER:-PT%dM\r\nEND:VALARM\r\n" % (i % 1000))
    f.write("END:VEVENT\r\n" + TAIL)


def description(f, megabytes):
    f.write(HEAD + event_head("long-description") + "DESCRIPTION:")
    chunk = ("All work and no play makes a long description. " * 1000)[:65536]
    for _ in range(megabytes * 16):
        f.write(chunk)
    f.write("\r\nEND:VEVENT\r\n" + TAIL)


def folded_description(f, megabytes):
    f.write(HEAD + event_head("folded-description") + "DESCRIPTION:")
    line = "x" * 73
    for _ in range(megabytes * (1 << 20) // 76):
        f.write(line + "\r\n ")
    f.write("end\r\nEND:VEVENT\r\n" + TAIL)


def zones(f, n):
    f.write(HEAD)
    for i in range(n):
        f.write("BEGIN:VTIMEZONE\r\nTZID:Zone %d\r\nBEGIN:STANDARD\r\nDTSTART:19701025T030000\r\nTZOFFSETFROM:+0200\r\n"
                "TZOFFSETTO:+0100\r\nRRULE:FREQ=YEARLY;BYMONTH=10;BYDAY=-1SU\r\nEND:STANDARD\r\nEND:VTIMEZONE\r\n" % i)
    f.write(event_head("zoned") + "END:VEVENT\r\n" + TAIL)


def tiny_events(f, megabytes):
    f.write(HEAD)
    ev = "BEGIN:VEVENT\r\nDTSTART:20240301\r\nEND:VEVENT\r\n"
    for _ in range(megabytes * (1 << 20) // len(ev)):
        f.write(ev)
    f.write(TAIL)


def vcal_attendees(f, n):
    f.write("BEGIN:VCALENDAR\r\nVERSION:1.0\r\nBEGIN:VEVENT\r\nDTSTART:20240301T090000\r\nSUMMARY:Shape\r\n")
    for i in range(n):
        f.write("ATTENDEE;ROLE=ATTENDEE:p%d@x.org\r\n" % i)
    f.write("END:VEVENT\r\nEND:VCALENDAR\r\n")


def ordinary(path, megabytes):
    here = os.path.dirname(os.path.abspath(__file__))
    sys.path.insert(0, here)
    import make_calendars
    events = megabytes * (1 << 20) // len(make_calendars.event(123456))
    subprocess.check_call([sys.executable, os.path.join(here, "make_calendars.py"), "big", path, str(events)])


SHAPES = [
    # name, writer, count, extension
    ("attendees", attendees, 1000000, "ics"),
    ("exceptions", exceptions, 10000, "ics"),
    ("rdates", rdates, 1000000, "ics"),
    ("exdates", exdates, 1000000, "ics"),
    ("xprops", xprops, 1000000, "ics"),
    ("categories", categories, 1000000, "ics"),
    ("alarms", alarms, 200000, "ics"),
    ("description", description, 200, "ics"),
    ("folded-description", folded_description, 200, "ics"),
    ("zones", zones, 100000, "ics"),
    ("tiny-events", tiny_events, 200, "ics"),
    ("vcal-attendees", vcal_attendees, 1000000, "vcs"),
    ("ordinary", None, 500, "ics"),
]


def measure(cal2pst, path, store):
    cmd = ["/usr/bin/time", "-v", cal2pst, "-o", store, path]
    p = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, errors="replace")
    peak = int(re.search(r"Maximum resident set size \(kbytes\): (\d+)", p.stderr).group(1))
    seconds = re.search(r"Elapsed \(wall clock\) time.*: (.*)", p.stderr).group(1)
    line = next((l for l in p.stderr.splitlines() if l.startswith("[1/1]")), "")
    if not line:
        line = next((l for l in p.stderr.splitlines() if "cal2pst" in l or "error" in l.lower()), p.stderr.strip()[-300:])
    return p.returncode, peak, seconds, line


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    ap = argparse.ArgumentParser()
    ap.add_argument("--cal2pst", default=os.path.join(here, "..", "build", "dev", "cli", "cal2pst"))
    ap.add_argument("--pstcheck", default=os.path.join(here, "..", "build", "dev", "tools", "pstcheck", "pstcheck"))
    ap.add_argument("--keep", help="keep the files and stores in this folder")
    ap.add_argument("--only", help="comma-separated shape names")
    ap.add_argument("--large-mb", type=int, default=500)
    args = ap.parse_args()
    only = set(args.only.split(",")) if args.only else None
    work = args.keep or tempfile.mkdtemp(prefix="memory-shapes-")
    os.makedirs(work, exist_ok=True)
    print("%-20s %10s %6s %12s %8s %10s  %s" % ("shape", "file", "exit", "peak RSS", "x file", "time", "cal2pst says"))
    try:
        for name, writer, count, ext in SHAPES:
            if only and name not in only:
                continue
            path = os.path.join(work, name + "." + ext)
            store = os.path.join(work, name + ".pst")
            if os.path.exists(store):
                os.remove(store)
            if writer is None:
                count = args.large_mb
                ordinary(path, count)
            else:
                with open(path, "w", newline="") as f:
                    writer(f, count)
            size = os.path.getsize(path)
            code, peak, seconds, line = measure(os.path.abspath(args.cal2pst), path, store)
            line = line.replace(path, name + "." + ext)
            check = ""
            if os.path.exists(store) and os.path.exists(args.pstcheck):
                c = subprocess.run([args.pstcheck, store], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
                check = "" if c.returncode == 0 else "  PSTCHECK FAILED: " + c.stdout.strip()[:200]
            print("%-20s %8.1f MB %6d %9.1f MB %8.1f %10s  %s%s" % (name, size / 1e6, code, peak / 1024.0, peak * 1024.0 / size,
                                                                   seconds, line[:220], check), flush=True)
            if not args.keep:
                os.remove(path)
                if os.path.exists(store):
                    os.remove(store)
    finally:
        if not args.keep:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
