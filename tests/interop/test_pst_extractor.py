#!/usr/bin/python3
"""npm's pst-extractor (a port of java-libpst) reading stores: Outlook's own samples, to show the
harness reads what it should, and our calendar folders filled from calendar files, compared with
the source files and with what libpff (pypff) and libpst (readpst) read from the same store.

usage: test_pst_extractor.py samples SHARED_DIR
       test_pst_extractor.py calendar MAKE_CALENDAR_STORE PSTCHECK EXAMPLES_DIR SHARED_DIR"""
import collections
import os
import sys
import tempfile

from readers import Checks, below_top, pst_extractor, pypff_counts, readpst_events, run, utc_stamp

check = Checks()

# The named property (PSETID_Appointment LID) behind each field pst-extractor gives.
FIELD_LIDS = {"start": 0x820D, "end": 0x820E, "allDay": 0x8215, "recurring": 0x8223,
              "recurrence": 0x8216, "recurrencePattern": 0x8232, "location": 0x8208}

MO, TU, WE, TH, FR = 1, 2, 3, 4, 5


def days(*which):
    """pst-extractor's weekday flags, Sunday first."""
    return [i in which for i in range(7)]


def weekly(period, weekdays, end, count=None):
    return {"frequency": "Weekly", "patternType": "Week", "period": period,
            "patternTypeSpecific": days(*weekdays), "endType": end, "occurrenceCount": count}


# Appointments as their source files give them (times in UTC; the files' zone is Europe/Berlin),
# by (file, folder below the top, subject). An occurrence count of None is not compared.
SAMPLE_APPOINTMENTS = [
    ("dist-list.pst", "Calendar", "Test appointment",
     {"start": "2016-08-02T15:00:00.000Z", "end": "2016-08-02T15:30:00.000Z", "allDay": False,
      "recurring": True, "location": "", "recurrencePattern": "every Tuesday from 8:00 AM to 8:30 AM",
      "recurrence": weekly(1, [TU], "NeverEnd")}),
]
OUR_APPOINTMENTS = [
    ("cal/home", "Anna's birthday",
     {"start": "2024-03-13T23:00:00.000Z", "end": "2024-03-14T23:00:00.000Z", "allDay": True, "recurring": True,
      "location": "", "recurrence": {"frequency": "Yearly", "patternType": "Month", "period": 12,
                                     "patternTypeSpecific": 14, "endType": "NeverEnd", "occurrenceCount": None}}),
    ("cal/home", "Dentist",
     {"start": "2024-04-02T06:30:00.000Z", "end": "2024-04-02T07:15:00.000Z", "allDay": False, "recurring": False,
      "location": "Hauptstraße 12", "recurrence": None}),
    ("cal/work", "Team sync",
     {"start": "2024-01-08T09:00:00.000Z", "end": "2024-01-08T09:30:00.000Z", "allDay": False, "recurring": True,
      "location": "Room 1", "recurrence": weekly(1, [MO, TH], "AfterNOccurrences", 10),
      # The organizer is a recipient too; the moved occurrence is an attachment.
      "organizer": "Ann Example", "recipients": 2, "attachments": 1}),
    ("cal/work", "Quarterly review",
     {"start": "2024-06-07T13:00:00.000Z", "end": "2024-06-07T14:30:00.000Z", "allDay": False, "recurring": True,
      "location": "", "recurrence": {"frequency": "Monthly", "patternType": "MonthNth", "period": 3,
                                     "patternTypeSpecific": {"weekdays": days(FR), "nth": 1},
                                     "endType": "AfterNOccurrences", "occurrenceCount": 3}}),  # the start counts as the first of #4
]
CORPUS_APPOINTMENTS = [
    ("cal", "Team Meeting",
     {"start": "2013-06-10T16:00:00.000Z", "end": "2013-06-10T17:00:00.000Z", "allDay": False, "recurring": False,
      "location": "Auditorium 16", "organizer": "Smith, Bob", "recipients": 3}),
    ("cal/rfc", "RExample01",
     {"start": "1997-09-02T13:00:00.000Z", "recurring": True,
      "recurrence": {"frequency": "Daily", "patternType": "Day", "period": 1440, "patternTypeSpecific": None,
                     "endType": "AfterNOccurrences", "occurrenceCount": 10}}),
    ("cal/rfc", "RExample10",  # UNTIL=19971224T000000Z: 24 occurrences
     {"recurring": True, "recurrence": weekly(2, [MO, WE, FR], "AfterDate", 24)}),
]


def lost_fields(seen):
    """The fields pst-extractor cannot give because it skips the name-to-ID map's last entry."""
    lost = seen.get("lostName") or {}
    if lost.get("set") != "PSETID_Appointment":
        return set()
    fields = {f for f, lid in FIELD_LIDS.items() if lid == lost.get("lid")}
    if fields:
        print("note: pst-extractor skips the name-to-ID map's last entry, LID 0x%x; not compared:" % lost["lid"],
              ", ".join(sorted(fields)))
    return fields


def compare_fields(seen, expected, where):
    """Checks the appointments of `expected` [(folder below the top, subject, fields)]."""
    lost = lost_fields(seen)
    # A series and a single appointment may share a subject (a start off the series' pattern is
    # its own appointment): the series is the one described.
    by_key = {}
    for a in seen.get("appointments", []):
        key = (below_top(a["folder"]), a["subject"])
        if key not in by_key or a["recurring"]:
            by_key[key] = a
    for folder, subject, fields in expected:
        a = by_key.get((folder, subject))
        if not check(a is not None, "%s: pst-extractor finds no %r in %s" % (where, subject, folder)):
            continue
        check(a["messageClass"] == "IPM.Appointment", "%s: %s is a %s" % (where, subject, a["messageClass"]))
        for name, value in fields.items():
            if name in lost:
                continue
            got = a[name]
            if isinstance(value, dict) and isinstance(got, dict):
                got = {k: got.get(k) for k in value if value[k] is not None}
                value = {k: v for k, v in value.items() if v is not None}
            check(got == value, "%s: %s %s: pst-extractor says %r, expected %r" % (where, subject, name, got, value))


def compare_folders(seen, counts, where, complaints=True):
    """Every folder pypff counts items in is there, with as many items; none read the fallback way.
    False when pst-extractor could not read the store at all."""
    if not check("error" not in seen, "%s: pst-extractor: %s" % (where, seen.get("error"))):
        return False
    check("error" not in counts, "%s: pypff: %s" % (where, counts.get("error")))
    if complaints:
        check(not seen["complaints"], "%s: pst-extractor complains: %s" % (where, seen["complaints"]))
    folders = {f["path"]: f for f in seen["folders"]}
    for path, count in sorted(counts.items()):
        f = folders.get(path)
        if f is None:
            # Below a search folder, whose hierarchy pst-extractor does not ask.
            check(any(path.startswith(p + "/") and g["tableRows"] == -1 for p, g in folders.items()),
                  "%s: pst-extractor has no folder %s" % (where, path))
            continue
        check(not f["fallback"], "%s: pst-extractor could not read the contents table of %s" % (where, path))
        if f["tableRows"] == -1 and not f["fallback"]:
            continue  # a search folder
        check(f["items"] == count and f["tableRows"] == count,
              "%s: %s: pst-extractor finds %d item(s) (%d row(s)), pypff %d"
              % (where, path, f["items"], f["tableRows"], count))
    return True


def samples(shared):
    folder = os.path.join(shared, "reference", "pst-samples")
    if not os.path.isdir(folder):
        check.skip("Outlook's sample stores are not in " + folder)
        return
    for name in ("Empty.pst", "dist-list.pst", "outlook.pst"):
        path = os.path.join(folder, name)
        seen = pst_extractor(path)
        # pst-extractor says so for each item of a class it has no reader for (free/busy data).
        if compare_folders(seen, pypff_counts(path), name, complaints=False):
            compare_fields(seen, [(f, s, v) for n, f, s, v in SAMPLE_APPOINTMENTS if n == name], name)


def calendar(make, pstcheck, examples, shared, work):
    store = os.path.join(work, "calendars.pst")
    # The same store test_calendar_store.py reads with libpff and libpst.
    args = [make, store, "Varnel Calendars : Created - 7.12.26 9.5.07",
            "cal\\home=" + os.path.join(examples, "home", "birthdays.ics"),
            "cal\\work=" + os.path.join(examples, "office", "team.ics"),
            "cal\\work=" + os.path.join(examples, "office", "review.vcs")]
    expected = list(OUR_APPOINTMENTS)
    corpus = os.path.join(shared, "corpus")
    outlook = os.path.join(corpus, "biweekly", "io", "text", "outlook-2010.ics")
    rfc = os.path.join(corpus, "calendarserver", "2445AllExamples.ics")
    if os.path.exists(outlook) and os.path.exists(rfc):
        args += ["cal=" + outlook, "cal\\rfc=" + rfc]
        expected += CORPUS_APPOINTMENTS
    else:
        check.skip("the corpus part needs " + corpus)
    r = run(args)
    check(r.returncode == 0 and "failed" not in r.stdout, "make_calendar_store: " + r.stdout + r.stderr)
    r = run([pstcheck, store])
    check(r.returncode == 0 and not r.stdout and not r.stderr, "pstcheck: " + r.stdout + r.stderr)

    seen = pst_extractor(store)
    counts = pypff_counts(store)
    if not compare_folders(seen, counts, "our store"):
        return
    compare_fields(seen, expected, "our store")
    for f in seen["folders"]:
        if f["path"].split("/")[-1] in ("cal", "home", "work", "rfc"):
            check(f["containerClass"] == "IPF.Appointment", "%s is a %r folder" % (f["path"], f["containerClass"]))

    # Every appointment as readpst reads it: subject, start, end, location and whether it repeats.
    events, status, errors = readpst_events(store, os.path.join(work, "readpst"))
    check(status == 0 and not errors, "readpst: " + errors)
    lost = lost_fields(seen)
    key_fields = [k for k in ("start", "end", "location", "recurring") if k not in lost]

    def key_of_extractor(a):
        values = {"start": utc_stamp(a["start"]), "end": utc_stamp(a["end"]), "location": a["location"] or None,
                  "recurring": a["recurring"]}
        return (a["subject"],) + tuple(values[k] for k in key_fields)

    def key_of_readpst(e):
        values = {"start": e.get("DTSTART"), "end": e.get("DTEND"), "location": e.get("LOCATION"),
                  "recurring": "RRULE" in e}
        return (e.get("SUMMARY"),) + tuple(values[k] for k in key_fields)

    theirs = collections.defaultdict(collections.Counter)
    for a in seen["appointments"]:
        theirs[below_top(a["folder"])][key_of_extractor(a)] += 1
    for folder in sorted(set(theirs) | set(events)):
        ours = collections.Counter(key_of_readpst(e) for e in events.get(folder, []))
        check(theirs[folder] == ours, "%s: only pst-extractor reads %s; only readpst reads %s"
              % (folder, list(theirs[folder] - ours), list(ours - theirs[folder])))


def main():
    mode = sys.argv[1] if len(sys.argv) > 1 else ""
    if mode == "samples" and len(sys.argv) == 3:
        samples(sys.argv[2])
    elif mode == "calendar" and len(sys.argv) == 6:
        with tempfile.TemporaryDirectory(prefix="pst-extractor-") as work:
            calendar(*sys.argv[2:6], work)
    else:
        print(__doc__)
        sys.exit(2)
    check.finish()


if __name__ == "__main__":
    main()
