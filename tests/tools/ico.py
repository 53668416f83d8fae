"""Small .ico files for the resource tests: a 16x16 32-bit bitmap image and a
32x32 PNG image, each of one solid colour."""
import struct
import zlib


def png(size, rgba):
    raw = b"".join(b"\0" + bytes(rgba) * size for _ in range(size))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


def dib(size, bgra):
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0, 0, 0, 0, 0, 0)
    mask_row = ((size + 31) // 32) * 4
    return header + bytes(bgra) * size * size + bytes(mask_row * size)


def icon_bytes():
    """The icon file's bytes and its images (what RT_ICON entries must hold)."""
    images = [(16, dib(16, (0, 160, 0, 255))), (32, png(32, (200, 0, 0, 255)))]
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    data = b""
    for size, image in images:
        directory += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(image), offset + len(data))
        data += image
    return directory + data, [image for _, image in images]


def write_icon(path):
    data, images = icon_bytes()
    with open(path, "wb") as f:
        f.write(data)
    return images
