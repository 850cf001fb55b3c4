#!/usr/bin/env python3
"""Draws the application icons of both programs as SVG and as PNGs.

Each icon is a few flat shapes on a 48 x 48 grid, drawn in order: rounded
rectangles, thick strokes and polygons. The same shapes are written as an
SVG (scalable) and rasterised with 4 x 4 supersampling into PNGs of the sizes
the desktop menus ask for. Run from any folder; the files are written next to
this script, and the 32-pixel server icon also into server/ui/images for the
about box.
"""
import math
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
SIZES = (32, 48, 64)

ICONS = {
    # The lecturer's program: the roster sheet with a red tick for attendance,
    # as on the window's own 16-pixel icon.
    'tavrelle': [
        ('rect', (7, 2, 41, 46, 3), (0x20, 0x20, 0x20)),
        ('rect', (9, 4, 39, 44, 2), (0xFF, 0xFF, 0xFF)),
        ('line', [(13, 10), (35, 10)], 3, (0x90, 0x90, 0x90)),
        ('line', [(13, 16), (29, 16)], 3, (0x90, 0x90, 0x90)),
        ('line', [(13, 36), (35, 36)], 3, (0x90, 0x90, 0x90)),
        ('line', [(13, 41), (27, 41)], 3, (0x90, 0x90, 0x90)),
        ('line', [(14, 24), (20, 30), (37, 15)], 5, (0xC0, 0x30, 0x30)),
    ],
    # The student's program: a blue square with an arrow pointing up, the
    # assignment going out.
    'tavrelle-client': [
        ('rect', (2, 2, 46, 46, 7), (0x1E, 0x3C, 0x78)),
        ('rect', (5, 5, 43, 43, 4), (0x2F, 0x5F, 0xB3)),
        ('line', [(14, 37), (34, 37)], 3, (0xFF, 0xFF, 0xFF)),
        ('polygon', [(24, 9), (36, 22), (28, 22), (28, 32), (20, 32), (20, 22), (12, 22)],
         (0xFF, 0xFF, 0xFF)),
    ],
}


def in_rounded(x, y, rect):
    x0, y0, x1, y1, r = rect
    if not (x0 <= x <= x1 and y0 <= y <= y1):
        return False
    cx = min(max(x, x0 + r), x1 - r)
    cy = min(max(y, y0 + r), y1 - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def near_polyline(x, y, points, width):
    for (ax, ay), (bx, by) in zip(points, points[1:]):
        dx, dy = bx - ax, by - ay
        t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy)))
        if math.hypot(x - (ax + t * dx), y - (ay + t * dy)) <= width / 2:
            return True
    return False


def in_polygon(x, y, points):
    inside = False
    for (ax, ay), (bx, by) in zip(points, points[1:] + points[:1]):
        if (ay > y) != (by > y) and x < ax + (y - ay) * (bx - ax) / (by - ay):
            inside = not inside
    return inside


def colour_at(icon, x, y):
    """The colour of the topmost shape at (x, y) on the 48 grid, or None."""
    found = None
    for shape in icon:
        kind = shape[0]
        if kind == 'rect' and in_rounded(x, y, shape[1]):
            found = shape[2]
        elif kind == 'line' and near_polyline(x, y, shape[1], shape[2]):
            found = shape[3]
        elif kind == 'polygon' and in_polygon(x, y, shape[1]):
            found = shape[2]
    return found


def png(size, icon):
    rows = []
    samples = 4
    for py in range(size):
        row = bytearray([0])
        for px in range(size):
            total = [0, 0, 0]
            covered = 0
            for sy in range(samples):
                for sx in range(samples):
                    x = (px + (sx + 0.5) / samples) * 48 / size
                    y = (py + (sy + 0.5) / samples) * 48 / size
                    c = colour_at(icon, x, y)
                    if c:
                        covered += 1
                        total = [t + v for t, v in zip(total, c)]
            if covered:
                row += bytes(round(t / covered) for t in total)
                row.append(round(255 * covered / samples ** 2))
            else:
                row += bytes(4)
        rows.append(bytes(row))

    def chunk(kind, data):
        body = kind + data
        return struct.pack('>I', len(data)) + body + struct.pack('>I', zlib.crc32(body))

    header = struct.pack('>IIBBBBB', size, size, 8, 6, 0, 0, 0)
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', header) +
            chunk(b'IDAT', zlib.compress(b''.join(rows), 9)) + chunk(b'IEND', b''))


def hex_colour(c):
    return '#%02x%02x%02x' % c


def svg(icon):
    out = ['<svg xmlns="http://www.w3.org/2000/svg" width="48" height="48" '
           'viewBox="0 0 48 48">\n']
    for shape in icon:
        kind = shape[0]
        if kind == 'rect':
            (x0, y0, x1, y1, radius), colour = shape[1], shape[2]
            out.append(f'  <rect x="{x0}" y="{y0}" width="{x1 - x0}" height="{y1 - y0}" '
                       f'rx="{radius}" fill="{hex_colour(colour)}"/>\n')
        elif kind == 'line':
            points = ' '.join(f'{x},{y}' for x, y in shape[1])
            out.append(f'  <polyline points="{points}" fill="none" '
                       f'stroke="{hex_colour(shape[3])}" stroke-width="{shape[2]}" '
                       'stroke-linecap="round" stroke-linejoin="round"/>\n')
        else:
            points = ' '.join(f'{x},{y}' for x, y in shape[1])
            out.append(f'  <polygon points="{points}" fill="{hex_colour(shape[2])}"/>\n')
    out.append('</svg>\n')
    return ''.join(out)


def main():
    for name, icon in ICONS.items():
        with open(os.path.join(HERE, f'{name}.svg'), 'w') as f:
            f.write(svg(icon))
        for size in SIZES:
            with open(os.path.join(HERE, f'{name}-{size}.png'), 'wb') as f:
                f.write(png(size, icon))
    about = os.path.join(HERE, '..', '..', 'server', 'ui', 'images', 'tavrelle32.png')
    with open(about, 'wb') as f:
        f.write(png(32, ICONS['tavrelle']))


if __name__ == '__main__':
    main()
