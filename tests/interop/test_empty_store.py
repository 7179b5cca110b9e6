#!/usr/bin/python3
"""An empty store as the program writes it, read back by libpff (pffinfo, pffexport, pypff),
libpst (readpst) and pstcheck, and compared node by node with Outlook's own empty store.

usage: test_empty_store.py MAKE_STORE PSTCHECK SHARED_DIR"""
import os
import subprocess
import sys
import tempfile

DISPLAY_NAME = "Varnel Calendars : Created - 7.12.26 9.5.07"
failures = []

# Nodes of Outlook's empty store that ours leaves out: bookkeeping Outlook keeps of its own work
# on the file (none of them is in MS-PST 2.4.1). A store made by Outlook 2003, which a current
# Outlook opens, has none of them, so Outlook makes them itself; and their content is state,
# not structure: message NIDs, queued objects, GUIDs and a time.
LEFT_OUT = {
    0xE01,  # heap of client signature 0xCC: a header naming a message NID and a B-tree that, in
            # Outlook 2013's store, leads from 32-bit keys to message NIDs
    0xE41,  # no data
    0xEC1,  # no data
    0xEE1,  # five 28-byte records naming the store and its folders: the record format of the
            # search gatherer queue (0x281, MS-PST 2.4.1) in Outlook 2013's store
    0xF01,  # two GUIDs and a FILETIME, the 104-byte record Outlook 2013's store keeps at 0xE81
    0xF21,  # no data
}
# Store properties Outlook writes and ours does not, all undocumented: 0x6633 (Boolean, true in
# every Outlook store), 0x66FA (Int32 0x000E0011 in Outlook 2013's and the current store, absent
# in Outlook 2003's: it may record what Outlook has set up in the file, which we do not claim)
# and 0x66FC (Int32).
STORE_PROPERTIES_LEFT_OUT = {"6633000b", "66fa0003", "66fc0003"}
# Tables whose columns must be Outlook's, one for one: the templates, the store's receive
# folder table and outgoing queue, the replication tables and IPM_COMMON_VIEWS's tables.
EXACT_TABLES = {0x60D, 0x60E, 0x60F, 0x610, 0x62B, 0x64C, 0x671, 0x692, 0x6B6, 0x6D7, 0x6F8,
                0x808D, 0x808E, 0x808F}


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what)


def run(args, **kw):
    return subprocess.run(args, capture_output=True, text=True, errors="replace", **kw)


def listing(pstcheck, path):
    out = run([pstcheck, "--list", path]).stdout
    nodes = {}
    for line in out.splitlines():
        parts = line.split(" ", 3)
        nid = int(parts[0], 16)
        parent = int(parts[1][len("parent="):], 16)
        kind = parts[2]
        details = parts[3] if len(parts) > 3 else ""
        if kind == "TC":
            cols, rows = details.split(" rows=")
            cols = cols[len("cols="):]
            nodes[nid] = (kind, parent, set(cols.split(",")) if cols else set(), int(rows))
        elif kind == "PC":
            nodes[nid] = (kind, parent, set(details.split(",")) if details.strip() else set(), None)
        else:
            nodes[nid] = (kind, parent, None, details)
    return nodes


def main():
    make_store, pstcheck, shared = sys.argv[1:4]
    work = tempfile.mkdtemp(prefix="empty-store-")
    path = os.path.join(work, "empty.pst")
    r = run([make_store, path, DISPLAY_NAME])
    check(r.returncode == 0, "make_store failed: " + r.stderr)

    # pstcheck: sound, and not even a warning.
    r = run([pstcheck, path])
    check(r.returncode == 0 and not r.stdout and not r.stderr, "pstcheck: " + r.stdout + r.stderr)

    # pffinfo: opens it and names the standard folders.
    r = run(["pffinfo", path])
    check(r.returncode == 0 and not r.stderr, "pffinfo failed: " + r.stderr)
    check("Folders:\t\tSubtree, Wastbox, Common views, Finder\n" in r.stdout,
          "pffinfo lists other folders than Outlook's store:\n" + r.stdout)

    # pffexport: every folder exported, nothing complained about.
    target = os.path.join(work, "export")
    r = run(["pffexport", "-q", "-m", "all", "-t", target, path])
    check(r.returncode == 0 and not r.stderr, "pffexport failed: " + r.stdout + r.stderr)
    top = os.path.join(target + ".export", DISPLAY_NAME.replace(":", "_"))
    check(os.path.isdir(os.path.join(top, "Deleted Items")), "pffexport did not export Deleted Items under " + top)

    # pypff: the folder tree with the display name at the top of the personal folders.
    code = (
        "import pypff, sys\n"
        "f = pypff.file(); f.open(sys.argv[1])\n"
        "root = f.get_root_folder()\n"
        "names = [root.get_sub_folder(i).name for i in range(root.number_of_sub_folders)]\n"
        "print('|'.join(names))\n"
        "top = [root.get_sub_folder(i) for i in range(root.number_of_sub_folders)"
        " if root.get_sub_folder(i).name == sys.argv[2]][0]\n"
        "print('|'.join(top.get_sub_folder(i).name for i in range(top.number_of_sub_folders)))\n"
    )
    r = run(["/usr/bin/python3", "-c", code, path, DISPLAY_NAME])
    check(r.returncode == 0 and not r.stderr, "pypff failed: " + r.stderr)
    lines = r.stdout.splitlines()
    check(len(lines) == 2 and set(lines[0].split("|")) == {"SPAM Search Folder 2", DISPLAY_NAME, "Search Root",
                                                            "IPM_COMMON_VIEWS"},
          "pypff root folders: " + r.stdout)
    check(len(lines) == 2 and lines[1] == "Deleted Items", "pypff subfolders of the top: " + r.stdout)

    # readpst: reads the whole store without a warning.
    out_dir = os.path.join(work, "readpst")
    os.mkdir(out_dir)
    # One process: readpst's parallel children share one file offset and now and then skip an item.
    r = run(["readpst", "-j", "0", "-D", "-o", out_dir, path])
    check(r.returncode == 0 and not r.stderr, "readpst failed: " + r.stdout + r.stderr)
    check('"%s"' % DISPLAY_NAME in r.stdout, "readpst does not name the store:\n" + r.stdout)

    # Node by node against Outlook's empty store.
    sample = os.path.join(shared, "reference", "pst-samples", "Empty.pst")
    if not os.path.exists(sample):
        print("skipped: the comparison with Outlook's store needs", sample)
    else:
        ours, theirs = listing(pstcheck, path), listing(pstcheck, sample)
        check(set(ours) == set(theirs) - LEFT_OUT,
              "nodes only in ours: %s; only in Outlook's, not meant to be left out: %s"
              % (", ".join("0x%x" % n for n in sorted(set(ours) - set(theirs))),
                 ", ".join("0x%x" % n for n in sorted(set(theirs) - LEFT_OUT - set(ours)))))
        for nid in sorted(set(ours) & set(theirs)):
            kind, parent, tags, extra = ours[nid]
            their_kind, their_parent, their_tags, their_extra = theirs[nid]
            check((kind, parent) == (their_kind, their_parent), "node 0x%x is %s under 0x%x, Outlook's is %s under 0x%x"
                  % (nid, kind, parent, their_kind, their_parent))
            if kind != their_kind:
                continue
            if kind == "DATA":
                check(extra == their_extra, "node 0x%x holds %s, Outlook's %s" % (nid, extra, their_extra))
                continue
            if nid == 0x61:
                # Hash buckets (0x1000 + n) depend on which names the map holds.
                tags = {t for t in tags if not t.startswith("10")}
                their_tags = {t for t in their_tags if not t.startswith("10")}
            if nid == 0x21:
                check(tags == their_tags - STORE_PROPERTIES_LEFT_OUT,
                      "store properties differ: %s" % sorted(tags ^ (their_tags - STORE_PROPERTIES_LEFT_OUT)))
            elif nid in EXACT_TABLES or nid == 0x8082:
                check(tags == their_tags, "node 0x%x columns or properties differ: %s" % (nid, sorted(tags ^ their_tags)))
            else:
                # Our other folders and their tables carry a subset of what Outlook writes.
                check(tags <= their_tags, "node 0x%x has more than Outlook's: %s" % (nid, sorted(tags - their_tags)))
            if kind == "TC" and (nid in EXACT_TABLES or nid == 0x12D):
                check(extra == their_extra, "table 0x%x has %d rows, Outlook's %d" % (nid, extra, their_extra))

    if failures:
        print("%d passed, %d failed" % (0, len(failures)))
        sys.exit(1)
    print("1 passed, 0 failed")


if __name__ == "__main__":
    main()
