#!/usr/bin/env python3
"""The Windows resources as the linker receives them: the resource script is compiled with windres
and the compiled .res is read back record by record. Checks the manifest (type, id, language,
bytes), the icon group and its nine images, and the version block.

Usage: winres_test.py WINDRES RESOURCE_SCRIPT MANIFEST WORK_DIR"""
import os
import shutil
import struct
import subprocess
import sys
import unittest

RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24
EN_US = 1033
WINDRES = SCRIPT = MANIFEST = WORK = None
RESOURCES = None  # filled once by setUpModule


def align4(n):
    return (n + 3) & ~3


def read_id(data, pos):
    """A resource type or name: 0xFFFF and an ordinal, or a NUL-terminated UTF-16 string."""
    (first,) = struct.unpack_from("<H", data, pos)
    if first == 0xFFFF:
        return struct.unpack_from("<H", data, pos + 2)[0], pos + 4
    end = pos
    while struct.unpack_from("<H", data, end)[0] != 0:
        end += 2
    return data[pos:end].decode("utf-16-le"), end + 2


def parse_res(data):
    """The records of a 32-bit .res file as (type, name, language, bytes)."""
    records, pos = [], 0
    while pos < len(data):
        data_size, header_size = struct.unpack_from("<II", data, pos)
        rtype, p = read_id(data, pos + 8)
        name, p = read_id(data, p)
        p = align4(p)
        _data_version, _flags, language = struct.unpack_from("<IHH", data, p)
        body = data[pos + header_size:pos + header_size + data_size]
        if len(body) != data_size:
            raise ValueError(f"record at {pos} runs past the end of the file")
        records.append((rtype, name, language, body))
        pos = align4(pos + header_size + data_size)
    if not records or records[0][3] != b"" or records[0][:2] != (0, 0):
        raise ValueError("a .res file starts with an empty record")
    return records[1:]


def find(rtype, name=None):
    return [r for r in RESOURCES if r[0] == rtype and (name is None or r[1] == name)]


def version_blocks(data, pos=0):
    """One node of the version tree: (key, value bytes, value type, children)."""
    length, value_length, value_type = struct.unpack_from("<HHH", data, pos)
    end = pos + length
    key_end = pos + 6
    while struct.unpack_from("<H", data, key_end)[0] != 0:
        key_end += 2
    key = data[pos + 6:key_end].decode("utf-16-le")
    value_at = align4(key_end + 2)
    value_size = value_length * 2 if value_type == 1 else value_length
    value = data[value_at:value_at + value_size]
    children, child = [], align4(value_at + value_size)
    while child < end:
        node, child_end = version_blocks(data, child)
        children.append(node)
        child = align4(child_end)
    return (key, value, value_type, children), end


def image_format(data):
    """(width, height, bits per pixel) of one icon image, PNG or DIB, checking its size adds up."""
    if data.startswith(b"\x89PNG\r\n\x1a\n"):
        width, height, depth, colour = struct.unpack_from(">IIBB", data, 16)
        channels = {6: 4, 2: 3, 0: 1, 4: 2, 3: 1}[colour]
        return width, height, depth * channels
    (header, width, height, planes, bits, compression, _, _, _, used, _) = \
        struct.unpack_from("<IiiHHIIiiII", data, 0)
    assert header == 40 and planes == 1 and compression == 0, (header, planes, compression)
    assert height == 2 * width, "a DIB icon's height counts the colour image and its mask"
    palette = (used or 1 << bits) if bits <= 8 else 0
    expected = 40 + 4 * palette + align4(width * bits // 8) * width + align4((width + 7) // 8) * width
    assert len(data) == expected, f"{width}px {bits}-bit image is {len(data)} bytes, not {expected}"
    return width, width, bits


def setUpModule():
    global RESOURCES
    if WINDRES is None or shutil.which(WINDRES) is None:
        raise RuntimeError(f"{WINDRES} not found: install binutils-mingw-w64-i686 "
                           "(bash scripts/deps.sh test)")
    os.makedirs(WORK, exist_ok=True)
    res = os.path.join(WORK, "varnel-importer.res")
    # The preprocessor of the Windows compilers is not at hand; the host's C preprocessor does.
    # Run from the work folder so that only the script's own folder resolves the files it names.
    for fmt, out in (("res", res), ("coff", os.path.join(WORK, "varnel-importer-res.o"))):
        subprocess.run([WINDRES, "--preprocessor=cpp", "-O", fmt, "-o", out, SCRIPT],
                       check=True, cwd=WORK)
    with open(res, "rb") as f:
        RESOURCES = parse_res(f.read())


class Compiled(unittest.TestCase):
    def test_coff_object_for_the_linker(self):
        with open(os.path.join(WORK, "varnel-importer-res.o"), "rb") as f:
            machine = struct.unpack("<H", f.read(2))[0]
        self.assertEqual(machine, 0x14C, "an i386 COFF object")

    def test_every_resource_is_english_us(self):
        self.assertTrue(RESOURCES)
        for rtype, name, language, _ in RESOURCES:
            self.assertEqual(language, EN_US, f"type {rtype} name {name}")


class Manifest(unittest.TestCase):
    def test_type_24_id_1_holding_the_manifest_bytes(self):
        manifests = find(RT_MANIFEST)
        self.assertEqual([(r[1], r[2]) for r in manifests], [(1, EN_US)])
        with open(MANIFEST, "rb") as f:
            self.assertEqual(manifests[0][3], f.read())


class Icon(unittest.TestCase):
    WANTED = sorted([(48, 8), (32, 8), (24, 8), (16, 8),
                     (256, 32), (48, 32), (32, 32), (24, 32), (16, 32)])

    def setUp(self):
        groups = find(RT_GROUP_ICON)
        self.assertEqual(len(groups), 1, "one icon group")
        self.assertEqual(groups[0][1], 1)
        data = groups[0][3]
        reserved, kind, count = struct.unpack_from("<HHH", data, 0)
        self.assertEqual((reserved, kind), (0, 1))
        self.assertEqual(len(data), 6 + 14 * count)
        self.entries = [struct.unpack_from("<BBBBHHIH", data, 6 + 14 * i) for i in range(count)]

    def image(self, ident):
        found = find(RT_ICON, ident)
        self.assertEqual(len(found), 1, f"icon image {ident}")
        return found[0][3]

    def test_nine_images_of_the_wanted_sizes_and_depths(self):
        actual = []
        for width, height, _, _, planes, bits, size, ident in self.entries:
            data = self.image(ident)
            self.assertEqual(len(data), size, "the group entry gives the image's length")
            self.assertEqual(planes, 1)
            fmt = image_format(data)
            self.assertEqual(fmt, (width or 256, height or 256, bits),
                             "the group entry describes its image")
            actual.append(fmt[1:])
        self.assertEqual(sorted(actual), self.WANTED)
        self.assertEqual(len(find(RT_ICON)), 9, "no image outside the group")

    def test_palette_images_draw_a_picture(self):
        # A real 8-bit image: a palette of many colours, many of them used, some pixels masked.
        for width, _, _, _, _, bits, _, ident in self.entries:
            if bits != 8:
                continue
            data = self.image(ident)
            used = struct.unpack_from("<I", data, 32)[0] or 256
            pixels = data[40 + 4 * used:40 + 4 * used + align4(width) * width]
            indices = {pixels[y * align4(width) + x] for y in range(width) for x in range(width)}
            self.assertGreater(len(indices), 16, f"{width}px: colours in use")
            mask = data[40 + 4 * used + len(pixels):]
            self.assertTrue(any(mask) and not all(b == 0xFF for b in mask),
                            f"{width}px: the mask leaves some pixels out and keeps others")

    def test_true_colour_images_carry_alpha(self):
        for width, _, _, _, _, bits, _, ident in self.entries:
            data = self.image(ident)
            if bits != 32 or data.startswith(b"\x89PNG"):
                continue
            alphas = set(data[40 + 3:40 + 4 * width * width:4])
            self.assertIn(0, alphas, f"{width}px: transparent corners")
            self.assertIn(255, alphas, f"{width}px: opaque body")


class Version(unittest.TestCase):
    def setUp(self):
        found = find(RT_VERSION)
        self.assertEqual([(r[1], r[2]) for r in found], [(1, EN_US)])
        (key, value, _, self.children), end = version_blocks(found[0][3])
        self.assertEqual(key, "VS_VERSION_INFO")
        self.fixed = struct.unpack("<13I", value)

    def strings(self):
        files = [c for c in self.children if c[0] == "StringFileInfo"]
        self.assertEqual(len(files), 1)
        tables = files[0][3]
        self.assertEqual(len(tables), 1, "one string table")
        table_key, _, _, entries = tables[0]
        values = {k: v.decode("utf-16-le").rstrip("\0") for k, v, vtype, _ in entries}
        return table_key, values

    def test_fixed_part_says_1_0_0_0_for_an_application(self):
        signature, _, file_ms, file_ls, product_ms, product_ls = self.fixed[:6]
        self.assertEqual(signature, 0xFEEF04BD)
        self.assertEqual((file_ms, file_ls), (0x00010000, 0))
        self.assertEqual((product_ms, product_ls), (0x00010000, 0))
        self.assertEqual(self.fixed[9], 0x1, "an application")
        self.assertEqual(self.fixed[7], 0, "no debug, pre-release or patched flags")

    def test_strings(self):
        _, values = self.strings()
        self.assertEqual(values["FileVersion"], "1.00")
        self.assertEqual(values["ProductVersion"], "1.00")
        self.assertEqual(values["FileDescription"], "Import .vcs & .ics Calendars to Outlook")
        self.assertEqual(values["ProductName"], "Varnel vCalendar\\iCalendar Importer")
        for field in ("CompanyName", "InternalName", "OriginalFilename"):
            self.assertTrue(values.get(field), field)

    def test_translation_names_the_string_table(self):
        table_key, _ = self.strings()
        var_infos = [c for c in self.children if c[0] == "VarFileInfo"]
        self.assertEqual(len(var_infos), 1)
        (key, value, _, _), = var_infos[0][3]
        self.assertEqual(key, "Translation")
        language, codepage = struct.unpack("<HH", value)
        self.assertEqual(f"{language:04X}{codepage:04X}", table_key.upper())
        self.assertEqual(language, EN_US)


if __name__ == "__main__":
    WINDRES, SCRIPT, MANIFEST, WORK = (os.path.abspath(a) if i else a
                                       for i, a in enumerate(sys.argv[1:5]))
    del sys.argv[1:5]
    unittest.main()
