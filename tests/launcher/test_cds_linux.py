#!/usr/bin/env python3
"""Class-data sharing managed by the launcher, end to end on Linux with the
installed JDK: the first start records the classes it loads, the training
start it leaves behind writes archives into the user's cache without
running the application (on Java 17 a base archive of the runtime's classes
the application loads and a dynamic one of the rest over it), later starts
map the application's classes (those of the nested loader too) from them,
and no damaged, missing or unwritable cache ever fails a start or reaches
standard error."""
import glob
import os
import shutil
import subprocess
import tempfile
import textwrap
import time
import unittest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
NXO = os.environ.get("NXO", os.path.join(ROOT, "dist", "nxo"))
JDK = os.environ.get("NXO_TEST_JDK", "/usr/lib/jvm/java-17-openjdk-amd64")
# A runtime of Java 25 or later, whose training start writes an ahead-of-time
# cache (-XX:AOTCacheOutput); its tests are skipped where there is none.
NEWER_JDK = os.environ.get("NXO_TEST_NEWER_JDK", "/usr/lib/jvm/temurin-25-jdk-amd64")

# Every run of main and every initialisation of Helper leaves a line in the
# file NXO_TEST_RUNS names, so that a test sees what ran where.
APP = """
package app;
import java.io.FileWriter;
public class Main {
    static void note(String what) {
        String file = System.getenv("NXO_TEST_RUNS");
        if (file == null) return;
        try (FileWriter out = new FileWriter(file, true)) { out.write(what + "\\n"); } catch (Exception e) { }
    }
    public static void main(String[] args) {
        note("main");
        System.out.println("value=" + new Helper().value());
        if (args.length > 0 && args[0].equals("exit7")) System.exit(7);
    }
}
class Helper {
    static { Main.note("Helper initialised"); }
    int value() { return 42; }
}
"""

# How -Xlog:class+load names a class mapped from an archive; a dynamic
# archive is the top layer over a base archive, and names itself so.
SHARED = "source: shared objects file"


def run(cmd, env, timeout=120):
    return subprocess.run(cmd, capture_output=True, text=True, timeout=timeout, env=env)


class ClassDataSharingTest(unittest.TestCase):
    jdk = JDK
    # The published archives: a base archive and the dynamic archive over it.
    layers = 2
    app_source = SHARED + " (top)"

    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="nxo-cds-test-")
        src = os.path.join(cls.work, "src", "app")
        os.makedirs(src)
        with open(os.path.join(src, "Main.java"), "w") as f:
            f.write(textwrap.dedent(APP))
        classes = os.path.join(cls.work, "classes")
        subprocess.run([os.path.join(cls.jdk, "bin", "javac"), "-Xlint:-options", "--release", "8", "-d", classes,
                        os.path.join(src, "Main.java")], check=True)
        jar = os.path.join(cls.work, "app.jar")
        subprocess.run([os.path.join(cls.jdk, "bin", "jar"), "--create", "--file", jar, "-C", classes, "."],
                       check=True)
        cls.exe = os.path.join(cls.work, "app")
        subprocess.run([NXO, "pack", "--target", "linux", "--main-class", "app.Main", "--cds",
                        "--set", f"jvmdll={cls.jdk}/lib/server/libjvm.so", "--set", "jre_order=c",
                        "-o", cls.exe, jar], check=True, stdout=subprocess.DEVNULL)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def setUp(self):
        self.cache = tempfile.mkdtemp(prefix="cache-", dir=self.work)
        self.env = dict(os.environ, XDG_CACHE_HOME=self.cache)
        self.env.pop("NXO_TRACE", None)
        self.external = self.exe + ".cfg"

    def tearDown(self):
        if os.path.exists(self.external):
            os.remove(self.external)

    def start(self, *args, log_classes=False, env=None, settle=True):
        """Runs the executable, and then waits for the training start it may
        have left behind (settle)."""
        if log_classes:
            with open(self.external, "w") as f:
                f.write("option -Xlog:class+load=info\n")
        elif os.path.exists(self.external):
            os.remove(self.external)
        result = run([self.exe, *args], env or self.env)
        if settle:
            self.wait_for_training((env or self.env)["XDG_CACHE_HOME"])
        return result

    def wait_for_training(self, cache, limit=90):
        """Until no class list or pending archive is left in |cache|: the
        first start leaves its lists before it ends, and the training start
        removes them last."""
        deadline = time.monotonic() + limit
        while time.monotonic() < deadline:
            busy = glob.glob(os.path.join(cache, "nxo", "cds", "*", "*.lst")) + \
                glob.glob(os.path.join(cache, "nxo", "cds", "*", "*.tmp"))
            if not busy:
                return
            time.sleep(0.02)
        self.fail(f"training still busy after {limit} s: {busy}")

    def archives(self):
        return sorted(glob.glob(os.path.join(self.cache, "nxo", "cds", "*", "*")))

    def assertPublished(self, archives=None):
        """Exactly the archives of one key, each "<key>-<size>.jsa" (the base
        archive "<key>-base-<size>.jsa") with the size the JVM wrote."""
        archives = self.archives() if archives is None else archives
        self.assertEqual(len(archives), self.layers, archives)
        names = [os.path.basename(archive) for archive in archives]
        self.assertEqual(len({name.split("-")[0] for name in names}), 1, names)
        self.assertEqual(len([name for name in names if "-base-" in name]), self.layers - 1, names)
        for archive in archives:
            self.assertTrue(archive.endswith(".jsa"), archives)
            self.assertEqual(str(os.path.getsize(archive)), archive.rsplit("-", 1)[1][:-4])

    def assertCleanStart(self, result, code=0):
        self.assertEqual(result.returncode, code, result.stderr)
        self.assertIn("value=42", result.stdout)
        self.assertEqual(result.stderr, "")

    def test_second_start_maps_the_application_classes_of_the_nested_loader(self):
        runs = os.path.join(self.cache, "runs.txt")
        self.env["NXO_TEST_RUNS"] = runs
        trail = os.path.join(self.cache, "trail.txt")
        first = self.start(log_classes=True, env=dict(self.env, NXO_TRACE=trail))
        self.assertCleanStart(first)
        self.assertNotIn("app.Main " + SHARED, first.stdout)
        with open(trail) as f:
            lines = f.read().splitlines()
        # The first start only records; the training start (the same trail,
        # through the environment) has the JVM write the archive.
        first_start = lines[:next(i for i, line in enumerate(lines) if "training start for" in line)]
        self.assertTrue(any("-XX:DumpLoadedClassList=" in line for line in first_start), first_start)
        self.assertFalse(any("ArchiveClassesAtExit" in line or "AutoCreateSharedArchive" in line
                             or "AOTCacheOutput" in line for line in first_start), first_start)
        self.assertTrue(any("-Dnxo.cds.train=" in line for line in lines), lines)
        # Training loads the application's classes without running or
        # initialising anything of it.
        with open(runs) as f:
            self.assertEqual(f.read().splitlines(), ["main", "Helper initialised"])
        archives = self.archives()
        self.assertPublished(archives)

        second = self.start(log_classes=True)
        self.assertCleanStart(second)
        loaded = [line for line in second.stdout.splitlines() if "[class,load]" in line]
        # The support classes come from the executable's own class path, the
        # application's from a jar nested in it through the launcher's loader.
        self.assertIn("com.tarnwick.nxo.KestrelLauncher", {line.split()[1] for line in loaded if SHARED in line})
        application = {line.split()[1] for line in loaded if self.app_source in line}
        self.assertIn("app.Main", application)
        self.assertIn("app.Helper", application)
        if self.layers == 2:
            # The base archive holds the runtime's classes the start loads,
            # those the runtime's own archive lacks among them: none is read.
            self.assertEqual([line for line in loaded if SHARED not in line], [])
        self.assertEqual(self.archives(), archives)
        with open(runs) as f:
            self.assertEqual(f.read().splitlines(), ["main", "Helper initialised"] * 2)

    def test_starts_in_a_row_leave_one_training_start(self):
        # A tool a script starts again and again: while the first start's
        # training start runs (or once its archive is there), later starts
        # neither record nor train.
        trail = os.path.join(self.cache, "trail.txt")
        env = dict(self.env, NXO_TRACE=trail)
        for _ in range(4):
            self.assertCleanStart(self.start(env=env, settle=False))
        self.wait_for_training(self.cache)
        with open(trail) as f:
            text = f.read()
        self.assertEqual(text.count("training start for"), 1, text)
        self.assertPublished()

    def test_system_exit_keeps_its_code_and_still_publishes_the_archive(self):
        result = self.start("exit7")
        self.assertCleanStart(result, code=7)
        self.assertPublished()
        self.assertCleanStart(self.start("exit7"), code=7)

    def damage(self, how, layer):
        # Every start logs its classes: the options are part of the key.
        self.assertCleanStart(self.start(log_classes=True))
        archive = next(a for a in self.archives() if ("-base-" in a) == (layer == "base"))
        os.chmod(archive, 0o644)
        with open(archive, "r+b") as f:
            how(f, os.path.getsize(archive))
        return archive

    def test_damaged_archives_cost_one_start_without_sharing(self):
        def cut_short(f, size):
            f.truncate(size // 2)

        def scribbled(f, size):
            f.seek(0)
            f.write(os.urandom(size))  # same size, nothing valid in it

        def header_only_cleared(f, size):
            f.seek(0)
            f.write(b"\0" * 4096)

        layers = ("top", "base")[:self.layers]
        for how, layer in [(how, layer) for how in (cut_short, scribbled, header_only_cleared) for layer in layers]:
            with self.subTest(how=how.__name__, layer=layer):
                shutil.rmtree(self.cache)
                os.makedirs(self.cache)
                self.damage(how, layer)
                self.assertCleanStart(self.start(log_classes=True))
                # Whatever was done with the damaged one, a start after the
                # next has usable archives again and maps the application.
                self.assertCleanStart(self.start(log_classes=True))
                third = self.start(log_classes=True)
                self.assertCleanStart(third)
                self.assertIn("app.Main " + self.app_source, third.stdout)

    def test_unusable_caches_never_fail_a_start(self):
        blocker = os.path.join(self.work, "a-file")
        with open(blocker, "w") as f:
            f.write("not a folder")
        cases = {
            "cache is a file": blocker,
            "cache below a file": os.path.join(blocker, "sub"),
            "cache not writable": "/proc/nxo-cache",
            "relative cache": "relative/cache",
        }
        for name, cache in cases.items():
            with self.subTest(name):
                env = dict(self.env, XDG_CACHE_HOME=cache)
                if name == "relative cache":
                    env["HOME"] = blocker  # ~/.cache is below a file as well
                self.assertCleanStart(self.start(env=env))
                self.assertCleanStart(self.start(env=env))

    def test_unwritable_folder_for_another_user(self):
        if os.geteuid() != 0:
            self.skipTest("needs root to run as another user")
        cache = os.path.join(self.work, "read-only-cache")
        os.makedirs(cache, mode=0o555)
        os.chmod(self.work, 0o755)
        env = dict(self.env, XDG_CACHE_HOME=cache)
        for _ in range(2):
            result = subprocess.run(["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                                     self.exe], capture_output=True, text=True, timeout=120, env=env)
            self.assertCleanStart(result)
        self.assertEqual(os.listdir(cache), [])

    def test_full_disk_never_fails_a_start(self):
        if os.geteuid() != 0:
            self.skipTest("needs root to mount a small file system")
        small = os.path.join(self.work, "small")
        os.makedirs(small)
        if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=256k", "tmpfs", small]).returncode != 0:
            self.skipTest("cannot mount a file system here")
        try:
            env = dict(self.env, XDG_CACHE_HOME=small)
            # A JVM asked to write an archive where it does not fit ends the
            # process with code 1 after the application ran.
            self.assertCleanStart(self.start(env=env))
            self.assertCleanStart(self.start(env=env))
        finally:
            subprocess.run(["umount", small])

    def test_rebuilt_executable_replaces_the_old_archive(self):
        self.assertCleanStart(self.start())
        old = {os.path.basename(archive).split("-")[0] for archive in self.archives()}
        rebuilt = os.path.join(self.work, "rebuilt")
        shutil.copy(self.exe, rebuilt)
        os.utime(rebuilt, (0, 0))
        env = self.env
        try:
            shutil.copy(rebuilt, self.exe + ".new")
            os.replace(self.exe + ".new", self.exe)  # same path, new time
            self.assertCleanStart(self.start(env=env))
            self.assertCleanStart(self.start(env=env))
            self.assertPublished()
            new = {os.path.basename(archive).split("-")[0] for archive in self.archives()}
            self.assertFalse(new & old, (new, old))
        finally:
            os.remove(rebuilt)

    def test_training_starts_where_the_first_start_started(self):
        # A runtime named relative to the start directory, and "forcecwd"
        # moving the application elsewhere: the training start must find the
        # same runtime, so it starts in the directory the first start did.
        start_directory = os.path.join(self.work, "start-here")
        os.makedirs(start_directory, exist_ok=True)
        if not os.path.exists(os.path.join(start_directory, "rt")):
            os.symlink(self.jdk, os.path.join(start_directory, "rt"))
        elsewhere = tempfile.mkdtemp(prefix="elsewhere-", dir=self.work)
        exe = os.path.join(self.work, "relative-runtime")
        subprocess.run([NXO, "pack", "--target", "linux", "--main-class", "app.Main", "--cds",
                        "--set", "jvmdll=rt/lib/server/libjvm.so", "--set", "jre_order=c",
                        "--set", f"forcecwd={elsewhere}",
                        "-o", exe, os.path.join(self.work, "app.jar")], check=True, stdout=subprocess.DEVNULL)
        result = subprocess.run([exe], capture_output=True, text=True, timeout=120, env=self.env,
                                cwd=start_directory)
        self.assertCleanStart(result)
        self.wait_for_training(self.cache)
        self.assertPublished()

    def test_no_archive_when_the_launchers_loader_is_the_system_class_loader(self):
        # With a system class loader of the application's own the JVM maps
        # nothing of the application from an archive (it says so on standard
        # error whatever the launcher does, as it does for the java command):
        # no start records, and none trains.
        exe = os.path.join(self.work, "system-loader")
        subprocess.run([NXO, "pack", "--target", "linux", "--main-class", "app.Main", "--cds",
                        "--set", f"jvmdll={self.jdk}/lib/server/libjvm.so", "--set", "jre_order=c",
                        "--set", "assystemclassloader=true",
                        "-o", exe, os.path.join(self.work, "app.jar")], check=True, stdout=subprocess.DEVNULL)
        for _ in range(2):
            result = run([exe], self.env)
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertIn("value=42", result.stdout)
            self.wait_for_training(self.cache)
        self.assertEqual(self.archives(), [])

    def test_sharing_off_by_default(self):
        exe = os.path.join(self.work, "plain")
        subprocess.run([NXO, "pack", "--target", "linux", "--main-class", "app.Main",
                        "--set", f"jvmdll={self.jdk}/lib/server/libjvm.so", "--set", "jre_order=c",
                        "-o", exe, os.path.join(self.work, "app.jar")], check=True, stdout=subprocess.DEVNULL)
        self.assertCleanStart(run([exe], self.env))
        self.assertEqual(self.archives(), [])


@unittest.skipUnless(os.path.exists(os.path.join(NEWER_JDK, "release")), "no Java 25+ runtime here")
class NewerRuntimeClassDataSharingTest(ClassDataSharingTest):
    """Java 25 and later: an ahead-of-time cache, a static archive that holds
    the runtime's classes as well as the application's."""
    jdk = NEWER_JDK
    layers = 1
    app_source = SHARED


if __name__ == "__main__":
    unittest.main()
