#!/usr/bin/env python3
"""The splash on Linux, on a real X display, judged by screenshots: the
launcher's own X11 window (for a runtime without the splash library, here a
runtime whose lib/ holds only libjvm.so) and the JDK's libsplashscreen.so
through the runtime bridge, driven by a real Swing application packed with
dist/nxo and started through the Linux stub on the installed JDK 17.

Timings are loose: a splash must still show at a moment well before its
delay and be gone well after it."""
import os
import queue
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import zlib
import struct

sys.path.insert(0, os.path.dirname(__file__))
import screen  # noqa: E402

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
NXO = os.environ.get("NXO", os.path.join(ROOT, "dist", "nxo"))
JDK = os.environ.get("NXO_TEST_JDK", "/usr/lib/jvm/java-17-openjdk-amd64")
DISPLAY = os.environ.get("DISPLAY", "")
RED = (200, 30, 40)
SIZE = (300, 200)


def write_png(path, width, height, colour):
    raw = b"".join(b"\0" + bytes(colour) * width for _ in range(height))

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
                + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


class Running:
    """A started application that answers the commands of app.SplashApp."""

    def __init__(self, exe, java_home, check_jni=False, external=()):
        with open(exe + ".cfg", "w") as f:
            f.write("\n".join(list(external) + (["option -Xcheck:jni"] if check_jni else [])) + "\n")
        env = dict(os.environ, JAVA_HOME=java_home, DISPLAY=DISPLAY)
        env.pop("JRE_HOME", None)
        self.started = time.monotonic()
        self.process = subprocess.Popen([exe], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE, text=True, env=env)
        self.lines = queue.Queue()
        self.errors = []
        threading.Thread(target=self._read, args=(self.process.stdout, self.lines.put), daemon=True).start()
        threading.Thread(target=self._read, args=(self.process.stderr, self.errors.append), daemon=True).start()

    @staticmethod
    def _read(stream, sink):
        for line in stream:
            sink(line.rstrip("\n"))

    def answer(self, timeout=60):
        try:
            return self.lines.get(timeout=timeout)
        except queue.Empty:
            raise AssertionError("no answer; stderr: %s" % "\n".join(self.errors))

    def ask(self, command):
        self.process.stdin.write(command + "\n")
        self.process.stdin.flush()
        return self.answer()

    def finish(self):
        try:
            self.process.stdin.write("exit\n")
            self.process.stdin.flush()
        except (BrokenPipeError, OSError):
            pass
        try:
            self.process.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        time.sleep(0.1)  # the reader threads take the last lines
        return "\n".join(self.errors)


@unittest.skipUnless(DISPLAY, "needs an X display")
class SplashOnLinux(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="nxo-splash-")
        support = os.path.join(ROOT, "dist", "lib", "nxo-support.jar")
        classes = os.path.join(cls.work, "classes")
        source = os.path.join(os.path.dirname(__file__), "app", "app", "SplashApp.java")
        subprocess.run(["javac", "--release", "8", "-cp", support, "-d", classes, source],
                       check=True, capture_output=True, timeout=120)
        cls.jar = os.path.join(cls.work, "app.jar")
        subprocess.run(["jar", "--create", "--file", cls.jar, "-C", classes, "."], check=True, timeout=120)
        cls.picture = os.path.join(cls.work, "red.png")
        write_png(cls.picture, SIZE[0], SIZE[1], RED)
        # A runtime without the splash library, as a trimmed application
        # image may be: only lib/server/libjvm.so (a link to the JDK's, which
        # finds the rest of the JDK through its real path).
        cls.trimmed = os.path.join(cls.work, "trimmed")
        os.makedirs(os.path.join(cls.trimmed, "lib", "server"))
        os.symlink(os.path.join(JDK, "lib", "server", "libjvm.so"),
                   os.path.join(cls.trimmed, "lib", "server", "libjvm.so"))
        cls.with_splash = cls.pack("with-splash", "--splash", cls.picture)
        cls.titled = cls.pack("titled", "--splash", cls.picture, "--set", "splashtitle=Starting Nxo")
        cls.without = cls.pack("without")
        cls.width, cls.height = screen.screen_size(DISPLAY)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    @classmethod
    def pack(cls, name, *options):
        exe = os.path.join(cls.work, name, name)
        os.makedirs(os.path.dirname(exe))
        subprocess.run([NXO, "pack", "--target", "linux", "--main-class", "app.SplashApp",
                        "--set", "jre_order=e", *options, "-o", exe, cls.jar],
                       check=True, capture_output=True, timeout=120)
        return exe

    def start(self, exe, java_home=None, **kwargs):
        app = Running(exe, java_home or self.trimmed, **kwargs)
        self.addCleanup(app.finish)
        self.assertEqual(app.answer(), "main")
        return app

    def splash_box(self):
        return screen.capture(DISPLAY).box_of(RED)

    def centred_box(self, size=SIZE):
        left = (self.width - size[0]) // 2
        top = (self.height - size[1]) // 2
        return (left, top, left + size[0], top + size[1])

    def wait_gone(self, timeout):
        return screen.wait_until(lambda: self.splash_box() is None, timeout)

    def splash_window(self):
        left, top, _, _ = self.centred_box()
        for window in screen.top_windows(DISPLAY):
            if window[1:5] == (left, top, SIZE[0], SIZE[1]):
                return window
        return None

    def assert_clean(self, app, check_jni):
        errors = app.finish()
        if check_jni:
            self.assertNotIn("WARNING", errors)
            self.assertNotIn("FATAL ERROR", errors)

    # ---- the launcher's own window -------------------------------------

    def test_native_window_shows_centred_and_closes_on_a_key_not_a_click(self):
        for exe, titled in ((self.with_splash, False), (self.titled, True)):
            with self.subTest(titled=titled):
                app = self.start(exe)
                # autoClose(-1) cancels the launcher's close: the splash is
                # still up well past the 1750 ms after JVM creation.
                self.assertEqual(app.ask("autoClose -1"), "done")
                time.sleep(2.5)
                self.assertEqual(self.splash_box(), self.centred_box())
                window = self.splash_window()
                self.assertIsNotNone(window)
                info = screen.window_info(DISPLAY, window[0])
                kind = screen.window_property(DISPLAY, window[0], "_NET_WM_WINDOW_TYPE")
                if titled:
                    self.assertIn("Override Redirect State: no", info)
                    self.assertEqual(window[5], "Starting Nxo")
                    self.assertIn("_NET_WM_WINDOW_TYPE_NORMAL", kind)
                else:
                    self.assertIn("Override Redirect State: yes", info)
                    self.assertIn("_NET_WM_WINDOW_TYPE_SPLASH", kind)
                screen.click(DISPLAY, self.width // 2, self.height // 2)
                time.sleep(1.0)
                self.assertEqual(self.splash_box(), self.centred_box(), "a click closed the splash")
                screen.press_key(DISPLAY, window[0], "space")
                self.assertTrue(self.wait_gone(5), "a key press left the splash up")
                self.assertEqual(app.ask("get"), "get present=true same=true jdk=false")
                self.assert_clean(app, False)

    def test_get_splash_screen_and_auto_close(self):
        """getSplashScreen gives one object, or null without a splash;
        autoClose(0) closes at once, and the launcher's delays no longer
        apply once the application took the closing over."""
        for check_jni in (False, True):
            with self.subTest(check_jni=check_jni):
                app = self.start(self.without, check_jni=check_jni)
                self.assertEqual(app.ask("get"), "get present=false same=true jdk=false")
                self.assert_clean(app, check_jni)

                app = self.start(self.with_splash, check_jni=check_jni)
                self.assertEqual(app.ask("get"), "get present=true same=true jdk=false")
                self.assertIsNotNone(self.splash_box())
                app.ask("autoClose 0")
                self.assertTrue(self.wait_gone(1.5), "autoClose(0) left the splash up")
                self.assert_clean(app, check_jni)

                # A delay of 4 s set by the application outlives the 750 ms
                # the launcher would give after main returns.
                app = self.start(self.with_splash, check_jni=check_jni)
                asked = time.monotonic()
                app.ask("autoClose 4000")
                self.assertEqual(app.ask("return"), "returned")
                time.sleep(max(0.0, asked + 2.0 - time.monotonic()))
                self.assertEqual(self.splash_box(), self.centred_box(),
                                 "the launcher closed a splash the application took over")
                self.assertTrue(self.wait_gone(asked + 7.0 - time.monotonic()),
                                "autoClose(4000) left the splash up")
                self.assert_clean(app, check_jni)

    def test_launcher_delay_closes_the_splash_while_the_application_runs(self):
        app = self.start(self.with_splash)
        self.assertTrue(self.wait_gone(6.0), "the 1750 ms close after JVM creation never came")
        self.assertIsNone(app.process.poll())
        self.assert_clean(app, False)

    def test_close_on_window_keeps_the_splash_until_the_first_window(self):
        for check_jni in (False, True):
            with self.subTest(check_jni=check_jni):
                app = self.start(self.with_splash, check_jni=check_jni,
                                 external=["splashcloseonwindow TRUE"])
                time.sleep(3.0)  # past the 1750 ms the launcher gives otherwise
                self.assertEqual(self.splash_box(), self.centred_box())
                self.assertEqual(app.ask("window"), "window")
                self.assertTrue(self.wait_gone(3.0), "the application's window left the splash up")
                self.assert_clean(app, check_jni)

    # ---- the runtime's splash library ------------------------------------

    def test_runtime_splash_library_shows_the_packed_image(self):
        for check_jni in (False, True):
            with self.subTest(check_jni=check_jni):
                app = self.start(self.with_splash, java_home=JDK, check_jni=check_jni)
                self.assertEqual(self.splash_box(), self.centred_box())
                self.assertEqual(app.ask("get"), "get present=true same=true jdk=true")
                self.assertEqual(app.ask("close"), "done")
                self.assertTrue(self.wait_gone(3.0))
                self.assert_clean(app, check_jni)


if __name__ == "__main__":
    unittest.main()
