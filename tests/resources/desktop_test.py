#!/usr/bin/env python3
"""The desktop entry and the AppStream metainfo: both pass their validators without a complaint,
and they name each other, the program and its icon consistently.

Usage: desktop_test.py DESKTOP_FILE METAINFO_FILE"""
import configparser
import os
import shutil
import subprocess
import sys
import unittest
import xml.etree.ElementTree as ET

DESKTOP = METAINFO = None


def tool(name, package):
    path = shutil.which(name)
    if path is None:
        raise AssertionError(f"{name} not found: install {package} (bash scripts/deps.sh test)")
    return path


def run(*command):
    return subprocess.run(command, capture_output=True, text=True)


def desktop_entry(path):
    parser = configparser.RawConfigParser(delimiters=("=",), interpolation=None)
    parser.optionxform = str
    parser.read(path, encoding="utf-8")
    return parser["Desktop Entry"]


class Validators(unittest.TestCase):
    def test_desktop_entry_is_valid_without_warnings(self):
        result = run(tool("desktop-file-validate", "desktop-file-utils"), DESKTOP)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertEqual((result.stdout + result.stderr).strip(), "", "no warnings or hints")

    def test_metainfo_is_valid(self):
        result = run(tool("appstreamcli", "appstream"), "validate", "--no-net", METAINFO)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertNotRegex(result.stdout, r"(?m)^[EW]:", "no errors or warnings")


class Consistency(unittest.TestCase):
    def setUp(self):
        self.entry = desktop_entry(DESKTOP)
        self.component = ET.parse(METAINFO).getroot()

    def test_files_are_named_after_the_component_id(self):
        cid = self.component.findtext("id")
        self.assertEqual(os.path.basename(DESKTOP), cid + ".desktop")
        self.assertEqual(os.path.basename(METAINFO), cid + ".metainfo.xml")
        self.assertEqual(self.component.findtext("launchable[@type='desktop-id']"),
                         cid + ".desktop")

    def test_entry_starts_the_program_with_its_icon(self):
        self.assertEqual(self.entry["Type"], "Application")
        self.assertEqual(self.entry["Exec"], "varnel-importer", "the program reads no arguments")
        self.assertEqual(self.entry["Icon"], "varnel-importer")
        self.assertEqual(self.entry["Terminal"], "false")
        self.assertIn("varnel-importer", [b.text for b in self.component.iter("binary")])

    def test_both_show_the_application_title(self):
        title = "Varnel vCalendar\\iCalendar Importer"
        self.assertEqual(self.entry["Name"].replace("\\\\", "\\"), title)
        self.assertEqual(self.component.findtext("name"), title)


if __name__ == "__main__":
    DESKTOP, METAINFO = sys.argv[1:3]
    del sys.argv[1:3]
    unittest.main()
