#!/usr/bin/env python3
"""libpng: PNG files written here (zlib + struct only) are decoded by
png_decode.exe under wine64 to exactly the RGBA bytes they were made from.

    run_png.py <png_decode.exe>

The cases cover each colour type the product's images use, every row
filter, 16-bit samples, Adam7 interlacing, and files libpng must reject."""
import os
import struct
import sys
import tempfile
import zlib

from common import Report, windows_path, wine_run

W, H = 7, 5


def rgba_pixel(x, y):
    # Alpha runs through 0 and 255 and partial values; colours differ per pixel.
    return (x * 37 % 256, y * 51 % 256, (x * y * 13 + 7) % 256, (x * 40 + y * 60) % 256 if (x + y) % 3 else 255 * (x % 2))


def chunk(kind, data):
    body = kind + data
    return struct.pack('>I', len(data)) + body + struct.pack('>I', zlib.crc32(body))


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    return a if pa <= pb and pa <= pc else b if pb <= pc else c


def filter_row(kind, row, prev, bpp):
    out = bytearray([kind])
    for i, v in enumerate(row):
        a = row[i - bpp] if i >= bpp else 0
        b = prev[i] if prev else 0
        c = prev[i - bpp] if prev and i >= bpp else 0
        pred = [0, a, b, (a + b) // 2, paeth(a, b, c)][kind]
        out.append((v - pred) % 256)
    return out


def scanlines(rows, bpp, first_filter=0):
    """Rows of raw bytes, each with its own filter type (0..4, rotating)."""
    data, prev = bytearray(), None
    for y, row in enumerate(rows):
        data += filter_row((first_filter + y) % 5, row, prev, bpp)
        prev = row
    return data


ADAM7 = [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2)]


def png(width, height, depth, ctype, pixel_bytes, bpp, plte=b'', trns=b'', interlace=False, corrupt=None):
    """pixel_bytes(x, y) -> the bytes of one pixel (depth >= 8)."""
    if interlace:
        raw = bytearray()
        for i, (x0, y0, dx, dy) in enumerate(ADAM7):
            xs, ys = range(x0, width, dx), range(y0, height, dy)
            if xs and ys:
                raw += scanlines([b''.join(pixel_bytes(x, y) for x in xs) for y in ys], bpp, i)
    else:
        raw = scanlines([b''.join(pixel_bytes(x, y) for x in range(width)) for y in range(height)], bpp)
    ihdr = struct.pack('>IIBBBBB', width, height, depth, ctype, 0, 0, 1 if interlace else 0)
    chunks = [chunk(b'IHDR', ihdr)]
    if plte:
        chunks.append(chunk(b'PLTE', plte))
    if trns:
        chunks.append(chunk(b'tRNS', trns))
    idat = chunk(b'IDAT', zlib.compress(bytes(raw), 9))
    if corrupt == 'crc':
        idat = idat[:-1] + bytes([idat[-1] ^ 0xFF])
    chunks += [idat, chunk(b'IEND', b'')]
    data = b'\x89PNG\r\n\x1a\n' + b''.join(chunks)
    if corrupt == 'truncated':
        data = data[:len(data) * 2 // 3]
    return data


def expected(width, height, rgba):
    return ('%d %d\n' % (width, height)).encode() + b''.join(bytes(rgba(x, y)) for y in range(height) for x in range(width))


def palette_cases():
    # 4-bit palette indices, packed two a byte; tRNS gives the first entries alpha.
    colours = [(i * 17, 255 - i * 17, (i * 90) % 256) for i in range(16)]
    alphas = [0, 64, 128, 200, 255, 17]
    index = lambda x, y: (x + 3 * y) % 16
    rows = []
    for y in range(H):
        row = bytearray()
        for x in range(0, W, 2):
            hi, lo = index(x, y), index(x + 1, y) if x + 1 < W else 0
            row.append(hi << 4 | lo)
        rows.append(bytes(row))
    ihdr = struct.pack('>IIBBBBB', W, H, 4, 3, 0, 0, 0)
    data = (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', ihdr) + chunk(b'PLTE', b''.join(bytes(c) for c in colours)) +
            chunk(b'tRNS', bytes(alphas)) + chunk(b'IDAT', zlib.compress(bytes(scanlines(rows, 1)))) + chunk(b'IEND', b''))
    rgba = lambda x, y: colours[index(x, y)] + (alphas[index(x, y)] if index(x, y) < len(alphas) else 255,)
    return data, expected(W, H, rgba)


def cases():
    """(name, png bytes, expected output or None when libpng must reject it)."""
    rgba8 = lambda x, y: bytes(rgba_pixel(x, y))
    yield 'rgba 8-bit, all filters', png(W, H, 8, 6, rgba8, 4), expected(W, H, rgba_pixel)
    # 16-bit samples: the high byte is kept; the low byte differs to catch a mix-up.
    rgba16 = lambda x, y: b''.join(bytes([v, (v * 7 + 3) % 256]) for v in rgba_pixel(x, y))
    yield 'rgba 16-bit', png(W, H, 16, 6, rgba16, 8), expected(W, H, rgba_pixel)
    ga = lambda x, y: bytes([(x * 30 + y) % 256, rgba_pixel(x, y)[3]])
    yield 'gray+alpha 8-bit', png(W, H, 8, 4, ga, 2), \
        expected(W, H, lambda x, y: (ga(x, y)[0],) * 3 + (ga(x, y)[1],))
    yield 'palette 4-bit with tRNS', *palette_cases()
    big_w, big_h = 19, 13   # every Adam7 pass non-empty
    yield 'rgba 8-bit, Adam7 interlaced', png(big_w, big_h, 8, 6, rgba8, 4, interlace=True), \
        expected(big_w, big_h, rgba_pixel)
    yield 'corrupt IDAT checksum', png(W, H, 8, 6, rgba8, 4, corrupt='crc'), None
    yield 'truncated file', png(W, H, 8, 6, rgba8, 4, corrupt='truncated'), None


def main():
    exe = sys.argv[1]
    report = Report('png')
    with tempfile.TemporaryDirectory(prefix='png-', dir=os.getcwd()) as work:
        for i, (name, data, want) in enumerate(cases()):
            src, out = os.path.join(work, '%d.png' % i), os.path.join(work, '%d.rgba' % i)
            with open(src, 'wb') as f:
                f.write(data)
            rc, _, err = wine_run(exe, windows_path(src), windows_path(out))
            if want is None:
                report.check(name, rc == 1 and 'png_decode:' in err, 'exit %d, stderr %r' % (rc, err))
                continue
            got = open(out, 'rb').read() if rc == 0 and os.path.exists(out) else None
            report.check(name, got == want, 'exit %d, stderr %r, %s' % (
                rc, err, 'no output' if got is None else 'bytes differ: %r... vs %r...' % (got[:24], want[:24])))
    return report.finish()


if __name__ == '__main__':
    sys.exit(main())
