#!/usr/bin/env python3
"""End to end on Windows, under Wine: applications packed with the launcher
of the Windows test build (win64, or win32 where the machine runs 32-bit code)
start on the JVM double, which records what the launcher hands it
(options, properties, the start class, main's arguments, the teardown). Every
failure must show its numbered message in a message box and end with its
code; msgbox_watch reads each box (caption, text, icon) and closes it.

Every launch runs beside a watcher, so a box that should not appear is seen
(and closed) as well; a success must show none."""
import glob
import os
import re
import shutil
import struct
import subprocess
import tempfile
import time
import unittest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
NXO = os.environ.get("NXO", os.path.join(ROOT, "dist", "nxo"))
WINE_RUN = os.environ.get("NXO_WINE_RUN", os.path.join(ROOT, "scripts", "wine-run"))
BUILD = os.path.join(ROOT, "build", "win64-test")
TARGET = os.environ.get("NXO_WIN_TARGET", "win64")
STUB = os.environ.get("NXO_WIN_STUB", os.path.join(BUILD, "launcher", "nxo-win64.exe"))
WATCH = os.environ.get("NXO_MSGBOX_WATCH", os.path.join(BUILD, "tests", "launcher", "msgbox_watch.exe"))
DOUBLES = os.path.join(BUILD, "tests", "runtime", "jvm_double")
DOUBLE = {
    "full": os.environ.get("NXO_JVM_DOUBLE_FULL", os.path.join(DOUBLES, "full", "jvm.dll")),
    "impl_only": os.environ.get("NXO_JVM_DOUBLE_IMPL_ONLY", os.path.join(DOUBLES, "impl_only", "jvm.dll")),
    "no_entry": os.environ.get("NXO_JVM_DOUBLE_NO_ENTRY", os.path.join(DOUBLES, "no_entry", "jvm.dll")),
}
DOUBLE_VERSION = "17.0.2"  # what the double answers for "java.version" by default
BOX_FLAGS = "0x50030"      # MB_TOPMOST | MB_SETFOREGROUND | MB_ICONWARNING
INTEGRITY_TEXT = "The exe can not be modified after it generated."


def windows_path(path):
    """Wine maps the Unix root to drive Z:."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def run(cmd, timeout=120, **kwargs):
    return subprocess.run(cmd, capture_output=True, text=True, timeout=timeout, **kwargs)


def unescape(text):
    return re.sub(r"\\(.)", lambda m: {"n": "\n", "r": "\r", "t": "\t"}.get(m.group(1), m.group(1)), text)


def parse_boxes(output):
    """The watcher's report: one dict per box, in the order they appeared."""
    boxes = []
    for line in output.splitlines():
        if line == "box":
            boxes.append({})
        elif boxes and "=" in line:
            for part in line.split(" ") if line.startswith("style=") else [line]:
                key, value = part.split("=", 1)
                boxes[-1][key] = unescape(value)
    return boxes


class Outcome:
    def __init__(self, code, boxes, log, stderr):
        self.code, self.boxes, self.log, self.stderr = code, boxes, log, stderr

    def lines(self, prefix):
        return [line[len(prefix):] for line in self.log if line.startswith(prefix)]

    @property
    def options(self):
        return self.lines("option ")

    @property
    def main_args(self):
        return self.lines("main_arg ")

    @property
    def properties(self):
        return self.lines("property ")

    def __repr__(self):
        return f"code={self.code} boxes={self.boxes} log={self.log} stderr={self.stderr[-2000:]}"


def watched(command, image, env, timeout=90):
    """Runs command (a Windows program under wine-run) while msgbox_watch
    reports and closes the boxes of the process whose image is image."""
    watcher = subprocess.Popen([WINE_RUN, WATCH, "watch", windows_path(image), str(timeout)],
                               stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL, text=True, encoding="utf-8", env=env)
    try:
        started = run(command, timeout=timeout, env=env)
    finally:
        try:
            # Ending its input tells the watcher that the program has ended:
            # it makes a last look and stops.
            report, _ = watcher.communicate(input="", timeout=60)
        except subprocess.TimeoutExpired:
            watcher.kill()
            report, _ = watcher.communicate()
    return started, parse_boxes(report), report


class Display:
    """The X display the boxes open on: the caller's, or a private Xvfb."""

    def __init__(self):
        self.server = None
        self.name = os.environ.get("DISPLAY")
        if self.name:
            return
        for number in range(140, 200):
            if not os.path.exists(f"/tmp/.X11-unix/X{number}") and not os.path.exists(f"/tmp/.X{number}-lock"):
                break
        self.server = subprocess.Popen(["Xvfb", f":{number}", "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.name = f":{number}"
        for _ in range(100):
            if os.path.exists(f"/tmp/.X11-unix/X{number}"):
                break
            subprocess.run(["sleep", "0.1"])

    def close(self):
        if self.server is not None:
            self.server.terminate()
            self.server.wait(timeout=10)


class Packed:
    """A packed application in a directory of its own."""

    def __init__(self, work, name, main_class, config_lines=(), extra=()):
        self.dir = os.path.join(work, name)
        os.makedirs(self.dir)
        self.exe = os.path.join(self.dir, name + ".exe")
        config = os.path.join(work, name + ".packed.cfg")
        with open(config, "w", encoding="utf-8") as f:
            f.write("\n".join(config_lines) + "\n")
        result = run([NXO, "pack", "--target", TARGET, "--stub", STUB, "--support", WineSession.jar,
                      "--no-check", "--main-class", main_class, "--config", config, *extra,
                      "-o", self.exe, WineSession.jar])
        assert result.returncode == 0, result.stderr
        with open(self.exe, "rb") as f:
            self.image = f.read()

    def archive_start(self):
        text = run([NXO, "inspect", self.exe]).stdout
        return int(re.search(r"^archive:\s+\d+ bytes at (\d+)", text, re.M).group(1))

    def restore(self):
        with open(self.exe, "wb") as f:
            f.write(self.image)


class WineSession(unittest.TestCase):
    """What every class of Windows tests sets up once: a work directory with
    a blank in its path, the display, a booted prefix, and app.jar, which
    stands in for the application and the support classes (the runtime
    double runs no Java); Packed packs with it."""

    jar = None

    @classmethod
    def start_session(cls, prefix, keep_session=False):
        cls.work = tempfile.mkdtemp(prefix=prefix)
        cls.addClassCleanup(shutil.rmtree, cls.work, ignore_errors=True)
        cls.display = Display()
        cls.addClassCleanup(cls.display.close)
        result = run([WINE_RUN, "--boot"], timeout=300)
        assert result.returncode == 0, result.stderr
        if keep_session:
            # A Wine session that lasts for the whole class. Without one, the
            # first window a program opens starts Wine's desktop process along
            # with it, and that program then lingers after its box is closed
            # until the watcher beside it ends.
            cls.keeper = subprocess.Popen([WINE_RUN, WATCH, "watch", "Z:\\no such program.exe", "1800"],
                                          stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                                          stderr=subprocess.DEVNULL, text=True, env=cls.environment())
            cls.addClassCleanup(cls.stop_keeper)
        with open(os.path.join(cls.work, "readme.txt"), "w") as f:
            f.write("the double runs no Java\n")
        WineSession.jar = os.path.join(cls.work, "app.jar")
        run(["jar", "--create", "--file", WineSession.jar, "-C", cls.work, "readme.txt"])

    @classmethod
    def stop_keeper(cls):
        try:
            cls.keeper.communicate(input="", timeout=60)
        except subprocess.TimeoutExpired:
            cls.keeper.kill()
            cls.keeper.wait()

    @classmethod
    def environment(cls, extra=None):
        """This environment without the double's switches and the variables
        a runtime would read, on the session's display."""
        env = {k: v for k, v in os.environ.items()
               if not k.startswith("NXO_JVM_DOUBLE_") and k not in ("CLASSPATH", "CLASS_PATH", "JAVA_TOOL_OPTIONS")}
        env["DISPLAY"] = cls.display.name
        env.update(extra or {})
        return env


class Launch(WineSession):
    @classmethod
    def setUpClass(cls):
        cls.start_session("nxo wine ", keep_session=True)
        cls.hello = Packed(cls.work, "hello", "app.Hello", [
            "property greeting=from the payload",
            'argv first "second word"',
            "jre_order c",
            "jvmdll " + windows_path(DOUBLE["full"]),
        ])
        elevation = run([WINE_RUN, WATCH, "elevation"]).stdout
        cls.elevated = "elevated=1" in elevation
        assert "elevated=" in elevation, elevation
        cls.reference_box = cls.system_box()

    @classmethod
    def system_box(cls):
        """How this system shows a box with the launcher's flags, for comparison."""
        env = cls.environment()
        _, boxes, report = watched([WINE_RUN, WATCH, "show", "reference", "Error", BOX_FLAGS], WATCH, env)
        assert len(boxes) == 1, report
        return boxes[0]

    def start(self, app, *args, external=(), env=None, log=True):
        """Starts app with an external configuration file beside it."""
        with open(app.exe + ".cfg", "w", encoding="utf-8-sig") as f:  # marked as UTF-8
            f.write("\n".join(external) + "\n")
        log_path = os.path.join(self.work, "double.log")
        if os.path.exists(log_path):
            os.remove(log_path)
        extra = {"NXO_JVM_DOUBLE_LOG": windows_path(log_path)} if log else {}
        extra.update(env or {})
        started, boxes, _ = watched([WINE_RUN, app.exe, *args], app.exe, self.environment(extra))
        lines = []
        if os.path.exists(log_path):
            with open(log_path, encoding="utf-8", errors="replace") as f:
                lines = f.read().splitlines()
        return Outcome(started.returncode, boxes, lines, started.stderr)

    def assert_clean_run(self, outcome):
        self.assertEqual(outcome.code, 0, outcome)
        self.assertEqual(outcome.boxes, [], outcome)
        for fault in ("unexpected", "bad_delete", "missing_"):
            self.assertFalse([line for line in outcome.log if line.startswith(fault)], outcome)
        # The JVM is taken down in order, after main, leaving no local references.
        self.assertEqual(outcome.log[-4:], ["detach", "destroy", "live_local_refs 0", "unload"], outcome)
        self.assertLess(outcome.log.index("main"), outcome.log.index("detach"))

    def assert_box(self, outcome, code, text, caption="Error"):
        self.assertEqual(outcome.code, code, outcome)
        self.assertEqual(len(outcome.boxes), 1, outcome)
        box = outcome.boxes[0]
        self.assertEqual((box["caption"], box["text"]), (caption, text))
        self.assertEqual(box["dismissed"], "1")
        self.assertEqual(box["icon"], "warning")
        # The same window styles as a box this system shows with the
        # launcher's flags (Wine does not mark either one topmost).
        for key in ("style", "exstyle", "topmost"):
            self.assertEqual(box[key], self.reference_box[key], key)

    # ---- Successful launches ---------------------------------------------------

    def test_arguments_properties_and_start_class(self):
        # Wine reads the Unix arguments as UTF-8 in a UTF-8 locale; the
        # ANSI code page (UTF-8 with nxo's manifest) holds the accented
        # letter, which must reach Java unchanged through the ANSI argument
        # vector.
        outcome = self.start(self.hello, "cmd 1", "x", "tail\\", "na\u00efve",
                             external=["property empty.property", "property unicode=caf\u00e9"],
                             env={"LC_ALL": "C.UTF-8"})
        self.assert_clean_run(outcome)
        # The launcher first offers to define its support classes itself;
        # a runtime that cannot leaves them to the class path as ever.
        self.assertEqual(outcome.lines("absent_class "), ["java/lang/ClassLoader"])
        self.assertEqual(outcome.lines("startClass "), ["app.Hello"])
        self.assertEqual(outcome.main_args, ["first", "second word", "cmd 1", "x", "tail\\", "na\u00efve"])
        # External lines come first; the protocol handler package is added
        # at run time when the loader is not the system class loader.
        self.assertEqual(outcome.properties, ["empty.property=", "unicode=caf\u00e9",
                                              "greeting=from the payload",
                                              "java.protocol.handler.pkgs=com.tarnwick"])
        self.assertEqual(outcome.lines("describe "), [])

    def test_characters_past_the_code_page_reach_java_whole(self):
        """Property, argv and export lines become Java text from UTF-16, so
        characters past U+FFFF and outside the ANSI code page survive."""
        for text in ("caf\u00e9", "a\U0001F600b\u4e2d\U0010FFFF"):
            with self.subTest(text=text):
                outcome = self.start(self.hello, external=[f"property t={text}", f"argv c{text}d",
                                                           f"export NXO_EXPORTED={text}"],
                                     env={"NXO_JVM_DOUBLE_LOG_ENV": "NXO_EXPORTED"})
                self.assert_clean_run(outcome)
                self.assertIn(f"t={text}", outcome.properties)
                self.assertEqual(outcome.main_args, [f"c{text}d", "first", "second word"])
                self.assertEqual(outcome.lines("env "), [f"NXO_EXPORTED={text}"])

    def test_option_list_in_launch_order(self):
        exe = windows_path(self.hello.exe)
        home = windows_path(self.hello.dir) + "\\"
        elevated = ["-Dnxo.is.elevated=true"] if self.elevated else []
        external = ["option -Xmx64m", "option -Djava.class.path=configured",
                    "java_classpath Z:\\libs\\a.jar;;Z:\\libs\\b.jar;", "classpath Z:\\extra\\c.jar"]
        loader = ["-Djava.protocol.handler.pkgs=com.tarnwick",
                  "-Djava.system.class.loader=com.tarnwick.nxo.KestrelClassLoader"]
        for setting, loader_options in (("false", []), ("TRUE", loader), ("True", loader)):
            with self.subTest(assystemclassloader=setting):
                outcome = self.start(self.hello, external=external + [f"assystemclassloader {setting}"],
                                     env={"CLASSPATH": "Z:\\env.jar"})
                self.assert_clean_run(outcome)
                expected = ["-Xmx64m", "-Djava.class.path=configured",
                            f"-Djava.class.path={exe};Z:\\libs\\a.jar;Z:\\libs\\b.jar",
                            "-Dnxo.class.path=;Z:\\extra\\c.jar;Z:\\env.jar",
                            f"-Dnxo.app.path={exe}",
                            f"-Dapplication.home={home}"] + loader_options + elevated + [
                            # no agent or boot class path option: the class loader may
                            # skip its parent for classes only the application holds
                            "-Dnxo.parent.known=true",
                            # last, as the JDK's launcher names the process for jps
                            "-Dsun.java.command=app.Hello first second word"]
                self.assertEqual(outcome.options, expected)
                self.assertEqual(outcome.log[0], f"create version=0x00010002 ignore=1 options={len(expected)}")
                handler_set = "java.protocol.handler.pkgs=com.tarnwick" in outcome.properties
                self.assertEqual(handler_set, not loader_options)
        # An option line that names the process itself is not overridden.
        outcome = self.start(self.hello, "x", external=["option -Dsun.java.command=chosen name"])
        self.assert_clean_run(outcome)
        self.assertEqual([o for o in outcome.options if "sun.java.command" in o], ["-Dsun.java.command=chosen name"])
        # Options that let an agent or the boot class path add classes to the
        # class loader's parent take the launcher's word for it away.
        for line, env in (("option -javaagent:Z:\\agent.jar", None), ("option -Xbootclasspath/a:Z:\\boot.jar", None),
                          ("export JAVA_TOOL_OPTIONS=-agentlib:jdwp=transport=dt_socket", None),
                          ("option -Xss1m", {"_JAVA_OPTIONS": "-agentpath:Z:\\agent.dll"})):
            with self.subTest(line=line, env=env):
                outcome = self.start(self.hello, external=[line], env=env)
                self.assert_clean_run(outcome)
                self.assertNotIn("-Dnxo.parent.known=true", outcome.options)

    def sharing_runtime(self, version):
        """A runtime home whose release file names |version|, with the double
        as its JVM library: the double lists its classes when asked, writes
        an archive on its way out and "maps" one it is given, as a real
        runtime does. Returns an application packed for it with sharing on,
        and the path of the training start's log (gone beforehand)."""
        home = os.path.join(self.work, "jdk" + version)
        os.makedirs(os.path.join(home, "bin", "server"), exist_ok=True)
        shutil.copy(DOUBLE["full"], os.path.join(home, "bin", "server", "jvm.dll"))
        with open(os.path.join(home, "release"), "w") as f:
            f.write(f'IMPLEMENTOR="double"\nJAVA_VERSION="{version}"\n')
        app = Packed(self.work, "shared" + version.split(".")[0], "app.Hello", [
            "jre_order c", "jvmdll " + windows_path(os.path.join(home, "bin", "server", "jvm.dll")),
            "classdatasharing auto"])
        training_log = os.path.join(self.work, "double.log.training")
        for log in (training_log, os.path.join(self.work, "double.log.base")):
            if os.path.exists(log):
                os.remove(log)
        return app, training_log

    def sharing_folder(self, lists):
        """The Unix path of the cache folder that holds |lists|, a Windows path;
        removed when the test ends."""
        windows_folder = lists.rsplit("/", 1)[0] + "/"
        folder = os.path.join(os.environ.get("WINEPREFIX", os.path.join(ROOT, "build", "wine-prefix")),
                              "drive_c", *windows_folder[3:].replace("\\", "/").split("/"))
        self.addCleanup(shutil.rmtree, folder, ignore_errors=True)
        return windows_folder, folder

    def wait_for_published(self, folder, old=None):
        """Until the training start has published an archive other than |old|
        and removed its lists."""
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            names = os.listdir(folder)
            if [n for n in names if n.endswith(".jsa") and n != old] and not [n for n in names if n.endswith(".lst")]:
                break
            time.sleep(0.05)

    def test_class_data_sharing_keeps_its_archive_in_local_app_data(self):
        app, training_log = self.sharing_runtime("17.0.2")
        quiet = ["-Xshare:auto", "-Xlog:cds=off,cds+dynamic=off"]

        # The first start only records the classes it loads...
        first = self.start(app)
        self.assert_clean_run(first)
        self.assertTrue(first.options[-2].startswith("-XX:DumpLoadedClassList="), first)
        lists = first.options[-2].split("=", 1)[1][:-len(".jvm.lst")]
        self.assertEqual(first.options[-1], "-Dnxo.cds.classlist=" + lists + ".loader.lst")
        # Wine gives every process its profile's %LOCALAPPDATA%, below the
        # prefix's drive C.
        self.assertRegex(lists, r"^C:\\users\\[^\\]+\\AppData\\Local[\\/]nxo/cds/[0-9a-f]{16}/[0-9a-f]{16}\.\d+$")
        windows_folder, folder = self.sharing_folder(lists)

        # ...and leaves a training start behind, a process of its own. It
        # has a copy of itself dump a base archive of the JVM's list, whose
        # JVM ends that process, and then has its own JVM write the rest over
        # it at exit; the launcher publishes both.
        self.wait_for_published(folder)
        names = sorted(os.listdir(folder), key=lambda name: "-base-" not in name)
        self.assertEqual(len(names), 2, names)
        base, published = names
        self.assertRegex(base, r"^[0-9a-f]{16}-base-\d+\.jsa$")
        self.assertRegex(published, r"^[0-9a-f]{16}-\d+\.jsa$")
        # Wine keeps the read-only attribute the JVM sets as missing write bits.
        for name in names:
            self.assertEqual(os.stat(os.path.join(folder, name)).st_mode & 0o222, 0)
        with open(training_log[:-len(".training")] + ".base", encoding="utf-8", errors="replace") as f:
            dump = Outcome(0, [], f.read().splitlines(), "")
        pending = dump.options[-2].split("=", 1)[1]
        self.assertRegex(pending, r"\.\d+\.tmp$")
        self.assertEqual(dump.options[-4:], ["-Xshare:dump", "-XX:SharedClassListFile=" + pending[:-4] + ".jvm.lst",
                                             "-XX:SharedArchiveFile=" + pending, quiet[1]], dump)
        self.assertEqual(dump.lines("archive_dumped "), [pending])
        with open(training_log, encoding="utf-8", errors="replace") as f:
            training = Outcome(0, [], f.read().splitlines(), "")
        self.assertEqual(training.options[-5], "-XX:SharedArchiveFile=" + windows_folder + base, training)
        self.assertEqual(training.options[-4], "-XX:ArchiveClassesAtExit=" + pending, training)
        self.assertEqual(training.options[-3:-1], quiet, training)
        self.assertTrue(training.options[-1].startswith("-Dnxo.cds.train=" + windows_folder), training)

        # Later starts map both, the base first, split as the class path is.
        second = self.start(app)
        self.assert_clean_run(second)
        both = windows_folder + base + ";" + windows_folder + published
        self.assertEqual(second.options[-3:], ["-XX:SharedArchiveFile=" + both] + quiet, second)
        self.assertEqual(second.lines("archive_mapped "), [both])
        self.assertEqual(sorted(os.listdir(folder)), sorted(names))

        # A rebuilt executable records anew; the old archive, read-only as
        # the JVM writes it, goes.
        app.restore()
        os.utime(app.exe, (1, 1))
        rebuilt = self.start(app)
        self.assert_clean_run(rebuilt)
        self.assertTrue(rebuilt.options[-2].startswith("-XX:DumpLoadedClassList="), rebuilt)
        self.wait_for_published(folder, old=published)
        self.assertEqual(len(os.listdir(folder)), 2, os.listdir(folder))
        self.assertFalse(set(os.listdir(folder)) & set(names), os.listdir(folder))

    def test_class_data_sharing_with_an_ahead_of_time_cache(self):
        # Java 25 and later: the training start's JVM writes an ahead-of-time
        # cache, which later starts hand over without any -Xshare option (the
        # JVM refuses one beside a cache).
        app, training_log = self.sharing_runtime("25.0.1")
        quiet = "-Xlog:cds=off,aot=off"
        first = self.start(app)
        self.assert_clean_run(first)
        self.assertTrue(first.options[-2].startswith("-XX:DumpLoadedClassList="), first)
        windows_folder, folder = self.sharing_folder(first.options[-2].split("=", 1)[1])
        self.wait_for_published(folder)
        (published,) = os.listdir(folder)
        self.assertRegex(published, r"^[0-9a-f]{16}-\d+\.jsa$")
        with open(training_log, encoding="utf-8", errors="replace") as f:
            training = Outcome(0, [], f.read().splitlines(), "")
        self.assertTrue(training.options[-3].startswith("-XX:AOTCacheOutput=" + windows_folder), training)
        self.assertEqual(training.options[-2], quiet, training)

        second = self.start(app)
        self.assert_clean_run(second)
        self.assertEqual(second.options[-2:], ["-XX:AOTCache=" + windows_folder + published, quiet], second)
        self.assertFalse([o for o in second.options + training.options if o.startswith("-Xshare")], second)
        self.assertEqual(second.lines("archive_mapped "), [windows_folder + published])

    def test_an_exception_from_main_ends_with_1(self):
        # As the java command: the runtime describes it, no box repeats it.
        outcome = self.start(self.hello, env={"NXO_JVM_DOUBLE_THROW": "1"})
        self.assertEqual(outcome.code, 1, outcome)
        self.assertEqual(outcome.boxes, [], outcome)
        self.assertEqual(outcome.lines("describe "), ["java/lang/IllegalStateException"])
        self.assertIn("IllegalStateException", outcome.stderr)
        self.assertEqual(outcome.log[-4:], ["detach", "destroy", "live_local_refs 0", "unload"], outcome)

    def test_versions_within_the_bounds_start(self):
        cases = [("1.8.0_292", ["minjre 1.6", "maxjre 1.8"]), ("11.0.2", ["minjre 1.6"]),
                 ("9", ["minjre 1.8.0"]), (DOUBLE_VERSION, ["maxjre 17"])]
        for version, lines in cases:
            with self.subTest(version=version, lines=lines):
                outcome = self.start(self.hello, external=lines, env={"NXO_JVM_DOUBLE_VERSION": version})
                self.assert_clean_run(outcome)

    def test_runtime_sources(self):
        """The creation entry under its other name, and a runtime in the
        application's own jre directory."""
        outcome = self.start(self.hello, external=["jvmdll " + windows_path(DOUBLE["impl_only"])])
        self.assert_clean_run(outcome)
        bundled = Packed(self.work, "bundled", "app.Bundled", ["jre_order b"])
        server = os.path.join(bundled.dir, "jre", "bin", "server")
        os.makedirs(server)
        shutil.copy(DOUBLE["full"], os.path.join(server, "jvm.dll"))
        outcome = self.start(bundled, "z")
        self.assert_clean_run(outcome)
        self.assertEqual((outcome.lines("startClass "), outcome.main_args), (["app.Bundled"], ["z"]))

    def test_registry_view_of_the_launchers_own_width(self):
        """A 64-bit launcher reads the registry's 64-bit view, a 32-bit one
        the 32-bit view: a runtime registered in the other view is not seen."""
        own, other = ("64", "32") if TARGET == "win64" else ("32", "64")
        home = os.path.join(self.work, "registered runtime")
        os.makedirs(os.path.join(home, "bin", "server"), exist_ok=True)
        shutil.copy(DOUBLE["full"], os.path.join(home, "bin", "server", "jvm.dll"))
        app = Packed(self.work, "registered", "app.Registered", ["jre_order s"])
        key = "HKLM\\SOFTWARE\\JavaSoft\\JRE"

        def reg(view, *args):
            result = run([WINE_RUN, "reg", *args, "/reg:" + view], env=self.environment())
            return result.returncode

        try:
            for view, found in ((own, True), (other, False)):
                with self.subTest(view=view):
                    self.assertEqual(reg(view, "add", key, "/v", "CurrentVersion", "/d", "21", "/f"), 0)
                    self.assertEqual(reg(view, "add", key + "\\21", "/v", "JavaHome", "/d", windows_path(home), "/f"), 0)
                    outcome = self.start(app)
                    reg(view, "delete", key, "/f")
                    if found:
                        self.assert_clean_run(outcome)
                        self.assertEqual(outcome.lines("startClass "), ["app.Registered"])
                    else:
                        self.assert_box(outcome, 1, "Java Runtime Environment not found.")
        finally:
            for view in (own, other):
                reg(view, "delete", key, "/f")

    def test_non_ascii_folder_name_and_argument(self):
        """Letters outside every single-byte code page (Greek and Cyrillic
        together) in the executable's folder and name and in an argument:
        with the UTF-8 code page of nxo's manifest (which Wine 8 honours)
        they reach the runtime intact."""
        name = "αβγ ж app"
        # Fewer than MAX_PATH characters, more than MAX_PATH bytes in UTF-8.
        parent = os.path.join(self.work, "λ" * 110)
        os.makedirs(parent)
        app = Packed(parent, name, "app.Unicode", ["jre_order c", "jvmdll " + windows_path(DOUBLE["full"])])
        outcome = self.start(app, "naïve αβγ ж")
        self.assert_clean_run(outcome)
        self.assertEqual(outcome.main_args, ["naïve αβγ ж"])
        self.assertIn("-Dnxo.app.path=" + windows_path(app.exe), outcome.options)
        self.assertIn("-Dapplication.home=" + windows_path(app.dir) + "\\", outcome.options)
        # Without it (--ansi-code-page) the prefix's code page, 1252, holds the
        # accented letter but neither the Greek nor the Cyrillic ones (the
        # system maps some to look-alikes, the rest to "?").
        legacy = Packed(self.work, "legacy", "app.Legacy", ["jre_order c", "jvmdll " + windows_path(DOUBLE["full"])],
                        extra=["--ansi-code-page"])
        outcome = self.start(legacy, "na\u00efve \u03b1\u03b2\u03b3 \u0436")
        self.assert_clean_run(outcome)
        self.assertEqual(len(outcome.main_args), 1, outcome)
        self.assertTrue(outcome.main_args[0].startswith("na\u00efve "), outcome)
        self.assertNotIn("\u03b3", outcome.main_args[0])
        self.assertNotIn("\u0436", outcome.main_args[0])

    def test_start_on_first_thread(self):
        cases = [("-XstartOnFirstThread", "first"), ("-XstartOnFirstThread=1", "first"),
                 ("-xstartonfirstthread", "other"), ("-XstartOnFirst", "other"), (None, "other")]
        for option, thread in cases:
            with self.subTest(option=option):
                outcome = self.start(self.hello, external=[f"option {option}"] if option else [],
                                     env={"NXO_JVM_DOUBLE_LOG_THREAD": "1"})
                self.assert_clean_run(outcome)
                self.assertEqual(outcome.lines("create_thread "), [thread])
                if option:
                    self.assertEqual(outcome.options[0], option)  # passed on like any option
                self.assertEqual(outcome.main_args, ["first", "second word"])

    # ---- Failures: one box each, then the code ------------------------------------

    def test_each_failure_shows_its_message_and_ends_with_its_code(self):
        not_a_library = os.path.join(self.work, "text", "jvm.dll")
        os.makedirs(os.path.dirname(not_a_library), exist_ok=True)
        with open(not_a_library, "w") as f:
            f.write("not a library\n")
        missing = windows_path(os.path.join(self.work, "missing", "jvm.dll"))
        cases = [
            ("no runtime", ["jvmdll " + missing], {}, 1, "Java Runtime Environment not found."),
            ("no creation entry", ["jvmdll " + windows_path(DOUBLE["no_entry"])], {}, 2,
             "Java Runtime Environment not valid."),
            ("not a library", ["jvmdll " + windows_path(not_a_library)], {}, 2,
             "Java Runtime Environment not valid."),
            ("creation refused", [], {"NXO_JVM_DOUBLE_REFUSE": "1"}, 4, "Java Virtual Machine starts failed."),
            ("version unreadable", ["minjre 1.6"], {"NXO_JVM_DOUBLE_NO_GETPROPERTY": "1"}, 5,
             "Can not get the virtual machine version."),
            ("too low", ["minjre 99"], {}, 6,
             f"Java virtual machine version {DOUBLE_VERSION} is too low, require 99 or higher."),
            ("too low, 1.5", ["minjre 1.6"], {"NXO_JVM_DOUBLE_VERSION": "1.5.0_22"}, 6,
             "Java virtual machine version 1.5.0_22 is too low, require 1.6 or higher."),
            ("too high", ["minjre 1.6", "maxjre 11"], {}, 12,
             f"Java virtual machine version {DOUBLE_VERSION} is too high, version between 1.6 and 11 is required."),
            ("too high, no minjre", ["maxjre 1.8"], {"NXO_JVM_DOUBLE_VERSION": "9.0.4"}, 12,
             "Java virtual machine version 9.0.4 is too high, version between  and 1.8 is required."),
            ("no launcher class", [], {"NXO_JVM_DOUBLE_NO_LAUNCHER": "1"}, 7,
             "The main startup class could not be found."),
            ("no main", [], {"NXO_JVM_DOUBLE_NO_MAIN": "1"}, 8,
             "The main startup class is not valid, main method missing."),
        ]
        for name, lines, env, code, text in cases:
            with self.subTest(name):
                outcome = self.start(self.hello, external=lines, env=env)
                self.assert_box(outcome, code, text)
                self.assertNotIn("main", outcome.log)
                if code in (1, 2):
                    # No runtime was asked for a JVM; a library that loaded is unloaded.
                    loaded = name == "no creation entry"
                    self.assertEqual(outcome.log, ["unload"] if loaded else [])
                elif code == 4:
                    self.assertEqual(outcome.log[-2:], ["refused", "unload"])
                else:
                    # A created JVM is taken down after the box, in order.
                    self.assertEqual(outcome.log[-4:], ["detach", "destroy", "live_local_refs 0", "unload"])
                if code == 5:
                    self.assertEqual(outcome.lines("describe "), [])  # read without description
                if code == 7:
                    self.assertEqual(outcome.lines("describe "), ["java/lang/NoClassDefFoundError"])
                    self.assertEqual(outcome.lines("startClass "), [])
                if code == 8:
                    self.assertEqual(outcome.lines("describe "), ["java/lang/NoSuchMethodError"])

    def test_message_overrides(self):
        cases = [
            (["jvmdll Z:\\missing\\jvm.dll", "message 1=Line one\\nLine two", "message 10=Oops",
              "message 1=the later line loses"], {}, 1, "Line one\nLine two", "Oops"),
            (["minjre 99", "message 6=Have %s, need %s.", "message 0=ignored", "message 6"], {}, 6,
             f"Have {DOUBLE_VERSION}, need 99.", "Error"),
            (["message 7 = Missing.\\", "message -7=ignored"], {"NXO_JVM_DOUBLE_NO_LAUNCHER": "1"}, 7,
             " Missing.", "Error"),
        ]
        for lines, env, code, text, caption in cases:
            with self.subTest(lines=lines):
                self.assert_box(self.start(self.hello, external=lines, env=env), code, text, caption)

    # ---- Integrity -------------------------------------------------------------

    def modified(self, app, offset, name):
        data = bytearray(app.image)
        data[offset] ^= 0x01
        path = os.path.join(app.dir, name + ".exe")
        with open(path, "wb") as f:
            f.write(data)
        return path

    def test_a_vendor_registered_runtime_starts_the_default_packed_order(self):
        """Only an Eclipse Adoptium runtime, registered the way its MSI does,
        and no JAVA_HOME: the order the packager writes finds it; the
        runtime check and the trail say how."""
        home = os.path.join(self.work, "temurin-21")
        os.makedirs(os.path.join(home, "bin", "server"))
        shutil.copy(DOUBLE["full"], os.path.join(home, "bin", "server", "jvm.dll"))
        key = "HKLM\\SOFTWARE\\Eclipse Adoptium\\JDK\\21.0.1.12\\hotspot\\MSI"
        added = run([WINE_RUN, "reg", "add", key, "/v", "Path", "/d", windows_path(home) + "\\", "/f",
                     "/reg:64"])
        self.assertEqual(added.returncode, 0, added.stderr)
        self.addCleanup(run, [WINE_RUN, "reg", "delete", "HKLM\\SOFTWARE\\Eclipse Adoptium", "/f",
                              "/reg:64"])
        vendor = Packed(self.work, "vendor", "app.Vendor")
        library = windows_path(home) + "\\bin\\server/jvm.dll"
        trail = os.path.join(self.work, "vendor.trail")
        outcome = self.start(vendor, env={"JAVA_HOME": "", "JRE_HOME": "",
                                          "NXO_TRACE": windows_path(trail)})
        self.assert_clean_run(outcome)
        self.assertEqual(outcome.lines("startClass "), ["app.Vendor"])
        with open(trail, encoding="latin-1") as f:
            text = f.read()
        self.assertIn('search: order "cbsviep"', text)
        self.assertIn(f"search: chosen {library}", text)
        self.assertIn("exit: exit code 0", text)

        env = self.environment({"JAVA_HOME": "", "JRE_HOME": "", "NXO_WINE": WINE_RUN})
        os.remove(vendor.exe + ".cfg")
        checked = run([NXO, "inspect", "--check-runtime", vendor.exe], env=env)
        self.assertEqual(checked.returncode, 0, checked.stdout + checked.stderr)
        lines = checked.stdout.splitlines()
        self.assertIn("  letter v: the vendors' registry keys", lines)
        self.assertEqual(lines[-1], f"runtime:   {library}")

    def start_copy(self, app, path):
        """Starts another file of app's directory as if it were app."""
        copy = Packed.__new__(Packed)
        copy.dir, copy.exe = app.dir, path
        return self.start(copy)

    def test_integrity(self):
        checked = Packed(self.work, "checked", "app.Checked", [
            "jre_order c", "jvmdll " + windows_path(DOUBLE["full"])], extra=["--verify-integrity"])
        unchecked = Packed(self.work, "unchecked", "app.Unchecked", [
            "jre_order c", "jvmdll " + windows_path(DOUBLE["full"])])
        outcome = self.start(checked)
        self.assert_clean_run(outcome)
        self.assertEqual(outcome.lines("startClass "), ["app.Checked"])

        dos_message = checked.image.index(b"This program cannot be run in DOS mode") + 5
        padding = section_padding_near_middle(checked.image, checked.archive_start())
        archive_byte = checked.archive_start() + 40
        for name, offset in (("dos header", dos_message), ("section padding", padding),
                             ("archive", archive_byte)):
            with self.subTest(name):
                outcome = self.start_copy(checked, self.modified(checked, offset, "damaged"))
                self.assert_box(outcome, 9, INTEGRITY_TEXT)
                self.assertEqual(outcome.log, [])  # ended before any runtime was loaded
        # Without the flag, a payload that is not where the record says is
        # a change all the same.
        for name, data in (("cut short", unchecked.image[:-10]),
                           ("much appended", unchecked.image + b"\0" * (len(unchecked.image) // 50 + 200000))):
            with self.subTest(name):
                path = os.path.join(unchecked.dir, "cut.exe")
                with open(path, "wb") as f:
                    f.write(data)
                outcome = self.start_copy(unchecked, path)
                self.assert_box(outcome, 9, INTEGRITY_TEXT)
                self.assertEqual(outcome.log, [])
        with self.subTest("a change without the integrity flag"):
            outcome = self.start_copy(unchecked, self.modified(unchecked, dos_message, "changed"))
            self.assert_clean_run(outcome)

        key, cert = os.path.join(self.work, "key.pem"), os.path.join(self.work, "cert.pem")
        made = run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                    "-days", "2", "-subj", "/CN=nxo throw-away test signer"])
        self.assertEqual(made.returncode, 0, made.stderr)
        signed = os.path.join(checked.dir, "signed.exe")
        sign = run(["osslsigncode", "sign", "-certs", cert, "-key", key, "-n", "nxo test",
                    "-in", checked.exe, "-out", signed])
        self.assertEqual(sign.returncode, 0, sign.stdout + sign.stderr)
        with self.subTest("signed"):
            outcome = self.start_copy(checked, signed)
            self.assert_clean_run(outcome)
            self.assertEqual(outcome.lines("startClass "), ["app.Checked"])
        with self.subTest("signed, then changed"):
            with open(signed, "rb") as f:
                data = bytearray(f.read())
            data[archive_byte] ^= 0x01
            with open(signed, "wb") as f:
                f.write(data)
            self.assert_box(self.start_copy(checked, signed), 9, INTEGRITY_TEXT)


def section_padding_near_middle(image, stub_end):
    """An offset in the raw padding after a section's data: part of the
    image the integrity digest covers, but never read by the program."""
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    sections, optional_size = struct.unpack_from("<H", image, pe + 6)[0], struct.unpack_from("<H", image, pe + 20)[0]
    table = pe + 24 + optional_size
    gaps = []
    for i in range(sections):
        virtual_size, _, raw_size, raw_at = struct.unpack_from("<IIII", image, table + 40 * i + 8)
        if raw_size > virtual_size and raw_at + raw_size <= stub_end:
            gaps.append(raw_at + virtual_size + (raw_size - virtual_size) // 2)
    assert gaps, "no section with padding"
    return min(gaps, key=lambda at: abs(at - stub_end // 2))


if __name__ == "__main__":
    unittest.main()
