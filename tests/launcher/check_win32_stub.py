#!/usr/bin/env python3
"""Checks a shipped Windows stub as a file: a PE32 GUI program for i386 (or,
for the win64 stub, a PE32+ GUI program for x86-64) that imports only system
DLLs, exports exactly the natives of the table (decorated names on i386,
plain ones on x86-64), and carries the numbered messages as an English string
table."""
import re
import struct
import subprocess
import sys
import unittest

STUB = sys.argv.pop(1)
NATIVES_LIST = sys.argv.pop(1)   # the exported names, one a line
with open(STUB, "rb") as stub_file:
    _header = stub_file.read(4096)
PLUS = struct.unpack_from("<H", _header, struct.unpack_from("<I", _header, 0x3C)[0] + 24)[0] == 0x20B

SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "comctl32.dll", "advapi32.dll",
               "msvcrt.dll", "shell32.dll", "ole32.dll", "ws2_32.dll"}

MESSAGES = {
    1: "Java Runtime Environment not found.",
    2: "Java Runtime Environment not valid.",
    3: "Java Virtual Machine initialize failed.",
    4: "Java Virtual Machine starts failed.",
    5: "Can not get the virtual machine version.",
    6: "Java virtual machine version %s is too low, require %s or higher.",
    7: "The main startup class could not be found.",
    8: "The main startup class is not valid, main method missing.",
    9: "The exe can not be modified after it generated.",
    10: "Error",
    12: "Java virtual machine version %s is too high, version between %s and %s is required.",
    13: "There is already an instance of this program running.",
}


def objdump(*args):
    tool = "x86_64-w64-mingw32-objdump" if PLUS else "i686-w64-mingw32-objdump"
    return subprocess.run([tool, *args, STUB], check=True,
                          capture_output=True, text=True).stdout


def read_string_table(data):
    """{(block, language): [16 strings]} from the PE resource directory."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    sections = struct.unpack_from("<H", data, pe + 6)[0]
    optional_size = struct.unpack_from("<H", data, pe + 20)[0]
    optional = pe + 24
    resource_rva = struct.unpack_from("<I", data, optional + (112 if PLUS else 96) + 2 * 8)[0]
    table = optional + optional_size
    spans = []
    for i in range(sections):
        name, vsize, rva, rawsize, rawptr = struct.unpack_from("<8sIIII", data, table + 40 * i)
        spans.append((rva, max(vsize, rawsize), rawptr))

    def offset(rva):
        for start, size, raw in spans:
            if start <= rva < start + size:
                return raw + rva - start
        raise ValueError("rva outside sections")

    base = offset(resource_rva)

    def entries(directory):
        named, ids = struct.unpack_from("<HH", data, directory + 12)
        for i in range(named + ids):
            ident, target = struct.unpack_from("<II", data, directory + 16 + 8 * i)
            yield ident, target

    blocks = {}
    for type_id, type_target in entries(base):
        if type_id != 6:
            continue
        for block_id, block_target in entries(base + (type_target & 0x7FFFFFFF)):
            for language, leaf in entries(base + (block_target & 0x7FFFFFFF)):
                data_rva, size = struct.unpack_from("<II", data, base + leaf)
                raw = data[offset(data_rva):offset(data_rva) + size]
                strings, at = [], 0
                while at < len(raw) and len(strings) < 16:
                    length = struct.unpack_from("<H", raw, at)[0]
                    strings.append(raw[at + 2:at + 2 + 2 * length].decode("utf-16-le"))
                    at += 2 + 2 * length
                blocks[(block_id, language)] = strings
    return blocks


class Win32Stub(unittest.TestCase):
    def test_is_a_gui_program_of_its_target(self):
        kind = subprocess.run(["file", "-b", STUB], check=True, capture_output=True, text=True).stdout
        self.assertIn("PE32+ executable (GUI) x86-64" if PLUS else "PE32 executable (GUI) Intel 80386", kind)

    def test_imports_only_system_dlls(self):
        dlls = {name.lower() for name in re.findall(r"DLL Name: (\S+)", objdump("-p"))}
        self.assertTrue(dlls, "no imports found")
        self.assertLessEqual(dlls, SYSTEM_DLLS)

    def test_exports_exactly_the_natives(self):
        dump = objdump("-p")
        block = dump.split("[Ordinal/Name Pointer] Table", 1)[1].split("\n\n", 1)[0]
        exported = sorted(re.findall(r"\[\s*\d+\] (\S+)", block))
        with open(NATIVES_LIST) as names:
            expected = sorted(line.strip() for line in names if line.strip())
        self.assertEqual(exported, expected)

    def test_every_export_points_into_code(self):
        # The linker still lists a native that the link dropped, at address
        # zero: the name check alone passes, and the JVM then calls nowhere.
        dump = objdump("-p")
        rvas = [int(rva, 16) for rva in re.findall(r"\+base\[\s*\d+\] ([0-9a-f]+) Export RVA", dump)]
        self.assertTrue(rvas, "no exports found")
        image_base = int(re.search(r"^ImageBase\s+([0-9a-f]+)", dump, re.M).group(1), 16)
        headers = objdump("-h").splitlines()
        code = []
        for line, flags in zip(headers, headers[1:]):
            fields = line.split()
            if len(fields) >= 7 and fields[0].isdigit() and "CODE" in flags:
                size, address = int(fields[2], 16), int(fields[3], 16)
                code.append((address - image_base, address - image_base + size))
        self.assertTrue(code, "no code section found")
        for rva in rvas:
            self.assertTrue(any(start <= rva < end for start, end in code),
                            f"an export points at {rva:#x}, outside the code")

    def test_reserves_one_mib_of_stack(self):
        with open(STUB, "rb") as f:
            data = f.read()
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        optional = pe + 24
        magic = struct.unpack_from("<H", data, optional)[0]
        # SizeOfStackReserve sits at offset 72 of PE32's optional header and
        # at 72 of PE32+'s as well, where it is eight bytes wide.
        layouts = {0x10B: "<I", 0x20B: "<Q"}
        self.assertIn(magic, layouts)
        self.assertEqual(struct.unpack_from(layouts[magic], data, optional + 72)[0], 0x100000)

    def test_carries_the_english_string_table(self):
        with open(STUB, "rb") as f:
            blocks = read_string_table(f.read())
        for number, text in MESSAGES.items():
            strings = blocks.get((number // 16 + 1, 1033))
            self.assertIsNotNone(strings, f"no English block for message {number}")
            self.assertEqual(strings[number % 16], text)
        self.assertEqual(blocks[(1, 1033)][11], "")


if __name__ == "__main__":
    unittest.main()
