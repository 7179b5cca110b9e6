#!/usr/bin/python3
"""What the real PST readers make of a store, for the interop tests: libpff (pypff), libpst
(readpst) and npm's pst-extractor (a port of java-libpst, run by pst_extractor_dump.js).

Folder paths are the folders' display names from the root folder down, joined by '/', as
"/Top of Personal Folders/cal/home"; readpst's are below the top of the personal folders only.

  readers.py pypff STORE.pst    prints {path: number of items} as pypff counts them (JSON)"""
import glob
import json
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))


class Checks:
    """Counts checks; prints each failure, and the closing 'N passed, N failed' line."""

    def __init__(self):
        self.passed = 0
        self.failed = 0
        self.skipped = 0

    def __call__(self, ok, what):
        if ok:
            self.passed += 1
        else:
            self.failed += 1
            print("FAIL:", what)
        return ok

    def skip(self, why):
        self.skipped += 1
        print("skipped:", why)

    def finish(self):
        skipped = ", %d skipped" % self.skipped if self.skipped else ""
        print("%d passed, %d failed%s" % (self.passed, self.failed, skipped))
        sys.exit(1 if self.failed else 0)


def run(args, **kw):
    env = dict(os.environ, TZ="Europe/Berlin")
    return subprocess.run(args, capture_output=True, text=True, errors="replace", env=env, **kw)


def pst_extractor(store):
    """pst-extractor's view of the store: {"folders": [...], "appointments": [...], ...}, or
    {"error": ...} when it could not open or walk it."""
    r = run(["node", os.path.join(HERE, "pst_extractor_dump.js"), store], timeout=600)
    try:
        return json.loads(r.stdout)
    except ValueError:
        return {"error": "exit status %d: %s%s" % (r.returncode, r.stdout[-2000:], r.stderr[-2000:])}


def pypff_counts(store):
    """{path: items} as pypff counts them, or {"error": ...}."""
    r = run(["/usr/bin/python3", os.path.abspath(__file__), "pypff", store], timeout=600)
    if r.returncode != 0:
        return {"error": r.stderr[-2000:]}
    return json.loads(r.stdout)


def readpst_events(store, out):
    """readpst -j 0's appointments: {path below the top: [VEVENT as a dict of its lines]}, and
    readpst's complaints (standard error)."""
    os.makedirs(out, exist_ok=True)
    # One process: readpst's parallel children share one file offset and now and then skip an item.
    r = run(["readpst", "-j", "0", "-r", "-o", out, store], timeout=600)
    found = {}
    for path in glob.glob(os.path.join(glob.escape(out), "*", "**", "calendar"), recursive=True):
        folder = os.path.relpath(os.path.dirname(path), out).replace(os.sep, "/").split("/", 1)
        events, current = [], None
        with open(path, encoding="utf-8", errors="replace") as f:
            for line in f.read().splitlines():
                if line == "BEGIN:VEVENT":
                    current = {}
                elif line == "END:VEVENT" and current is not None:
                    events.append(current)
                    current = None
                elif current is not None and ":" in line:
                    name, value = line.split(":", 1)
                    current.setdefault(name.split(";")[0], value)
        found[folder[1] if len(folder) > 1 else ""] = events
    return found, r.returncode, r.stderr


def below_top(path):
    """"/Top/cal/home" -> "cal/home"."""
    parts = path.split("/", 2)
    return parts[2] if len(parts) > 2 else ""


def utc_stamp(iso):
    """pst-extractor's "2024-04-02T06:30:00.000Z" as readpst writes it: "20240402T063000Z"."""
    return iso[:19].replace("-", "").replace(":", "") + "Z" if iso else None


def _pypff_main(store):
    import pypff
    f = pypff.file()
    f.open(store)
    counts = {}

    def walk(folder, path):
        for i in range(folder.number_of_sub_folders):
            sub = folder.get_sub_folder(i)
            p = path + "/" + (sub.name or "")
            counts[p] = sub.number_of_sub_messages
            walk(sub, p)

    walk(f.get_root_folder(), "")
    print(json.dumps(counts))


if __name__ == "__main__" and sys.argv[1:2] == ["pypff"]:
    _pypff_main(sys.argv[2])
