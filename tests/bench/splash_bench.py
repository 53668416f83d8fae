#!/usr/bin/env python3
"""How soon the splash shows (run by hand, after scripts/build.sh, on an X
display): the time from starting a packed Swing application to the first
splash pixel at the screen centre, against the time to the first pixel of
the application's own window when there is no splash.

Three ways, runs alternating, medians reported:
  native   the launcher's own X11 window (a runtime without
           libsplashscreen.so: only lib/server/libjvm.so, linked to the JDK's)
  runtime  the JDK's libsplashscreen.so through the runtime bridge
  window   no splash: the application's first window

The centre pixel is read with XGetImage in a loop (about a millisecond a
look), so the figures are process start to pixel, not to a screenshot.

Usage: DISPLAY=:N tests/bench/splash_bench.py [ROUNDS]"""
import ctypes
import os
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import time
import zlib

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
NXO = os.path.join(ROOT, "dist", "nxo")
JDK = "/usr/lib/jvm/java-17-openjdk-amd64"
ROUNDS = int(sys.argv[1]) if len(sys.argv) > 1 else 7
RED = (200, 30, 40)
GREEN = (30, 160, 60)

APP = """package app;
import java.awt.Color;
import javax.swing.*;
public class Bench {
    public static void main(String[] args) throws Exception {
        SwingUtilities.invokeAndWait(() -> {
            JFrame frame = new JFrame("bench");
            frame.setUndecorated(true);
            JPanel panel = new JPanel();
            panel.setBackground(new Color(30, 160, 60));
            frame.setContentPane(panel);
            frame.setSize(300, 200);
            frame.setLocationRelativeTo(null);
            frame.setVisible(true);
        });
        Thread.sleep(300);
        System.exit(0);
    }
}
"""


class XImage(ctypes.Structure):
    _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int), ("xoffset", ctypes.c_int),
                ("format", ctypes.c_int), ("data", ctypes.POINTER(ctypes.c_ubyte))]


class CentrePixel:
    def __init__(self):
        self.x = ctypes.CDLL("libX11.so.6")
        self.x.XOpenDisplay.restype = ctypes.c_void_p
        self.x.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self.x.XDefaultRootWindow.restype = ctypes.c_ulong
        self.x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        self.x.XGetImage.restype = ctypes.POINTER(XImage)
        self.x.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
                                     ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
        self.x.XFree.argtypes = [ctypes.c_void_p]
        self.display = self.x.XOpenDisplay(None)
        if not self.display:
            raise SystemExit("no X display (set DISPLAY)")
        self.root = self.x.XDefaultRootWindow(self.display)
        self.x.XDisplayWidth.argtypes = self.x.XDisplayHeight.argtypes = [ctypes.c_void_p, ctypes.c_int]
        self.cx = self.x.XDisplayWidth(self.display, 0) // 2
        self.cy = self.x.XDisplayHeight(self.display, 0) // 2

    def colour(self):
        image = self.x.XGetImage(self.display, self.root, self.cx, self.cy, 1, 1, 0xFFFFFFFF, 2)
        b, g, r = image.contents.data[0], image.contents.data[1], image.contents.data[2]
        self.x.XFree(ctypes.cast(image.contents.data, ctypes.c_void_p))
        self.x.XFree(ctypes.cast(image, ctypes.c_void_p))
        return (r, g, b)


def write_png(path, width, height, colour):
    raw = b"".join(b"\0" + bytes(colour) * width for _ in range(height))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
                + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


def time_to(pixel, exe, java_home, wanted):
    """Seconds from the process's start to |wanted| at the centre."""
    while pixel.colour() in (RED, GREEN):  # the previous run's windows are gone
        time.sleep(0.05)
    env = dict(os.environ, JAVA_HOME=java_home)
    start = time.perf_counter()
    process = subprocess.Popen([exe], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env)
    seen = None
    while seen is None and time.perf_counter() - start < 30:
        if pixel.colour() == wanted:
            seen = time.perf_counter() - start
    process.wait(timeout=60)
    if seen is None:
        raise SystemExit(f"{exe}: the centre never showed {wanted}")
    return seen


def main():
    pixel = CentrePixel()
    work = tempfile.mkdtemp(prefix="nxo-splash-bench-")
    try:
        os.makedirs(os.path.join(work, "src", "app"))
        with open(os.path.join(work, "src", "app", "Bench.java"), "w") as f:
            f.write(APP)
        subprocess.run(["javac", "--release", "8", "-d", os.path.join(work, "classes"),
                        os.path.join(work, "src", "app", "Bench.java")], check=True)
        jar = os.path.join(work, "app.jar")
        subprocess.run(["jar", "--create", "--file", jar, "-C", os.path.join(work, "classes"), "."], check=True)
        picture = os.path.join(work, "splash.png")
        write_png(picture, 300, 200, RED)
        trimmed = os.path.join(work, "trimmed")
        os.makedirs(os.path.join(trimmed, "lib", "server"))
        os.symlink(os.path.join(JDK, "lib", "server", "libjvm.so"), os.path.join(trimmed, "lib", "server", "libjvm.so"))
        with_splash = os.path.join(work, "with-splash")
        without = os.path.join(work, "without")
        for exe, options in ((with_splash, ["--splash", picture]), (without, [])):
            subprocess.run([NXO, "pack", "--target", "linux", "--main-class", "app.Bench", "--set", "jre_order=e",
                            *options, "-o", exe, jar], check=True)
        cases = [("native splash, first splash pixel", with_splash, trimmed, RED),
                 ("runtime splash, first splash pixel", with_splash, JDK, RED),
                 ("no splash, first window pixel", without, JDK, GREEN)]
        times = {name: [] for name, _, _, _ in cases}
        for _ in range(ROUNDS):
            for name, exe, home, wanted in cases:
                times[name].append(time_to(pixel, exe, home, wanted))
        for name, values in times.items():
            print(f"{name:40s} median {statistics.median(values) * 1000:7.1f} ms"
                  f"  (min {min(values) * 1000:.1f}, max {max(values) * 1000:.1f}, {len(values)} runs)")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
