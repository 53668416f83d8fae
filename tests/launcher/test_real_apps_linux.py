#!/usr/bin/env python3
"""Applications of the kinds users pack behave packed exactly as on a plain
class path: multi-release jars, jars of more than 65,535 entries, a library
that opens its own jar as a file (with and without --unpack), a signed jar,
and tools that name the process (jps).

Every fixture jar is built here, once for the module; each case runs the same
main class on `java -cp` over the jars and as an executable packed by
dist/nxo, and compares what both print."""
import os
import shutil
import struct
import subprocess
import tempfile
import textwrap
import time
import unittest
import zipfile
import zlib
from concurrent.futures import ThreadPoolExecutor

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
NXO = os.environ.get("NXO", os.path.join(ROOT, "dist", "nxo"))
JDK = os.environ.get("NXO_TEST_JDK", "/usr/lib/jvm/java-17-openjdk-amd64")
BIG_ENTRIES = 70000

APP = """
package app;
import java.io.*;
import java.net.*;
import java.nio.charset.StandardCharsets;
import java.security.CodeSource;
import java.security.cert.*;
import java.util.jar.*;

public class Main {
    static String text(URL url) throws IOException {
        if (url == null) return "none";
        try (InputStream in = url.openStream()) {
            return new String(in.readAllBytes(), StandardCharsets.UTF_8).trim();
        }
    }
    // What follows the last "!/": the entry a resource URL points at.
    static String entry(URL url) {
        if (url == null) return "none";
        String s = url.toString();
        return s.substring(s.lastIndexOf("!/") + 2);
    }
    static String signers(Class<?> c) {
        Certificate[] certs = c.getProtectionDomain().getCodeSource().getCertificates();
        if (certs == null) return "unsigned";
        StringBuilder b = new StringBuilder(certs.length + ":");
        for (Certificate cert : certs) b.append(((X509Certificate) cert).getSubjectX500Principal().getName()).append(";");
        return b.toString();
    }
    public static void main(String[] args) throws Exception {
        ClassLoader loader = Main.class.getClassLoader();
        switch (args[0]) {
            case "multi-release":
                System.out.println("mr class=" + mr.Versioned.which());
                System.out.println("mr resource=" + text(loader.getResource("mr/res.txt")));
                System.out.println("mr resource entry=" + entry(loader.getResource("mr/res.txt")));
                System.out.println("mr class entry=" + entry(loader.getResource("mr/Versioned.class")));
                System.out.println("mr only versioned=" + text(loader.getResource("mr/only11.txt")));
                System.out.println("plain class=" + plain.Versioned.which());
                System.out.println("plain resource=" + text(loader.getResource("plain/res.txt")));
                System.out.println("module-info as a resource of a jar=" + java.util.Collections.list(loader.getResources("module-info.class")).stream().anyMatch(u -> u.toString().contains(".jar")));
                break;
            case "big":
                System.out.println("marker=" + big.Marker.hello());
                System.out.println("last=" + text(loader.getResource("data/69998.txt")));
                System.out.println("first=" + text(loader.getResource("data/0.txt")));
                System.out.println("exactly65535=" + text(loader.getResource("fill/65000.txt")));
                System.out.println("exact class=" + exact.Marker.hello());
                break;
            case "wide":
                System.out.println("wide=" + text(loader.getResource("wide/65599.txt")));
                break;
            case "self-locating":
                System.out.println(self.Locator.describe());
                break;
            case "signed":
                System.out.println("signed=" + signers(signed.Signed.class));
                System.out.println("app=" + signers(Main.class));
                System.out.println("value=" + signed.Signed.value());
                JarURLConnection c = (JarURLConnection) signed.Signed.class.getResource("Signed.class").openConnection();
                try (InputStream in = c.getInputStream()) { in.readAllBytes(); }
                Certificate[] rc = c.getCertificates();
                System.out.println("resource certificates=" + (rc == null ? "none" : rc.length));
                break;
            case "wait":
                File flag = new File(args[1]);
                for (int i = 0; i < 300 && !flag.exists(); i++) Thread.sleep(100);
                System.out.println("waited");
                break;
            default:
                throw new IllegalArgumentException(args[0]);
        }
    }
}
"""

# A library that finds its own jar through its code source and reads it with
# JarFile, as some script engines and native-library loaders do.
LOCATOR = """
package self;
import java.io.File;
import java.net.URL;
import java.util.jar.JarFile;

public class Locator {
    public static String describe() {
        URL location = Locator.class.getProtectionDomain().getCodeSource().getLocation();
        File file;
        try {
            file = new File(location.toURI());
        } catch (Exception e) {
            return "not a file: " + location.getProtocol();
        }
        try (JarFile jar = new JarFile(file)) {
            java.io.InputStream in = jar.getInputStream(jar.getEntry("self/stdlib.txt"));
            return "name=" + file.getName() + " stdlib=" + new String(in.readAllBytes(), "UTF-8").trim()
                + " entries=" + jar.size();
        } catch (Exception e) {
            return "cannot open: " + e;
        }
    }
}
"""


def run(cmd, **kwargs):
    kwargs.setdefault("timeout", 180)
    return subprocess.run([str(c) for c in cmd], capture_output=True, text=True, **kwargs)


def check(cmd, **kwargs):
    result = run(cmd, **kwargs)
    assert result.returncode == 0, "%s\n%s%s" % (cmd, result.stdout, result.stderr)
    return result


def tool(name):
    return os.path.join(JDK, "bin", name)


def write(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w") as f:
        f.write(textwrap.dedent(text))


def javac(out, release, *sources, class_path=None):
    cmd = [tool("javac"), "--release", release, "-d", out]
    if class_path:
        cmd += ["-cp", class_path]
    check(cmd + list(sources))


def plain_zip(path, entries):
    """A stored ZIP without any ZIP64 record, whatever its entry count: the end
    record of 65,535 entries then holds 0xFFFF as a plain count."""
    local, central = bytearray(), bytearray()
    for name, data in entries:
        name = name.encode()
        crc = zlib.crc32(data)
        offset = len(local)
        local += struct.pack("<IHHHHHIIIHH", 0x04034B50, 10, 0, 0, 0, 0x21, crc, len(data), len(data),
                             len(name), 0) + name + data
        central += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 10, 0, 0, 0, 0x21, crc, len(data),
                               len(data), len(name), 0, 0, 0, 0, 0, offset) + name
    count = len(entries)
    assert count <= 0xFFFF
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, count, count, len(central), len(local), 0)
    with open(path, "wb") as f:
        f.write(local + central + end)


class Fixtures:
    """The jars, the plain class path and the packed executables, made once."""

    def __init__(self):
        self.work = tempfile.mkdtemp(prefix="nxo-real-")
        w = lambda *p: os.path.join(self.work, *p)
        os.makedirs(w("jars"))
        # The application.
        write(w("src/app/app/Main.java"), APP)
        # Multi-release: base, 9 and 11 versions (the runtime takes 11), a 21
        # version that a 17 runtime must skip, and a resource only version 11 has.
        for version, which in (("base", "base"), ("9", "nine"), ("11", "eleven"), ("21", "twenty-one")):
            for package in ("mr", "plain"):
                write(w("src", version, package, package, "Versioned.java"),
                      "package %s;\npublic class Versioned { public static String which() { return \"%s\"; } }\n"
                      % (package, which))
        for package in ("mr", "plain"):
            jar = w("jars", package + ".jar")
            javac(w("classes", package, "base"), "8", w("src/base", package, package, "Versioned.java"))
            write(w("classes", package, "base", package, "res.txt"), "base resource\n")
            args = [tool("jar"), "--create", "--file", jar, "-C", w("classes", package, "base"), "."]
            for version in ("9", "11", "21"):
                out = w("classes", package, version)
                javac(out, "9" if version == "9" else "11", w("src", version, package, package, "Versioned.java"))
                write(os.path.join(out, package, "res.txt"), "resource of version %s\n" % version)
                if version == "11":
                    write(os.path.join(out, package, "only11.txt"), "only in version 11\n")
            manifest = w("classes", package, "MANIFEST.MF")
            write(manifest, "Multi-Release: true\n" if package == "mr" else "Created-By: test\n")
            check(args[:4] + ["--manifest", manifest] + args[4:])
            # Versioned entries added by hand keep a version 21 directory that
            # the jar tool would refuse for classes newer than the base.
            with zipfile.ZipFile(jar, "a") as z:
                for version in ("9", "11", "21"):
                    base = w("classes", package, version)
                    for root, _, files in os.walk(base):
                        for name in files:
                            full = os.path.join(root, name)
                            z.write(full, "META-INF/versions/%s/%s" % (version, os.path.relpath(full, base)))
        # A shaded jar's module descriptor, which the class path ignores.
        write(w("src/module/module-info.java"), "module shaded {}\n")
        javac(w("classes/module"), "11", w("src/module/module-info.java"))
        with zipfile.ZipFile(w("jars", "mr.jar"), "a") as z:
            z.write(w("classes/module/module-info.class"), "module-info.class")
            z.write(w("classes/module/module-info.class"), "META-INF/versions/11/module-info.class")

        # Big jars: 70,000 entries (ZIP64 records, as Python writes them), and
        # exactly 65,535 entries in a plain ZIP.
        write(w("src/big/big/Marker.java"), "package big; public class Marker { public static String hello() { return \"big\"; } }")
        write(w("src/exact/exact/Marker.java"), "package exact; public class Marker { public static String hello() { return \"exact\"; } }")
        javac(w("classes/big"), "8", w("src/big/big/Marker.java"))
        javac(w("classes/exact"), "8", w("src/exact/exact/Marker.java"))
        with zipfile.ZipFile(w("jars", "big.jar"), "w", zipfile.ZIP_STORED) as z:
            z.write(w("classes/big/big/Marker.class"), "big/Marker.class")
            for i in range(BIG_ENTRIES - 1):
                z.writestr("data/%d.txt" % i, "entry %d\n" % i)
        with open(w("classes/exact/exact/Marker.class"), "rb") as f:
            marker = f.read()
        plain_zip(w("jars", "exact.jar"),
                  [("exact/Marker.class", marker)] + [("fill/%d.txt" % i, b"fill %d\n" % i) for i in range(65534)])

        # The self-locating library.
        write(w("src/self/self/Locator.java"), LOCATOR)
        javac(w("classes/self"), "11", w("src/self/self/Locator.java"))
        write(w("classes/self/self/stdlib.txt"), "standard library\n")
        check([tool("jar"), "--create", "--file", w("jars", "self-locating-1.0.jar"), "-C", w("classes/self"), "."])

        # A signed jar, signed with a throw-away key.
        write(w("src/signed/signed/Signed.java"), "package signed; public class Signed { public static int value() { return 42; } }")
        javac(w("classes/signed"), "8", w("src/signed/signed/Signed.java"))
        check([tool("jar"), "--create", "--file", w("jars", "signed.jar"), "-C", w("classes/signed"), "."])
        keystore = w("keys.p12")
        check([tool("keytool"), "-genkeypair", "-keystore", keystore, "-storepass", "throwaway", "-keypass",
               "throwaway", "-alias", "test", "-keyalg", "EC", "-dname", "CN=nxo test signer,O=nxo",
               "-validity", "2"])
        check([tool("jarsigner"), "-keystore", keystore, "-storepass", "throwaway", w("jars", "signed.jar"), "test"])

        # The application jar last: it needs the libraries to compile.
        library_classes = os.pathsep.join(w("classes", d) for d in ("mr/base", "plain/base", "big", "exact",
                                                                    "self", "signed"))
        javac(w("classes/app"), "11", w("src/app/app/Main.java"), class_path=library_classes)
        check([tool("jar"), "--create", "--file", w("jars", "app.jar"), "-C", w("classes/app"), "."])

        self.jars = [w("jars", n) for n in ("app.jar", "mr.jar", "plain.jar", "big.jar", "exact.jar",
                                            "self-locating-1.0.jar", "signed.jar")]
        # An archive of its own beyond 65,535 entries: the executable then ends
        # with ZIP64 records that the JDK must read when it opens it as a jar.
        self.wide = w("wide")
        os.makedirs(os.path.join(self.wide, "wide"))
        for i in range(65600):
            with open(os.path.join(self.wide, "wide", "%d.txt" % i), "w") as f:
                f.write("wide %d\n" % i)
        self.nested = self.pack("nested")
        self.unpacking = self.pack("unpacking", "--unpack", "self-locating-*.jar")
        self.wide_exe = self.pack("wide-exe", "--classes", self.wide)

    def pack(self, name, *options):
        exe = os.path.join(self.work, name)
        check([NXO, "pack", "--target", "linux", "--main-class", "app.Main", "--set", "jre_order=e",
               *options, "-o", exe, *self.jars])
        return exe

    def environment(self, cache=None):
        env = dict(os.environ)
        env["JAVA_HOME"] = JDK
        env.pop("JRE_HOME", None)
        env.pop("JAVA_TOOL_OPTIONS", None)
        env["XDG_CACHE_HOME"] = cache or os.path.join(self.work, "cache")
        return env

    def run_plain(self, *args):
        class_path = self.jars + ([self.wide] if args[0] == "wide" else [])
        return run([tool("java"), "-cp", os.pathsep.join(class_path), "app.Main", *args], env=self.environment())

    def run_packed(self, exe, *args, cache=None):
        return run([exe, *args], env=self.environment(cache), cwd=self.work)


FIXTURES = None


def setUpModule():
    global FIXTURES
    FIXTURES = Fixtures()


def tearDownModule():
    if FIXTURES:
        shutil.rmtree(FIXTURES.work, ignore_errors=True)


class PackedAsOnTheClassPath(unittest.TestCase):
    def assert_same(self, mode, exe):
        plain = FIXTURES.run_plain(mode)
        packed = FIXTURES.run_packed(exe, mode)
        self.assertEqual(plain.returncode, 0, plain.stderr)
        self.assertEqual(packed.returncode, 0, packed.stderr)
        self.assertEqual(packed.stdout, plain.stdout)
        return plain.stdout

    def test_cases_print_what_the_class_path_prints(self):
        # (mode, executable, lines the plain class path must print, so that a
        # case cannot pass by both sides failing alike)
        cases = [
            ("multi-release", FIXTURES.nested, ["mr class=eleven", "mr resource=resource of version 11",
                                                "mr resource entry=META-INF/versions/11/mr/res.txt",
                                                "mr class entry=META-INF/versions/11/mr/Versioned.class",
                                                "mr only versioned=only in version 11", "plain class=base",
                                                "plain resource=base resource", "module-info as a resource of a jar=true"]),
            ("big", FIXTURES.nested, ["marker=big", "last=entry 69998", "first=entry 0",
                                      "exactly65535=fill 65000", "exact class=exact"]),
            ("wide", FIXTURES.wide_exe, ["wide=wide 65599"]),
            ("signed", FIXTURES.nested, ["signed=1:CN=nxo test signer,O=nxo;", "app=unsigned", "value=42",
                                        "resource certificates=1"]),
            ("self-locating", FIXTURES.unpacking, ["name=self-locating-1.0.jar stdlib=standard library entries=5"]),
        ]
        for mode, exe, expected in cases:
            with self.subTest(mode=mode):
                printed = self.assert_same(mode, exe)
                self.assertEqual(printed.splitlines(), expected)

    def test_a_self_locating_library_needs_unpack(self):
        # Nested, the code source is no file: the reason --unpack exists.
        result = FIXTURES.run_packed(FIXTURES.nested, "self-locating")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout.strip(), "not a file: jar")

    def test_the_unpacked_jar_is_the_nested_jar_in_the_user_cache(self):
        cache = tempfile.mkdtemp(dir=FIXTURES.work)
        result = FIXTURES.run_packed(FIXTURES.unpacking, "self-locating", cache=cache)
        self.assertEqual(result.returncode, 0, result.stderr)
        copies = [os.path.join(r, f) for r, _, files in os.walk(cache) for f in files]
        self.assertEqual(len(copies), 1, copies)
        self.assertEqual(os.path.basename(copies[0]), "self-locating-1.0.jar")
        self.assertEqual(os.path.dirname(os.path.dirname(copies[0])), os.path.join(cache, "nxo"))
        with open(copies[0], "rb") as a, open(FIXTURES.jars[5], "rb") as b:
            self.assertEqual(a.read(), b.read())

    def test_a_damaged_copy_in_the_cache_is_replaced(self):
        cache = tempfile.mkdtemp(dir=FIXTURES.work)
        self.assertEqual(FIXTURES.run_packed(FIXTURES.unpacking, "self-locating", cache=cache).returncode, 0)
        copy = [os.path.join(r, f) for r, _, files in os.walk(cache) for f in files][0]
        size = os.path.getsize(copy)
        with open(copy, "r+b") as f:  # same size, other bytes
            f.seek(size // 2)
            f.write(b"\0\0\0\0")
        result = FIXTURES.run_packed(FIXTURES.unpacking, "self-locating", cache=cache)
        self.assertIn("stdlib=standard library", result.stdout, result.stderr)
        with open(copy, "rb") as a, open(FIXTURES.jars[5], "rb") as b:
            self.assertEqual(a.read(), b.read())

    def test_an_unwritable_cache_falls_back_to_the_nested_copy(self):
        blocker = os.path.join(FIXTURES.work, "a-file")
        open(blocker, "w").close()
        # Below a regular file no directory can be made, even for root.
        result = FIXTURES.run_packed(FIXTURES.unpacking, "self-locating", cache=os.path.join(blocker, "cache"))
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout.strip(), "not a file: jar")
        errors = result.stderr.strip().splitlines()
        self.assertEqual(len(errors), 1, result.stderr)
        self.assertIn("cannot unpack BOOT-INF/lib/self-locating-1.0.jar", errors[0])

    def test_ten_concurrent_first_starts_share_one_copy(self):
        cache = tempfile.mkdtemp(dir=FIXTURES.work)
        with ThreadPoolExecutor(max_workers=10) as pool:
            results = list(pool.map(
                lambda _: FIXTURES.run_packed(FIXTURES.unpacking, "self-locating", cache=cache), range(10)))
        for result in results:
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertIn("stdlib=standard library", result.stdout)
            self.assertEqual(result.stderr, "")
        copies = [os.path.join(r, f) for r, _, files in os.walk(cache) for f in files]
        self.assertEqual([os.path.basename(c) for c in copies], ["self-locating-1.0.jar"])

    def test_jps_names_the_application(self):
        flag = os.path.join(FIXTURES.work, "jps-done")
        process = subprocess.Popen([FIXTURES.nested, "wait", flag], env=FIXTURES.environment(),
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        try:
            found = ""
            for _ in range(100):
                listed = run([tool("jps"), "-l"], env=FIXTURES.environment()).stdout
                found = [l for l in listed.splitlines() if l.split(" ", 1)[0] == str(process.pid)]
                if found and found[0].strip() != str(process.pid):
                    break
                time.sleep(0.2)
            self.assertEqual(found, ["%d app.Main" % process.pid])
            # The command names the arguments too, as the JDK's launcher does.
            info = run([tool("jcmd"), str(process.pid), "VM.command_line"], env=FIXTURES.environment()).stdout
            self.assertIn("java_command: app.Main wait " + flag, info)
        finally:
            open(flag, "w").close()
            out, err = process.communicate(timeout=60)
        self.assertEqual(process.returncode, 0, err)


class PackingCommonInputs(unittest.TestCase):
    def test_a_class_path_manifest_directory_packs_with_lib(self):
        lib = os.path.join(FIXTURES.work, "libdir")
        os.makedirs(os.path.join(lib, "deps"), exist_ok=True)
        manifest = os.path.join(FIXTURES.work, "cp-manifest.mf")
        write(manifest, "Main-Class: app.Main\nClass-Path: deps/mr.jar deps/plain.jar deps/big.jar deps/exact.jar "
                        "deps/self-locating-1.0.jar deps/signed.jar\n")
        check([tool("jar"), "--create", "--file", os.path.join(lib, "main.jar"), "--manifest", manifest,
               "-C", os.path.join(FIXTURES.work, "classes/app"), "."])
        for jar in FIXTURES.jars[1:]:
            shutil.copy(jar, os.path.join(lib, "deps"))
        exe = os.path.join(FIXTURES.work, "from-lib")
        check([NXO, "pack", "--target", "linux", "--main-class", "app.Main", "--set", "jre_order=e",
               "--lib", lib, "-o", exe])
        plain = run([tool("java"), "-jar", os.path.join(lib, "main.jar"), "multi-release"], env=FIXTURES.environment())
        packed = FIXTURES.run_packed(exe, "multi-release")
        self.assertEqual(plain.returncode, 0, plain.stderr)
        self.assertEqual(packed.returncode, 0, packed.stderr)
        self.assertEqual(packed.stdout, plain.stdout)

    def test_jars_of_one_name_in_two_directories_are_refused(self):
        other = os.path.join(FIXTURES.work, "other")
        os.makedirs(other, exist_ok=True)
        shutil.copy(FIXTURES.jars[1], other)
        result = run([NXO, "pack", "--target", "linux", "--main-class", "app.Main", "-o",
                      os.path.join(FIXTURES.work, "twice"), FIXTURES.jars[0], FIXTURES.jars[1],
                      os.path.join(other, "mr.jar")])
        self.assertNotEqual(result.returncode, 0)
        self.assertEqual(len(result.stderr.strip().splitlines()), 1, result.stderr)
        self.assertIn("two jars named 'mr.jar'", result.stderr)
        self.assertFalse(os.path.exists(os.path.join(FIXTURES.work, "twice")))

    def test_an_unpack_pattern_that_matches_nothing_is_refused(self):
        result = run([NXO, "pack", "--target", "linux", "--main-class", "app.Main", "--unpack", "nothing-*.jar",
                      "-o", os.path.join(FIXTURES.work, "nomatch"), *FIXTURES.jars])
        self.assertNotEqual(result.returncode, 0)
        self.assertEqual(len(result.stderr.strip().splitlines()), 1, result.stderr)
        self.assertIn("nothing-*.jar", result.stderr)

    def test_packing_is_reproducible_with_unpack_and_zip64(self):
        for exe, options in ((FIXTURES.unpacking, ["--unpack", "self-locating-*.jar"]),
                             (FIXTURES.wide_exe, ["--classes", FIXTURES.wide])):
            with self.subTest(exe=os.path.basename(exe)):
                again = FIXTURES.pack(os.path.basename(exe) + "-again", *options)
                with open(again, "rb") as a, open(exe, "rb") as b:
                    self.assertEqual(a.read(), b.read())


if __name__ == "__main__":
    unittest.main()
