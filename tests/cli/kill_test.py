#!/usr/bin/python3
"""cal2pst killed (SIGKILL) at random moments while it imports a tree of calendar files. After each
kill the store must pass pstcheck, open in pffinfo and readpst, and hold at least every
appointment whose file the progress output had reported imported before the kill.
Usage: kill_test.py CAL2PST PSTCHECK MAKE_CALENDARS [KILLS] [FILES] [SEED]"""
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

import pypff

CAL2PST, PSTCHECK, MAKE_CALENDARS = sys.argv[1:4]
KILLS = int(sys.argv[4]) if len(sys.argv) > 4 else 10
FILES = int(sys.argv[5]) if len(sys.argv) > 5 else 2000
SEED = int(sys.argv[6]) if len(sys.argv) > 6 else int(time.time())


def appointments(store):
    f = pypff.file()
    f.open(store)
    total = 0

    def walk(folder):
        nonlocal total
        for i in range(folder.number_of_sub_folders):
            sub = folder.get_sub_folder(i)
            total += sub.number_of_sub_messages
            walk(sub)

    walk(f.get_root_folder())
    f.close()
    return total


def main():
    rng = random.Random(SEED)
    work = tempfile.mkdtemp(prefix="kill-test-")
    problems = []

    def problem(text):
        # Told at once too, so that a long run stopped early still shows what it found.
        print("PROBLEM:", text, flush=True)
        problems.append(text)
    try:
        tree = os.path.join(work, "tree")
        subprocess.run([sys.executable, MAKE_CALENDARS, "tree", tree, str(FILES)], check=True)
        # How long a whole import takes, to spread the kills over it.
        start = time.monotonic()
        subprocess.run([CAL2PST, "-q", "-o", os.path.join(work, "whole.pst"), tree], check=True,
                       stdout=subprocess.DEVNULL)
        whole = time.monotonic() - start
        kills = stores = 0
        for k in range(KILLS):
            store = os.path.join(work, "killed%d.pst" % k)
            err = open(os.path.join(work, "progress%d" % k), "w+")
            p = subprocess.Popen([CAL2PST, "-o", store, tree], stdout=subprocess.DEVNULL, stderr=err)
            time.sleep(rng.uniform(0.0, whole * 1.1))
            if p.poll() is None:
                p.send_signal(signal.SIGKILL)
                kills += 1
            p.wait()
            err.seek(0)
            reported = len(re.findall(r"^\[\d+/\d+\] imported ", err.read(), re.M))
            err.close()
            if not os.path.exists(store):
                # Killed before the new store was complete: it never appears, and nothing was saved.
                if reported:
                    problem("kill %d: %d files reported imported, but there is no store" % (k, reported))
                continue
            stores += 1
            check = subprocess.run([PSTCHECK, store], capture_output=True, text=True)
            if check.returncode != 0:
                problem("kill %d: pstcheck: %s" % (k, check.stdout[-2000:]))
            info = subprocess.run(["pffinfo", store], capture_output=True, text=True)
            if info.returncode != 0:
                problem("kill %d: pffinfo failed: %s" % (k, info.stderr[-500:]))
            out = os.path.join(work, "readpst%d" % k)
            os.mkdir(out)
            rp = subprocess.run(["readpst", "-j", "0", "-q", "-o", out, store], capture_output=True, text=True)
            if rp.returncode != 0:
                problem("kill %d: readpst failed: %s" % (k, rp.stderr[-500:]))
            shutil.rmtree(out)
            held = appointments(store)
            if held < reported:
                problem("kill %d: %d files reported imported, the store holds %d appointments" % (k, reported, held))
            print("kill %d: %d reported, %d held" % (k, reported, held), flush=True)
            os.remove(store)
        print("%d runs, %d killed, %d stores checked, %d files a run, seed %d" % (KILLS, kills, stores, FILES, SEED))
    finally:
        shutil.rmtree(work)
    if problems:
        print("%d problem(s), each told above" % len(problems))
    sys.exit(1 if problems else 0)


if __name__ == "__main__":
    main()
