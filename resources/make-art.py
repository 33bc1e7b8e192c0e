#!/usr/bin/env python3
"""Draws the program's icons and its hand cursor (HAND-M.CUR).

The art is plain geometry, so it is kept as this script and its output; run it
again after changing a shape.
"""
import struct
import zlib
from pathlib import Path

HERE = Path(__file__).resolve().parent


def png(path, size, pixels):
    raw = b"".join(b"\x00" + bytes(c for px in pixels[y * size:(y + 1) * size] for c in px)
                   for y in range(size))

    def chunk(tag, data):
        return struct.pack(">I", len(data)) + tag + data + struct.pack(">I", zlib.crc32(tag + data))

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    path.write_bytes(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
                     + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def icon_pixel(u, v, plain):
    """Colour at (u, v) in [0, 1): a dark tile with a rising quote line."""
    r = 0.16
    dx = max(r - u, 0, u - (1 - r))
    dy = max(r - v, 0, v - (1 - r))
    if dx * dx + dy * dy > r * r:
        return None
    colour = (18, 28, 48)
    # Ticker band across the bottom.
    if 0.70 < v < 0.84:
        colour = (232, 180, 40)
        for k in range(4):
            x0 = 0.16 + k * 0.18
            if x0 < u < x0 + 0.11 and 0.74 < v < 0.80:
                colour = (18, 28, 48)
    # Rising line: (0.14,0.58) -> (0.38,0.40) -> (0.56,0.50) -> (0.86,0.18).
    pts = [(0.14, 0.58), (0.38, 0.40), (0.56, 0.50), (0.86, 0.18)]
    width = 0.075 if plain else 0.06
    for (x1, y1), (x2, y2) in zip(pts, pts[1:]):
        t = ((u - x1) * (x2 - x1) + (v - y1) * (y2 - y1)) / ((x2 - x1) ** 2 + (y2 - y1) ** 2)
        t = min(1, max(0, t))
        px, py = x1 + t * (x2 - x1), y1 + t * (y2 - y1)
        if (u - px) ** 2 + (v - py) ** 2 < (width / 2) ** 2:
            colour = (70, 220, 110)
    return colour


def draw_icon(size, plain=False, samples=4):
    pixels = []
    for y in range(size):
        for x in range(size):
            acc = [0, 0, 0, 0]
            for sy in range(samples):
                for sx in range(samples):
                    c = icon_pixel((x + (sx + 0.5) / samples) / size,
                                   (y + (sy + 0.5) / samples) / size, plain)
                    if c:
                        acc[0] += c[0]; acc[1] += c[1]; acc[2] += c[2]; acc[3] += 255
            n = samples * samples
            a = acc[3] // n
            if a == 0:
                pixels.append((0, 0, 0, 0))
            else:
                k = acc[3] / 255
                pixels.append((int(acc[0] / k), int(acc[1] / k), int(acc[2] / k), a))
    return pixels


HAND = """
.....XX.........................
....X..X........................
....X..X........................
....X..X........................
....X..X........................
....X..XXX......................
....X..X..XXX...................
....X..X..X..XX.................
....X..X..X..X.X................
XXX.X..X..X..X..X...............
X..XX........X..X...............
X...X...........X...............
.X..............X...............
..X.............X...............
..X............X................
...X...........X................
...X..........X.................
....X.........X.................
....X.........X.................
....XXXXXXXXXXX.................
"""


def write_cursor(path):
    rows = [r.ljust(32, ".")[:32] for r in HAND.strip("\n").split("\n")]
    rows += ["." * 32] * (32 - len(rows))
    # Fill the inside of the outline white, row by row between outline cells.
    cells = [[0] * 32 for _ in range(32)]  # 0 transparent, 1 black, 2 white
    for y, row in enumerate(rows):
        xs = [x for x, c in enumerate(row) if c == "X"]
        for x in xs:
            cells[y][x] = 1
        if len(xs) >= 2:
            for x in range(xs[0] + 1, xs[-1]):
                if cells[y][x] == 0:
                    cells[y][x] = 2
    # 32-bit BGRA bitmap, bottom-up, followed by a 1-bit AND mask.
    xor = b""
    mask = b""
    for y in reversed(range(32)):
        bits = 0
        for x in range(32):
            c = cells[y][x]
            xor += {0: b"\0\0\0\0", 1: b"\0\0\0\xff", 2: b"\xff\xff\xff\xff"}[c]
            bits = (bits << 1) | (1 if c == 0 else 0)
        mask += struct.pack(">I", bits)
    bih = struct.pack("<IiiHHIIiiII", 40, 32, 64, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    image = bih + xor + mask
    hot_x, hot_y = 5, 0
    header = struct.pack("<HHH", 0, 2, 1)
    entry = struct.pack("<BBBBHHII", 32, 32, 0, 0, hot_x, hot_y, len(image), 6 + 16)
    path.write_bytes(header + entry + image)


if __name__ == "__main__":
    for size in (32, 48, 128, 256):
        png(HERE / "icons" / f"app-{size}.png", size, draw_icon(size, samples=4 if size < 200 else 2))
    png(HERE / "icons" / "design-32.png", 32, draw_icon(32, plain=True))
    write_cursor(HERE / "HAND-M.CUR")
