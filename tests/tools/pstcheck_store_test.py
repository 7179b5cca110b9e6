#!/usr/bin/env python3
"""Runs pstcheck on Outlook's sample stores and on faulty copies of Empty.pst made here.

Usage: pstcheck_store_test.py PSTCHECK SAMPLE_DIR MODE   (MODE: samples, mutations or list)
Exits 77 (skipped) when the sample folder is absent.
"""
import os
import struct
import subprocess
import sys
import tempfile
import zlib

SKIP = 77
SAMPLES = ("Empty.pst", "dist-list.pst", "outlook.pst")


def pst_crc(data):
    """MS-PST 5.3 CRC: zlib's CRC-32 with both of its inversions cancelled."""
    return zlib.crc32(data, 0xFFFFFFFF) ^ 0xFFFFFFFF


def run(tool, path, *args):
    proc = subprocess.run([tool, *args, path], capture_output=True, text=True, timeout=60)
    return proc.returncode, proc.stdout, proc.stderr


class Store:
    """Just enough of a reader to find the structures a mutation targets."""

    def __init__(self, data):
        self.data = bytearray(data)
        self.nbt_ib = struct.unpack_from("<Q", self.data, 0xE0)[0]
        self.bbt_ib = struct.unpack_from("<Q", self.data, 0xF0)[0]

    def leaves(self, ib):
        page = self.data[ib:ib + 512]
        c_ent, _, cb_ent, level = page[488:492]
        if level == 0:
            return [ib]
        out = []
        for i in range(c_ent):
            out += self.leaves(struct.unpack_from("<Q", page, i * cb_ent + 16)[0])
        return out

    def nbt_leaf_of(self, nid):
        for ib in self.leaves(self.nbt_ib):
            page = self.data[ib:ib + 512]
            for i in range(page[488]):
                if struct.unpack_from("<I", page, i * 32)[0] == nid:
                    return ib, i
        raise KeyError(hex(nid))

    def node(self, nid):
        ib, i = self.nbt_leaf_of(nid)
        return struct.unpack_from("<IIQQI", self.data, ib + i * 32)

    def block(self, bid):
        for ib in self.leaves(self.bbt_ib):
            page = self.data[ib:ib + 512]
            for i in range(page[488]):
                b, bib, cb, cref = struct.unpack_from("<QQHH", page, i * 24)
                if b & ~1 == bid & ~1:
                    return bib, cb, ib, i
        raise KeyError(hex(bid))

    def fix_page_crc(self, ib):
        struct.pack_into("<I", self.data, ib + 500, pst_crc(bytes(self.data[ib:ib + 496])))

    def fix_header_crcs(self):
        struct.pack_into("<I", self.data, 4, pst_crc(bytes(self.data[8:8 + 471])))
        struct.pack_into("<I", self.data, 0x20C, pst_crc(bytes(self.data[8:8 + 516])))

    def flip(self, offset):
        self.data[offset] ^= 0x5A


def mutations(empty):
    """Yields (name, bytes, texts expected in one problem line)."""
    base = Store(empty)

    for off in (0x10, 0x30, 0x150, 0x1DE):
        s = Store(empty)
        s.flip(off)
        yield f"header byte 0x{off:x}", s.data, ["HEADER 0x4", "dwCRCPartial"]
    for off in (0x1F0, 0x202, 0x20B):
        s = Store(empty)
        s.flip(off)
        yield f"header byte 0x{off:x}", s.data, ["HEADER 0x20c", "dwCRCFull"]

    for off in (5, 200, 489):
        s = Store(empty)
        s.flip(base.nbt_ib + off)
        yield f"NBT root page byte {off}", s.data, [f"page at 0x{base.nbt_ib:x}", "page CRC"]
    bbt_leaf = base.leaves(base.bbt_ib)[-1]
    s = Store(empty)
    s.flip(bbt_leaf + 30)
    yield "BBT leaf page byte 30", s.data, [f"page at 0x{bbt_leaf:x}", "page CRC"]

    _, _, bid_store, _, _ = base.node(0x21)
    ib, cb, _, _ = base.block(bid_store)
    for off in (0, cb // 2, cb - 1):
        s = Store(empty)
        s.flip(ib + off)
        yield f"message store block byte {off}", s.data, [f"block bid 0x{bid_store:x}", "block CRC"]

    for off in (0, 100, 495):
        s = Store(empty)
        s.flip(0x4400 + off)
        yield f"AMap byte {off}", s.data, ["AMap page at 0x4400", "page CRC"]

    # A BBT leaf loses its last entry; the page CRC is made to match.
    s = Store(empty)
    s.data[bbt_leaf + 488] -= 1
    s.fix_page_crc(bbt_leaf)
    yield "BBT leaf cEnt lowered", s.data, ["is not in the BBT"]

    # A block's cRef is raised; the page CRC is made to match.
    s = Store(empty)
    _, _, leaf, i = base.block(bid_store)
    struct.pack_into("<H", s.data, leaf + i * 24 + 18, 9)
    s.fix_page_crc(leaf)
    yield "cRef raised", s.data, [f"block bid 0x{bid_store:x}", "cRef 9"]

    # The root folder's PidTagContentCount becomes 1 (the stored byte of its PidTagSubfolders value, which is
    # 1, is copied over it, so no permutation table is needed) and the block CRC is made to match.
    s = Store(empty)
    _, _, bid_root, _, _ = base.node(0x122)
    ib, cb, _, _ = base.block(bid_root)
    # Guide e.1: records at 0x14, each 8 bytes: 0x3001, 0x3602, 0x3603, 0x360A; the value at +4.
    s.data[ib + 0x14 + 8 + 4] = s.data[ib + 0x14 + 24 + 4]
    struct.pack_into("<I", s.data, ib + cb + (-(cb + 16) % 64) + 4, pst_crc(bytes(s.data[ib:ib + cb])))
    yield "root folder content count", s.data, ["folder 0x00000122", "PidTagContentCount is 1"]

    # cbAMapFree off by one unit, both header CRCs recomputed.
    s = Store(empty)
    free = struct.unpack_from("<Q", s.data, 0xC8)[0]
    struct.pack_into("<Q", s.data, 0xC8, free + 64)
    s.fix_header_crcs()
    yield "cbAMapFree raised", s.data, ["cbAMapFree"]

    # A mandatory node's NBT entry is deleted: later entries move up, cEnt drops, the CRC is made to match.
    for nid in (0x61, 0x60E, 0x12F):
        s = Store(empty)
        leaf, i = base.nbt_leaf_of(nid)
        c_ent = s.data[leaf + 488]
        if i == 0:
            raise RuntimeError(f"node 0x{nid:x} opens its leaf; pick another node")
        start, end = leaf + i * 32, leaf + c_ent * 32
        s.data[start:end] = s.data[start + 32:end] + bytes(32)
        s.data[leaf + 488] = c_ent - 1
        s.fix_page_crc(leaf)
        yield f"node 0x{nid:x} removed", s.data, [f"0x{nid:08x}", "missing"]

    # An ANSI header with valid CRCs.
    s = Store(empty)
    struct.pack_into("<H", s.data, 0x0A, 14)
    s.fix_header_crcs()
    yield "ANSI version", s.data, ["ANSI"]

    yield "truncated file", bytes(empty[:400]), ["shorter than a Unicode header"]


def test_samples(tool, folder):
    failed = 0
    for name in SAMPLES:
        rc, out, err = run(tool, os.path.join(folder, name))
        warnings = [l for l in err.splitlines() if l.startswith("warning: ")]
        print(f"{name}: exit {rc}, {len(warnings)} warning(s)")
        if rc != 0 or out.strip() or len(warnings) != len(err.splitlines()):
            print(f"FAIL: {name} should pass cleanly\n{out}{err}")
            failed += 1
    rc, out, err = run(tool, os.path.join(folder, "Empty.pst"))
    if err.strip():
        print(f"FAIL: Empty.pst should give no warnings, got:\n{err}")
        failed += 1
    return failed


def test_mutations(tool, folder):
    with open(os.path.join(folder, "Empty.pst"), "rb") as f:
        empty = f.read()
    failed = 0
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "mutated.pst")
        count = 0
        for name, data, texts in mutations(empty):
            count += 1
            with open(path, "wb") as f:
                f.write(data)
            rc, out, err = run(tool, path)
            lines = out.splitlines()
            hit = any(all(t in line for t in texts) for line in lines)
            if rc != 1 or not hit:
                failed += 1
                print(f"FAIL: {name}: exit {rc}, no line with {texts}\n{out}{err}")
        rc, _, err = run(tool, os.path.join(tmp, "absent.pst"))
        if rc != 2:
            failed += 1
            print(f"FAIL: a missing file should exit 2, got {rc}")
        rc, _, _ = run(tool, path, "--bogus")
        if rc != 2:
            failed += 1
            print(f"FAIL: an unknown option should exit 2, got {rc}")
        print(f"{count} mutations checked")
    return failed


def test_list(tool, folder):
    rc, out, err = run(tool, os.path.join(folder, "Empty.pst"), "--list")
    failed = 0
    if rc != 0:
        print(f"FAIL: --list exit {rc}\n{err}")
        return 1
    lines = out.splitlines()
    nids = [int(l.split()[0], 16) for l in lines]
    if nids != sorted(nids) or len(set(nids)) != len(nids):
        print("FAIL: --list lines are not sorted by unique NID")
        failed += 1
    if len(lines) != 47:
        print(f"FAIL: Empty.pst has 47 nodes, --list printed {len(lines)}")
        failed += 1
    by_nid = {int(l.split()[0], 16): l for l in lines}
    hierarchy = ("0e300102,0e330014,0e340102,0e380003,3001001f,36020003,36030003,360a000b,"
                 "3613001f,66350003,66360003,67f20003,67f30003")
    expected = {
        0x21: ("0x00000021 parent=0x00000000 PC ", ["0ff90102", "35e00102", "67ff0003"]),
        0x61: ("0x00000061 parent=0x00000000 PC 00010003,00020102,00030102,00040102,", []),
        0x122: ("0x00000122 parent=0x00000122 PC 3001001f,36020003,36030003,360a000b", []),
        0x12D: ("0x0000012d parent=0x00000000 TC cols=", [" rows=4"]),
        0x1E1: ("0x000001e1 parent=0x00000000 DATA bytes=0", []),
        0x201: ("0x00000201 parent=0x00000000 DATA bytes=4", []),
        0x60D: (f"0x0000060d parent=0x00000000 TC cols={hierarchy} rows=0", []),
        0x60E: ("0x0000060e parent=0x00000000 TC cols=00170003,001a001f,", [" rows=0"]),
        0x692: ("0x00000692 parent=0x00000000 TC cols=", ["67f20003,67f30003", " rows=0"]),
        0x8022: ("0x00008022 parent=0x00000122 PC ", ["3001001f"]),
    }
    for nid, (prefix, parts) in expected.items():
        line = by_nid.get(nid, "")
        if not line.startswith(prefix) or not all(p in line for p in parts):
            print(f"FAIL: node 0x{nid:x}: got {line!r}, expected {prefix!r} with {parts}")
            failed += 1
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "not-a-pst.pst")
        with open(path, "wb") as f:
            f.write(b"not a pst" * 100)
        rc, _, _ = run(tool, path, "--list")
        if rc != 2:
            print(f"FAIL: --list on a non-PST should exit 2, got {rc}")
            failed += 1
    return failed


def main():
    if len(sys.argv) != 4:
        print(__doc__)
        return 2
    tool, folder, mode = sys.argv[1:]
    if not all(os.path.isfile(os.path.join(folder, n)) for n in SAMPLES):
        print(f"SKIP: Outlook sample stores not found in {folder}")
        return SKIP
    test = {"samples": test_samples, "mutations": test_mutations, "list": test_list}[mode]
    failed = test(tool, folder)
    print("FAILED" if failed else "OK")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
