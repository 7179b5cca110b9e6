#!/usr/bin/env python3
"""The import benchmark: cal2pst end to end beside libical parsing the same files and nothing else,
measured in the same run, and the readers reading the store back. Prints a table; asserts nothing.
  import_bench.py BUILD-DIR WORK-DIR [SIZES...] [--corpus DIR] [--slow-disk LIB] [--million]
--slow-disk LIB imports the 10,000-file tree once more with LIB preloaded (bench/slow_flush.c: every
flush waits 10 ms); --million adds one file of 1,000,000 events (about 450 MB)."""
import os
import resource
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def run_measured(args, env=None):
    start = time.monotonic()
    pid = os.fork()
    if pid == 0:
        if env:
            os.environ.update(env)
        devnull = os.open(os.devnull, os.O_WRONLY)
        out = os.open(os.path.join(WORK, "last.out"), os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
        os.dup2(out, 1)
        os.dup2(devnull, 2)
        os.execv(args[0], args)
    _, status, usage = os.wait4(pid, 0)
    elapsed = time.monotonic() - start
    with open(os.path.join(WORK, "last.out")) as f:
        out = f.read()
    return elapsed, usage.ru_maxrss / 1024, out, os.waitstatus_to_exitcode(status)


def main():
    global WORK
    build, WORK = sys.argv[1], sys.argv[2]
    rest = sys.argv[3:]
    corpus = slow = None
    if "--corpus" in rest:
        i = rest.index("--corpus")
        corpus = rest[i + 1]
        rest = rest[:i] + rest[i + 2:]
    if "--slow-disk" in rest:
        i = rest.index("--slow-disk")
        slow = rest[i + 1]
        rest = rest[:i] + rest[i + 2:]
    million = "--million" in rest
    rest = [r for r in rest if r != "--million"]
    sizes = [int(s) for s in rest] or [1000, 10000, 100000]
    os.makedirs(WORK, exist_ok=True)
    cal2pst = os.path.join(build, "cli", "cal2pst")
    parse = os.path.join(build, "bench", "parse_only")
    workloads = []
    for n in sizes:
        d = os.path.join(WORK, "tree%d" % n)
        if not os.path.isdir(d):
            subprocess.run([sys.executable, os.path.join(HERE, "make_calendars.py"), "tree", d, str(n)], check=True)
        workloads.append(("%d files of one event" % n, d, None))
        if n == 10000 and slow:
            workloads.append(("%d files, every flush 10 ms slower" % n, d, {"LD_PRELOAD": slow}))
    big = os.path.join(WORK, "big50000.ics")
    if not os.path.exists(big):
        subprocess.run([sys.executable, os.path.join(HERE, "make_calendars.py"), "big", big, "50000"], check=True)
    workloads.append(("one file of 50,000 events", big, None))
    if million:
        huge = os.path.join(WORK, "big1000000.ics")
        if not os.path.exists(huge):
            subprocess.run([sys.executable, os.path.join(HERE, "make_calendars.py"), "big", huge, "1000000"], check=True)
        workloads.append(("one file of 1,000,000 events", huge, None))
    if corpus and os.path.isdir(corpus):
        workloads.append(("the shared corpus", corpus, None))

    print("| workload | files | appointments | parse only | import | ratio | files/s | appointments/s | peak RSS | .pst size | readpst | pffinfo |")
    print("|---|---|---|---|---|---|---|---|---|---|---|---|")
    for name, path, env in workloads:
        # Warm the page cache for both alike.
        run_measured([parse, path])
        base, _, parsed, _ = run_measured([parse, path])
        store = os.path.join(WORK, "store-%d.pst" % len(os.listdir(WORK)))
        took, rss, out, code = run_measured([cal2pst, "-q", "-o", store, path], env)
        fields = dict(line.split(": ", 1) for line in out.splitlines() if ": " in line and not line.startswith("failed"))
        files = int(fields.get("files imported", 0)) + int(fields.get("files failed", 0))
        appts = int(fields.get("appointments written", 0))
        size = os.path.getsize(store) / 1048576 if os.path.exists(store) else 0
        rp_dir = os.path.join(WORK, "readpst")
        subprocess.run(["rm", "-rf", rp_dir])
        os.makedirs(rp_dir)
        rp, _, _, _ = run_measured(["/usr/bin/readpst", "-j", "0", "-q", "-o", rp_dir, store])
        pi, _, _, _ = run_measured(["/usr/bin/pffinfo", store])
        print("| %s | %d | %d | %.2f s | %.2f s | %.2f | %.0f | %.0f | %.0f MB | %.1f MB | %.1f s | %.1f s |" % (
            name, files, appts, base, took, took / base if base else 0, files / took, appts / took, rss, size, rp, pi),
            flush=True)
        if code not in (0, 1):
            print("  (cal2pst exit %d)" % code)
        os.remove(store)


if __name__ == "__main__":
    main()
