"""Runs packed applications through the JDK's own launcher and checks what the
support classes and the nested-archive loader give them.

Environment: NXO_JDK_HOME (the JDK), NXO_SUPPORT_JAR (the built support jar),
NXO_SOURCE_DIR (the repository, to find dist/nxo), NXO_TEST_WORK (scratch dir).
"""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
import zipfile

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import packing  # noqa: E402

JDK = packing.Jdk(os.environ.get("NXO_JDK_HOME", "/usr/lib/jvm/java-17-openjdk-amd64"))
SUPPORT_JAR = os.environ.get("NXO_SUPPORT_JAR", "")
SOURCE_DIR = os.environ.get("NXO_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))

SUPPORT_CLASSES = sorted([
    "ClassLoaderObjectInputStream", "Handler", "Handler$1", "Instances", "Instances$ReceiverInterface",
    "KestrelClassLoader", "KestrelLauncher", "RedirOutputStream", "SplashCloseOnWindow", "SplashScreen",
    "SplashScreen$1",
])
MAIN_CLASS = "com.example.app.Main"


def file_url(path, directory=False):
    """The text java.io.File.toURI gives for an absolute path."""
    return "file:" + os.path.abspath(path) + ("/" if directory else "")


class Fixture:
    """Built once: the application, the packed files, the natives stand-in."""

    def __init__(self):
        base = os.environ.get("NXO_TEST_WORK")
        if base:
            os.makedirs(base, exist_ok=True)
        self.work = tempfile.mkdtemp(prefix="nxo-java-", dir=base)
        self.app = packing.TestApplication(JDK, self.work, SUPPORT_JAR)
        self.app.build()
        self.packer = packing.find_packer(SOURCE_DIR)
        self.packed = self._pack("app.bin", lib_jars=self.app.lib_jars(), classes_dir=self.app.classes_dir)
        self.support_only = self._pack("support-only.bin", lib_jars=[], main_class="com.example.extra.Extra")
        self.compressed = os.path.join(self.work, "compressed.bin")
        packing.write_packed(self.compressed, SUPPORT_JAR, self.app.lib_jars(), compress_libs=True)
        self.shim = os.path.join(self.work, "libnatives_shim.so")
        subprocess.run(["cc", "-shared", "-fPIC", "-o", self.shim,
                        "-I" + os.path.join(JDK.home, "include"), "-I" + os.path.join(JDK.home, "include", "linux"),
                        os.path.join(packing.FIXTURES, "natives_shim.c")], check=True)

    def _pack(self, name, lib_jars, classes_dir=None, main_class=MAIN_CLASS):
        out = os.path.join(self.work, name)
        if self.packer:
            packing.pack_with_packer(self.packer, out, SUPPORT_JAR, main_class, lib_jars, classes_dir)
        else:
            packing.write_packed(out, SUPPORT_JAR, lib_jars, classes_dir)
        return out

    def extra_class_path(self):
        """Leading, trailing and doubled separators around the two real entries."""
        sep = os.pathsep
        return sep + self.app.extra_jar + sep + sep + self.app.extra_dir + sep

    def run(self, packed, args=(), start_class=MAIN_CLASS, natives=True, properties=None, env=None):
        command = [JDK.tool("java"), "-cp", packed + os.pathsep + self.app.driver_dir]
        if start_class:
            command.append("-Dtest.start.class=" + start_class)
        if natives:
            command.append("-Dnxo.app.path=" + self.shim)
        for key, value in (properties or {}).items():
            command.append("-D%s=%s" % (key, value))
        command += ["Driver"] + list(args)
        full_env = dict(os.environ)
        full_env.update(env or {})
        return subprocess.run(command, capture_output=True, text=True, timeout=120, env=full_env)

    def report(self, packed, **kwargs):
        """Runs the application and returns its key=value report."""
        result = self.run(packed, **kwargs)
        if result.returncode != 0:
            raise AssertionError("application failed (%d):\n%s%s" % (result.returncode, result.stdout, result.stderr))
        values = {}
        for line in result.stdout.splitlines():
            key, _, value = line.partition("=")
            values[key] = value
        return values


FIXTURE = None


def setUpModule():
    global FIXTURE
    if not SUPPORT_JAR or not os.path.isfile(SUPPORT_JAR):
        raise RuntimeError("NXO_SUPPORT_JAR must name the built support jar")
    FIXTURE = Fixture()


def tearDownModule():
    if FIXTURE and not os.environ.get("NXO_KEEP_TEST_WORK"):
        shutil.rmtree(FIXTURE.work, ignore_errors=True)


class SupportJarTest(unittest.TestCase):
    def test_holds_exactly_the_eleven_support_classes_for_java_8(self):
        with zipfile.ZipFile(SUPPORT_JAR) as jar:
            names = [n for n in jar.namelist() if n.startswith("com/tarnwick/nxo/") and n.endswith(".class")]
            self.assertEqual(SUPPORT_CLASSES, sorted(n[len("com/tarnwick/nxo/"):-len(".class")] for n in names))
            for name in jar.namelist():
                if name.endswith(".class"):
                    major = int.from_bytes(jar.read(name)[6:8], "big")
                    self.assertEqual(52, major, name)
            self.assertIn("com/tarnwick/loader/jar/Handler.class", jar.namelist())


class NestedApplicationTest(unittest.TestCase):
    """One run of the full application, with the natives stand-in bound."""

    @classmethod
    def setUpClass(cls):
        cls.values = FIXTURE.report(FIXTURE.packed, args=["one", "two words"],
                                    properties={"nxo.class.path": FIXTURE.extra_class_path()})
        cls.outer = file_url(FIXTURE.packed)
        cls.core = "jar:%s!/BOOT-INF/lib/core.jar!/" % cls.outer

    def test_runs_main_with_arguments_in_the_application_loader(self):
        v = self.values
        self.assertEqual("one,two words", v["args"])
        self.assertEqual("com.tarnwick.nxo.KestrelClassLoader", v["loader"])
        self.assertEqual("true", v["contextLoaderIsOwn"])
        self.assertEqual("false", v["systemLoaderIsOwn"])
        self.assertEqual("hello world", v["greet"])
        self.assertEqual("true", v["greeterLoaderIsOwn"])

    def test_resources_across_jars(self):
        v = self.values
        self.assertEqual("greetings from core", v["stream"])
        self.assertEqual(self.core + "com/example/core/greeting.txt", v["url"])
        self.assertEqual("null", v["missing"])
        self.assertEqual("shared from core,shared from plugin", v["shared"])
        self.assertEqual("0", v["noneFound"])
        self.assertEqual("plain stored text", v["storedJar"])

    def test_nested_urls_work_as_text_relative_and_encoded(self):
        v = self.values
        self.assertEqual("greetings from core", v["reopened"])
        self.assertEqual("sibling of greeting", v["relative"])
        self.assertEqual("a name with a space", v["spaced"])

    def test_service_loader_finds_the_provider_in_another_jar(self):
        self.assertEqual("com.example.plugin.UpperPlugin:ABC", self.values["plugins"])

    def test_packages_carry_their_jar_manifest(self):
        v = self.values
        self.assertEqual("2.5.1", v["version"])
        self.assertEqual("example-core", v["title"])
        self.assertEqual("1.0-app", v["appVersion"])

    def test_code_source_is_the_nested_jar(self):
        self.assertEqual(self.core, self.values["codeSource"])
        self.assertEqual("true", self.values["codeSourceOpens"])

    def test_domain_grants_reading_the_archive_file_only(self):
        self.assertEqual("true|false|1", self.values["domainPermissions"])

    def test_jar_url_connection_and_jar_file(self):
        size = len("greetings from core")
        self.assertEqual("com/example/core/greeting.txt|%d|2.5.1|%d|greetings from core" % (size, size),
                         self.values["jarConnection"])
        self.assertEqual("sibling of greeting|example-core|true", self.values["jarFile"])

    def test_large_deflated_entry_streams_intact(self):
        import hashlib
        expected = hashlib.sha256(packing.big_data()).hexdigest()
        self.assertEqual(expected, self.values["bigSha256"])
        self.assertEqual(expected, self.values["bigUrlSha256"])
        with zipfile.ZipFile(FIXTURE.app.jars["plugin"]) as jar:
            self.assertEqual(zipfile.ZIP_DEFLATED, jar.getinfo("data/big.bin").compress_type)

    def test_deserialises_through_the_given_class_loader(self):
        self.assertEqual("Token(t1)|true|true", self.values["deserialised"])

    def test_unnamed_package_class(self):
        self.assertEqual("unnamed package|true", self.values["unnamed"])

    def test_boot_inf_classes_directory(self):
        v = self.values
        self.assertEqual("classes directory", v["classesDir"])
        self.assertEqual("resource of the classes directory", v["classesDirResource"])
        self.assertEqual("jar:%s!/BOOT-INF/classes!/classes-dir.txt" % self.outer, v["classesDirUrl"])
        self.assertEqual("resource of the classes directory", v["classesDirReopened"])

    def test_extra_class_path_entries_follow_the_archives(self):
        v = self.values
        self.assertEqual("extra class path", v["extra"])
        self.assertEqual("resource of the extra directory", v["extraDirResource"])
        urls = v["urls"].split(" ")
        libs = ["jar:%s!/BOOT-INF/lib/%s!/" % (self.outer, os.path.basename(j)) for j in FIXTURE.app.lib_jars()]
        classes = "jar:%s!/BOOT-INF/classes!/" % self.outer
        # The archives come in the archive's entry order, which the packer chooses.
        self.assertEqual(sorted(libs + [classes]), sorted(urls[:-2]))
        self.assertEqual(libs, [u for u in urls if u in libs])
        # Separators at the ends and doubled ones add nothing.
        self.assertEqual([file_url(FIXTURE.app.extra_jar), file_url(FIXTURE.app.extra_dir, directory=True)], urls[-2:])


class LoaderModesTest(unittest.TestCase):
    def test_without_natives_classes_and_single_resources_still_load(self):
        v = FIXTURE.report(FIXTURE.packed, natives=False)
        self.assertEqual("hello world", v["greet"])
        self.assertEqual("greetings from core", v["stream"])
        self.assertEqual("unnamed package|true", v["unnamed"])
        self.assertEqual("2.5.1", v["version"])
        # Without natives, a resource found more than once comes from every
        # archive, as the single lookups fall back to the archives too.
        self.assertEqual("shared from core,shared from plugin", v["shared"])
        self.assertEqual("0", v["noneFound"])

    def test_package_defined_from_a_url_the_natives_report(self):
        v = FIXTURE.report(FIXTURE.packed, env={"NXO_SHIM_RESOLVE": "1"})
        self.assertEqual("hello world", v["greet"])
        self.assertEqual("2.5.1", v["version"])
        self.assertEqual("example-core", v["title"])
        self.assertEqual("unnamed package|true", v["unnamed"])
        self.assertEqual("classes directory", v["classesDir"])

    def test_as_system_class_loader(self):
        v = FIXTURE.report(FIXTURE.packed, properties={
            "java.system.class.loader": "com.tarnwick.nxo.KestrelClassLoader",
            "nxo.class.path": FIXTURE.extra_class_path()})
        self.assertEqual("com.tarnwick.nxo.KestrelClassLoader", v["loader"])
        self.assertEqual("true", v["systemLoaderIsOwn"])
        self.assertEqual("hello world", v["greet"])
        self.assertEqual("greetings from core", v["reopened"])
        self.assertEqual("shared from core,shared from plugin", v["shared"])
        self.assertEqual("com.example.plugin.UpperPlugin:ABC", v["plugins"])
        self.assertEqual("extra class path", v["extra"])

    def test_archive_without_application_jars_runs_from_the_extra_class_path(self):
        result = FIXTURE.run(FIXTURE.support_only, start_class="com.example.extra.Extra",
                             properties={"nxo.class.path": FIXTURE.app.extra_jar})
        self.assertEqual(0, result.returncode, result.stderr)
        self.assertEqual("extraMain=com.tarnwick.nxo.KestrelClassLoader", result.stdout.strip())


class FailureTest(unittest.TestCase):
    def test_exception_from_main_reaches_the_caller_unwrapped(self):
        result = FIXTURE.run(FIXTURE.packed, args=["throw"])
        self.assertNotEqual(0, result.returncode)
        self.assertIn("java.lang.IllegalStateException: boom from main", result.stderr)
        self.assertNotIn("InvocationTargetException", result.stderr)

    def test_compressed_nested_jar_is_refused_by_name(self):
        result = FIXTURE.run(FIXTURE.compressed)
        self.assertNotEqual(0, result.returncode)
        self.assertIn("BOOT-INF/lib/core.jar", result.stderr)
        self.assertIn("compressed", result.stderr)

    def test_missing_main_class_names_the_manifest_entry(self):
        result = FIXTURE.run(FIXTURE.packed, start_class=None)
        self.assertNotEqual(0, result.returncode)
        self.assertIn("Start-Class", result.stderr)


if __name__ == "__main__":
    unittest.main(verbosity=2)
