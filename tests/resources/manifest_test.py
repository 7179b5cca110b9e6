#!/usr/bin/env python3
"""The application manifest as the Windows loader reads it: its bytes, its line layout and what it
asks for. Usage: manifest_test.py MANIFEST"""
import re
import sys
import unittest
import xml.etree.ElementTree as ET

ASM = "{urn:schemas-microsoft-com:asm.v1}"
PATH = None


def load():
    with open(PATH, "rb") as f:
        return f.read()


def attributes_in_order(lines):
    """Attribute names of the one-per-line attribute lines, in the order they appear."""
    return [re.match(r'\s*([A-Za-z]+)="', line).group(1) for line in lines]


class ManifestBytes(unittest.TestCase):
    def setUp(self):
        self.data = load()

    def test_utf8_without_bom(self):
        self.assertFalse(self.data.startswith(b"\xef\xbb\xbf"))
        self.data.decode("utf-8")  # raises on anything that is not UTF-8

    def test_lines_end_in_carriage_returns_alone(self):
        self.assertNotIn(b"\n", self.data)
        self.assertIn(b"\r", self.data)
        self.assertNotIn(b"\r\r", self.data, "no empty lines")
        self.assertNotIn(b"\t", self.data, "indentation is blanks only")
        self.assertNotRegex(self.data, rb" \r", "no trailing blanks")

    def test_ends_with_the_closing_bracket_of_assembly(self):
        self.assertTrue(self.data.endswith(b"</assembly>"), repr(self.data[-20:]))
        self.assertEqual(self.data[-1:], b">")

    def test_length_is_548_plus_the_identity_name(self):
        root = ET.fromstring(self.data)
        name = root.find(ASM + "assemblyIdentity").get("name")
        self.assertTrue(name)
        self.assertEqual(len(self.data), 548 + len(name.encode("utf-8")))


class ManifestLayout(unittest.TestCase):
    def setUp(self):
        self.lines = load().decode("utf-8").split("\r")

    def test_declaration_and_root(self):
        decl = self.lines[0]
        self.assertRegex(decl, r'^<\?xml version="1\.0" encoding="UTF-8" standalone="yes"\?>$')
        self.assertRegex(self.lines[1], r'^<assembly xmlns="urn:schemas-microsoft-com:asm\.v1" '
                                        r'manifestVersion="1\.0">$')
        self.assertEqual(self.lines[-1], "</assembly>")

    def test_own_identity_one_attribute_a_line(self):
        start = self.lines.index("<assemblyIdentity")
        self.assertEqual(start, 2)
        attrs = self.lines[start + 1:start + 5]
        for line in attrs:
            self.assertRegex(line, r'^  [A-Za-z]+="[^"]*"(/>)?$')
        self.assertEqual(attributes_in_order(attrs),
                         ["name", "processorArchitecture", "version", "type"])
        self.assertTrue(attrs[-1].endswith('"win32"/>'))
        self.assertEqual(self.lines[start + 5], "<description></description>")

    def test_dependency_nesting_and_indentation(self):
        start = self.lines.index("<dependency>")
        self.assertEqual(start, 8)
        self.assertEqual(self.lines[start + 1], "  <dependentAssembly>")
        self.assertEqual(self.lines[start + 2], "    <assemblyIdentity")
        attrs = self.lines[start + 3:start + 9]
        for line in attrs:
            self.assertRegex(line, r'^      [A-Za-z]+="[^"]*"$')
        self.assertEqual(attributes_in_order(attrs),
                         ["type", "name", "version", "processorArchitecture", "publicKeyToken",
                          "language"])
        self.assertEqual(self.lines[start + 9:], ["    />", "  </dependentAssembly>",
                                                  "</dependency>", "</assembly>"])


class ManifestContent(unittest.TestCase):
    def setUp(self):
        self.root = ET.fromstring(load())

    def test_own_identity(self):
        ident = self.root.find(ASM + "assemblyIdentity")
        self.assertEqual(ident.get("processorArchitecture"), "x86")
        self.assertEqual(ident.get("version"), "1.0.0.0")
        self.assertEqual(ident.get("type"), "win32")
        self.assertEqual(self.root.get("manifestVersion"), "1.0")

    def test_asks_for_common_controls_6_and_nothing_else(self):
        self.assertEqual([child.tag for child in self.root],
                         [ASM + "assemblyIdentity", ASM + "description", ASM + "dependency"])
        self.assertEqual(self.root.find(ASM + "description").text, None)
        dep = self.root.find(f"{ASM}dependency/{ASM}dependentAssembly/{ASM}assemblyIdentity")
        self.assertEqual(dict(dep.attrib), {
            "type": "win32", "name": "Microsoft.Windows.Common-Controls", "version": "6.0.0.0",
            "processorArchitecture": "x86", "publicKeyToken": "6595b64144ccf1df", "language": "*"})


if __name__ == "__main__":
    PATH = sys.argv.pop(1)
    unittest.main()
