#!/usr/bin/python3
"""cal2pst.exe under wine, end to end: our examples and the shared corpus, copied below folders
whose names are not ASCII, imported by the Windows build and by the Linux build; the Windows
store must pass pstcheck, open in pffinfo, readpst and pst-extractor, and hold the same folders
and the same appointments at the same times as the Linux store (the zones shipped for Windows
carry the tz database's whole history, as the Linux build reads it: a US event of 1997 or a German
one of 1975 lands on the same instant).

  test_cal2pst_exe.py WINE CAL2PST_EXE LINUX_CAL2PST PSTCHECK EXAMPLES [CORPUS]

WINE is the wine launcher; WINEPREFIX and the other wine settings come from the environment.
Both builds run with TZ=Europe/Berlin (wine takes the machine's zone from it)."""
import json
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "interop"))
import readers  # noqa: E402

check = readers.Checks()


def windows_path(path):
    """Wine's drive Z: is the Linux root."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def run(args, **kw):
    env = dict(os.environ, TZ="Europe/Berlin", WINEDEBUG="-all")
    return subprocess.run(args, capture_output=True, env=env, timeout=900, **kw)


def comparable(dump):
    """The folders and appointments of a pst-extractor dump, in an order both stores share."""
    folders = sorted((f["path"], f.get("containerClass"), f.get("contentCount")) for f in dump.get("folders", []))
    appointments = sorted(json.dumps(a, sort_keys=True, ensure_ascii=False) for a in dump.get("appointments", []))
    return folders, appointments


def main(wine, exe, linux_cal2pst, pstcheck, examples, corpus=None):
    work = tempfile.mkdtemp(prefix="varnel-wine-")
    try:
        src = os.path.join(work, "Kalender Müller 日本")
        shutil.copytree(examples, os.path.join(src, "Beispiele"))
        # A file whose own name is not ASCII, in a folder of another script.
        greek = os.path.join(src, "Ελληνικά")
        os.makedirs(greek)
        shutil.copy(os.path.join(examples, "home", "birthdays.ics"), os.path.join(greek, "Geburtstage Jörg.ics"))
        # Zones by name only (no VTIMEZONE in the file), at dates where today's rules would be
        # wrong: US DST ended on 26 October 1997 (the last Sunday of October, not the first of
        # November), so 06:00 in Los Angeles on 31 October 1997 is PST, 14:00 UTC; West Germany
        # had no DST in 1975, so noon in Berlin on 1 July 1975 is CET, 11:00 UTC; a US/Eastern
        # noon on 4 July 2006 (a link's name) is EDT, 16:00 UTC.
        history = os.path.join(src, "Zonen")
        os.makedirs(history)
        with open(os.path.join(history, "history.ics"), "w", newline="\r\n") as f:
            f.write("BEGIN:VCALENDAR\nVERSION:2.0\nPRODID:-//Varnel tests//EN\n")
            for uid, tzid, start, end in (("la", "America/Los_Angeles", "19971031T060000", "19971031T070000"),
                                          ("berlin", "Europe/Berlin", "19750701T120000", "19750701T130000"),
                                          ("eastern", "US/Eastern", "20060704T120000", "20060704T130000")):
                f.write("BEGIN:VEVENT\nUID:%s\nDTSTAMP:20260101T000000Z\nSUMMARY:history %s\n"
                        "DTSTART;TZID=%s:%s\nDTEND;TZID=%s:%s\nEND:VEVENT\n" % (uid, uid, tzid, start, tzid, end))
            f.write("END:VCALENDAR\n")
        expected_history = {"history la": "1997-10-31T14:00:00.000Z", "history berlin": "1975-07-01T11:00:00.000Z",
                            "history eastern": "2006-07-04T16:00:00.000Z"}
        if corpus and os.path.isdir(corpus):
            shutil.copytree(corpus, os.path.join(src, "corpus"), ignore=shutil.ignore_patterns("*.md", "*.tsv"))
        else:
            check.skip("the shared corpus is absent (%s): only our examples are compared" % corpus)
        out = os.path.join(work, "Ausgabe Ærø")
        os.makedirs(out)
        linux_store = os.path.join(out, "linux.pst")
        windows_store = os.path.join(out, "windows €.pst")

        name = ["--display-name", "Kalender (wine)"]
        lin = run([linux_cal2pst, "-o", linux_store] + name + [src])
        win = run([wine, exe, "-o", windows_path(windows_store)] + name + [windows_path(src)])
        lout = lin.stdout.decode("utf-8", "replace")
        wout = win.stdout.decode("utf-8", "replace")
        check(win.returncode == lin.returncode,
              "cal2pst.exe exit status %d, Linux %d: %s %s" % (win.returncode, lin.returncode, wout[-1500:],
                                                              win.stderr.decode("utf-8", "replace")[-1500:]))
        check(os.path.isfile(windows_store), "cal2pst.exe wrote no store at %s" % windows_store)
        if not os.path.isfile(windows_store):
            return check.finish()
        # The summary names the store in UTF-8 and counts as the Linux build does.
        check(("store: " + windows_path(windows_store)) in wout, "the summary does not name the store: %r" % wout[:300])
        counts = lambda text: [l for l in text.splitlines() if l.split(":")[0] in
                               ("files imported", "appointments written", "files failed", "items skipped", "notes")]
        check(counts(wout) == counts(lout), "counts differ: Windows %s, Linux %s" % (counts(wout), counts(lout)))
        check(not [n for n in os.listdir(out) if n.endswith(".partial")], "a partial file was left: %s" % os.listdir(out))
        # Each file's line (imported or failed, its notes), the path made Linux's again.
        def lines(text, windows):
            out = set()
            for line in text.splitlines():
                if line.startswith("["):
                    line = line.split("] ", 1)[1]
                    if windows:
                        line = line.replace(windows_path(src), src).replace("\\", "/")
                    out.add(line)
            return out
        wl = lines(win.stderr.decode("utf-8", "replace"), True)
        ll = lines(lin.stderr.decode("utf-8", "replace"), False)
        check(wl == ll, "file lines differ:\n  Windows only: %s\n  Linux only:   %s" % (sorted(wl - ll)[:4], sorted(ll - wl)[:4]))

        # Never overwritten: a second run to the same file fails and leaves it as it was.
        size = os.path.getsize(windows_store)
        again = run([wine, exe, "-q", "-o", windows_path(windows_store), windows_path(src)])
        check(again.returncode == 2 and os.path.getsize(windows_store) == size,
              "a second run over the store: exit %d, size %d -> %d" % (again.returncode, size, os.path.getsize(windows_store)))

        # The readers' verdicts on the Windows store.
        r = run([pstcheck, windows_store])
        check(r.returncode == 0, "pstcheck: " + r.stdout.decode("utf-8", "replace")[-2000:])
        r = run(["pffinfo", windows_store])
        check(r.returncode == 0, "pffinfo: " + r.stderr.decode("utf-8", "replace")[-1000:])
        events, code, err = readers.readpst_events(windows_store, os.path.join(work, "readpst-w"))
        check(code == 0, "readpst: " + err[-1000:])
        linux_events, _, _ = readers.readpst_events(linux_store, os.path.join(work, "readpst-l"))
        key = lambda e: (e.get("SUMMARY", ""), e.get("DTSTART", ""), e.get("DTEND", ""), e.get("RRULE", ""))
        for folder in sorted(set(events) | set(linux_events)):
            w = sorted(map(key, events.get(folder, [])))
            l = sorted(map(key, linux_events.get(folder, [])))
            check(w == l, "readpst, folder %s: Windows only %s, Linux only %s" %
                  (folder, [e for e in w if e not in l][:3], [e for e in l if e not in w][:3]))

        wdump = readers.pst_extractor(windows_store)
        ldump = readers.pst_extractor(linux_store)
        check("error" not in wdump, "pst-extractor: %s" % wdump.get("error"))
        starts = {a["subject"]: a["start"] for a in wdump.get("appointments", []) if a.get("subject") in expected_history}
        check(starts == expected_history, "zone history: %s, expected %s" % (starts, expected_history))
        wf, wa = comparable(wdump)
        lf, la = comparable(ldump)
        check(wf == lf, "folders differ:\n  Windows %s\n  Linux   %s" % ([f for f in wf if f not in lf][:5], [f for f in lf if f not in wf][:5]))
        check(len(wa) > 0 and len(wa) == len(la), "appointments: Windows %d, Linux %d" % (len(wa), len(la)))
        only_w = [a for a in wa if a not in set(la)]
        only_l = [a for a in la if a not in set(wa)]
        check(not only_w and not only_l, "%d appointments differ; first:\n  Windows %s\n  Linux   %s" %
              (len(only_w), only_w[:1], only_l[:1]))
        print("compared %d folders and %d appointments" % (len(wf), len(wa)))
    finally:
        shutil.rmtree(work, ignore_errors=True)
    check.finish()


if __name__ == "__main__":
    if len(sys.argv) < 6:
        sys.exit(__doc__)
    main(*sys.argv[1:])
