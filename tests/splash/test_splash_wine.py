#!/usr/bin/env python3
"""The splash of the 64-bit Windows launcher under Wine, on the JVM double:
the launcher's own window from bitmap resource 100 (screenshot, size,
position, styles, input), its close timer after JVM creation, an error box
owned by it, and the runtime splash bridge against a splashscreen.dll double
that records its calls in the JVM double's log.

splash_probe reports the window as Windows sees it; the screenshots are of
the X display that Wine draws on. Timings are loose."""
import os
import queue
import shutil
import struct
import subprocess
import sys
import threading
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "launcher"))
import screen  # noqa: E402
import test_launch_wine as wine  # noqa: E402
from test_splash_linux import write_png  # noqa: E402

BUILD = os.path.join(wine.ROOT, "build", "win64-test")
DOUBLES = os.path.join(BUILD, "tests", "runtime", "jvm_double")
PROBE = os.environ.get("NXO_SPLASH_PROBE", os.path.join(BUILD, "tests", "splash", "splash_probe.exe"))
CLIENT = os.environ.get("NXO_JVM_DOUBLE_CLIENT", os.path.join(DOUBLES, "client", "jvm.dll"))
COMPANION = os.environ.get("NXO_JVM_COMPANION", os.path.join(DOUBLES, "companion", "nxo_jvm_companion.dll"))
SPLASH_DOUBLE = os.environ.get("NXO_SPLASH_DOUBLE", os.path.join(DOUBLES, "splash", "splashscreen.dll"))
RED = (200, 30, 40)
SIZE = (300, 200)
WS_POPUP, WS_VISIBLE, WS_CAPTION, WS_EX_TOOLWINDOW = 0x80000000, 0x10000000, 0x00C00000, 0x80


def write_bmp(path, width, height, colour):
    stride = (width * 3 + 3) & ~3
    row = bytes((colour[2], colour[1], colour[0])) * width + b"\0" * (stride - width * 3)
    pixels = row * height
    header = struct.pack("<2sIHHI", b"BM", 54 + len(pixels), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + pixels)


class Probe:
    """splash_probe running beside a program: its lines as they come."""

    def __init__(self, env, seconds=60):
        self.process = subprocess.Popen([wine.WINE_RUN, PROBE, str(seconds)], stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True,
                                        env=env)
        self.lines = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.process.stdout:
            self.lines.put(line.rstrip("\n"))
        self.lines.put(None)

    def next(self, timeout=60):
        try:
            return self.lines.get(timeout=timeout)
        except queue.Empty:
            return None

    def shown(self):
        """The splash as the probe saw it, and the screen size."""
        line = self.next()
        assert line and line.startswith("shown "), line
        fields = dict(part.split("=", 1) for part in line[len("shown "):].split(" ", 6))
        screen_line = self.next()
        size = dict(part.split("=") for part in screen_line.split(" ")[1:])
        return fields, (int(size["width"]), int(size["height"]))

    def finish(self):
        try:
            self.process.stdin.close()
        except OSError:
            pass
        try:
            self.process.wait(timeout=60)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()


class SplashUnderWine(wine.WineSession):
    @classmethod
    def setUpClass(cls):
        cls.start_session("nxo splash wine ", keep_session=True)
        cls.bmp = os.path.join(cls.work, "red.bmp")
        write_bmp(cls.bmp, SIZE[0], SIZE[1], RED)
        cls.png = os.path.join(cls.work, "red.png")
        write_png(cls.png, SIZE[0], SIZE[1], RED)
        # A runtime whose jvm.dll sits in bin\client, with the splash library
        # in bin\, where "<jvm.dll's directory>../splashscreen.dll" finds it.
        runtime = os.path.join(cls.work, "runtime")
        os.makedirs(os.path.join(runtime, "bin", "client"))
        shutil.copy(CLIENT, os.path.join(runtime, "bin", "client", "jvm.dll"))
        shutil.copy(COMPANION, os.path.join(runtime, "bin"))
        shutil.copy(SPLASH_DOUBLE, os.path.join(runtime, "bin", "splashscreen.dll"))
        cls.runtime_jvm = os.path.join(runtime, "bin", "client", "jvm.dll")
        plain = ["jre_order c", "jvmdll " + wine.windows_path(wine.DOUBLE["full"])]
        with_library = ["jre_order c", "jvmdll " + wine.windows_path(cls.runtime_jvm)]
        cls.native = cls.pack("native", plain, "--splash", cls.bmp)
        cls.titled = cls.pack("titled", plain + ["splashtitle Starting Nxo"], "--splash", cls.bmp)
        cls.native_png = cls.pack("native-png", plain, "--splash", cls.png)
        cls.bridge = cls.pack("bridge", with_library, "--splash", cls.png)
        cls.bridge_bare = cls.pack("bridge-bare", with_library)

    @classmethod
    def pack(cls, name, lines, *options):
        directory = os.path.join(cls.work, name)
        os.makedirs(directory)
        exe = os.path.join(directory, name + ".exe")
        config = os.path.join(cls.work, name + ".cfg")
        with open(config, "w") as f:
            f.write("\n".join(lines) + "\n")
        result = wine.run([wine.NXO, "pack", "--target", os.environ.get("NXO_WIN_TARGET", "win64"), "--stub", wine.STUB, "--support", cls.jar,
                           "--no-check", "--main-class", "app.Main", "--config", config, *options,
                           "-o", exe, cls.jar])
        assert result.returncode == 0, result.stderr
        return exe

    def log_env(self, **extra):
        self.log_path = os.path.join(self.work, "double.log")
        if os.path.exists(self.log_path):
            os.remove(self.log_path)
        values = {"NXO_JVM_DOUBLE_LOG": wine.windows_path(self.log_path)}
        values.update(extra)
        return self.environment(values)

    def log(self):
        if not os.path.exists(self.log_path):
            return []
        with open(self.log_path, encoding="utf-8") as f:
            return f.read().splitlines()

    def start_with_probe(self, exe, external=(), **env):
        with open(exe + ".cfg", "w") as f:
            f.write("\n".join(external) + "\n")
        environment = self.log_env(**env)
        probe = Probe(environment)
        self.addCleanup(probe.finish)
        app = subprocess.Popen([wine.WINE_RUN, exe], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                               env=environment)

        def end():
            try:
                app.wait(timeout=60)
            except subprocess.TimeoutExpired:
                app.kill()
                app.wait()
        self.addCleanup(end)
        return probe, app

    @staticmethod
    def stop(app):
        # wine-run execs Wine, so this ends the Windows process itself.
        app.kill()
        app.wait(timeout=60)
        time.sleep(0.5)  # the Wine server takes its windows away

    def centred(self, screen_size):
        return ((screen_size[0] - SIZE[0]) // 2, (screen_size[1] - SIZE[1]) // 2)

    # ---- the launcher's own window ------------------------------------------

    def test_native_window_from_bitmap_resource_100(self):
        cases = ((self.native, ""), (self.titled, "Starting Nxo"), (self.native_png, ""))
        for exe, title in cases:
            with self.subTest(exe=os.path.basename(exe)):
                # The 30 s delay of splashcloseonwindow leaves time to look
                # (the double has no toolkit, so no listener is installed).
                probe, app = self.start_with_probe(exe, ["splashcloseonwindow true"],
                                                   NXO_JVM_DOUBLE_MAIN_WAIT="20000")
                try:
                    self.check_native_window(probe, app, title)
                finally:
                    self.stop(app)
                    probe.finish()

    def check_native_window(self, probe, app, title):
        fields, screen_size = probe.shown()
        left, top = self.centred(screen_size)
        self.assertEqual((int(fields["x"]), int(fields["y"]), int(fields["width"]),
                          int(fields["height"])), (left, top) + SIZE)
        style, exstyle = int(fields["style"], 16), int(fields["exstyle"], 16)
        self.assertEqual(style & (WS_POPUP | WS_VISIBLE | WS_CAPTION), WS_POPUP | WS_VISIBLE)
        self.assertEqual(bool(exstyle & WS_EX_TOOLWINDOW), not title)
        self.assertEqual(fields["title"], title)
        # Wine puts the picture on the X screen a moment after the window shows.
        expected = (left, top, left + SIZE[0], top + SIZE[1])
        self.assertTrue(screen.wait_until(
            lambda: screen.capture(self.display.name).box_of(RED) == expected, 5.0),
            screen.capture(self.display.name).box_of(RED))
        # A click neither closes nor moves it; a key press closes it.
        screen.click(self.display.name, left + SIZE[0] // 2, top + SIZE[1] // 2)
        self.assertIsNone(probe.next(timeout=1.0), "a click closed the splash")
        subprocess.run(["xdotool", "key", "space"], env={"DISPLAY": self.display.name},
                       check=True, timeout=30)
        self.assertEqual(probe.next(timeout=10), "gone")
        self.assertIsNone(app.poll(), "the application ended with its splash")

    def test_close_timer_after_jvm_creation(self):
        probe, app = self.start_with_probe(self.native, NXO_JVM_DOUBLE_MAIN_WAIT="12000")
        probe.shown()
        shown = time.monotonic()
        self.assertEqual(probe.next(timeout=10), "gone")
        self.assertGreater(time.monotonic() - shown, 0.5)
        self.assertIsNone(app.poll(), "the splash went only with the process")
        self.assertIn("main", self.log())  # the JVM exists and main runs
        self.stop(app)

    def test_error_box_is_owned_by_the_splash(self):
        with open(self.native + ".cfg", "w") as f:
            f.write("\n")
        environment = self.log_env(NXO_JVM_DOUBLE_NO_LAUNCHER="1")
        probe = Probe(environment)
        self.addCleanup(probe.finish)
        started, boxes, report = wine.watched([wine.WINE_RUN, self.native], self.native, environment)
        self.assertEqual(started.returncode, 7, report)
        self.assertEqual(len(boxes), 1, report)
        self.assertEqual(boxes[0]["owner"], "NXOSPLASH")
        probe.shown()
        self.assertEqual(probe.next(timeout=10), "gone")

    # ---- the runtime's splash library --------------------------------------------

    def run_bridge(self, exe, external=()):
        with open(exe + ".cfg", "w") as f:
            f.write("\n".join(external) + "\n")
        environment = self.log_env()
        probe = Probe(environment)
        self.addCleanup(probe.finish)
        started, boxes, report = wine.watched([wine.WINE_RUN, exe], exe, environment)
        self.assertEqual((started.returncode, boxes), (0, []), report)
        probe.finish()
        self.assertEqual(probe.next(timeout=10), "none", "the launcher's own window showed as well")
        log = self.log()
        create = [i for i, line in enumerate(log) if line.startswith("create ")]
        self.assertEqual(len(create), 1, log)
        return log[:create[0]]

    def test_runtime_splash_library_gets_the_resource_image(self):
        size = os.path.getsize(self.png)
        self.assertEqual(self.run_bridge(self.bridge),
                         ["splash_init jvm_loaded=1", f"splash_load_memory size={size} head=89504E47"])

    def test_runtime_splash_library_gets_the_configured_file(self):
        directory = os.path.dirname(self.bridge)
        shutil.copy(self.png, os.path.join(directory, "picture.png"))
        self.assertEqual(self.run_bridge(self.bridge, ["splash picture.png"]),
                         ["splash_init jvm_loaded=1",
                          "splash_load_file " + wine.windows_path(os.path.join(directory, "picture.png"))])
        # A file that is not there gives way to the resource image.
        size = os.path.getsize(self.png)
        self.assertEqual(self.run_bridge(self.bridge, ["splash missing.png"]),
                         ["splash_init jvm_loaded=1", f"splash_load_memory size={size} head=89504E47"])

    def test_runtime_splash_library_without_an_image_shows_nothing(self):
        self.assertEqual(self.run_bridge(self.bridge_bare), [])


if __name__ == "__main__":
    unittest.main()
