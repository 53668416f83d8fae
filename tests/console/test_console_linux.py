#!/usr/bin/env python3
"""Standard streams on Linux, end to end: packed applications on the
installed JDK send their output to the files and commands the "stdout" and
"stderr" keys name, and SIGINT/SIGTERM end them through System.exit(0) so
their shutdown hooks run.

Every case runs twice, the second time with "-Xcheck:jni", whose warnings
must not appear."""
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import textwrap
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "launcher"))
from test_launch_linux import JDK, Packed, run  # noqa: E402

APP = """
    package app;
    import java.nio.file.*;
    public class Lines {
        public static void main(String[] args) throws Exception {
            int lines = Integer.getInteger("lines", 4);
            int errorEvery = Integer.getInteger("error.every", 2);
            String hookMarker = System.getProperty("hook.marker");
            if (hookMarker != null) {
                Runtime.getRuntime().addShutdownHook(new Thread(() -> {
                    try {
                        Files.write(Paths.get(hookMarker), "hook ran\\n".getBytes());
                    } catch (Exception e) {
                        throw new RuntimeException(e);
                    }
                }));
            }
            if (Boolean.getBoolean("deny.exit")) {
                System.setSecurityManager(new SecurityManager() {
                    @Override public void checkPermission(java.security.Permission p) {}
                    @Override public void checkExit(int status) { throw new SecurityException("no exit"); }
                });
            }
            for (int i = 0; i < lines; i++) {
                System.out.println("out " + i);
                if (errorEvery > 0 && i % errorEvery == 0) System.err.println("err " + i);
            }
            String mode = System.getProperty("mode", "");
            if (mode.equals("exit")) System.exit(0);
            if (mode.equals("wait")) {
                System.out.println("waiting");
                Thread.sleep(120000);
                System.out.println("not interrupted");
            }
        }
    }"""

# A command for "|...": copies its standard input into a file, made whole
# only at the end of input, and notes which descriptors beyond 0-2 it got.
SINK = """
import os, sys
target = sys.argv[1]
inherited = []
for fd in range(3, 1024):
    try:
        os.fstat(fd)
        inherited.append(fd)
    except OSError:
        pass
data = sys.stdin.buffer.read()
with open(target + ".part", "wb") as f:
    f.write(data)
with open(target + ".fds", "w") as f:
    f.write(" ".join(map(str, inherited)))
os.rename(target + ".part", target)
"""

JNI_FAULTS = ("WARNING in native method", "FATAL ERROR", "JNI local refs", "Warning: SIG")


def expected_lines(count, error_every):
    lines = []
    for i in range(count):
        lines.append(f"out {i}")
        if error_every and i % error_every == 0:
            lines.append(f"err {i}")
    return lines


def wait_for(path, timeout=120):
    deadline = time.monotonic() + timeout
    while not os.path.exists(path):
        if time.monotonic() > deadline:
            raise AssertionError(f"{path} did not appear")
        time.sleep(0.05)


class StandardStreamsOnLinux(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="nxo-console-")
        cls.addClassCleanup(shutil.rmtree, cls.work, ignore_errors=True)
        src = os.path.join(cls.work, "src", "app", "Lines.java")
        os.makedirs(os.path.dirname(src))
        with open(src, "w") as f:
            f.write(textwrap.dedent(APP))
        classes = os.path.join(cls.work, "classes")
        result = run(["javac", "--release", "8", "-d", classes, src])
        assert result.returncode == 0, result.stderr
        run(["jar", "--create", "--file", os.path.join(cls.work, "app.jar"), "-C", classes, "."])
        cls.app = Packed(cls.work, "lines", "app.Lines", config_lines=["jre_order e"])
        cls.sink = os.path.join(cls.work, "sink.py")
        with open(cls.sink, "w") as f:
            f.write(SINK)

    def setUp(self):
        self.out = tempfile.mkdtemp(dir=self.work)

    def path(self, name):
        return os.path.join(self.out, name)

    def read(self, name):
        with open(self.path(name)) as f:
            return f.read().splitlines()

    def start(self, lines, check_jni, env=None, cwd=None):
        result = self.app.start(external=lines, check_jni=check_jni, env=env, cwd=cwd)
        if check_jni:
            for fault in JNI_FAULTS:
                self.assertNotIn(fault, result.stdout + result.stderr)
        return result

    def test_redirection_targets(self):
        """One table: each case's configuration, what the application
        prints, and where it must land. Every case runs plain and with
        -Xcheck:jni, appending to the same targets."""
        os.makedirs(os.path.join(self.app.dir, "work"), exist_ok=True)
        default = expected_lines(4, 2)
        outs = [line for line in default if line.startswith("out")]
        errs = [line for line in default if line.startswith("err")]
        cases = [
            # name, config lines, environment, {file: lines expected per run}, captured (stdout, stderr)
            ("one file for both, appended, order kept",
             ["stdout {d}/both.log", "stderr {d}/both.log"], {}, {"both.log": default}, ([], [])),
            ("a file each",
             ["stdout {d}/out.log", "stderr {d}/err.log"], {}, {"out.log": outs, "err.log": errs}, ([], [])),
            ("only standard error",
             ["stderr {d}/err.log"], {}, {"err.log": errs}, (outs, [])),
            ("relative to forcecwd",
             ["forcecwd work", "stdout relative.log"], {}, {"work/relative.log": outs}, ([], errs)),
            ("a command",
             ["stdout |python3 {sink} {d}/piped.log"], {}, {"piped.log": outs}, ([], errs)),
            ("both into one command",
             ["stdout |python3 {sink} {d}/piped.log", "stderr |python3 {sink} {d}/piped.log"], {},
             {"piped.log": default}, ([], [])),
            ("the Java bridge",
             ["stdout {d}/bridged.log", "stderr {d}/bridged.log"],
             {"NXO_TEST_FORCE_OUTPUT_BRIDGE": "1"}, {"bridged.log": default}, ([], [])),
            ("a command that does not exist",
             ["stdout |/no/such/command arg"], {}, {}, (outs, errs)),
            ("a directory, a missing directory",
             ["stdout {d}", "stderr {d}/missing/err.log"], {}, {}, (outs, errs)),
        ]
        for name, config, env, files, captured in cases:
            with self.subTest(name):
                self.out = tempfile.mkdtemp(dir=self.work)
                if os.path.exists(os.path.join(self.app.dir, "work", "relative.log")):
                    os.remove(os.path.join(self.app.dir, "work", "relative.log"))
                where = {name: os.path.join(self.app.dir, name) if name.startswith("work/") else self.path(name)
                         for name in files}
                for path in where.values():
                    if "|" not in " ".join(config):
                        with open(path, "w") as f:
                            f.write("kept\n")
                lines = [line.format(d=self.out, sink=self.sink) for line in config]
                piped = any(line.split(" ", 1)[1].startswith("|python3") for line in lines)
                for run_number, check_jni in enumerate((False, True)):
                    result = self.start(lines, check_jni, env=env, cwd=self.work)
                    self.assertEqual(result.returncode, 0, result.stderr)
                    self.assertEqual(result.stdout.splitlines(), captured[0])
                    self.assertEqual([l for l in result.stderr.splitlines() if not l.startswith("Picked up")],
                                     captured[1])
                    for file, expected in files.items():
                        if piped:
                            wait_for(where[file])
                            with open(where[file]) as f:
                                self.assertEqual(f.read().splitlines(), expected)
                            with open(where[file] + ".fds") as f:
                                self.assertEqual(f.read(), "", "descriptors leaked into the command")
                            os.remove(where[file])
                        else:
                            with open(where[file]) as f:
                                self.assertEqual(f.read().splitlines(),
                                                 ["kept"] + expected * (run_number + 1))

    def test_a_million_lines_arrive_whole(self):
        count = 1_000_000
        cases = [("file", "big.log", "{d}/big.log"), ("command", "big.log", "|python3 {sink} {d}/big.log")]
        for name, file, target in cases:
            for mode in ("return", "exit"):
                for check_jni in (False, True):
                    with self.subTest(name, mode=mode, check_jni=check_jni):
                        self.out = tempfile.mkdtemp(dir=self.work)
                        lines = [f"stdout {target.format(d=self.out, sink=self.sink)}",
                                 f"property lines={count}", "property error.every=0", f"property mode={mode}"]
                        result = self.start(lines, check_jni)
                        self.assertEqual(result.returncode, 0, result.stderr)
                        wait_for(self.path(file))
                        got = self.read(file)
                        self.assertEqual(len(got), count)
                        self.assertEqual(got, [f"out {i}" for i in range(count)])

    def test_the_launchers_own_messages_follow(self):
        # No JVM starts: what reaches the command is the launcher's own
        # C-runtime output, buffered for a pipe and flushed at exit.
        not_a_library = self.path("libjvm.so")
        with open(not_a_library, "w") as f:
            f.write("not a library\n")
        result = self.start([f"stderr |python3 {self.sink} {self.path('errors.log')}",
                             "jre_order c", f"jvmdll {not_a_library}"], check_jni=False)
        self.assertEqual(result.returncode, 2)
        self.assertEqual(result.stderr, "")
        wait_for(self.path("errors.log"))
        text = "\n".join(self.read("errors.log"))
        self.assertIn(not_a_library, text)  # the system's reason names the file
        self.assertIn("Error: Java Runtime Environment not valid.", text)

    def start_waiting(self, extra, check_jni):
        """Starts the application until it prints "waiting" and sleeps."""
        marker = self.path("hook.marker")
        lines = extra + [f"property hook.marker={marker}", "property mode=wait", "property lines=1",
                         "property error.every=0"] + (["option -Xcheck:jni"] if check_jni else [])
        with open(self.app.exe + ".cfg", "w") as f:
            f.write("\n".join(lines) + "\n")
        env = dict(os.environ, JAVA_HOME=JDK)
        process = subprocess.Popen([self.app.exe], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                   text=True, env=env, cwd=self.app.dir)
        self.addCleanup(lambda: process.poll() is None and process.kill())
        for line in process.stdout:
            if line.strip() == "waiting":
                break
        return process, marker

    def test_interrupts_run_the_shutdown_hooks(self):
        # The normal road: our handler asks for System.exit(0) before the
        # JVM's own handling could end the process with 128 + the signal.
        # With System.exit refused, the signal goes on to the handler that
        # was there before ours: the JVM's, which exits with 128 + signal.
        cases = [
            (signal.SIGINT, [], 0),
            (signal.SIGTERM, [], 0),
            (signal.SIGTERM, ["option -Xrs"], 0),  # no JVM handling: ours alone
            (signal.SIGINT, ["property deny.exit=true"], 130),
            (signal.SIGTERM, ["property deny.exit=true"], 143),
        ]
        for sig, extra, code in cases:
            for check_jni in (False, True):
                with self.subTest(signal=sig.name, extra=extra, check_jni=check_jni):
                    self.out = tempfile.mkdtemp(dir=self.work)
                    process, marker = self.start_waiting(extra, check_jni)
                    process.send_signal(sig)
                    rest, errors = process.communicate(timeout=60)
                    self.assertEqual(process.returncode, code, errors)
                    self.assertNotIn("not interrupted", rest)
                    with open(marker) as f:
                        self.assertEqual(f.read(), "hook ran\n")
                    if check_jni:
                        for fault in JNI_FAULTS:
                            self.assertNotIn(fault, rest + errors)


if __name__ == "__main__":
    unittest.main()
