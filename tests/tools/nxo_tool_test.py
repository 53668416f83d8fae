#!/usr/bin/env python3
"""End-to-end tests of the packager: nxo pack and nxo inspect.

Packed files are checked from the outside: by parsing their bytes here, by
`nxo inspect`, by `unzip -l`, by the JDK's java.util.zip.ZipFile and by the
JDK's launcher running a class out of them, and after Authenticode signing by
osslsigncode.

Environment (set by CTest): NXO, NXO_LINUX_STUB, NXO_WIN32_STUB, NXO_WIN64_STUB,
NXO_JDK_HOME, NXO_SOURCE_DIR.
"""
import hashlib
import os
import shutil
import struct
import subprocess
import tempfile
import unittest
import sys
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import ico  # noqa: E402

NXO = os.environ.get("NXO", "")
JDK = os.environ.get("NXO_JDK_HOME", "/usr/lib/jvm/java-17-openjdk-amd64")
JAVA, JAVAC, JAR = (os.path.join(JDK, "bin", t) for t in ("java", "javac", "jar"))
SOURCE_DIR = os.environ.get("NXO_SOURCE_DIR", "")
MAGIC = b"NXO-PAYLOAD-REC1"
FIXED_DOS_DATE, FIXED_DOS_TIME = 0x0021, 0  # 1980-01-01 00:00


def first_existing(*paths):
    return next((p for p in paths if p and os.path.isfile(p)), None)


STUBS = {
    "linux": first_existing(os.environ.get("NXO_LINUX_STUB")),
    "win32": first_existing(os.environ.get("NXO_WIN32_STUB"),
                            os.path.join(SOURCE_DIR, "dist", "stubs", "nxo-win32.exe")),
    "win64": first_existing(os.environ.get("NXO_WIN64_STUB"),
                            os.path.join(SOURCE_DIR, "dist", "stubs", "nxo-win64.exe")),
}
WINDOWS_TARGETS = ("win32", "win64")


def pe_checksum_field(data):
    (pe,) = struct.unpack_from("<I", data, 0x3C)
    return pe + 24 + 64


def pe_checksum(data):
    """The image checksum as Windows computes it: 16-bit words with the
    carry folded back, the field itself as zero, an odd last byte as a word
    of its own, plus the file size."""
    field = pe_checksum_field(data)
    padded = data + b"\0" if len(data) % 2 else data
    total = 0
    for at in range(0, len(padded), 2):
        if at in (field, field + 2):
            continue
        total += padded[at] | padded[at + 1] << 8
        total = (total & 0xFFFF) + (total >> 16)
    return ((total & 0xFFFF) + (total >> 16)) + len(data)


def run(*args, **kw):
    return subprocess.run([str(a) for a in args], capture_output=True, text=True, **kw)


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb" if isinstance(data, bytes) else "w") as f:
        f.write(data)


def compile_jar(work, name, sources):
    """Compiles {relative path: java source} and packs the classes with jar."""
    src, classes = os.path.join(work, name + "-src"), os.path.join(work, name + "-classes")
    for rel, text in sources.items():
        write(os.path.join(src, rel), text)
    files = [os.path.join(src, rel) for rel in sources]
    subprocess.run([JAVAC, "-d", classes] + files, check=True)
    jar = os.path.join(work, name + ".jar")
    subprocess.run([JAR, "cf", jar, "-C", classes, "."], check=True)
    return jar, classes


# ---- Reading a packed file the way the launcher and the JVM do ---------------

class Packed:
    """The pieces of a packed executable, found independently of nxo."""

    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = f.read()
        d = self.data
        self.record = d.index(MAGIC)
        self.archive_length, self.flags = struct.unpack_from("<II", d, self.record + 16)
        end = d.rindex(b"PK\x05\x06")
        self.tail_length = len(d) - end - 22
        self.archive_start = len(d) - self.tail_length - self.archive_length
        self.digest_at = self.archive_start - 16
        (self.config_length,) = struct.unpack_from("<I", d, self.digest_at - 4)
        self.config_start = self.digest_at - 4 - self.config_length
        self.config_block = d[self.config_start:self.digest_at - 4]
        self.digest = d[self.digest_at:self.archive_start]
        _, _, _, _, count, cd_size, cd_offset, _ = struct.unpack_from("<IHHHHIIH", d, end)
        self.entries = self._central_directory(self.archive_start + cd_offset, count)
        self.cd_offset, self.cd_size, self.end = cd_offset, cd_size, end

    def _central_directory(self, at, count):
        entries = []
        for _ in range(count):
            (sig, _, _, flags, method, time, date, crc, csize, size, nlen, xlen, clen, _, _, _,
             offset) = struct.unpack_from("<IHHHHHHIIIHHHHHII", self.data, at)
            assert sig == 0x02014B50
            name = self.data[at + 46:at + 46 + nlen].decode("utf-8")
            entries.append(dict(name=name, flags=flags, method=method, time=time, date=date, crc=crc,
                                csize=csize, size=size, offset=offset))
            at += 46 + nlen + xlen + clen
        return entries

    def entry(self, name):
        return next(e for e in self.entries if e["name"] == name)

    def entry_data(self, e):
        at = self.archive_start + e["offset"]
        sig, = struct.unpack_from("<I", self.data, at)
        assert sig == 0x04034B50, "no local header at the archive-relative offset of " + e["name"]
        nlen, xlen = struct.unpack_from("<HH", self.data, at + 26)
        start = at + 30 + nlen + xlen
        return self.data[start:start + e["csize"]]

    def expected_digest(self):
        """MD5 up to the end record's end, with the ignored bytes as zero."""
        blank = bytearray(self.data[:len(self.data) - self.tail_length])
        blank[self.digest_at:self.digest_at + 16] = bytes(16)
        if blank[:2] == b"MZ":
            (pe,) = struct.unpack_from("<I", blank, 0x3C)
            optional = pe + 24
            blank[optional + 64:optional + 68] = bytes(4)        # CheckSum
            plus = struct.unpack_from("<H", blank, optional)[0] == 0x20B
            certificates = optional + (144 if plus else 128)     # certificate table entry
            blank[certificates:certificates + 8] = bytes(8)
        return hashlib.md5(bytes(blank)).digest()


class NxoTestCase(unittest.TestCase):
    """Builds the shared inputs once: a placeholder support jar, two
    application jars and a class that opens packed files with ZipFile."""

    @classmethod
    def setUpClass(cls):
        if not NXO or not os.path.isfile(NXO):
            raise unittest.SkipTest("NXO does not name the built packager")
        cls.work = tempfile.mkdtemp(prefix="nxo-tool-test-")
        w = cls.work
        cls.support_jar, _ = compile_jar(w, "support", {
            "probe/Hello.java": 'package probe; public class Hello { public static void main(String[] a) {'
                                ' System.out.println("hello from the payload " + a.length); } }',
            "com/tarnwick/nxo/KestrelLauncher.java":
                'package com.tarnwick.nxo; public class KestrelLauncher { public static String startClass; }',
        })
        cls.app_jar, cls.app_classes = compile_jar(w, "app", {
            "app/Main.java": 'package app; public class Main { public static void main(String[] a) {} }'})
        cls.util_jar, _ = compile_jar(w, "util", {
            "util/Tools.java": 'package util; public class Tools {}'})
        _, cls.zipcheck_classes = compile_jar(w, "zipcheck", {
            "ZipCheck.java": """
import java.io.*; import java.util.*; import java.util.zip.*;
public class ZipCheck {
  public static void main(String[] args) throws Exception {
    try (ZipFile zip = new ZipFile(args[0])) {
      for (Enumeration<? extends ZipEntry> e = zip.entries(); e.hasMoreElements();) {
        ZipEntry entry = e.nextElement();
        byte[] bytes;
        try (InputStream in = zip.getInputStream(entry)) { bytes = in.readAllBytes(); }
        CRC32 crc = new CRC32(); crc.update(bytes);
        System.out.println(entry.getName() + " " + bytes.length + " " + Long.toHexString(crc.getValue()));
      }
    }
  }
}"""})

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="case-", dir=self.work)

    def icon(self):
        path = os.path.join(self.tmp, "app.ico")
        if not os.path.exists(path):
            ico.write_icon(path)
        return path

    def stub(self, target):
        if STUBS[target] is None:
            self.skipTest(f"no {target} stub was built (build target nxo_stub for {target} first)")
        return STUBS[target]

    def pack(self, target, *args, output=None, check=True):
        output = output or os.path.join(self.tmp, "app.exe" if target in WINDOWS_TARGETS else "app")
        result = run(NXO, "pack", "--target", target, "--stub", self.stub(target),
                     "--support", self.support_jar, "-o", output, *args)
        if check:
            self.assertEqual(result.returncode, 0, result.stderr)
        return output, result

    def assert_refused(self, args, culprit, target="linux"):
        outdir = os.path.join(self.tmp, "out-" + str(len(os.listdir(self.tmp))))
        os.makedirs(outdir)
        out = os.path.join(outdir, "app")
        _, result = self.pack(target, *args, output=out, check=False)
        self.assertNotEqual(result.returncode, 0, result.stdout)
        lines = result.stderr.splitlines()
        self.assertEqual(len(lines), 1, result.stderr)
        self.assertIn(culprit, lines[0])
        self.assertEqual(os.listdir(outdir), [], "output or temporary file left behind")
        return lines[0]

    def inspect(self, path, expect_rc=0):
        result = run(NXO, "inspect", path)
        self.assertEqual(result.returncode, expect_rc, result.stdout + result.stderr)
        return result.stdout


class PackAndReadBack(NxoTestCase):
    def test_both_targets_round_trip_through_inspect_unzip_zipfile_and_java(self):
        for target, description in (("linux", "linux ELF64"), ("win32", "win32 PE32 (i386)"),
                                    ("win64", "win64 PE32+ (x86-64)")):
            with self.subTest(target=target):
                out, _ = self.pack(target, "-m", "app.Main", "--set", "splashtitle=Loading", self.app_jar,
                                   self.util_jar)
                packed = Packed(out)
                # A Windows stub grows by the resources written into it.
                stub_size = os.path.getsize(self.stub(target))
                if target in WINDOWS_TARGETS:
                    self.assertGreater(packed.config_start, stub_size)
                    stub_size = packed.config_start

                text = self.inspect(out)
                self.assertIn("target:    " + description, text)
                self.assertIn(f"stub:      {stub_size} bytes", text)
                self.assertIn("  splashtitle=Loading\n  mainclass app.Main\n", text)
                self.assertIn(f"archive:   {packed.archive_length} bytes at {packed.archive_start}", text)
                self.assertRegex(text, r"stored\s+%d\s+%d\s+BOOT-INF/lib/app.jar" % ((os.path.getsize(self.app_jar),) * 2))
                self.assertRegex(text, r"deflated\s+\d+\s+\d+\s+probe/Hello.class")
                self.assertIn("tail:      0 bytes", text)
                self.assertIn("integrity: flag clear", text)
                # The positions inspect reports come from LocatePayload; they
                # must agree with the layout found here byte by byte.
                self.assertEqual(packed.config_start, stub_size)
                self.assertIn(f"config:    {packed.config_length} bytes at {stub_size}", text)

                listing = run("unzip", "-l", out)
                self.assertIn(listing.returncode, (0, 1), listing.stderr)  # 1: warns about the leading stub
                for name in ("probe/Hello.class", "BOOT-INF/lib/app.jar", "BOOT-INF/lib/util.jar", "com/tarnwick/nxo/"):
                    self.assertIn(name, listing.stdout)
                self.assertNotIn("META-INF", listing.stdout)

                zipcheck = run(JAVA, "-cp", self.zipcheck_classes, "ZipCheck", out)
                self.assertEqual(zipcheck.returncode, 0, zipcheck.stderr)
                with open(self.app_jar, "rb") as f:
                    app_bytes = f.read()
                self.assertIn("BOOT-INF/lib/app.jar %d %x" % (len(app_bytes), zipfile.crc32(app_bytes)),
                              zipcheck.stdout.splitlines())
                self.assertEqual(len(zipcheck.stdout.splitlines()), len(packed.entries))

                hello = run(JAVA, "-cp", out, "probe.Hello", "x", "y")
                self.assertEqual((hello.returncode, hello.stdout), (0, "hello from the payload 2\n"), hello.stderr)

    def test_archive_layout(self):
        classes = os.path.join(self.tmp, "classes")
        write(os.path.join(classes, "res", "data.txt"), "some resource " * 50)
        write(os.path.join(classes, "top.properties"), "a=b\n")
        out, _ = self.pack("linux", "-m", "app.Main", "--classes", classes, self.app_jar)
        p = Packed(out)
        names = [e["name"] for e in p.entries]
        self.assertEqual(names, [
            "com/", "com/tarnwick/", "com/tarnwick/nxo/", "com/tarnwick/nxo/KestrelLauncher.class",
            "probe/", "probe/Hello.class",
            "BOOT-INF/", "BOOT-INF/lib/", "BOOT-INF/lib/app.jar",
            "BOOT-INF/classes/", "BOOT-INF/classes/res/",
            "BOOT-INF/classes/res/data.txt", "BOOT-INF/classes/top.properties"])
        self.assertEqual(p.end + 22 + p.tail_length, len(p.data))
        self.assertEqual(p.archive_start + p.cd_offset + p.cd_size, p.end)
        for e in p.entries:
            with self.subTest(entry=e["name"]):
                self.assertEqual((e["date"], e["time"]), (FIXED_DOS_DATE, FIXED_DOS_TIME))
                data = p.entry_data(e)  # asserts the local header sits at the archive-relative offset
                if e["name"].endswith("/"):
                    self.assertEqual((e["method"], e["size"], e["csize"]), (0, 0, 0))
                elif e["name"].startswith("BOOT-INF/lib/"):
                    self.assertEqual(e["method"], 0)
                    with open(self.app_jar, "rb") as f:
                        self.assertEqual(data, f.read())
                    self.assertEqual(e["crc"], zipfile.crc32(data))
                else:
                    self.assertEqual(e["method"], 8)
        # Counting from the file start would land inside the stub.
        self.assertNotEqual(p.data[p.entries[0]["offset"]:][:4], b"PK\x03\x04")

    def test_config_block_is_utf8_with_bom_crlf_and_one_zero_whatever_the_input_encoding(self):
        text = "splashtitle Caf\u00e9\nmainclass old.Main\r\njre=rt\n\n"
        encodings = {
            "utf-8 with mark": b"\xef\xbb\xbf" + text.encode("utf-8"),
            "utf-16 le": b"\xff\xfe" + text.encode("utf-16-le"),
            "utf-16 be": b"\xfe\xff" + text.encode("utf-16-be"),
        }
        expected = ("\ufeffsplashtitle Caf\u00e9\r\njre=rt\r\nwildcard=false\r\nmainclass app.Main\r\n"
                    "jre_order cbsviep\r\n".encode("utf-8") + b"\0")
        for name, raw in encodings.items():
            with self.subTest(encoding=name):
                config = os.path.join(self.tmp, "app.cfg")
                write(config, raw)
                out, _ = self.pack("linux", "-c", config, "--set", "wildcard=false", "-m", "app.Main", self.app_jar)
                p = Packed(out)
                self.assertEqual(p.config_block, expected)
                self.assertEqual(p.config_length, len(expected))
        # No mark: the local code page; plain ASCII reads the same in any.
        write(os.path.join(self.tmp, "ansi.cfg"), b"jre=rt\nsplashtitle x\n")
        out, _ = self.pack("linux", "-c", os.path.join(self.tmp, "ansi.cfg"), "--set", "jre=other",
                           "-m", "app.Main", self.app_jar)
        self.assertEqual(Packed(out).config_block,
                         b"\xef\xbb\xbfsplashtitle x\r\njre=other\r\nmainclass app.Main\r\njre_order cbsviep\r\n\0")

    def test_cds_sets_class_data_sharing_and_replaces_a_configured_line(self):
        write(os.path.join(self.tmp, "cds.cfg"), b"classdatasharing off\nsplashtitle x\n")
        out, _ = self.pack("linux", "-c", os.path.join(self.tmp, "cds.cfg"), "--cds", "-m", "app.Main", self.app_jar)
        self.assertEqual(Packed(out).config_block,
                         b"\xef\xbb\xbfsplashtitle x\r\nclassdatasharing=auto\r\nmainclass app.Main\r\n"
                         b"jre_order cbsviep\r\n\0")

    def test_lib_directories_add_their_jars_sorted_after_the_named_ones(self):
        lib = os.path.join(self.tmp, "lib")
        for rel in ("zeta.jar", "alpha.jar", "sub/mid.jar"):
            os.makedirs(os.path.dirname(os.path.join(lib, rel)), exist_ok=True)
            shutil.copy(self.util_jar, os.path.join(lib, rel))
        write(os.path.join(lib, "notes.txt"), "not a jar, and not picked up")
        out, _ = self.pack("linux", "-m", "app.Main", self.app_jar, "--lib", lib)
        names = [e["name"] for e in Packed(out).entries if e["name"].startswith("BOOT-INF/lib/")]
        self.assertEqual(names, ["BOOT-INF/lib/", "BOOT-INF/lib/app.jar", "BOOT-INF/lib/alpha.jar",
                                 "BOOT-INF/lib/mid.jar", "BOOT-INF/lib/zeta.jar"])

    def test_identical_inputs_give_identical_bytes(self):
        for target in ("linux", "win32", "win64"):
            with self.subTest(target=target):
                args = ("-m", "app.Main", "--verify-integrity", "--set", "a=b", self.app_jar, self.util_jar)
                # The same output name: Windows version information carries it.
                os.makedirs(os.path.join(self.tmp, target + "-1"))
                os.makedirs(os.path.join(self.tmp, target + "-2"))
                first, _ = self.pack(target, *args, output=os.path.join(self.tmp, target + "-1", "app"))
                # New modification times on every input must not matter.
                for path in (self.app_jar, self.util_jar, self.support_jar):
                    os.utime(path, (1_600_000_000, 1_600_000_000))
                second, _ = self.pack(target, *args, output=os.path.join(self.tmp, target + "-2", "app"))
                with open(first, "rb") as a, open(second, "rb") as b:
                    self.assertEqual(hashlib.sha256(a.read()).digest(), hashlib.sha256(b.read()).digest())

    def test_installed_layout_finds_stubs_and_support_jar_beside_the_binary(self):
        dist = os.path.join(self.tmp, "dist")
        os.makedirs(os.path.join(dist, "stubs"))
        os.makedirs(os.path.join(dist, "lib"))
        shutil.copy(NXO, os.path.join(dist, "nxo"))
        shutil.copy(self.stub("linux"), os.path.join(dist, "stubs", "nxo-linux"))
        shutil.copy(self.support_jar, os.path.join(dist, "lib", "nxo-support.jar"))
        out = os.path.join(self.tmp, "app")
        result = run(os.path.join(dist, "nxo"), "pack", "--target", "linux", "-m", "app.Main", "-o", out, self.app_jar)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("probe/Hello.class", [e["name"] for e in Packed(out).entries])
        # The win32 stub is not installed here: the error names where it looked.
        result = run(os.path.join(dist, "nxo"), "pack", "-m", "app.Main", "-o", out + ".exe", self.app_jar)
        self.assertNotEqual(result.returncode, 0)
        self.assertIn(os.path.join(dist, "stubs", "nxo-win32.exe"), result.stderr)


class Integrity(NxoTestCase):
    def test_digest_covers_the_file_up_to_the_end_record_and_inspect_checks_it(self):
        for target in ("linux", "win32", "win64"):
            with self.subTest(target=target):
                out, _ = self.pack(target, "-m", "app.Main", "--verify-integrity", self.app_jar)
                p = Packed(out)
                self.assertEqual(p.flags & 1, 1)
                self.assertEqual(p.digest, p.expected_digest())
                self.assertIn("integrity: flag set, digest matches", self.inspect(out))

                damaged = bytearray(p.data)
                damaged[p.archive_start + 40] ^= 0x01  # inside the first entry's name
                write(out + ".damaged", bytes(damaged))
                self.assertIn("digest does not match", self.inspect(out + ".damaged", expect_rc=3))

    def test_without_the_option_the_flag_is_clear_and_the_digest_field_zero(self):
        out, _ = self.pack("linux", "-m", "app.Main", self.app_jar)
        p = Packed(out)
        self.assertEqual((p.flags, p.digest), (0, bytes(16)))

    def test_signed_windows_executable_still_verifies(self):
        for target in WINDOWS_TARGETS:
            with self.subTest(target=target):
                self.sign_and_verify(target)

    def sign_and_verify(self, target):
        out, _ = self.pack(target, "-m", "app.Main", "--verify-integrity", "--version", "ProductName=Signed",
                           "--icon", self.icon(), self.app_jar, output=os.path.join(self.tmp, target + ".exe"))
        key, cert = os.path.join(self.tmp, "key.pem"), os.path.join(self.tmp, "cert.pem")
        made = run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                   "-days", "2", "-subj", "/CN=nxo throw-away test signer")
        self.assertEqual(made.returncode, 0, made.stderr)
        signed = os.path.join(self.tmp, target + "-signed.exe")
        sign = run("osslsigncode", "sign", "-certs", cert, "-key", key, "-n", "nxo test", "-in", out, "-out", signed)
        self.assertEqual(sign.returncode, 0, sign.stdout + sign.stderr)
        verify = run("osslsigncode", "verify", "-CAfile", cert, "-in", signed)
        self.assertEqual(verify.returncode, 0, verify.stdout + verify.stderr)

        before, after = Packed(out), Packed(signed)
        self.assertGreater(after.tail_length, 0)
        self.assertEqual(after.data[:after.archive_start + after.archive_length][after.archive_start:],
                         before.data[before.archive_start:])
        text = self.inspect(signed)
        self.assertIn(f"tail:      {after.tail_length} bytes", text)
        self.assertIn("integrity: flag set, digest matches", text)
        self.assertIn("BOOT-INF/lib/app.jar", text)
        # The resources were written before the payload and signed with it.
        self.assertIn("version 1, language 0409", text)
        self.assertIn("group icon 1, language 0409", text)
        self.assertIn("manifest 1, language 0409", text)
        self.assertIn("Signed".encode("utf-16-le"), wrestool_extract(signed, 16, 1))
        hello = run(JAVA, "-cp", signed, "probe.Hello")
        self.assertEqual(hello.stdout, "hello from the payload 0\n", hello.stderr)


def wrestool_list(path):
    """(type, name, language) of every resource, as icoutils' wrestool reads them."""
    result = run("wrestool", "-l", path)
    assert result.returncode == 0, result.stderr
    found = []
    for line in result.stdout.splitlines():
        fields = dict(part[2:].split("=", 1) for part in line.split() if part.startswith("--"))
        found.append((fields["type"], fields["name"], fields["language"]))
    return found


def wrestool_extract(path, kind, name):
    result = subprocess.run(["wrestool", "-x", "--raw", f"--type={kind}", f"--name={name}", path], capture_output=True)
    assert result.returncode == 0, result.stderr
    return result.stdout


class Resources(NxoTestCase):
    """What nxo pack writes into a Windows stub, read back by wrestool."""

    def test_icon_version_and_manifest_for_both_targets(self):
        images = ico.write_icon(self.icon())
        for target in WINDOWS_TARGETS:
            with self.subTest(target=target):
                out, _ = self.pack(target, "-m", "app.Main", "--icon", self.icon(), "--version", "ProductName=Demo",
                                   "--version", "FileVersion=1.2.3.4", self.app_jar,
                                   output=os.path.join(self.tmp, target + "-demo.exe"))
                listed = wrestool_list(out)
                self.assertEqual(sorted(listed), sorted([
                    ("3", "1", "1033"), ("3", "2", "1033"), ("6", "1", "1033"), ("14", "1", "1033"),
                    ("16", "1", "1033"), ("24", "1", "1033")]))
                # Every image of the file, in order, byte for byte.
                self.assertEqual([wrestool_extract(out, 3, n) for n in (1, 2)], images)
                group = wrestool_extract(out, 14, 1)
                self.assertEqual(struct.unpack_from("<HHH", group), (0, 1, 2))
                self.assertEqual([struct.unpack_from("<H", group, 6 + 14 * i + 12)[0] for i in range(2)], [1, 2])
                # The stub's own string table is still there.
                self.assertIn("Java Runtime Environment not found.".encode("utf-16-le"), wrestool_extract(out, 6, 1))
                version = wrestool_extract(out, 16, 1)
                for text in ("VS_VERSION_INFO", "ProductName", "Demo", "1.2.3.4", target + "-demo.exe"):
                    self.assertIn(text.encode("utf-16-le"), version)
                self.assertEqual(struct.unpack_from("<HHHH", version, 40 + 8), (2, 1, 4, 3))  # 1.2 / 3.4 as MS, LS
                manifest = wrestool_extract(out, 24, 1).decode("utf-8")
                for text in ('level="asInvoker"', "PerMonitorV2", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
                             "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}", "<longPathAware", ">UTF-8</activeCodePage>"):
                    self.assertIn(text, manifest)
                with open(out, "rb") as f:
                    data = f.read()
                self.assertEqual(struct.unpack_from("<I", data, pe_checksum_field(data))[0], pe_checksum(data))
                text = self.inspect(out)
                self.assertIn("resources: 6\n", text)
                self.assertIn("icon 2, language 0409, %d bytes" % len(images[1]), text)
                self.assertIn("    ProductName: Demo\n", text)
                self.assertIn("    OriginalFilename: %s-demo.exe\n" % target, text)

    def test_manifest_choices(self):
        own = os.path.join(self.tmp, "own.manifest")
        write(own, '<?xml version="1.0"?><assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0"/>')
        for args, expected in ((["--ansi-code-page"], "default without code page"), (["--manifest", own], "own"),
                               (["--no-manifest"], None)):
            with self.subTest(args=args):
                out, _ = self.pack("win64", "-m", "app.Main", *args, self.app_jar)
                has = ("24", "1", "1033") in wrestool_list(out)
                self.assertEqual(has, expected is not None)
                if expected == "own":
                    with open(own, "rb") as f:
                        self.assertEqual(wrestool_extract(out, 24, 1), f.read())
                elif expected:
                    manifest = wrestool_extract(out, 24, 1).decode("utf-8")
                    self.assertIn("asInvoker", manifest)
                    self.assertNotIn("activeCodePage", manifest)

    def test_version_file_defaults_and_command_line_order(self):
        version_file = os.path.join(self.tmp, "version.txt")
        write(version_file, "\ufeff# the product\nCompanyName=Tarnwick \u00c5B\nproductname=From the file\n\n"
                            "FileVersion=2.0.0.7\n")
        out, _ = self.pack("win32", "-m", "app.Main", "--version-file", version_file, "--version", "ProductName=Wins",
                           self.app_jar, output=os.path.join(self.tmp, "tool.exe"))
        version = wrestool_extract(out, 16, 1)
        for text in ("Tarnwick \u00c5B", "Wins", "tool.exe", "2.0.0.7"):
            self.assertIn(text.encode("utf-16-le"), version)
        self.assertNotIn("From the file".encode("utf-16-le"), version)
        # ProductVersion follows FileVersion; the description defaults to the name.
        self.assertEqual(version.count("2.0.0.7".encode("utf-16-le")), 2)
        self.assertIn("tool\0".encode("utf-16-le"), version)

    def test_main_class_from_the_first_jars_manifest(self):
        manifest = os.path.join(self.tmp, "manifest.txt")
        write(manifest, "Manifest-Version: 1.0\nMain-Class: app.\n Main\nCreated-By: test\n\nName: x\nMain-Class: no\n")
        jar = os.path.join(self.tmp, "runnable.jar")
        subprocess.run([JAR, "cfm", jar, manifest, "-C", self.app_classes, "."], check=True)
        out, result = self.pack("linux", jar, self.util_jar)
        self.assertIn(b"mainclass app.Main\r\n", Packed(out).config_block)
        self.assertIn("main class app.Main, from the manifest of", result.stdout)
        # --main-class, or a mainclass line of the configuration, comes first.
        out, result = self.pack("linux", "--set", "mainclass=util.Tools", jar, self.util_jar)
        self.assertIn(b"mainclass=util.Tools\r\n", Packed(out).config_block)
        self.assertNotIn("manifest", result.stdout)
        # Only the first jar counts.
        _, result = self.pack("linux", self.util_jar, jar, check=False)
        self.assertIn("no main class", result.stderr)


class Errors(NxoTestCase):
    """Every refusal: non-zero exit, one line on standard error naming the
    culprit, and nothing left in the output directory."""

    def assert_refused(self, args, culprit, target="linux"):
        outdir = os.path.join(self.tmp, "out-" + str(len(os.listdir(self.tmp))))
        os.makedirs(outdir)
        out = os.path.join(outdir, "app.exe" if target in WINDOWS_TARGETS else "app")
        _, result = self.pack(target, *args, output=out, check=False)
        self.assertNotEqual(result.returncode, 0, result.stdout)
        lines = result.stderr.splitlines()
        self.assertEqual(len(lines), 1, result.stderr)
        self.assertIn(culprit, lines[0])
        self.assertEqual(os.listdir(outdir), [], "output or temporary file left behind")
        return lines[0]

    def test_refusals(self):
        t = self.tmp
        write(os.path.join(t, "text.jar"), "this is not a zip archive\n")
        for d in ("one", "two"):
            os.makedirs(os.path.join(t, d))
            shutil.copy(self.util_jar, os.path.join(t, d, "same.jar"))
        cases = [
            ("missing jar", ["-m", "app.Main", os.path.join(t, "absent.jar")], "absent.jar"),
            ("missing config", ["-m", "app.Main", "-c", os.path.join(t, "absent.cfg"), self.app_jar], "absent.cfg"),
            ("missing lib dir", ["-m", "app.Main", "--lib", os.path.join(t, "nolib"), self.app_jar], "nolib"),
            ("missing classes dir", ["-m", "app.Main", "--classes", os.path.join(t, "nocls"), self.app_jar], "nocls"),
            ("missing support jar", ["-m", "app.Main", "--support", os.path.join(t, "nosup.jar"), self.app_jar], "nosup.jar"),
            ("directory as jar", ["-m", "app.Main", os.path.join(t, "one")], "one"),
            ("not a jar", ["-m", "app.Main", os.path.join(t, "text.jar")], "text.jar' is not a jar"),
            ("same jar name", ["-m", "app.Main", os.path.join(t, "one", "same.jar"), os.path.join(t, "two", "same.jar")],
             "two jars named 'same.jar'"),
            ("main class in no input", ["-m", "app.Missing", self.app_jar], "app.Missing"),
            ("no main class", [self.app_jar], "main class"),
            ("bad --set", ["-m", "app.Main", "--set", "novalue", self.app_jar], "novalue"),
            ("unknown option", ["-m", "app.Main", "--frobnicate", self.app_jar], "--frobnicate"),
            ("resources for linux", ["-m", "app.Main", "--icon", "x.ico", self.app_jar], "Windows targets only"),
        ]
        for name, args, culprit in cases:
            with self.subTest(name):
                self.assert_refused(args, culprit)

    def test_bad_resource_input(self):
        t = self.tmp
        write(os.path.join(t, "text.ico"), "not an icon at all\n")
        write(os.path.join(t, "cut.ico"), ico.icon_bytes()[0][:60])
        write(os.path.join(t, "bad.manifest"), "<assembly><unclosed></assembly>")
        write(os.path.join(t, "bad-version.txt"), "ProductName=x\nColour=blue\n")
        cases = [
            ("text as icon", ["--icon", os.path.join(t, "text.ico")], "text.ico' is not an icon file"),
            ("cut icon", ["--icon", os.path.join(t, "cut.ico")], "cut.ico' is not an icon file"),
            ("missing icon", ["--icon", os.path.join(t, "absent.ico")], "absent.ico"),
            ("unknown key", ["--version", "Colour=blue"], "unknown version key 'Colour'"),
            ("unknown key in file", ["--version-file", os.path.join(t, "bad-version.txt")], "'Colour'"),
            ("three parts", ["--version", "FileVersion=1.2.3"], "is not a.b.c.d"),
            ("too large", ["--version", "ProductVersion=1.2.3.65536"], "is not a.b.c.d"),
            ("letters", ["--version", "FileVersion=1.2.3.x"], "is not a.b.c.d"),
            ("not key=value", ["--version", "ProductName"], "is not KEY=VALUE"),
            ("bad manifest", ["--manifest", os.path.join(t, "bad.manifest")], "is not well-formed XML"),
            ("both manifests", ["--manifest", os.path.join(t, "bad.manifest"), "--no-manifest"], "not both"),
            ("code page with own manifest", ["--no-manifest", "--ansi-code-page"], "--ansi-code-page"),
        ]
        for name, args, culprit in cases:
            for target in WINDOWS_TARGETS:
                with self.subTest(name, target=target):
                    self.assert_refused(["-m", "app.Main", *args, self.app_jar], culprit, target=target)

    def test_a_stub_of_the_wrong_target_is_refused(self):
        result = run(NXO, "pack", "--target", "win32", "--stub", self.stub("linux"), "--support", self.support_jar,
                     "-m", "app.Main", "-o", os.path.join(self.tmp, "x.exe"), self.app_jar)
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("is not a win32 launcher", result.stderr)
        self.assertFalse(os.path.exists(os.path.join(self.tmp, "x.exe")))

    def test_stubs_without_or_with_two_records_are_refused(self):
        with open(self.stub("linux"), "rb") as f:
            stub = f.read()
        for name, data, count in (("none", stub.replace(MAGIC, b"X" * 16), 0), ("two", stub + MAGIC + bytes(8), 2)):
            with self.subTest(name):
                path = os.path.join(self.tmp, "stub-" + name)
                write(path, data)
                result = run(NXO, "pack", "--target", "linux", "--stub", path, "--support", self.support_jar,
                             "-m", "app.Main", "-o", os.path.join(self.tmp, "x"), self.app_jar)
                self.assertNotEqual(result.returncode, 0)
                self.assertIn(f"{count} times", result.stderr)

    def test_no_check_packs_a_main_class_found_nowhere(self):
        out, _ = self.pack("linux", "-m", "app.Elsewhere", "--no-check", self.app_jar)
        self.assertIn(b"mainclass app.Elsewhere\r\n", Packed(out).config_block)

    def test_unwritable_output(self):
        result = run(NXO, "pack", "--target", "linux", "--stub", self.stub("linux"), "--support", self.support_jar,
                     "-m", "app.Main", "-o", os.path.join(self.tmp, "no", "such", "dir", "app"), self.app_jar)
        self.assertNotEqual(result.returncode, 0)
        self.assertEqual(len(result.stderr.splitlines()), 1)
        self.assertIn(os.path.join(self.tmp, "no", "such", "dir", "app"), result.stderr)
        os.makedirs(os.path.join(self.tmp, "adir"))
        result = run(NXO, "pack", "--target", "linux", "--stub", self.stub("linux"), "--support", self.support_jar,
                     "-m", "app.Main", "-o", os.path.join(self.tmp, "adir"), self.app_jar)
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("adir", result.stderr)
        self.assertEqual(os.listdir(os.path.join(self.tmp, "adir")), [])

    def test_a_failure_after_writing_began_leaves_nothing_behind(self):
        # A support entry in a compression method the archive does not use is
        # found only while the archive is being written.
        odd = os.path.join(self.tmp, "odd-support.jar")
        with zipfile.ZipFile(odd, "w", compression=zipfile.ZIP_BZIP2) as z:
            z.writestr("probe/Odd.class", b"\xca\xfe\xba\xbe" * 100)
        outdir = os.path.join(self.tmp, "late")
        os.makedirs(outdir)
        result = run(NXO, "pack", "--target", "linux", "--stub", self.stub("linux"), "--support", odd,
                     "--no-check", "-m", "app.Main", "-o", os.path.join(outdir, "app"), self.app_jar)
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("probe/Odd.class", result.stderr)
        self.assertEqual(os.listdir(outdir), [])

    def test_inputs_that_would_need_zip64_are_refused(self):
        # A sparse 4 GiB jar: a valid, empty ZIP at its end.
        big = os.path.join(self.tmp, "big.jar")
        with open(big, "wb") as f:
            f.truncate(4 * 1024 ** 3)
            f.seek(4 * 1024 ** 3 - 22)
            f.write(b"PK\x05\x06" + bytes(18))
        line = self.assert_refused(["-m", "app.Main", "--no-check", big], "4 GiB")
        self.assertIn("ZIP64", line)

    def test_inspect_refuses_a_file_without_payload(self):
        result = run(NXO, "inspect", self.app_jar)
        self.assertEqual(result.returncode, 1)
        self.assertIn("app.jar", result.stderr)
        self.assertEqual(len(result.stderr.splitlines()), 1)


def png_bytes(width, height, colour, alpha=None):
    """A PNG of one colour; with |alpha| an RGBA image of that opacity."""
    import zlib
    pixel = bytes(colour) + (bytes([alpha]) if alpha is not None else b"")
    raw = b"".join(b"\0" + pixel * width for _ in range(height))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    colour_type = 6 if alpha is not None else 2
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, colour_type, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


def bmp_pixels(data):
    """(width, height, {(x, y): (r, g, b)} for a few pixels) of a 24-bit BMP."""
    offset, = struct.unpack_from("<I", data, 10)
    width, height, _, bits = struct.unpack_from("<iiHH", data, 18)
    assert bits == 24, bits
    stride = (width * 3 + 3) & ~3
    rows = abs(height)

    def at(x, y):
        row = rows - 1 - y if height > 0 else y
        b, g, r = data[offset + row * stride + x * 3: offset + row * stride + x * 3 + 3]
        return (r, g, b)
    return width, rows, at


class SplashPicture(NxoTestCase):
    """--splash: the picture leads a Linux archive as two stored entries (the
    file, and a BMP of it for the launcher's own window); anything that is
    not a readable picture is refused."""

    def entries(self, path):
        with zipfile.ZipFile(path) as z:
            return z.infolist()

    def test_linux_payload_carries_the_file_and_its_bitmap_first_and_stored(self):
        t = self.tmp
        jpeg = os.path.join(t, "blue.jpg")
        maker = os.path.join(t, "MakeJpeg.java")
        write(maker, "import java.awt.image.BufferedImage; import javax.imageio.ImageIO; import java.io.File;\n"
                     "public class MakeJpeg { public static void main(String[] a) throws Exception {\n"
                     "  BufferedImage i = new BufferedImage(40, 20, BufferedImage.TYPE_INT_RGB);\n"
                     "  for (int y = 0; y < 20; y++) for (int x = 0; x < 40; x++) i.setRGB(x, y, 0x2040C0);\n"
                     "  ImageIO.write(i, \"jpg\", new File(a[0])); } }\n")
        subprocess.run([JAVA, maker, jpeg], check=True, capture_output=True)
        pictures = {
            "red.png": (png_bytes(30, 10, (200, 30, 40)), (30, 10), (200, 30, 40)),
            "half.png": (png_bytes(8, 8, (0, 0, 0), alpha=128), (8, 8), (127, 127, 127)),
            "blue.jpg": (None, (40, 20), (0x20, 0x40, 0xC0)),
            "anim.gif": (b"GIF89a\x05\x00\x03\x00\x00\x00\x00;", None, None),
        }
        bmp = b"BM" + struct.pack("<IHHI", 54 + 8, 0, 0, 54) + struct.pack(
            "<IiiHHIIiiII", 40, 2, 1, 1, 24, 0, 8, 0, 0, 0, 0) + bytes([40, 30, 200, 40, 30, 200, 0, 0])
        pictures["red.bmp"] = (bmp, (2, 1), (200, 30, 40))
        for name, (data, size, colour) in pictures.items():
            with self.subTest(name):
                path = jpeg if data is None else os.path.join(t, name)
                if data is not None:
                    write(path, data)
                out, _ = self.pack("linux", "-m", "app.Main", "--splash", path, self.app_jar)
                entries = self.entries(out)
                with open(path, "rb") as f:
                    original = f.read()
                with zipfile.ZipFile(out) as z:
                    self.assertEqual(entries[0].filename, "META-INF/nxo/splash.image")
                    self.assertEqual(entries[0].compress_type, zipfile.ZIP_STORED)
                    self.assertEqual(z.read(entries[0]), original)
                    if size is None:  # a GIF only goes to the runtime's library
                        self.assertNotEqual(entries[1].filename, "META-INF/nxo/splash.bmp")
                        continue
                    self.assertEqual(entries[1].filename, "META-INF/nxo/splash.bmp")
                    self.assertEqual(entries[1].compress_type, zipfile.ZIP_STORED)
                    bitmap = z.read(entries[1])
                if name.endswith(".bmp"):
                    self.assertEqual(bitmap, original)
                width, height, at = bmp_pixels(bitmap)
                self.assertEqual((width, height), size)
                for x, y in ((0, 0), (width - 1, height - 1)):
                    got = at(x, y)
                    self.assertTrue(all(abs(a - b) <= 6 for a, b in zip(got, colour)), (x, y, got))
                # The Java runtime still reads the archive as a jar.
                check = run(JAVA, "-cp", self.zipcheck_classes, "ZipCheck", out)
                self.assertEqual(check.returncode, 0, check.stderr)

    def test_what_is_not_a_readable_picture_is_refused(self):
        t = self.tmp
        good = png_bytes(4, 4, (1, 2, 3))
        cases = [
            ("text", b"just some words\n", "not a PNG, JPEG, GIF or BMP"),
            ("cut.png", good[:40], "damaged PNG"),
            ("cut.jpg", b"\xff\xd8\xff\xe0\x00\x10JFIF", "damaged JPEG"),
            ("rle.bmp", b"BM" + struct.pack("<IHHI", 62, 0, 0, 54) +
             struct.pack("<IiiHHIIiiII", 40, 2, 1, 1, 8, 1, 8, 0, 0, 0, 0) + bytes(8), "BMP"),
        ]
        for name, data, message in cases:
            with self.subTest(name):
                path = os.path.join(t, name)
                write(path, data)
                for target in ("linux", "win32"):
                    line = Errors.assert_refused(self, ["-m", "app.Main", "--splash", path, self.app_jar],
                                                 name, target=target)
                    self.assertIn(message, line)
        line = Errors.assert_refused(self, ["-m", "app.Main", "--splash", os.path.join(t, "absent.png"),
                                            self.app_jar], "absent.png")
        self.assertIn("cannot read", line)


class InputsAndOutputFaults(NxoTestCase):
    """Inputs the packer once took wrongly, and what a pack leaves behind."""

    def pack_env(self, env, *args):
        output = os.path.join(self.tmp, "app")
        result = run(NXO, "pack", "--target", "linux", "--stub", self.stub("linux"),
                     "--support", self.support_jar, "-o", output, *args, env=dict(os.environ, **env))
        return output, result

    def test_text_is_utf8_whatever_the_locale_and_never_silently_replaced(self):
        text = "splashtitle Caf\u00e9 \u00fcber \U0001F600\n"
        write(os.path.join(self.tmp, "utf8.cfg"), text.encode("utf-8"))
        write(os.path.join(self.tmp, "latin1.cfg"), "splashtitle Caf\u00e9\n".encode("latin-1"))
        for locale in ("C", "C.UTF-8"):
            with self.subTest(locale=locale):
                out, result = self.pack_env({"LC_ALL": locale}, "-c", os.path.join(self.tmp, "utf8.cfg"),
                                            "--set", "argv=na\u00efve", "-m", "app.Main", self.app_jar)
                self.assertEqual(result.returncode, 0, result.stderr)
                block = Packed(out).config_block
                self.assertIn(text.strip().encode("utf-8") + b"\r\n", block)
                self.assertIn("argv=na\u00efve\r\n".encode("utf-8"), block)
        # Latin-1 is neither UTF-8 nor readable in the C locale: an error
        # that names the file, not a "?" in the executable.
        os.remove(out)
        out, result = self.pack_env({"LC_ALL": "C"}, "-c", os.path.join(self.tmp, "latin1.cfg"),
                                    "-m", "app.Main", self.app_jar)
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("latin1.cfg", result.stderr)
        self.assertFalse(os.path.exists(out))

    def test_a_configuration_from_a_pipe_is_read_to_its_end(self):
        out = os.path.join(self.tmp, "app")
        result = run("bash", "-c", 'exec "$@" -c <(printf "splashtitle piped\\njre=rt\\n")', "bash",
                     NXO, "pack", "--target", "linux", "--stub", self.stub("linux"), "--support",
                     self.support_jar, "-o", out, "-m", "app.Main", self.app_jar)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn(b"splashtitle piped\r\njre=rt\r\n", Packed(out).config_block)
        for culprit in ("/dev/null", self.tmp):
            with self.subTest(culprit):
                self.assert_refused(["-m", "app.Main", "-c", culprit, self.app_jar], culprit)

    def test_a_main_class_with_slashes_is_the_dotted_name(self):
        out, _ = self.pack("linux", "-m", "app/Main", self.app_jar)
        self.assertIn(b"mainclass app.Main\r\n", Packed(out).config_block)
        self.assertNotIn(b"app/Main", Packed(out).config_block)

    def test_a_class_file_name_that_is_not_utf8_is_refused_by_name(self):
        classes = os.path.join(self.tmp, "classes")
        shutil.copytree(self.app_classes, classes)
        odd = os.path.join(os.fsencode(classes), b"bad\xff-name.txt")
        with open(odd, "wb") as f:
            f.write(b"x")
        out = os.path.join(self.tmp, "app")
        result = subprocess.run([NXO, "pack", "--target", "linux", "--stub", self.stub("linux"),
                                 "--support", self.support_jar, "-o", out, "-m", "app.Main",
                                 "--classes", classes], capture_output=True)
        self.assertNotEqual(result.returncode, 0)
        self.assertIn(b"bad\xff-name.txt", result.stderr)
        self.assertIn(b"UTF-8", result.stderr)
        self.assertFalse(os.path.exists(out))

    def test_the_output_mode_follows_the_umask(self):
        for mask, mode in ((0o022, 0o755), (0o027, 0o750), (0o077, 0o700)):
            with self.subTest(umask=oct(mask)):
                out = os.path.join(self.tmp, "app-%o" % mask)
                result = subprocess.run([NXO, "pack", "--target", "linux", "--stub", self.stub("linux"),
                                         "--support", self.support_jar, "-o", out, "-m", "app.Main",
                                         self.app_jar], capture_output=True, preexec_fn=lambda: os.umask(mask))
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual(os.stat(out).st_mode & 0o777, mode)

    def test_a_killed_pack_leaves_no_file_behind(self):
        # A large stored input keeps the pack writing long enough to be
        # stopped while its output is open.
        big = os.path.join(self.tmp, "big.jar")
        with zipfile.ZipFile(big, "w", compression=zipfile.ZIP_STORED) as z:
            z.writestr("blob.bin", os.urandom(1 << 20) * 48)
        outdir = os.path.join(self.tmp, "out")
        os.makedirs(outdir)
        for signal_number in (9, 15):
            with self.subTest(signal=signal_number):
                process = subprocess.Popen([NXO, "pack", "--target", "linux", "--stub", self.stub("linux"),
                                            "--support", self.support_jar, "-o", os.path.join(outdir, "app"),
                                            "-m", "app.Main", self.app_jar, big],
                                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                self.assertTrue(wait_for_output_descriptor(process, outdir), "the pack ended too soon")
                os.kill(process.pid, 19)  # SIGSTOP: hold it while the output is open
                os.kill(process.pid, signal_number)
                os.kill(process.pid, 18)  # SIGCONT, so a SIGTERM is delivered
                process.wait(timeout=60)
                self.assertEqual(os.listdir(outdir), [])


def wait_for_output_descriptor(process, directory, seconds=60):
    """Waits until process holds a file of directory open for writing.

    A descriptor can close between listing and reading its link (the packer
    opens and closes its inputs all the time): that is not the end of the
    process, which only poll() can tell."""
    import time
    fd_dir = f"/proc/{process.pid}/fd"
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline and process.poll() is None:
        try:
            descriptors = os.listdir(fd_dir)
        except OSError:
            descriptors = []
        for fd in descriptors:
            try:
                target = os.readlink(os.path.join(fd_dir, fd))
            except OSError:
                continue
            if target.startswith(directory + "/"):
                return True
        time.sleep(0.002)
    return False


class CommandLine(NxoTestCase):
    def test_help_and_version(self):
        for args, expected in ((["--help"], "pack"), (["pack", "--help"], "--verify-integrity"),
                               (["inspect", "--help"], "Usage: nxo inspect FILE"), (["--version"], "nxo 0.")):
            with self.subTest(args=args):
                result = run(NXO, *args)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertIn(expected, result.stdout)
        self.assertNotEqual(run(NXO, "frobnicate").returncode, 0)
        self.assertNotEqual(run(NXO).returncode, 0)


if __name__ == "__main__":
    unittest.main()
