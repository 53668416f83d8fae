#!/usr/bin/env python3
"""The shipped stubs carry none of the C++ runtime's exception machinery.

The launcher reports every failure as a result code, and its code is built
without exception handling, yet one std::thread, one function-local static
with a dynamic initialiser or one library throw site links the whole
machinery back in: unwinder, typed exceptions, and the default terminate
handler with its demangler, several times the launcher's own weight. Each of
those leaves one of these texts in the file, stripped or not.

Nor do they carry MinGW's own printf: one printf-family call that bypasses
support/format.h links it into a Windows stub with its floating-point
conversions, a sixth of the stub, where msvcrt.dll's formatter is free.

Usage: check_stub_lean.py STUB...
"""
import sys
import unittest

STUBS = sys.argv[1:]
RUNTIME_MARKERS = (
    b"terminate called after throwing",  # the default terminate handler
    b"St9bad_alloc",                     # a typed exception's type name
    b"recursive_init_error",             # the guard of a local static
    b"Infinity",                         # MinGW's floating-point formatting
)


class StubIsLean(unittest.TestCase):
    def test_no_exception_runtime_in_any_stub(self):
        self.assertTrue(STUBS, "no stub given")
        for stub in STUBS:
            with self.subTest(stub=stub), open(stub, "rb") as f:
                data = f.read()
                for marker in RUNTIME_MARKERS:
                    self.assertFalse(marker in data, f"{marker!r} found in {stub}")


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
