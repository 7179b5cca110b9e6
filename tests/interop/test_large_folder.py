#!/usr/bin/python3
"""A thousand appointments in one calendar folder: the folder's contents table spans several
blocks of rows. Every reader family must find all of them, each once: libpff (pypff), libpst
(readpst -j 0) and npm's pst-extractor (a port of java-libpst), which finds a row by its position
in the full 8,176-byte blocks of the row matrix.

usage: test_large_folder.py MAKE_CALENDAR_STORE PSTCHECK MAKE_CALENDARS_PY"""
import collections
import os
import sys
import tempfile

from readers import Checks, below_top, pst_extractor, pypff_counts, readpst_events, run, utc_stamp

COUNT = 1000
FOLDER = "cal/big"
check = Checks()


def main(make, pstcheck, make_calendars, work):
    source = os.path.join(work, "big.ics")
    r = run(["/usr/bin/python3", make_calendars, "big", source, str(COUNT)])
    check(r.returncode == 0, "make_calendars.py: " + r.stderr)
    store = os.path.join(work, "big.pst")
    r = run([make, store, "Varnel Calendars : Created - 7.12.26 9.5.07", FOLDER.replace("/", "\\") + "=" + source])
    check(r.returncode == 0 and r.stdout.strip().endswith(": %d" % COUNT), "make_calendar_store: " + r.stdout + r.stderr)
    r = run([pstcheck, store])
    check(r.returncode == 0 and not r.stdout and not r.stderr, "pstcheck: " + (r.stdout + r.stderr)[:2000])
    subjects = collections.Counter("Meeting %d" % i for i in range(COUNT))

    counts = {below_top(p): n for p, n in pypff_counts(store).items()}
    check(counts.get(FOLDER) == COUNT, "pypff counts %s item(s) in %s" % (counts.get(FOLDER), FOLDER))

    events, status, errors = readpst_events(store, os.path.join(work, "readpst"))
    check(status == 0 and not errors, "readpst: " + errors)
    found = events.get(FOLDER, [])
    check(collections.Counter(e.get("SUMMARY") for e in found) == subjects,
          "readpst reads %d appointment(s) in %s, not each of the %d once" % (len(found), FOLDER, COUNT))

    seen = pst_extractor(store)
    if check("error" not in seen, "pst-extractor: %s" % seen.get("error")):
        check(not seen["complaints"], "pst-extractor complains: %s" % seen["complaints"][:5])
        folder = [f for f in seen["folders"] if below_top(f["path"]) == FOLDER]
        check(len(folder) == 1 and folder[0]["items"] == COUNT and folder[0]["tableRows"] == COUNT
              and not folder[0]["fallback"], "pst-extractor's %s: %s" % (FOLDER, folder))
        appointments = [a for a in seen["appointments"] if below_top(a["folder"]) == FOLDER]
        check(collections.Counter(a["subject"] for a in appointments) == subjects,
              "pst-extractor reads %d appointment(s) in %s, not each of the %d once" % (len(appointments), FOLDER, COUNT))
        # Each row leads to its own message: the same start, end and place as readpst reads.
        theirs = collections.Counter((a["subject"], utc_stamp(a["start"]), utc_stamp(a["end"]), a["location"])
                                     for a in appointments)
        ours = collections.Counter((e.get("SUMMARY"), e.get("DTSTART"), e.get("DTEND"), e.get("LOCATION"))
                                   for e in found)
        check(theirs == ours, "only pst-extractor reads %s; only readpst reads %s"
              % (list(theirs - ours)[:5], list(ours - theirs)[:5]))


if __name__ == "__main__":
    if len(sys.argv) != 4:
        print(__doc__)
        sys.exit(2)
    with tempfile.TemporaryDirectory(prefix="large-folder-") as work:
        main(*sys.argv[1:4], work)
    check.finish()
