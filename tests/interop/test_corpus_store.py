#!/usr/bin/python3
"""The shared corpus of real calendar files imported by cal2pst into one store, opened by npm's
pst-extractor (a port of java-libpst): it must find every folder and, in each, as many
appointments as libpff (pypff) counts, and as many as cal2pst says it wrote.

usage: test_corpus_store.py CAL2PST PSTCHECK SHARED_DIR"""
import collections
import os
import re
import sys
import tempfile

from readers import Checks, pst_extractor, pypff_counts, run

check = Checks()


def main(cal2pst, pstcheck, shared, work):
    corpus = os.path.join(shared, "corpus")
    if not os.path.isfile(os.path.join(corpus, "INDEX.tsv")):
        check.skip("the corpus is not in " + corpus)
        return
    store = os.path.join(work, "corpus.pst")
    # Exit status 1: some of the corpus's files are not calendars or hold no event.
    r = run([cal2pst, "-q", "-o", store, corpus], timeout=600)
    check(r.returncode in (0, 1) and os.path.exists(store), "cal2pst: %d %s" % (r.returncode, r.stdout + r.stderr))
    written = re.search(r"^appointments written: (\d+)$", r.stdout, re.M)
    written = int(written.group(1)) if written else -1
    check(written > 0, "cal2pst wrote no appointment:\n" + r.stdout)
    r = run([pstcheck, store], timeout=600)
    check(r.returncode == 0 and not r.stdout and not r.stderr, "pstcheck: " + (r.stdout + r.stderr)[:2000])

    counts = pypff_counts(store)
    if not check("error" not in counts, "pypff: %s" % counts.get("error")):
        return
    seen = pst_extractor(store)
    if not check("error" not in seen, "pst-extractor: %s" % seen.get("error")):
        return
    check(not seen["complaints"], "pst-extractor complains: %s" % seen["complaints"][:5])
    folders = {f["path"]: f for f in seen["folders"]}
    appointments = collections.Counter(a["folder"] for a in seen["appointments"])
    for path, count in sorted(counts.items()):
        f = folders.get(path)
        if not check(f is not None, "pst-extractor has no folder %s" % path):
            continue
        if f["tableRows"] == -1 and not f["fallback"]:
            continue  # a search folder
        check(not f["fallback"] and f["items"] == count and appointments[path] == count,
              "%s: pst-extractor finds %d item(s), %d appointment(s)%s; pypff %d"
              % (path, f["items"], appointments[path], " (contents table unread)" if f["fallback"] else "", count))
    check(sum(appointments.values()) == written,
          "pst-extractor reads %d appointment(s), cal2pst wrote %d" % (sum(appointments.values()), written))


if __name__ == "__main__":
    if len(sys.argv) != 4:
        print(__doc__)
        sys.exit(2)
    with tempfile.TemporaryDirectory(prefix="corpus-store-") as work:
        main(*sys.argv[1:4], work)
    check.finish()
