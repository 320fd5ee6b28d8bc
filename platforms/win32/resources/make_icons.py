#!/usr/bin/env python3
"""Draw kx4's four executable icons and write them as single-image .ico files.

    make_icons.py OUTDIR [--png]

Each file holds one 32-bit BGRA image stored as a DIB with its AND mask,
the form every Windows version can read. The artwork is a white power mark
on a blue tile; the state icons add a badge in the lower right corner.
Shapes are signed distance fields sampled on a 4x4 grid per pixel, using
only +, *, / and sqrt, so the output is the same byte for byte everywhere.
--png also writes a PNG of each icon next to it, to look at the artwork.
"""

import math
import os
import struct
import sys
import zlib

# (file name, edge in pixels, badge); the order is the icon group order 1..4.
ICONS = (
    ("kx4.ico", 32, None),
    ("kx4-large.ico", 48, None),
    ("kx4-running.ico", 48, "ok"),
    ("kx4-warning.ico", 48, "warning"),
)

SUB = 4  # samples per pixel along each axis

TILE_TOP = (0.24, 0.55, 0.93)
TILE_BOTTOM = (0.09, 0.30, 0.66)
TILE_EDGE = (0.05, 0.18, 0.42)
MARK = (1.0, 1.0, 1.0)
OK_FILL = (0.16, 0.68, 0.29)
OK_EDGE = (0.07, 0.40, 0.15)
WARN_FILL = (1.0, 0.74, 0.05)
WARN_EDGE = (0.62, 0.40, 0.0)
WARN_INK = (0.20, 0.13, 0.0)

# Unit direction of the ring's open end, 140 degrees away from straight
# down: (sin 140, cos 140). Literal so that no libm rounding enters.
RING_END = (0.6427876096865394, -0.7660444431189780)


def length(x, y):
    return math.sqrt(x * x + y * y)


def clamp01(v):
    return 0.0 if v < 0.0 else 1.0 if v > 1.0 else v


def sd_round_box(px, py, cx, cy, half, radius):
    qx = abs(px - cx) - half + radius
    qy = abs(py - cy) - half + radius
    outside = length(max(qx, 0.0), max(qy, 0.0))
    return outside + min(max(qx, qy), 0.0) - radius


def sd_circle(px, py, cx, cy, r):
    return length(px - cx, py - cy) - r


def sd_segment(px, py, ax, ay, bx, by, r):
    """Capsule: the segment a-b thickened to radius r (round caps)."""
    pax, pay = px - ax, py - ay
    bax, bay = bx - ax, by - ay
    h = clamp01((pax * bax + pay * bay) / (bax * bax + bay * bay))
    return length(pax - bax * h, pay - bay * h) - r


def sd_ring_arc(px, py, cx, cy, ra, rb):
    """Ring of radius ra and half-thickness rb, open at the top (y grows
    downwards), with round ends."""
    x = abs(px - cx)
    y = py - cy
    sx, sy = RING_END
    if sy * x > sx * y:  # beyond the open end: nearest point is the end cap
        return length(x - sx * ra, y - sy * ra) - rb
    return abs(length(x, y) - ra) - rb


def sd_triangle(px, py, a, b, c):
    """Exact distance to a triangle given by three (x, y) vertices."""
    d = None
    s = 1.0
    verts = (a, b, c)
    for i in range(3):
        (x0, y0), (x1, y1) = verts[i], verts[(i + 1) % 3]
        ex, ey = x1 - x0, y1 - y0
        wx, wy = px - x0, py - y0
        h = clamp01((wx * ex + wy * ey) / (ex * ex + ey * ey))
        dist = length(wx - ex * h, wy - ey * h)
        d = dist if d is None else min(d, dist)
        # Inside test by edge-crossing parity.
        if (y0 > py) != (y1 > py) and px < x0 + (py - y0) * ex / ey:
            s = -s
    return s * d


class Layers:
    """One sample of a pixel, painted back to front with premultiplied
    'over': draw() puts a shape on top, cut() punches a hole into what is
    already there (used to set the badge apart from the mark)."""

    def __init__(self):
        self.r = self.g = self.b = self.a = 0.0

    def draw(self, coverage, colour, alpha=1.0):
        k = coverage * alpha
        if k <= 0.0:
            return
        self.r = colour[0] * k + self.r * (1.0 - k)
        self.g = colour[1] * k + self.g * (1.0 - k)
        self.b = colour[2] * k + self.b * (1.0 - k)
        self.a = k + self.a * (1.0 - k)

    def cut(self, coverage):
        k = 1.0 - coverage
        self.r *= k
        self.g *= k
        self.b *= k
        self.a *= k


def inside(d):
    """Coverage of a sample by a shape at signed distance d (in pixels),
    with a one-sample-wide soft edge."""
    return clamp01(0.5 - d * SUB)


def mix(c0, c1, t):
    return tuple(a + (b - a) * t for a, b in zip(c0, c1))


def shade(px, py, n, badge):
    """Colour and alpha of the icon of edge n at the point (px, py)."""
    out = Layers()
    mid = n / 2.0

    # Tile with a darker rim so it stands out on light and dark backgrounds.
    half = n * 0.5 - 1.0
    corner = n * 0.19
    tile = sd_round_box(px, py, mid, mid, half, corner)
    out.draw(inside(tile), TILE_EDGE)
    out.draw(inside(tile + 1.0), mix(TILE_TOP, TILE_BOTTOM, py / n))

    # Power mark: open ring plus a bar through the gap, over a soft shadow
    # a little below it. With a badge it moves up and left and shrinks
    # a little, so that the badge covers less of it.
    if badge is None:
        cx, cy, scale = mid, n * 0.53, 1.0
    else:
        cx, cy, scale = n * 0.43, n * 0.46, 0.86
    ra = n * 0.245 * scale
    rb = n * 0.058 * scale
    bar_top = cy - ra - rb * 0.2
    bar_bottom = cy - ra * 0.22

    def mark(x, y):
        ring = sd_ring_arc(x, y, cx, cy, ra, rb)
        bar = sd_segment(x, y, cx, bar_top, cx, bar_bottom, rb)
        return min(ring, bar)

    # The shadow's edge is one pixel wide instead of one sample: blurred.
    out.draw(clamp01(0.5 - mark(px, py - n / 40.0)), (0.0, 0.0, 0.0), 0.30)
    out.draw(inside(mark(px, py)), MARK)

    if badge is None:
        return out

    gap = max(1.5, n * 0.04)
    if badge == "ok":
        bx, by, br = n * 0.735, n * 0.735, n * 0.25
        shape = sd_circle(px, py, bx, by, br)
        out.cut(inside(shape - gap))
        out.draw(inside(shape), OK_EDGE)
        out.draw(inside(shape + 1.0), OK_FILL)
        w = br * 0.14
        tick = min(
            sd_segment(px, py, bx - br * 0.45, by + br * 0.02,
                       bx - br * 0.12, by + br * 0.36, w),
            sd_segment(px, py, bx - br * 0.12, by + br * 0.36,
                       bx + br * 0.46, by - br * 0.30, w))
        out.draw(inside(tick), MARK)
    else:
        bx, by, s = n * 0.72, n * 0.74, n * 0.23
        rounding = n * 0.03
        tri = sd_triangle(px, py, (bx, by - s * 0.98), (bx - s * 1.02, by + s * 0.80),
                          (bx + s * 1.02, by + s * 0.80)) - rounding
        out.cut(inside(tri - gap))
        out.draw(inside(tri), WARN_EDGE)
        out.draw(inside(tri + 1.0), WARN_FILL)
        w = n * 0.038
        bang = min(sd_segment(px, py, bx, by - s * 0.42, bx, by + s * 0.18, w),
                   sd_circle(px, py, bx, by + s * 0.50, w * 1.15))
        out.draw(inside(bang), WARN_INK)
    return out


def render(n, badge):
    """Rows top to bottom of (b, g, r, a) bytes, straight (not premultiplied)
    alpha as the icon format wants."""
    rows = []
    for y in range(n):
        row = []
        for x in range(n):
            r = g = b = a = 0.0
            for sy in range(SUB):
                for sx in range(SUB):
                    px = x + (sx + 0.5) / SUB
                    py = y + (sy + 0.5) / SUB
                    s = shade(px, py, n, badge)
                    r += s.r
                    g += s.g
                    b += s.b
                    a += s.a
            a8 = int(a * 255.0 / (SUB * SUB) + 0.5)
            if a8 == 0:
                row.append((0, 0, 0, 0))
                continue

            def chan(v):
                return min(255, int(v / a * 255.0 + 0.5))

            row.append((chan(b), chan(g), chan(r), a8))
        rows.append(row)
    return rows


def ico_bytes(rows):
    n = len(rows)
    xor = b"".join(bytes(c for px in row for c in px) for row in reversed(rows))
    mask_stride = ((n + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        line = bytearray(mask_stride)
        for x, px in enumerate(row):
            if px[3] == 0:  # transparent where there is no alpha at all
                line[x // 8] |= 0x80 >> (x % 8)
        mask += line
    image = struct.pack("<IiiHHIIiiII", 40, n, 2 * n, 1, 32, 0,
                        len(xor) + len(mask), 0, 0, 0, 0) + xor + bytes(mask)
    header = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", n % 256, n % 256, 0, 0, 1, 32,
                        len(image), 6 + 16)
    return header + entry + image


def png_bytes(rows):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    n = len(rows)
    raw = b"".join(b"\0" + bytes(c for b, g, r, a in row for c in (r, g, b, a))
                   for row in rows)
    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", n, n, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


def write(path, data):
    # Through a temporary file, so that an interrupted build leaves no
    # half-written icon behind.
    tmp = path + ".tmp"
    with open(tmp, "wb") as f:
        f.write(data)
    os.replace(tmp, path)


def main(argv):
    args = [a for a in argv[1:] if a != "--png"]
    if len(args) != 1:
        sys.stderr.write("usage: make_icons.py OUTDIR [--png]\n")
        return 2
    outdir = args[0]
    os.makedirs(outdir, exist_ok=True)
    for name, n, badge in ICONS:
        rows = render(n, badge)
        write(os.path.join(outdir, name), ico_bytes(rows))
        if "--png" in argv:
            write(os.path.join(outdir, name[:-4] + ".png"), png_bytes(rows))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
