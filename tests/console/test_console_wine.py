#!/usr/bin/env python3
"""Standard streams on Windows, under Wine: an application packed with the
64-bit launcher runs on the JVM double, which writes to its standard handles
as a runtime does (and through the launcher's exported RedirOutputStream
native when the launcher installs the bridge); the text must arrive in the
file or command that "stdout" and "stderr" name."""
import os
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "launcher"))
import test_launch_wine as wine  # noqa: E402

SINK = os.environ.get("NXO_CONSOLE_SINK",
                      os.path.join(wine.BUILD, "tests", "console", "console_sink.exe"))


def wait_for(path, timeout=60):
    deadline = time.monotonic() + timeout
    while not os.path.exists(path):
        if time.monotonic() > deadline:
            raise AssertionError(f"{path} did not appear")
        time.sleep(0.05)


class StandardStreamsUnderWine(wine.WineSession):
    @classmethod
    def setUpClass(cls):
        cls.start_session("nxo wine console ")
        cls.app = wine.Packed(cls.work, "streams", "app.Streams", [
            "jre_order c", "jvmdll " + wine.windows_path(wine.DOUBLE["full"])])

    def start(self, external, env=None):
        with open(self.app.exe + ".cfg", "w", encoding="utf-8") as f:
            f.write("\n".join(external) + "\n")
        log_path = os.path.join(self.out, "double.log")
        environment = {k: v for k, v in os.environ.items() if not k.startswith(("NXO_JVM_DOUBLE_", "NXO_TEST_"))}
        environment.update({"DISPLAY": self.display.name, "NXO_JVM_DOUBLE_PRINT": "1",
                            "NXO_JVM_DOUBLE_LOG": wine.windows_path(log_path)})
        environment.update(env or {})
        result = wine.run([wine.WINE_RUN, self.app.exe], timeout=120, env=environment)
        with open(log_path, encoding="utf-8") as f:
            log = f.read().splitlines()
        return result, log

    def test_redirection_targets(self):
        """One table: configuration, environment, what each file must hold
        afterwards, and lines the double's log must show in this order. (A
        windowed program under Wine starts without usable standard handles:
        what is not redirected is lost, so the files tell it all.)"""
        both = ["double stdout", "double stderr"]
        cases = [
            # name, config, environment, {file: lines}, log lines expected
            ("one file for both, appended", ["stdout {d}\\both.log", "stderr {d}\\both.log"], {},
             {"both.log": ["kept"] + both + ["at unload"]}, []),
            ("a file each", ["stdout {d}\\out.log", "stderr {d}\\err.log"], {},
             {"out.log": ["kept", "double stdout", "at unload"], "err.log": ["kept", "double stderr"]}, []),
            ("the launcher's own C runtime stream", ["stderr {d}\\err.log"], {"NXO_JVM_DOUBLE_THROW": "1"},
             {"err.log": ["kept", "double stderr", 'Exception in thread "main" java/lang/IllegalStateException']},
             ["describe java/lang/IllegalStateException"]),
            ("a command", ['stdout |{sink} "{d}\\piped.log"', 'stderr |{sink} "{d}\\piped.log"'], {},
             {"piped.log": both + ["at unload"]}, []),
            # Only the bridge's lines arrive: the system's handles stay.
            ("the bridge, where the system keeps its handles",
             ["stdout {d}\\out.log", "stderr {d}\\err.log"], {"NXO_TEST_FORCE_OUTPUT_BRIDGE": "1"},
             {"out.log": ["kept", "bridge stdout"], "err.log": ["kept", "bridge stderr"]},
             ["new com/tarnwick/nxo/RedirOutputStream", "new java/io/PrintStream", "setOut",
              "new com/tarnwick/nxo/RedirOutputStream", "new java/io/PrintStream", "setErr", "main"]),
            ("a command that does not exist, a directory",
             ["stdout |Z:\\no\\such\\program.exe", "stderr {d}"], {}, {}, ["main"]),
            # System.exit from the interrupt handler: the exit handlers give
            # the saved handles back before the runtime is unloaded, so what
            # it writes then no longer reaches the file.
            ("teardown at System.exit", ["stdout {d}\\out.log"], {"NXO_JVM_DOUBLE_RAISE": "15"},
             {"out.log": ["kept", "double stdout"]}, ["main", "raise 15", "attach", "system_exit 0", "unload"]),
        ]
        for name, config, env, files, log_lines in cases:
            with self.subTest(name):
                self.out = tempfile.mkdtemp(dir=self.work)
                piped = any("|" in line for line in config)
                if not piped:
                    for file in files:
                        with open(os.path.join(self.out, file), "w") as f:
                            f.write("kept\n")
                lines = [line.format(d=wine.windows_path(self.out), sink=wine.windows_path(SINK))
                         for line in config]
                result, log = self.start(lines, env)
                # An exception out of main ends the run with 1, as with java.
                expected_code = 1 if "NXO_JVM_DOUBLE_THROW" in env else 0
                self.assertEqual(result.returncode, expected_code, (result.stderr, log))
                for file, expected in files.items():
                    path = os.path.join(self.out, file)
                    if piped:
                        wait_for(path)
                    with open(path, newline="") as f:
                        self.assertEqual(f.read().splitlines(), expected)
                self.assertEqual(sorted(os.listdir(self.out)), sorted(["double.log", *files]))
                position = 0
                for line in log_lines:  # in this order, with others between
                    self.assertIn(line, log[position:], log)
                    position = log.index(line, position) + 1
                self.assertFalse([line for line in log if line.startswith(("unexpected", "missing_", "bad_"))], log)

    def test_the_native_is_exported_under_its_name(self):
        result = wine.run(["x86_64-w64-mingw32-objdump", "-p", wine.STUB])
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn(" Java_com_tarnwick_nxo_RedirOutputStream_write\n", result.stdout)


if __name__ == "__main__":
    unittest.main()
