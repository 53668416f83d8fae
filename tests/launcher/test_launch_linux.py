#!/usr/bin/env python3
"""End to end on Linux: applications packed by dist/nxo start through the
launcher stub on the installed JDK, with their arguments, properties and exit
codes, and every failure gets its numbered message and exit code.

Every run is made twice, the second time with "-Xcheck:jni", whose warnings
must not appear."""
import os
import re
import shutil
import subprocess
import tempfile
import textwrap
import unittest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
NXO = os.environ.get("NXO", os.path.join(ROOT, "dist", "nxo"))
JDK = os.environ.get("NXO_TEST_JDK", "/usr/lib/jvm/java-17-openjdk-amd64")
JAVA_VERSION = subprocess.run([os.path.join(JDK, "bin", "java"), "-XshowSettings:properties",
                               "-version"], capture_output=True, text=True).stderr
JAVA_VERSION = [l.split("=", 1)[1].strip() for l in JAVA_VERSION.splitlines()
                if l.strip().startswith("java.version =")][0]

APPS = {
    "app/Hello.java": """
        package app;
        public class Hello {
            public static void main(String[] args) throws Exception {
                System.out.println("args=" + String.join("|", args));
                System.out.println("greeting=" + System.getProperty("greeting"));
                System.out.println("empty=[" + System.getProperty("empty.property") + "]");
                System.out.println("unicode=" + System.getProperty("unicode"));
                System.out.println("t=" + System.getProperty("t"));
                System.out.println("opt=" + System.getProperty("opt"));
                System.out.println("cwd=" + new java.io.File(".").getCanonicalPath());
                System.out.println("tool=" + System.getenv("JAVA_TOOL_OPTIONS"));
                System.out.println("exported=" + System.getenv("NXO_EXPORTED"));
                System.out.println("app.path=" + System.getProperty("nxo.app.path"));
                System.out.println("thread=" + Thread.currentThread().getName());
                String mode = System.getProperty("mode", "");
                if (mode.equals("throw")) throw new IllegalStateException("thrown by main");
                if (mode.equals("exit3")) System.exit(3);
            }
        }""",
    "app/Window.java": """
        package app;
        import java.awt.event.*;
        import javax.swing.*;
        public class Window {
            public static void main(String[] args) throws Exception {
                SwingUtilities.invokeAndWait(() -> {
                    JFrame frame = new JFrame("nxo test");
                    frame.setDefaultCloseOperation(WindowConstants.DISPOSE_ON_CLOSE);
                    frame.addWindowListener(new WindowAdapter() {
                        @Override public void windowClosed(WindowEvent e) {
                            System.out.println("window closed");
                        }
                    });
                    frame.setSize(200, 100);
                    frame.setVisible(true);
                    // The window closes itself a moment after main returned.
                    new Timer(1500, e -> frame.dispatchEvent(
                        new WindowEvent(frame, WindowEvent.WINDOW_CLOSING))).start();
                });
                System.out.println("main returned");
            }
        }""",
}


def run(cmd, **kwargs):
    return subprocess.run(cmd, capture_output=True, text=True, timeout=120, **kwargs)


class Packed:
    """A directory holding one packed application and its external file."""

    def __init__(self, work, name, main_class, support=None, config_lines=(), no_check=False):
        self.dir = os.path.join(work, name)
        os.makedirs(self.dir)
        self.exe = os.path.join(self.dir, name)
        config = os.path.join(self.dir, "packed.cfg")
        with open(config, "w") as f:
            f.write("\n".join(config_lines) + "\n")
        cmd = [NXO, "pack", "--target", "linux", "--main-class", main_class, "--config", config,
               "-o", self.exe, os.path.join(work, "app.jar")]
        if support:
            cmd[2:2] = ["--support", support, "--no-check"]
        elif no_check:
            cmd[2:2] = ["--no-check"]
        result = run(cmd)
        assert result.returncode == 0, result.stderr
        os.remove(config)

    def start(self, *args, external=(), env=None, check_jni=False, cwd=None):
        lines = list(external) + (["option -Xcheck:jni"] if check_jni else [])
        with open(self.exe + ".cfg", "w") as f:
            f.write("\n".join(lines) + "\n")
        environment = dict(os.environ)
        environment.update({"JAVA_HOME": JDK})
        environment.pop("JRE_HOME", None)
        environment.update(env or {})
        return run([self.exe, *args], env=environment, cwd=cwd or self.dir)


class LaunchOnLinux(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="nxo-launch-")
        src = os.path.join(cls.work, "src")
        for path, text in APPS.items():
            os.makedirs(os.path.dirname(os.path.join(src, path)), exist_ok=True)
            with open(os.path.join(src, path), "w") as f:
                f.write(textwrap.dedent(text))
        classes = os.path.join(cls.work, "classes")
        result = run(["javac", "--release", "8", "-d", classes,
                      *[os.path.join(src, p) for p in APPS]])
        assert result.returncode == 0, result.stderr
        run(["jar", "--create", "--file", os.path.join(cls.work, "app.jar"), "-C", classes, "."])
        cls.hello = Packed(cls.work, "hello", "app.Hello", config_lines=[
            "property greeting=from the payload",
            'argv first "second word"',
            "jre_order e",
        ])
        cls.window = Packed(cls.work, "window", "app.Window", config_lines=["jre_order e"])
        empty = os.path.join(cls.work, "empty.jar")
        with open(os.path.join(cls.work, "readme.txt"), "w") as f:
            f.write("no classes here\n")
        run(["jar", "--create", "--file", empty, "-C", cls.work, "readme.txt"])
        cls.bare = Packed(cls.work, "bare", "app.Hello", support=empty, config_lines=["jre_order e"])
        # Packed without a jre_order line: the packager's order applies.
        cls.defaults = Packed(cls.work, "defaults", "app.Hello")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def start_both(self, app, *args, **kwargs):
        """Runs without and with -Xcheck:jni; both must behave alike."""
        plain = app.start(*args, **kwargs)
        checked = app.start(*args, check_jni=True, **kwargs)
        self.assertEqual(plain.returncode, checked.returncode, checked.stderr)
        self.assertNotIn("WARNING", checked.stderr)
        self.assertNotIn("FATAL ERROR", checked.stderr)
        return plain

    def values(self, result):
        return dict(line.split("=", 1) for line in result.stdout.splitlines() if "=" in line)

    def test_arguments_properties_and_environment(self):
        result = self.start_both(
            self.hello, "cmd 1", "x",
            external=["property empty.property", "property unicode=caf\u00e9",
                      "export NXO_EXPORTED=yes", "export NO_EQUALS_SIGN"],
            env={"JAVA_TOOL_OPTIONS": "-Dinherited=1", "LANG": "C.UTF-8", "LC_ALL": "C.UTF-8"})
        self.assertEqual(result.returncode, 0, result.stderr)
        v = self.values(result)
        self.assertEqual(v["args"], "first|second word|cmd 1|x")
        self.assertEqual(v["greeting"], "from the payload")
        self.assertEqual(v["empty"], "[]")
        self.assertEqual(v["unicode"], "caf\u00e9")
        self.assertEqual(v["tool"], "null")  # an inherited JAVA_TOOL_OPTIONS is removed
        self.assertEqual(v["exported"], "yes")
        self.assertEqual(v["app.path"], self.hello.exe)
        self.assertNotEqual(v["thread"], "")

    def test_characters_reach_java_whole(self):
        """Characters past U+FFFF, and bytes that are no UTF-8, through every
        kind of line that becomes Java text."""
        utf8 = {"LANG": "C.UTF-8", "LC_ALL": "C.UTF-8"}
        cases = [
            ("BMP", "caf\u00e9\u20ac"),
            ("past U+FFFF", "a\U0001F600b\U00010000c\U0010FFFF"),
        ]
        for name, text in cases:
            with self.subTest(name):
                result = self.start_both(
                    self.hello, external=[f"property t={text}", f"argv c{text}d", f"option -Dopt={text}",
                                          f"export NXO_EXPORTED={text}"], env=utf8)
                self.assertEqual(result.returncode, 0, result.stderr)
                v = self.values(result)
                self.assertEqual(v["t"], text)
                self.assertEqual(v["opt"], text)
                self.assertEqual(v["exported"], text)
                # External lines come before the packed ones.
                self.assertEqual(v["args"].split("|")[:3], [f"c{text}d", "first", "second word"])
                message = self.hello.start(external=["jre_order c", f"message 1=no Java {text}"], env=utf8)
                self.assertEqual(message.returncode, 1)
                self.assertIn(f"Error: no Java {text}", message.stderr)

    def test_bytes_that_are_no_utf8_arrive_as_replacement_characters(self):
        # A file marked as UTF-8 that holds bytes UTF-8 does not allow.
        with open(self.hello.exe + ".cfg", "wb") as f:
            f.write(b"\xef\xbb\xbfproperty t=a\xf0\x9f(b\xc0\x80c\xed\xa0\x80d\n")
        environment = dict(os.environ, JAVA_HOME=JDK, LANG="C.UTF-8", LC_ALL="C.UTF-8")
        result = run([self.hello.exe], env=environment, cwd=self.hello.dir)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(self.values(result)["t"], "a\ufffd(b\ufffd\ufffdc\ufffd\ufffd\ufffdd")

    def test_export_of_java_tool_options_is_kept(self):
        result = self.hello.start(external=["export JAVA_TOOL_OPTIONS=-Dfrom.export=1"],
                                  env={"JAVA_TOOL_OPTIONS": "-Dinherited=1"})
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(self.values(result)["tool"], "-Dfrom.export=1")

    def test_forcecwd_is_relative_to_the_application(self):
        os.makedirs(os.path.join(self.hello.dir, "work"), exist_ok=True)
        result = self.start_both(self.hello, external=["forcecwd work"], cwd=self.work)
        self.assertEqual(self.values(result)["cwd"], os.path.join(self.hello.dir, "work"))

    def test_wildcard_modes(self):
        data = os.path.join(self.work, "data")
        os.makedirs(data, exist_ok=True)
        for name in ("a.txt", "b.txt"):
            open(os.path.join(data, name), "w").close()
        # A wildcard that reaches a Linux program was quoted in the shell (or
        # matched nothing there), so it counts as quoted: plain mode keeps
        # it, mode all expands it.
        cases = [
            ("true", ["data/*.txt"], {"data/*.txt"}),
            ("Auto", ["data/?.txt"], {"data/?.txt"}),
            ("ALL", ["data/*.txt", "none/*.x"], {"data/a.txt", "data/b.txt", "none/*.x"}),
            ("all", ["data/?.txt"], {"data/a.txt", "data/b.txt"}),
            ("false", ["data/*.txt"], {"data/*.txt"}),
        ]
        for mode, args, expected in cases:
            with self.subTest(mode=mode):
                result = self.start_both(self.hello, *args, external=[f"wildcard {mode}"],
                                         cwd=self.work)
                got = self.values(result)["args"].split("|")[2:]
                self.assertEqual(set(got), expected)

    def test_version_bounds(self):
        cases = [
            (["minjre 1.6"], 0, None),
            (["minjre 1.6", "maxjre 99"], 0, None),
            (["minjre 99"], 6, f"Error: Java virtual machine version {JAVA_VERSION} is too low, "
                               f"require 99 or higher."),
            (["maxjre 1.8"], 12, f"Error: Java virtual machine version {JAVA_VERSION} is too high, "
                                 f"version between  and 1.8 is required."),
            (["minjre 1.6", "maxjre 11"], 12, f"version between 1.6 and 11 is required."),
        ]
        for lines, code, message in cases:
            with self.subTest(lines=lines):
                result = self.start_both(self.hello, external=lines)
                self.assertEqual(result.returncode, code, result.stderr)
                if message:
                    self.assertIn(message, result.stderr)
                    self.assertNotIn("args=", result.stdout)

    def test_no_runtime_gives_code_1(self):
        result = self.start_both(self.hello, external=["jre_order c", "jvmdll missing/libjvm.so"])
        self.assertEqual(result.returncode, 1)
        self.assertIn("Error: Java Runtime Environment not found.", result.stderr)

    def test_a_file_that_is_no_library_gives_code_2(self):
        fake = os.path.join(self.work, "libjvm.so")
        with open(fake, "w") as f:
            f.write("not a library\n")
        result = self.start_both(self.hello, external=["jre_order c", f"jvmdll {fake}"])
        self.assertEqual(result.returncode, 2)
        self.assertIn(fake, result.stderr)  # the system's reason names the file
        self.assertIn("Error: Java Runtime Environment not valid.", result.stderr)

    def test_payload_without_support_classes_gives_code_7(self):
        result = self.start_both(self.bare)
        self.assertEqual(result.returncode, 7, result.stderr)
        self.assertIn("com/tarnwick/nxo/KestrelLauncher", result.stderr)
        self.assertIn("Error: The main startup class could not be found.", result.stderr)

    def test_message_overrides(self):
        result = self.hello.start(external=[
            "jre_order c", "message 1=No Java here.\\nInstall one.", "message 10=Oops",
            "message 1=second line loses"])
        self.assertEqual(result.returncode, 1)
        self.assertIn("Oops: No Java here.\nInstall one.", result.stderr)

    def test_exit_codes_by_failure_kind(self):
        """A failure after the JVM has started ends with a non-zero code once
        the runtime has said what went wrong, as the java command does."""
        missing = Packed(self.work, "missing", "app.NoSuchMain", config_lines=["jre_order e"],
                         no_check=True)
        compressed = self.copy_with_compressed_nested_jar(self.hello, "compressed")
        cases = [
            ("main throws", self.hello, ["property mode=throw"], 1,
             ["java.lang.IllegalStateException: thrown by main", "at app.Hello.main"]),
            ("System.exit(3)", self.hello, ["property mode=exit3"], 3, []),
            ("main returns", self.hello, [], 0, []),
            ("no such main class", missing, [], 1,
             ["java.lang.ClassNotFoundException: app.NoSuchMain"]),
            ("a compressed nested jar", compressed, [], 1, ["is compressed"]),
        ]
        for name, app, lines, code, said in cases:
            with self.subTest(name):
                result = self.start_both(app, external=lines)
                self.assertEqual(result.returncode, code, result.stderr)
                for text in said:
                    self.assertIn(text, result.stderr)
                # The runtime describes it; no launcher message repeats it.
                self.assertNotIn("Error: ", result.stderr)

    def copy_with_compressed_nested_jar(self, app, name):
        """A copy of app whose nested jar is marked deflated in the central
        directory: the JVM still reads the executable, the loader cannot."""
        with open(app.exe, "rb") as f:
            data = bytearray(f.read())
        at = data.find(b"PK\x01\x02")
        while at >= 0:
            name_length = int.from_bytes(data[at + 28:at + 30], "little")
            entry = bytes(data[at + 46:at + 46 + name_length])
            if entry.startswith(b"BOOT-INF/lib/") and entry.endswith(b".jar"):
                data[at + 10:at + 12] = (8).to_bytes(2, "little")
                break
            at = data.find(b"PK\x01\x02", at + 4)
        self.assertGreaterEqual(at, 0, "no nested jar found")
        copy = Packed.__new__(Packed)
        copy.dir = os.path.join(self.work, name)
        os.makedirs(copy.dir)
        copy.exe = os.path.join(copy.dir, name)
        with open(copy.exe, "wb") as f:
            f.write(data)
        os.chmod(copy.exe, 0o755)
        return copy

    def test_damaged_executables_show_message_9(self):
        """An executable whose payload is not where its record says has been
        changed since it was made: message 9 and exit code 9, not a run on an
        empty configuration."""
        with open(self.hello.exe, "rb") as f:
            image = f.read()
        cases = [
            ("cut by a few bytes", image[:-10]),
            ("cut in the archive", image[:len(image) - 300]),
            ("much appended", image + b"\0" * (len(image) // 50 + 200000)),
        ]
        for name, data in cases:
            with self.subTest(name):
                copy = os.path.join(self.hello.dir, "damaged")
                with open(copy, "wb") as f:
                    f.write(data)
                os.chmod(copy, 0o755)
                result = run([copy], env=dict(os.environ, JAVA_HOME=JDK), cwd=self.hello.dir)
                self.assertEqual(result.returncode, 9, result.stderr)
                self.assertIn("Error: The exe can not be modified after it generated.", result.stderr)
                self.assertNotIn("args=", result.stdout)

    def test_start_on_first_thread(self):
        result = self.start_both(self.hello, external=["option -XstartOnFirstThread"])
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(self.values(result)["args"], "first|second word")

    # ---- The diagnostic trail and the runtime check ----

    TRAIL_LINE = r"^ *\d+ [a-z]+: "

    def alternatives_chain(self):
        """bin/java -> alternatives/java -> the JDK's bin/java, the way
        /usr/bin/java reaches a runtime through /etc/alternatives."""
        root = tempfile.mkdtemp(dir=self.work)
        os.makedirs(os.path.join(root, "bin"))
        os.makedirs(os.path.join(root, "etc", "alternatives"))
        os.symlink(os.path.join(JDK, "bin", "java"), os.path.join(root, "etc", "alternatives", "java"))
        os.symlink("../etc/alternatives/java", os.path.join(root, "bin", "java"))
        return os.path.join(root, "bin")

    def test_the_trail_goes_to_standard_error_one_line_per_decision(self):
        result = self.hello.start("x", env={"NXO_TRACE": "-"})
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(self.values(result)["args"], "first|second word|x")  # output unchanged
        lines = [l for l in result.stderr.splitlines() if re.match(self.TRAIL_LINE, l)]
        text = "\n".join(lines)
        library = os.path.join(JDK, "lib", "server", "libjvm.so")
        in_order = [
            "start: launcher started with 1 argument(s)",
            f"config: executable {self.hello.exe}: payload found",
            "config: external file " + self.hello.exe + ".cfg read",
            'search: order "e"',
            f"search:  JAVA_HOME={JDK}",
            f"search: chosen {library}",
            f"jvm: library {library}",
            "jvm: option 1: -Djava.class.path=" + self.hello.exe,
            "jvm: option 2: -Dnxo.class.path=",
            "jvm: creation result 0",
            "jvm: launch result 0",
            "exit: exit code 0",
        ]
        at = 0
        for piece in in_order:
            found = text.find(piece, at)
            self.assertNotEqual(found, -1, f"missing or out of order: {piece}\n{text}")
            at = found + len(piece)
        times = [int(l.split()[0]) for l in lines]
        self.assertEqual(times, sorted(times))
        self.assertIn('config: property = "greeting=from the payload"', text)

    def test_without_the_variable_there_is_no_trail(self):
        result = self.hello.start()
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertFalse([l for l in result.stderr.splitlines() if re.match(self.TRAIL_LINE, l)])

    def test_the_trail_explains_a_failed_start(self):
        trail = os.path.join(self.work, "failed.trail")
        empty_home = tempfile.mkdtemp(dir=self.work)
        result = self.hello.start(env={"NXO_TRACE": trail, "JAVA_HOME": empty_home})
        self.assertEqual(result.returncode, 1)
        self.assertIn("Error: Java Runtime Environment not found.", result.stderr)
        with open(trail) as f:
            text = f.read()
        self.assertIn(f"search:  JAVA_HOME={empty_home}", text)
        self.assertIn(f"search:   {empty_home}/libjvm.so: missing", text)
        self.assertIn("search: no runtime found", text)
        self.assertIn("jvm: no runtime library", text)
        self.assertTrue(text.rstrip().endswith("exit: exit code 1"), text)

    def test_the_packed_order_reaches_every_source(self):
        result = self.defaults.start(env={"NXO_TRACE": "-"})
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn('search: order "cbsviep"', result.stderr)

    def test_path_follows_alternatives_links_to_the_runtime(self):
        # On Linux "s" already finds the distribution's runtimes; the PATH
        # source alone shows that the links are followed.
        result = self.defaults.start(external=["jre_order p"],
                                     env={"JAVA_HOME": "", "PATH": self.alternatives_chain(),
                                          "NXO_TRACE": "-"})
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn(f"resolves to {os.path.join(JDK, 'bin', 'java')}", result.stderr)
        self.assertIn(f"search: chosen {JDK}/lib/server/libjvm.so", result.stderr)

    def test_inspect_check_runtime_shows_the_search(self):
        env = dict(os.environ, JAVA_HOME="", PATH=self.alternatives_chain() + ":/usr/bin:/bin")
        env.pop("JRE_HOME", None)
        with open(self.defaults.exe + ".cfg", "w") as f:
            f.write("jre_order p\n")
        found = run([NXO, "inspect", "--check-runtime", self.defaults.exe], env=env)
        self.assertEqual(found.returncode, 0, found.stdout + found.stderr)
        lines = found.stdout.splitlines()
        self.assertEqual(lines[0], f"runtime search of {self.defaults.exe} on this machine:")
        self.assertIn('  order "p"', lines)
        self.assertIn("  letter p: the java launcher on PATH", lines)
        self.assertEqual(lines[-1], f"runtime:   {JDK}/lib/server/libjvm.so")
        self.assertNotIn("args=", found.stdout)  # no JVM was started
        self.assertFalse([l for l in lines if "config:" in l or "jvm:" in l])  # the search part only

        env["PATH"] = os.path.join(self.work, "nowhere")
        missing = run([NXO, "inspect", "--check-runtime", self.defaults.exe], env=env)
        self.assertEqual(missing.returncode, 1, missing.stderr)
        self.assertIn("  no runtime found", missing.stdout)
        self.assertEqual(missing.stdout.splitlines()[-1], "runtime:   none found")

    def test_a_window_keeps_the_process_alive_until_it_closes(self):
        display = os.environ.get("DISPLAY")
        if not display:
            self.skipTest("no X display (scripts/test.sh provides one)")
        result = self.start_both(self.window, env={"DISPLAY": display})
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout.splitlines(), ["main returned", "window closed"])


if __name__ == "__main__":
    unittest.main()
