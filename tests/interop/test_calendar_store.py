#!/usr/bin/python3
"""Calendar folders filled from calendar files, read back by libpst (readpst), libpff (pffinfo,
pffexport, pypff) and pstcheck, and compared field by field with the source files.

usage: test_calendar_store.py MAKE_CALENDAR_STORE PSTCHECK EXAMPLES_DIR SHARED_DIR"""
import glob
import os
import subprocess
import sys
import tempfile

failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what)


def run(args, **kw):
    env = dict(os.environ, TZ="Europe/Berlin")
    return subprocess.run(args, capture_output=True, text=True, errors="replace", env=env, **kw)


def events(calendar_file):
    """readpst's VEVENTs as dicts of their lines."""
    out, current = [], None
    for line in open(calendar_file, encoding="utf-8", errors="replace").read().splitlines():
        if line == "BEGIN:VEVENT":
            current = {}
        elif line == "END:VEVENT":
            out.append(current)
            current = None
        elif current is not None and ":" in line:
            name, value = line.split(":", 1)
            current.setdefault(name.split(";")[0], value)
    return out


def main():
    make, pstcheck, examples, shared = sys.argv[1:5]
    work = tempfile.mkdtemp(prefix="calendar-store-")
    store = os.path.join(work, "calendars.pst")
    args = [make, store, "Varnel Calendars : Created - 7.12.26 9.5.07",
            "cal\\home=" + os.path.join(examples, "home", "birthdays.ics"),
            "cal\\work=" + os.path.join(examples, "office", "team.ics"),
            "cal\\work=" + os.path.join(examples, "office", "review.vcs")]
    corpus = os.path.join(shared, "corpus")
    outlook = os.path.join(corpus, "biweekly", "io", "text", "outlook-2010.ics")
    rfc = os.path.join(corpus, "calendarserver", "2445AllExamples.ics")
    have_corpus = os.path.exists(outlook) and os.path.exists(rfc)
    if have_corpus:
        args += ["cal=" + outlook, "cal\\rfc=" + rfc]
    else:
        print("skipped: the corpus part needs", corpus)
    r = run(args)
    check(r.returncode == 0 and "failed" not in r.stdout, "make_calendar_store: " + r.stdout + r.stderr)

    r = run([pstcheck, store])
    check(r.returncode == 0 and not r.stdout and not r.stderr, "pstcheck: " + r.stdout + r.stderr)
    r = run(["pffinfo", store])
    check(r.returncode == 0 and not r.stderr, "pffinfo: " + r.stderr)
    r = run(["pffexport", "-q", "-t", os.path.join(work, "export"), store])
    check(r.returncode == 0 and not r.stderr, "pffexport: " + r.stdout + r.stderr)

    # pypff: the folder tree, item counts, container and message classes.
    code = (
        "import pypff, sys\n"
        "f = pypff.file(); f.open(sys.argv[1])\n"
        "def walk(folder, path):\n"
        "    for i in range(folder.number_of_sub_folders):\n"
        "        sub = folder.get_sub_folder(i)\n"
        "        p = path + '/' + sub.name\n"
        "        classes = set(sub.get_sub_message(j).get_message_class() if hasattr(sub.get_sub_message(j), 'get_message_class') else '' for j in range(sub.number_of_sub_messages))\n"
        "        print(p, sub.number_of_sub_messages, ','.join(sorted(c or '' for c in classes)))\n"
        "        walk(sub, p)\n"
        "walk(f.get_root_folder(), '')\n"
    )
    r = run(["/usr/bin/python3", "-c", code, store])
    check(r.returncode == 0, "pypff: " + r.stderr)
    tree = {line.rsplit(" ", 2)[0]: line.rsplit(" ", 2)[1:] for line in r.stdout.splitlines()}
    top = "/Varnel Calendars : Created - 7.12.26 9.5.07"
    check(tree.get(top + "/cal/home", [None])[0] == "2", "pypff: cal/home holds %s" % tree.get(top + "/cal/home"))
    check(tree.get(top + "/cal/work", [None])[0] == "2", "pypff: cal/work holds %s" % tree.get(top + "/cal/work"))
    if have_corpus:
        check(tree.get(top + "/cal", [None])[0] == "1", "pypff: cal holds %s" % tree.get(top + "/cal"))
        check(tree.get(top + "/cal/rfc", [None])[0] == "41", "pypff: cal/rfc holds %s" % tree.get(top + "/cal/rfc"))

    # readpst: each appointment's fields as the source files give them.
    out = os.path.join(work, "readpst")
    os.mkdir(out)
    # One process: readpst's parallel children share one file offset and now and then skip an item.
    r = run(["readpst", "-j", "0", "-r", "-o", out, store])
    check(r.returncode == 0 and not r.stderr, "readpst: " + r.stderr)
    base = glob.glob(os.path.join(out, "*"))[0]
    home = {e.get("SUMMARY"): e for e in events(os.path.join(base, "cal", "home", "calendar"))}
    work_events = {e.get("SUMMARY"): e for e in events(os.path.join(base, "cal", "work", "calendar"))}
    expected = [
        (home, "Anna's birthday", {"DTSTART": "20240313T230000Z", "DTEND": "20240314T230000Z",
                                  "RRULE": "FREQ=YEARLY;BYMONTHDAY=14;BYMONTH=3", "TRIGGER": "-PT900M"}),
        (home, "Dentist", {"DTSTART": "20240402T063000Z", "DTEND": "20240402T071500Z",
                           "LOCATION": "Hauptstraße 12"}),
        (work_events, "Team sync", {"DTSTART": "20240108T090000Z", "DTEND": "20240108T093000Z", "LOCATION": "Room 1",
                                    "RRULE": "FREQ=WEEKLY;COUNT=10;BYDAY=MO;TH", "TRIGGER": "-PT15M"}),
        (work_events, "Quarterly review", {"DTSTART": "20240315T130000Z", "DTEND": "20240315T143000Z",
                                           "RRULE": "FREQ=MONTHLY;COUNT=4;INTERVAL=3;BYSETPOS=1;BYDAY=FR"}),
    ]
    if have_corpus:
        cal_events = {e.get("SUMMARY"): e for e in events(os.path.join(base, "cal", "calendar"))}
        rfc_events = {e.get("SUMMARY"): e for e in events(os.path.join(base, "cal", "rfc", "calendar"))}
        expected += [
            (cal_events, "Team Meeting", {"DTSTART": "20130610T160000Z", "DTEND": "20130610T170000Z",
                                          "LOCATION": "Auditorium 16"}),
            (rfc_events, "RExample01", {"DTSTART": "19970902T130000Z", "RRULE": "FREQ=DAILY;COUNT=10"}),
            (rfc_events, "RExample10", {"RRULE": "FREQ=WEEKLY;COUNT=24;INTERVAL=2;BYDAY=MO;WE;FR"}),
        ]
    for found, subject, fields in expected:
        event = found.get(subject)
        check(event is not None, "readpst has no appointment %r" % subject)
        for name, value in fields.items():
            check(event is not None and event.get(name) == value,
                  "%s %s: readpst says %r, the file %r" % (subject, name, event and event.get(name), value))

    if failures:
        print("0 passed, %d failed" % len(failures))
        sys.exit(1)
    print("1 passed, 0 failed")


if __name__ == "__main__":
    main()
