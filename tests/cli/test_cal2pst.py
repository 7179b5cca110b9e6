#!/usr/bin/python3
"""cal2pst as a user and a script meet it: help and version, usage errors, the store it writes
(read back by libpff and pstcheck), the summary on stdout, progress on stderr, exit statuses, and
never overwriting a file.
Usage: test_cal2pst.py CAL2PST PSTCHECK STORE_TREE EXAMPLES"""
import os
import re
import resource
import shutil
import signal
import subprocess
import sys
import tempfile
import unittest

CAL2PST, PSTCHECK, STORE_TREE, EXAMPLES, MAKE_CALENDARS = sys.argv[1:6]


def run(*args, cwd=None, preexec_fn=None):
    return subprocess.run([CAL2PST, *args], capture_output=True, text=True, cwd=cwd, timeout=300,
                          stdin=subprocess.DEVNULL, preexec_fn=preexec_fn)


def summary(stdout):
    """The summary lines as a dict, and the failed lines."""
    fields = {}
    failed = []
    for line in stdout.splitlines():
        if line.startswith("failed: "):
            failed.append(line[len("failed: "):])
        else:
            key, _, value = line.partition(": ")
            fields[key] = value
    return fields, failed


def tree(store):
    check = subprocess.run([PSTCHECK, store], capture_output=True, text=True)
    assert check.returncode == 0, check.stdout + check.stderr
    out = subprocess.run(["/usr/bin/python3", STORE_TREE, store], capture_output=True, text=True, check=True)
    return out.stdout


def store_folder(path):
    return os.path.realpath(path).lstrip("/").replace("/", "\\")


class Cal2pst(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="cal2pst-")
        self.src = os.path.join(self.dir, "src")
        shutil.copytree(EXAMPLES, self.src)
        self.out = os.path.join(self.dir, "out")
        os.mkdir(self.out)

    def tearDown(self):
        shutil.rmtree(self.dir)

    def test_help_version_and_usage_errors(self):
        r = run("--help")
        self.assertEqual(r.returncode, 0)
        self.assertIn("Usage: cal2pst [-o FILE.pst | -d DIR]", r.stdout)
        r = run("--version")
        self.assertEqual(r.returncode, 0)
        self.assertRegex(r.stdout, r"^cal2pst .* \d+\.\d+\.\d+\n$")
        for args in ([], ["-o"], ["--bogus", self.src], ["-o", "a.pst", "-d", self.out, self.src],
                     ["--display-name", "a\\b", self.src], ["--display-name", " ", self.src]):
            r = run(*args)
            self.assertEqual(r.returncode, 2, args)
            self.assertTrue(r.stderr.startswith("cal2pst: "), (args, r.stderr))
            self.assertEqual(r.stdout, "", args)
        self.assertEqual(os.listdir(self.out), [])

    def test_imports_folders_and_files_mirroring_their_folders(self):
        team = os.path.join(self.src, "office", "team.ics")
        r = run("-d", self.out, "--display-name", "Team calendars", os.path.join(self.src, "home"), team)
        self.assertEqual(r.returncode, 0, r.stderr)
        fields, failed = summary(r.stdout)
        store = fields["store"]
        self.assertEqual(os.path.dirname(store), os.path.realpath(self.out))
        self.assertRegex(os.path.basename(store), r"^VarnelCalendars\d{1,2}\.\d{1,2}\.\d\d \d{1,2}\.\d{1,2}\.\d\d\.pst$")
        self.assertEqual((fields["files imported"], fields["appointments written"], fields["files failed"],
                          fields["items skipped"]), ("2", "3", "0", "0"))
        self.assertEqual(failed, [])
        # Plain progress lines when stderr is not a terminal: one a file, in order.
        lines = [l for l in r.stderr.splitlines() if l.startswith("[")]
        self.assertEqual(len(lines), 2, r.stderr)
        self.assertTrue(lines[0].startswith("[1/2] imported ") and "birthdays.ics: 2 appointment(s)" in lines[0])
        base = store_folder(self.src)
        listing = tree(store)
        self.assertIn(base + "\\home\tIPF.Appointment\t2\t", listing)
        self.assertIn(base + "\\office\tIPF.Appointment\t1\tTeam sync\n", listing)

    def test_notes_are_shown_per_file_and_counted(self):
        odd = os.path.join(self.src, "office", "odd.ics")
        with open(odd, "w") as f:
            f.write("BEGIN:VCALENDAR\nVERSION:2.0\nBEGIN:VEVENT\nUID:odd\nSUMMARY:Odd zone\n"
                    "DTSTART;TZID=Nowhere/Land:20240102T090000\nEND:VEVENT\nEND:VCALENDAR\n")
        r = run("-o", os.path.join(self.out, "notes.pst"), odd)
        self.assertEqual(r.returncode, 0, r.stderr)
        line = [l for l in r.stderr.splitlines() if l.startswith("[1/1] imported ")]
        self.assertEqual(len(line), 1, r.stderr)
        self.assertIn("odd.ics: 1 appointment(s); note: ", line[0])
        self.assertIn('"Nowhere/Land"', line[0])
        self.assertEqual(summary(r.stdout)[0]["notes"], "1")

    def test_failed_files_are_listed_and_the_rest_imported(self):
        bad = os.path.join(self.src, "office", "bad.ics")
        with open(bad, "w") as f:
            f.write("BEGIN:VCALENDAR\nVERSION:2.0\nEND:VCALENDAR\n")
        store = os.path.join(self.out, "mine.pst")
        missing = os.path.join(self.src, "gone.vcs")
        r = run("-q", "-o", store, self.src, missing)
        self.assertEqual(r.returncode, 1)
        self.assertEqual(r.stderr, "")
        fields, failed = summary(r.stdout)
        self.assertEqual(fields["store"], os.path.realpath(store))
        self.assertEqual((fields["files imported"], fields["files failed"]), ("3", "2"))
        self.assertEqual(len(failed), 2)
        self.assertTrue(failed[0].startswith(bad + ": ") and len(failed[0]) > len(bad) + 4, failed)
        self.assertTrue(failed[1].startswith(missing + ": "), failed)
        tree(store)

    def test_never_overwrites(self):
        store = os.path.join(self.out, "taken.pst")
        with open(store, "wb") as f:
            f.write(b"mine")
        r = run("-o", store, self.src)
        self.assertEqual(r.returncode, 2)
        self.assertIn("taken.pst", r.stderr)
        with open(store, "rb") as f:
            self.assertEqual(f.read(), b"mine")
        # Two runs in the same second into one folder: two stores.
        first = run("-q", self.src, cwd=self.out)
        second = run("-q", self.src, cwd=self.out)
        self.assertEqual((first.returncode, second.returncode), (0, 0))
        stores = sorted(f for f in os.listdir(self.out) if f.startswith("VarnelCalendars"))
        self.assertEqual(len(stores), 2, stores)
        for s in stores:
            tree(os.path.join(self.out, s))

    def test_nothing_to_import_writes_no_store(self):
        empty = os.path.join(self.dir, "empty")
        os.mkdir(empty)
        with open(os.path.join(empty, "notes.txt"), "w") as f:
            f.write("not a calendar")
        r = run("-d", self.out, empty)
        self.assertEqual(r.returncode, 2)
        self.assertIn("no store was written", r.stderr)
        self.assertEqual(os.listdir(self.out), [])
        r = run("-d", os.path.join(self.dir, "no such folder"), self.src)
        self.assertEqual(r.returncode, 2)
        self.assertIn("no such folder", r.stderr)

    def test_odd_folder_names(self):
        # A name that is not UTF-8, one with a line break, one with a backslash: each file is
        # imported, into a folder of its own.
        root = os.path.join(self.dir, "odd")
        team = os.path.join(EXAMPLES, "office", "team.ics")
        for name in (b"a\xffb", b"line\nbreak", b"back\\slash"):
            folder = os.path.join(os.fsencode(root), name)
            os.makedirs(folder)
            shutil.copy(team, os.path.join(folder, b"t\xfe.ics"))
        store = os.path.join(self.out, "odd.pst")
        r = run("-q", "-o", store, root)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        fields, _ = summary(r.stdout)
        self.assertEqual(fields["files imported"], "3")
        listing = tree(store)
        # Folder names may hold a line break: read the counts with a pattern, not by lines.
        self.assertEqual(re.findall(r"\tIPF\.Appointment\t(\d+)\t", listing).count("1"), 3, listing)
        self.assertIn("\\back_slash\tIPF.Appointment\t1\t", listing)
        self.assertIn("\\line\nbreak\tIPF.Appointment\t1\t", listing)

    def test_a_full_disk_stops_the_import_and_keeps_what_was_saved(self):
        # Files may grow to 1.2 MB only: writes past that fail as on a full disk.
        def small_disk():
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (1_200_000, 1_200_000))

        tree = os.path.join(self.dir, "tree")
        subprocess.run([sys.executable, MAKE_CALENDARS, "tree", tree, "1000"], check=True)
        store = os.path.join(self.out, "full.pst")
        # A commit after every file, so that the disk fills between commits.
        r = run("-q", "--commit-every", "0", "-o", store, tree, preexec_fn=small_disk)
        self.assertEqual(r.returncode, 2, r.stderr)
        self.assertIn("The store %s could not be written" % os.path.realpath(store), r.stderr)
        fields, failed = summary(r.stdout)
        imported = int(fields["files imported"])
        self.assertTrue(0 < imported < 1000, r.stdout)
        # The file in flight fails with the store's reason; every file after it is told not
        # imported, so that the summary accounts for all 1,000.
        self.assertEqual(len(failed), 1000 - imported, r.stdout)
        self.assertEqual(sum("the import stopped when the store could not be written" in f for f in failed),
                         1000 - imported - 1, r.stdout)
        held = sum(int(line.split("\t")[2]) for line in tree_lines(store))
        self.assertEqual(held, imported)


def one_event(path, summary):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w") as f:
        f.write("BEGIN:VCALENDAR\nVERSION:2.0\nBEGIN:VEVENT\nUID:%s\nSUMMARY:%s\n"
                "DTSTART:20240102T090000Z\nEND:VEVENT\nEND:VCALENDAR\n" % (summary, summary))


class HostilePaths(unittest.TestCase):
    """Paths and standard streams that once made cal2pst open another file, write into the store,
    or say it succeeded when it did nothing."""

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="cal2pst-paths-")

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def test_the_file_opened_is_the_file_named(self):
        d = self.dir
        one_event(os.path.join(d, "blank", "a.ics"), "Plain")
        one_event(os.path.join(d, "blank", "a.ics "), "Trailing blank")
        # link/.. is the parent of the link's target, not the folder the text names.
        one_event(os.path.join(d, "top", "a.ics"), "Top")
        one_event(os.path.join(d, "top", "sub", "a.ics"), "Sub")
        os.makedirs(os.path.join(d, "top", "sub", "real"))
        os.symlink(os.path.join(d, "top", "sub", "real"), os.path.join(d, "top", "link"))
        cases = [
            ([os.path.join(d, "blank")], {"Plain", "Trailing blank"}),
            ([os.path.join(d, "top", "link", "..", "a.ics")], {"Sub"}),
        ]
        for i, (args, subjects) in enumerate(cases):
            store = os.path.join(d, "case%d.pst" % i)
            r = run("-q", "-o", store, *args)
            self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
            listing = tree(store)
            found = set()
            for line in listing.splitlines():
                if line:
                    found |= set(x for x in line.split("\t")[3].split("|") if x)
            self.assertEqual(found, subjects, listing)

    def test_closed_standard_streams_and_empty_paths(self):
        one_event(os.path.join(self.dir, "cal", "e.ics"), "Streams")
        store = os.path.join(self.dir, "closed.pst")

        def close_streams():
            os.close(1)
            os.close(2)

        r = subprocess.run([CAL2PST, "-o", store, os.path.join(self.dir, "cal")], stdin=subprocess.DEVNULL,
                           preexec_fn=close_streams, timeout=300)
        self.assertEqual(r.returncode, 0)
        self.assertIn("\tStreams", tree(store))  # pstcheck passes and the event is there
        with open(store, "rb") as f:
            self.assertNotIn(b"imported", f.read())
        for args in (["-o", os.path.join(self.dir, "empty.pst"), ""], ["-o", os.path.join(self.dir, "e2.pst"), "-q", ""]):
            r = run(*args)
            self.assertEqual(r.returncode, 2, r.stdout + r.stderr)
            self.assertIn("empty PATH", r.stderr)
            self.assertFalse(os.path.exists(args[1]))


    def test_a_store_name_as_long_as_names_go(self):
        one_event(os.path.join(self.dir, "cal", "e.ics"), "Long")
        store = os.path.join(self.dir, "n" * 251 + ".pst")  # 255 bytes: the longest name a folder holds
        r = run("-q", "-o", store, os.path.join(self.dir, "cal"))
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        self.assertIn("\tLong", tree(store))
        self.assertEqual(sorted(os.listdir(self.dir)), sorted(["cal", os.path.basename(store)]))

    def test_files_other_programs_write_import_whole_and_quietly(self):
        # Each file in a folder of its own; every one imports whole, and with -q nothing reaches
        # standard error, libical's own complaints included.
        def ical(summary, uid, end="\r\n"):
            lines = ["BEGIN:VCALENDAR", "VERSION:2.0", "PRODID:-//Varnel//Hostile//EN", "BEGIN:VEVENT", "UID:" + uid,
                     "DTSTART:20240301T090000Z", "DTEND:20240301T100000Z", "SUMMARY:" + summary,
                     "ATTACH;ENCODING=BASE64;VALUE=BINARY:SGVsbG8sIHdvcmxkIQ==", "END:VEVENT", "END:VCALENDAR"]
            return end.join(lines) + end

        def vblock(i):
            return ("BEGIN:VCALENDAR\r\nVERSION:1.0\r\nBEGIN:VEVENT\r\nDTSTART:20240301T090000\r\n"
                    "DTEND:20240301T100000\r\nSUMMARY:Block %d\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n" % i)

        mixed = "".join(line + ("\r\n", "\n", "\r")[k % 3] for k, line in enumerate(ical("Mixed", "m").split("\r\n")[:-1]))
        # A stray END, and an event after the calendar: the file is read whole by libical.
        stray = (ical("Inside", "in") + "END:VEVENT\r\n"
                 "BEGIN:VEVENT\r\nUID:out\r\nDTSTART:20240301T090000Z\r\nSUMMARY:Outside\r\nEND:VEVENT\r\n")
        cases = [
            ("blocks", "phone.vcs", "".join(vblock(i) for i in range(500)).encode(), 500),
            ("utf16le", "wide.ics", b"\xff\xfe" + ical("Wide \u00e9", "le").encode("utf-16-le"), 1),
            ("utf16be", "wide.ics", b"\xfe\xff" + ical("Wide \u00e9", "be").encode("utf-16-be"), 1),
            ("cr", "mac.ics", ical("CR only", "cr", "\r").encode(), 1),
            ("crcrlf", "twice.ics", ical("CR CR LF", "crcrlf", "\r\r\n").encode(), 1),
            ("mixed", "mixed.ics", mixed.encode(), 1),
            ("base64", "attached.vcs", ical("Attached", "b64", "\r").encode(), 1),
            ("stray", "stray.ics", stray.encode(), 2),
        ]
        root = os.path.join(self.dir, "odd")
        for folder, name, data, _ in cases:
            os.makedirs(os.path.join(root, folder))
            with open(os.path.join(root, folder, name), "wb") as f:
                f.write(data)
        store = os.path.join(self.dir, "odd.pst")
        r = run("-q", "-o", store, root)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        self.assertEqual(r.stderr, "")
        counts = {line.split("\t")[0].rsplit("\\", 1)[-1]: line.split("\t") for line in tree_lines(store)}
        for folder, name, _, expected in cases:
            self.assertEqual(int(counts[folder][2]), expected, (name, counts[folder]))
        self.assertEqual(counts["utf16le"][3], "Wide \u00e9")
        self.assertEqual(counts["stray"][3], "Inside|Outside")
        # Without -q, the complaint is among the file's notes.
        r = run("-o", os.path.join(self.dir, "notes.pst"), os.path.join(root, "stray"))
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        self.assertIn("note: libical reported: Encountered END before BEGIN", r.stderr)


def tree_lines(store):
    return [l for l in tree(store).splitlines() if l]


# The memory the README allows for reading one file, and what cal2pst's address space takes
# before it reads one.
BUDGET_MB = 256
STARTUP_MB = 64


def shape_event(uid, lines):
    return ("BEGIN:VEVENT\r\nUID:%s\r\nDTSTART:20240301T090000Z\r\nDTEND:20240301T100000Z\r\nSUMMARY:Shape\r\n%s"
            "END:VEVENT\r\n" % (uid, lines))


def shape_calendar(inside):
    return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Varnel//Shapes//EN\r\n%sEND:VCALENDAR\r\n" % inside


def day(n):
    return "%04d%02d%02d" % (2024 + n // 336, 1 + n // 28 % 12, 1 + n % 28)


def changed(n, uid="series"):
    return "".join("BEGIN:VEVENT\r\nUID:%s\r\nRECURRENCE-ID:%sT090000Z\r\nDTSTART:%sT110000Z\r\nDTEND:%sT120000Z\r\n"
                   "SUMMARY:Changed %d\r\nEND:VEVENT\r\n" % (uid, day(i), day(i), day(i), i) for i in range(n))


ZONE = ("BEGIN:VTIMEZONE\r\nTZID:Zone %d\r\nBEGIN:STANDARD\r\nDTSTART:19701025T030000\r\nTZOFFSETFROM:+0200\r\n"
        "TZOFFSETTO:+0100\r\nRRULE:FREQ=YEARLY;BYMONTH=10;BYDAY=-1SU\r\nEND:STANDARD\r\nEND:VTIMEZONE\r\n")
TINY = "BEGIN:VEVENT\r\nDTSTART:20240301\r\nEND:VEVENT\r\n"

# Each: a name, the file's extension and text, the appointments it gives, and a note on its line
# or (refused) the reason. Each once took from 10 to 200 times its size in memory, more than the
# cap below.
MEMORY_SHAPES = [
    ("100,000 attendees", "ics",
     lambda: shape_calendar(shape_event("a", "".join("ATTENDEE:mailto:p%d@x.org\r\n" % i for i in range(100000)))),
     1, "99000 of its attendees were left out"),
    ("25,000 changed occurrences of one series", "ics",
     lambda: shape_calendar(shape_event("series", "RRULE:FREQ=DAILY;COUNT=25000\r\n") + changed(25000)),
     1, "23000 of its 25000 changed occurrences were left out"),
    ("an event of a million properties", "ics",
     lambda: shape_calendar(shape_event("p", "".join("EXDATE:%sT090000Z\r\nCATEGORIES:Category %d\r\nX-P-%d:%d\r\n"
                                                     "X-Q:%d\r\n" % (day(i % 9000), i, i, i, i) for i in range(250000)))),
     1, "249000 of its categories were left out"),
    ("400,000 alarms", "ics",
     lambda: shape_calendar(shape_event("al", "BEGIN:VALARM\r\nACTION:DISPLAY\r\nTRIGGER:-PT5M\r\nEND:VALARM\r\n" * 400000)),
     1, "399900 of the alarms and other entries inside it were left out"),
    ("a description of 40 MB in one line", "ics",
     lambda: shape_calendar(shape_event("d", "DESCRIPTION:" + "word " * (8 << 20) + "\r\n")),
     1, "its description was cut to its first 4 MB"),
    ("a description folded into 560,000 lines", "ics",
     lambda: shape_calendar(shape_event("f", "DESCRIPTION:" + ("w" * 73 + "\r\n ") * 560000 + "end\r\n")),
     1, "its description was cut to its first 4 MB"),
    ("40,000 time zones", "ics",
     lambda: shape_calendar("".join(ZONE % i for i in range(40000)) + shape_event("z", "")),
     1, "39000 of the file's time zone definitions were left out"),
    ("a vCalendar event of 100,000 attendees", "vcs",
     lambda: "BEGIN:VCALENDAR\r\nVERSION:1.0\r\nBEGIN:VEVENT\r\nDTSTART:20240301T090000\r\nSUMMARY:Shape\r\n"
             + "".join("ATTENDEE;ROLE=ATTENDEE:p%d@x.org\r\n" % i for i in range(100000)) + "END:VEVENT\r\nEND:VCALENDAR\r\n",
     1, "99000 of its attendees were left out"),
    # Joining its lines once took time growing with the square of their number: hours.
    ("a vCalendar quoted-printable value of 1,000,000 lines", "vcs",
     lambda: "BEGIN:VCALENDAR\r\nVERSION:1.0\r\nBEGIN:VEVENT\r\nDTSTART:20240301T090000\r\nSUMMARY:Shape\r\n"
             "DESCRIPTION;ENCODING=QUOTED-PRINTABLE:" + "abcdefgh=\r\n" * 1000000 + "end\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n",
     1, "its description was cut to its first 4 MB"),
    ("12,000 changed occurrences of a series not in the file", "ics",
     lambda: shape_calendar(changed(12000, "elsewhere")),
     12000, "further notes were left out: a file keeps 1000 of each kind"),
    ("a file of 9 MB whose structure is broken", "ics",
     lambda: shape_event("top", "") * 100000 + shape_calendar(""),
     0, "needs more memory than the import allows for one file (256 MB): it is larger than 8 MB"),
    ("2,000,001 events", "ics",
     lambda: shape_calendar(TINY * 2000001),
     0, "needs more memory than the import allows for one file (256 MB): it holds more than 2000000 events"),
]


class MemoryBudget(unittest.TestCase):
    """Files whose one series, or whose index, grows without bound: each is imported with a note
    on what was left out, or refused with the reason, under a cap on cal2pst's address space of
    the per-file budget and what the program takes to start. The file after it is imported, and
    the store passes pstcheck."""

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="cal2pst-memory-")

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def test_each_shape_is_imported_with_a_note_or_refused_with_the_reason(self):
        cap = (BUDGET_MB + STARTUP_MB) << 20

        def capped():
            resource.setrlimit(resource.RLIMIT_AS, (cap, cap))

        # AddressSanitizer reserves terabytes of address space for itself: such a build runs the
        # shapes without the cap, for what the sanitizers find.
        sanitized = "libasan" in subprocess.run(["ldd", CAL2PST], capture_output=True, text=True).stdout

        after = os.path.join(self.dir, "after.ics")
        one_event(after, "After")
        for i, (name, ext, text, appointments, expected) in enumerate(MEMORY_SHAPES):
            with self.subTest(name):
                path = os.path.join(self.dir, "shape%d.%s" % (i, ext))
                with open(path, "w", newline="") as f:
                    f.write(text())
                store = os.path.join(self.dir, "shape%d.pst" % i)
                r = run("-o", store, path, after, preexec_fn=None if sanitized else capped)
                os.remove(path)
                self.assertNotIn("bad_alloc", r.stdout + r.stderr)
                self.assertEqual(r.returncode, 0 if appointments else 1, r.stderr[-2000:])
                lines = r.stderr.splitlines()
                first = next(l for l in lines if l.startswith("[1/2] "))
                self.assertIn(expected, first)
                self.assertTrue(first.startswith("[1/2] %s %s" % ("imported" if appointments else "failed", path)), first[:300])
                self.assertIn("[2/2] imported %s: 1 appointment(s)" % after, lines)
                self.assertEqual(summary(r.stdout)[0]["appointments written"], str(appointments + 1))
                check = subprocess.run([PSTCHECK, store], capture_output=True, text=True)
                self.assertEqual(check.returncode, 0, check.stdout + check.stderr)
                os.remove(store)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], "-v"])
