#!/usr/bin/env python3
"""Draws the player window's ten bitmaps.

Usage: python3 tools/gen/bitmaps/gen_bitmaps.py [ROOT]

Writes ROOT/player/bitmaps/<name>.xbm (X bitmap files, for viewing with
bitmap(1)) and ROOT/player/playerxbms.h (the same data for the window's code).
ROOT defaults to the checkout that holds this script.

Each picture is described below as shapes on a grid of pixel centres: a pixel
is set when its centre (x + 0.5, y + 0.5) lies inside a shape. Set pixels are
drawn in the foreground colour that the window chooses for the bitmap.

  play      32 x 24 (20 rows used)  play face: a right-pointing triangle
  stop      32 x 24 (20 rows used)  stop face: a square
  rewind    32 x 24 (20 rows used)  a bar and two left-pointing triangles
  warp      60 x 10                 the speed scale under the warp pointer:
                                    a base line with eleven ticks (long at
                                    the ends and the middle, 1.0 speed) and a
                                    wedge that widens toward the fast end
  warptr     5 x 9                  the warp pointer, a block with a tip
                                    pointing down at the scale
  speaker    8 x 15                 a speaker: magnet and cone
  big_play  50 x 50                 embedded icon, play face: ring + triangle
  big       50 x 50                 embedded icon, stop face: ring + square
  small_play 27 x 27                the same, small
  small     27 x 27

Nothing here is random: every run writes the same files.
"""

import os
import sys


class Canvas:
    def __init__(self, width, height, used_height=None):
        self.width = width
        self.height = height
        self.used = height if used_height is None else used_height
        self.bits = [[0] * width for _ in range(height)]

    def fill(self, inside):
        """Sets every used pixel whose centre satisfies inside(x, y)."""
        for y in range(self.used):
            for x in range(self.width):
                if inside(x + 0.5, y + 0.5):
                    self.bits[y][x] = 1

    def rect(self, x0, y0, x1, y1):
        """Pixels x0 .. x1 - 1, y0 .. y1 - 1."""
        self.fill(lambda x, y: x0 <= x < x1 and y0 <= y < y1)

    def polygon(self, points):
        """A convex polygon given clockwise or anticlockwise."""
        def inside(x, y):
            sign = 0
            n = len(points)
            for i in range(n):
                ax, ay = points[i]
                bx, by = points[(i + 1) % n]
                cross = (bx - ax) * (y - ay) - (by - ay) * (x - ax)
                if cross != 0:
                    if sign == 0:
                        sign = 1 if cross > 0 else -1
                    elif (cross > 0) != (sign > 0):
                        return False
            return True
        self.fill(inside)

    def ring(self, cx, cy, outer, inner):
        self.fill(lambda x, y: inner ** 2 <= (x - cx) ** 2 + (y - cy) ** 2 <= outer ** 2)


def play_face():
    c = Canvas(32, 24, 20)
    c.polygon([(11, 3), (23, 10), (11, 17)])
    return c


def stop_face():
    c = Canvas(32, 24, 20)
    c.rect(11, 5, 21, 15)
    return c


def rewind_face():
    c = Canvas(32, 24, 20)
    c.rect(7, 4, 9, 16)
    c.polygon([(9, 10), (17, 4), (17, 16)])
    c.polygon([(16, 10), (24, 4), (24, 16)])
    return c


def warp_scale():
    # The pointer's tip (x 2 of its 5 pixels) travels over x 2 .. 57.
    c = Canvas(60, 10)
    c.rect(2, 0, 58, 1)
    for i in range(11):
        x = 2 + round(i * 55 / 10)
        long_tick = i in (0, 5, 10)
        c.rect(x, 0, x + 1, 5 if long_tick else 3)
    c.polygon([(2, 9), (57.5, 5.5), (57.5, 9)])
    return c


def warp_pointer():
    c = Canvas(5, 9)
    c.rect(0, 0, 5, 5)
    c.polygon([(0, 5), (5, 5), (2.5, 9)])
    return c


def speaker():
    c = Canvas(8, 15)
    c.rect(0, 5, 3, 10)
    c.polygon([(3, 5), (8, 0), (8, 15), (3, 10)])
    return c


def icon(size, stop):
    c = Canvas(size, size)
    centre = size / 2
    outer = size / 2 - 1
    c.ring(centre, centre, outer, outer - max(2, size // 12))
    if stop:
        half = size * 0.18
        c.rect(round(centre - half), round(centre - half),
               round(centre + half), round(centre + half))
    else:
        h = size * 0.22
        c.polygon([(centre - h * 0.8, centre - h * 1.15),
                   (centre + h * 1.2, centre),
                   (centre - h * 0.8, centre + h * 1.15)])
    return c


BITMAPS = [
    ("play", play_face),
    ("stop", stop_face),
    ("rewind", rewind_face),
    ("warp", warp_scale),
    ("warptr", warp_pointer),
    ("speaker", speaker),
    ("big_play", lambda: icon(50, False)),
    ("big", lambda: icon(50, True)),
    ("small_play", lambda: icon(27, False)),
    ("small", lambda: icon(27, True)),
]

COMMAND = "python3 tools/gen/bitmaps/gen_bitmaps.py"


def xbm_bytes(canvas):
    """Rows padded to whole bytes, least significant bit first."""
    out = []
    for row in canvas.bits:
        for start in range(0, canvas.width, 8):
            byte = 0
            for bit in range(8):
                x = start + bit
                if x < canvas.width and row[x]:
                    byte |= 1 << bit
            out.append(byte)
    return out


def byte_lines(data, indent):
    lines = []
    for i in range(0, len(data), 12):
        chunk = ", ".join("0x%02x" % b for b in data[i:i + 12])
        lines.append(indent + chunk + ("," if i + 12 < len(data) else ""))
    return "\n".join(lines)


def xbm_file(name, canvas):
    return ("#define %s_width %d\n#define %s_height %d\n"
            "static unsigned char %s_bits[] = {\n%s};\n"
            % (name, canvas.width, name, canvas.height, name,
               byte_lines(xbm_bytes(canvas), "   ")))


def header(canvases):
    parts = [
        "// Generated by %s; do not edit." % COMMAND,
        "// The player window's bitmaps as X bitmap data: rows padded to whole",
        "// bytes, least significant bit first; a set bit is the foreground.",
        "#ifndef ZEF_PLAYER_PLAYERXBMS_H",
        "#define ZEF_PLAYER_PLAYERXBMS_H",
        "",
    ]
    for name, canvas in canvases:
        parts.append("constexpr unsigned %s_width = %d;" % (name, canvas.width))
        parts.append("constexpr unsigned %s_height = %d;" % (name, canvas.height))
        parts.append("static const unsigned char %s_bits[] = {" % name)
        parts.append(byte_lines(xbm_bytes(canvas), "    "))
        parts.append("};")
        parts.append("")
    parts.append("#endif")
    return "\n".join(parts) + "\n"


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "..", "..")
    canvases = [(name, make()) for name, make in BITMAPS]
    bitmap_dir = os.path.join(root, "player", "bitmaps")
    os.makedirs(bitmap_dir, exist_ok=True)
    for name, canvas in canvases:
        with open(os.path.join(bitmap_dir, name + ".xbm"), "w") as f:
            f.write(xbm_file(name, canvas))
    with open(os.path.join(root, "player", "playerxbms.h"), "w") as f:
        f.write(header(canvases))


if __name__ == "__main__":
    main()
