#!/usr/bin/env python3
"""The resources nxo pack writes into a Windows executable, read back under
Wine by Windows' own functions (resource_probe: GetFileVersionInfo and
VerQueryValue, ExtractIconEx and LoadImage, LoadString, FindResource)."""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "tools"))
import ico  # noqa: E402

NXO = os.environ.get("NXO", os.path.join(ROOT, "dist", "nxo"))
WINE_RUN = os.environ.get("NXO_WINE_RUN", os.path.join(ROOT, "scripts", "wine-run"))
BUILD = os.path.join(ROOT, "build", "win64-test")
TARGET = os.environ.get("NXO_WIN_TARGET", "win64")
STUB = os.environ.get("NXO_WIN_STUB", os.path.join(BUILD, "launcher", "nxo-win64.exe"))
PROBE = os.environ.get("NXO_RESOURCE_PROBE", os.path.join(BUILD, "tests", "launcher", "resource_probe.exe"))


def run(cmd, timeout=120):
    return subprocess.run(cmd, capture_output=True, timeout=timeout)


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class ResourcesUnderWine(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="nxo resources ")
        cls.addClassCleanup(shutil.rmtree, cls.work, ignore_errors=True)
        result = run([WINE_RUN, "--boot"], timeout=300)
        assert result.returncode == 0, result.stderr
        with open(os.path.join(cls.work, "readme.txt"), "w") as f:
            f.write("a jar that stands in for the support classes\n")
        cls.jar = os.path.join(cls.work, "app.jar")
        subprocess.run(["jar", "--create", "--file", cls.jar, "-C", cls.work, "readme.txt"], check=True)
        cls.icon = os.path.join(cls.work, "app.ico")
        ico.write_icon(cls.icon)

    def pack(self, name, *options):
        exe = os.path.join(self.work, name)
        result = run([NXO, "pack", "--target", TARGET, "--stub", STUB, "--support", self.jar, "--no-check",
                      "--main-class", "app.Main", *options, "-o", exe, self.jar])
        self.assertEqual(result.returncode, 0, result.stderr)
        return exe

    def probe(self, exe):
        result = run([WINE_RUN, PROBE, windows_path(exe)])
        self.assertEqual(result.returncode, 0, result.stderr)
        found = {}
        for line in result.stdout.decode("utf-8").splitlines():
            key, _, value = line.partition("=")
            found[key] = value
        return found

    def test_version_icon_strings_and_manifest(self):
        exe = self.pack("demo.exe", "--icon", self.icon, "--version", "ProductName=Demo",
                        "--version", "CompanyName=Tarnwick \u00c5B", "--version", "FileVersion=1.2.3.4",
                        "--version", "ProductVersion=1.2.0.0", "--version", "LegalCopyright=\u00a9 2026")
        found = self.probe(exe)
        expected = {
            "fixed.file": "1.2.3.4", "fixed.product": "1.2.0.0",
            "version.ProductName": "Demo", "version.CompanyName": "Tarnwick \u00c5B",
            "version.LegalCopyright": "\u00a9 2026", "version.FileVersion": "1.2.3.4",
            "version.ProductVersion": "1.2.0.0", "version.FileDescription": "demo",
            "version.OriginalFilename": "demo.exe", "version.InternalName": "demo",
            # One icon of two images; Windows picks the 32x32 one for both.
            "icons": "1", "icon.extracted": "32x32", "icon.loaded": "32x32",
            # The launcher's own messages survive the rewrite.
            "string.1": "Java Runtime Environment not found.",
            "string.9": "The exe can not be modified after it generated.",
            "string.10": "Error",
            "string.13": "There is already an instance of this program running.",
        }
        for key, value in expected.items():
            self.assertEqual(found.get(key), value, key)
        self.assertGreater(int(found["manifest"]), 1000)

    def test_defaults_without_resource_options(self):
        found = self.probe(self.pack("plain.exe", "--no-manifest"))
        self.assertEqual((found.get("version.ProductName"), found.get("fixed.file")), ("plain", "1.0.0.0"))
        self.assertEqual((found["icons"], found["manifest"]), ("0", "0"))
        self.assertEqual(found["string.1"], "Java Runtime Environment not found.")


if __name__ == "__main__":
    unittest.main()
