"""What a person would see on the X display: screenshots taken with xwd and
read here (32-bit TrueColor screens, as Xvfb gives), windows found with
xwininfo, and input sent with xdotool."""
import re
import struct
import subprocess
import time


class Shot:
    """One screenshot of the whole screen."""

    def __init__(self, data):
        fields = struct.unpack(">25I", data[:100])
        header_size, self.width, self.height = fields[0], fields[4], fields[5]
        byte_order, bits_per_pixel, self.stride = fields[7], fields[11], fields[12]
        self.masks = fields[14:17]
        colours = fields[19]
        if bits_per_pixel not in (24, 32):
            raise ValueError("screenshots need a 24- or 32-bit screen, not %d bits" % bits_per_pixel)
        self.bytes_per_pixel = bits_per_pixel // 8
        self.order = "<" if byte_order == 0 else ">"
        self.pixels = data[header_size + 12 * colours:]

    def rgb(self, x, y):
        at = y * self.stride + x * self.bytes_per_pixel
        value = int.from_bytes(self.pixels[at:at + self.bytes_per_pixel],
                               "little" if self.order == "<" else "big")
        out = []
        for mask in self.masks:
            shift = (mask & -mask).bit_length() - 1
            out.append((value & mask) >> shift)
        return tuple(out)

    def _pattern(self, colour):
        value = 0
        for component, mask in zip(colour, self.masks):
            shift = (mask & -mask).bit_length() - 1
            value |= component << shift
        packed = struct.pack(self.order + "I", value)
        return packed[:3] if self.order == "<" else packed[1:]

    def _aligned(self, row, pattern, first):
        """The first (or last) pixel of |row| whose colour bytes are
        |pattern|, or None."""
        size = self.bytes_per_pixel
        start = row * self.stride
        end = start + self.width * size
        # In a 32-bit pixel the colour bytes follow the pad byte when the
        # order is most significant first.
        offset = 1 if self.order == ">" and size == 4 else 0
        at = self.pixels.find(pattern, start, end) if first else self.pixels.rfind(pattern, start, end)
        while at >= 0 and (at - start - offset) % size != 0:
            at = self.pixels.find(pattern, at + 1, end) if first else self.pixels.rfind(pattern, start, at + 2)
        return None if at < 0 else (at - start - offset) // size

    def box_of(self, colour):
        """The bounding box (left, top, right, bottom exclusive) of the pixels
        of exactly |colour|; None when there are none."""
        pattern = self._pattern(colour)
        left = right = top = bottom = None
        for row in range(self.height):
            first = self._aligned(row, pattern, True)
            if first is None:
                continue
            last = self._aligned(row, pattern, False)
            top = row if top is None else top
            bottom = row + 1
            left = first if left is None else min(left, first)
            right = last + 1 if right is None else max(right, last + 1)
        return None if top is None else (left, top, right, bottom)

    def shows(self, colour, x, y, tolerance=24):
        return all(abs(a - b) <= tolerance for a, b in zip(self.rgb(x, y), colour))


def capture(display):
    # xwd walks the windows on the screen too; one that goes away meanwhile
    # (a closing splash) fails that take, so it is taken again.
    for attempt in range(5):
        result = subprocess.run(["xwd", "-root", "-silent", "-display", display],
                                capture_output=True, timeout=30)
        if result.returncode == 0:
            return Shot(result.stdout)
        time.sleep(0.05)
    raise RuntimeError("xwd failed: %s" % result.stderr.decode(errors="replace"))


def screen_size(display):
    shot = capture(display)
    return shot.width, shot.height


def wait_until(condition, timeout, step=0.1):
    """Polls |condition| until it is true or |timeout| seconds have passed;
    returns its last value."""
    end = time.monotonic() + timeout
    while True:
        value = condition()
        if value or time.monotonic() >= end:
            return value
        time.sleep(step)


def top_windows(display):
    """The root's children that are mapped: (id, x, y, width, height, name)."""
    out = subprocess.run(["xwininfo", "-root", "-children", "-display", display],
                         capture_output=True, text=True, timeout=30).stdout
    windows = []
    for line in out.splitlines():
        m = re.match(r'\s+(0x[0-9a-f]+) (\(has no name\)|"(.*)"): .*\s(\d+)x(\d+)\+(-?\d+)\+(-?\d+)\s+\+(-?\d+)\+(-?\d+)', line)
        if m:
            windows.append((m.group(1), int(m.group(8)), int(m.group(9)), int(m.group(4)),
                            int(m.group(5)), m.group(3)))
    return windows


def window_info(display, window):
    return subprocess.run(["xwininfo", "-id", window, "-display", display],
                          capture_output=True, text=True, timeout=30).stdout


def window_property(display, window, name):
    return subprocess.run(["xprop", "-display", display, "-id", window, name],
                          capture_output=True, text=True, timeout=30).stdout


def press_key(display, window, name):
    """Sends a key press to |window| (only the press: a window that closes on
    it is gone before a release could reach it)."""
    subprocess.run(["xdotool", "keydown", "--window", str(int(window, 16)), name],
                   env={"DISPLAY": display}, check=True, timeout=30)


def click(display, x, y):
    subprocess.run(["xdotool", "mousemove", str(x), str(y), "click", "1"],
                   env={"DISPLAY": display}, check=True, timeout=30)
