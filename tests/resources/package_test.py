#!/usr/bin/env python3
"""The Debian package made by cpack from this build: its control fields, and that it holds the
programs, the desktop entry, the metainfo and the icons, and nothing else.

Usage: package_test.py CPACK CPACK_CONFIG WORK_DIR WITH_CAL2PST(0|1)"""
import glob
import os
import re
import shutil
import struct
import subprocess
import sys
import unittest

CPACK = CONFIG = WORK = None
WITH_CAL2PST = False
DEB = None
ROOT = None  # the package unpacked
APP_ID = "com.varnel.CalendarImporter"
ICON_SIZES = (16, 24, 32, 48, 256)


def tool(name, package):
    path = shutil.which(name)
    if path is None:
        raise RuntimeError(f"{name} not found: install {package} (bash scripts/deps.sh test)")
    return path


def output(*command):
    return subprocess.run(command, check=True, capture_output=True, text=True).stdout


def setUpModule():
    global DEB
    tool("dpkg-deb", "dpkg")
    shutil.rmtree(WORK, ignore_errors=True)
    os.makedirs(WORK)
    result = subprocess.run([CPACK, "--config", CONFIG, "-B", WORK], capture_output=True,
                            text=True, timeout=110)
    if result.returncode != 0:
        raise RuntimeError("cpack failed:\n" + result.stdout + result.stderr)
    debs = glob.glob(os.path.join(WORK, "*.deb"))
    if len(debs) != 1:
        raise RuntimeError(f"expected one package, cpack made {debs}")
    DEB = debs[0]
    shutil.rmtree(ROOT, ignore_errors=True)
    subprocess.run(["dpkg-deb", "-x", DEB, ROOT], check=True)


def programs():
    return ["varnel-importer", "pstcheck"] + (["cal2pst"] if WITH_CAL2PST else [])


class Control(unittest.TestCase):
    def field(self, name):
        return output("dpkg-deb", "-f", DEB, name).strip()

    def test_name_version_and_architecture(self):
        self.assertEqual(self.field("Package"), "varnel-importer")
        self.assertEqual(self.field("Version"), "1.0.0")
        self.assertEqual(self.field("Architecture"), output("dpkg", "--print-architecture").strip())
        self.assertEqual(os.path.basename(DEB),
                         f"varnel-importer_1.0.0_{self.field('Architecture')}.deb")

    def test_maintainer_section_and_description(self):
        self.assertRegex(self.field("Maintainer"), r"^[^<>]+ <[^@<>\s]+@[^@<>\s]+>$")
        self.assertEqual(self.field("Section"), "utils")
        summary, *body = self.field("Description").splitlines()
        self.assertIn("iCalendar", summary)
        self.assertTrue(body, "a long description below the summary")
        for line in body:
            self.assertTrue(line.startswith(" "), f"continuation lines are indented: {line!r}")

    def test_depends_on_every_library_the_programs_load(self):
        depends = {re.sub(r"\s*\(.*\)", "", d).strip() for d in self.field("Depends").split(",")}
        for package in ("fonts-wine", "qt6-qpa-plugins"):  # needed, but not linked
            self.assertIn(package, depends)
        readelf = tool("readelf", "binutils")
        for program in programs():
            dynamic = output(readelf, "--dynamic", f"{ROOT}/usr/bin/{program}")
            needed = re.findall(r"\(NEEDED\)\s+Shared library: \[(.+?)\]", dynamic)
            self.assertIn("libc.so.6", needed, program)
            for soname in needed:
                owners = {line.split(":")[0] for line in output("dpkg", "-S", "*/" + soname).splitlines()}
                self.assertTrue(owners & depends, f"{program} loads {soname} from {owners}, "
                                                  f"which Depends does not name")


class Contents(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.entries = {}
        for line in output("dpkg-deb", "-c", DEB).splitlines():
            mode, owner, _size, _date, _time, path = line.split(None, 5)
            cls.entries[path.split(" -> ")[0].removeprefix(".")] = (mode, owner)

    def expected_files(self):
        share = "/usr/share"
        files = {f"/usr/bin/{p}" for p in programs()}
        files |= {f"{share}/applications/{APP_ID}.desktop", f"{share}/metainfo/{APP_ID}.metainfo.xml",
                  f"{share}/icons/hicolor/scalable/apps/varnel-importer.svg"}
        files |= {f"{share}/icons/hicolor/{s}x{s}/apps/varnel-importer.png" for s in ICON_SIZES}
        return files

    def test_holds_exactly_the_installed_files(self):
        files = {p for p, (mode, _) in self.entries.items() if not mode.startswith("d")}
        self.assertEqual(files, self.expected_files())

    def test_programs_are_executable_and_owned_by_root(self):
        for path in self.expected_files():
            mode, owner = self.entries[path]
            self.assertEqual(owner, "root/root", path)
            if path.startswith("/usr/bin/"):
                self.assertEqual(mode, "-rwxr-xr-x", path)
            else:
                self.assertEqual(mode, "-rw-r--r--", path)


class Installed(unittest.TestCase):
    """The unpacked package as a desktop would see it."""

    def test_icons_are_as_large_as_their_folders_say(self):
        for size in ICON_SIZES:
            path = f"{ROOT}/usr/share/icons/hicolor/{size}x{size}/apps/varnel-importer.png"
            with open(path, "rb") as f:
                head = f.read(24)
            self.assertEqual(head[:8], b"\x89PNG\r\n\x1a\n", path)
            self.assertEqual(struct.unpack(">II", head[16:24]), (size, size), path)

    def test_appstream_accepts_the_installed_tree(self):
        # Checks the metainfo against the desktop entry installed beside it.
        result = subprocess.run([tool("appstreamcli", "appstream"), "validate-tree", "--no-net",
                                 ROOT], capture_output=True, text=True)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertNotRegex(result.stdout, r"(?m)^[EW]:", result.stdout)


if __name__ == "__main__":
    CPACK, CONFIG, WORK = sys.argv[1:4]
    ROOT = os.path.join(WORK, "root")
    WITH_CAL2PST = sys.argv[4] == "1"
    del sys.argv[1:5]
    unittest.main()
