#!/usr/bin/env python3
"""Draws the selector's artwork and writes it as the files the Qt resources hold.

  header.bmp    bitmap 103: 319 x 68, 24 bits per pixel. A logo at the left over a gradient from
                white (top) to light blue (bottom); the bottom row is one colour, which the
                dialog uses for the rest of its background.
  buttons.bmp   bitmap 104: 160 x 16, 16 colours. Ten 16 x 16 cells on a cyan background (the
                transparent colour): cell 0 a loudspeaker, cell 5 two circling arrows on a page,
                cell 6 a curved forward arrow; the other cells are empty.
  selector.ico  icon 108: 48, 32 and 16 pixels, each in 16 colours, 256 colours and 32-bit colour.
  header.svg, buttons.svg, selector.svg
                the same three drawings as vector images (the strip on a transparent background),
                for screens with more than one pixel per point.

Usage: make_artwork.py [OUTPUT_DIR]   (default: the folder of this script)
The output is byte-for-byte the same on every run.
"""

import math
import os
import struct
import sys

# ---------------------------------------------------------------------------------------------
# Shapes. Each is a predicate over a point in pixel coordinates (x right, y down; a pixel's
# centre is at +0.5), and writes itself as SVG markup for the vector versions of the artwork.
# Both come from the same numbers, so the bitmaps and the vector images show the same drawing.


def num(v):
    """A number as SVG text: at most three decimals, no trailing zeros."""
    text = ('%.3f' % v).rstrip('0').rstrip('.')
    return '0' if text == '-0' else text


class Disk:
    def __init__(self, cx, cy, r):
        self.cx, self.cy, self.r = cx, cy, r

    def __call__(self, x, y):
        return (x - self.cx) ** 2 + (y - self.cy) ** 2 <= self.r * self.r

    def svg(self, attrs):
        return '<circle cx="%s" cy="%s" r="%s"%s/>' % (num(self.cx), num(self.cy), num(self.r),
                                                       attrs)


class RoundedRect:
    """The rectangle [x0, x1) x [y0, y1) with corners rounded to radius r (0: square)."""

    def __init__(self, x0, y0, x1, y1, r=0):
        self.x0, self.y0, self.x1, self.y1, self.r = x0, y0, x1, y1, r

    def __call__(self, x, y):
        x0, y0, x1, y1, r = self.x0, self.y0, self.x1, self.y1, self.r
        if not (x0 <= x < x1 and y0 <= y < y1):
            return False
        if r == 0:
            return True
        nx = min(max(x, x0 + r), x1 - r)
        ny = min(max(y, y0 + r), y1 - r)
        return (x - nx) ** 2 + (y - ny) ** 2 <= r * r

    def path(self):
        x0, y0, x1, y1, r = (num(v) for v in (self.x0, self.y0, self.x1, self.y1, self.r))
        xa, xb = num(self.x0 + self.r), num(self.x1 - self.r)
        ya, yb = num(self.y0 + self.r), num(self.y1 - self.r)
        return ('M%s %s H%s A%s %s 0 0 1 %s %s V%s A%s %s 0 0 1 %s %s H%s A%s %s 0 0 1 %s %s V%s '
                'A%s %s 0 0 1 %s %s Z' % (xa, y0, xb, r, r, x1, ya, yb, r, r, xb, y1, xa, r, r, x0,
                                          yb, ya, r, r, xa, y0))

    def svg(self, attrs):
        corner = ' rx="%s"' % num(self.r) if self.r else ''
        return '<rect x="%s" y="%s" width="%s" height="%s"%s%s/>' % (
            num(self.x0), num(self.y0), num(self.x1 - self.x0), num(self.y1 - self.y0), corner,
            attrs)


def rect(x0, y0, x1, y1):
    return RoundedRect(x0, y0, x1, y1)


def rounded_rect(x0, y0, x1, y1, r):
    return RoundedRect(x0, y0, x1, y1, r)


def disk(cx, cy, r):
    return Disk(cx, cy, r)


class Arc:
    """Annulus sector between angles a0 and a1 in degrees (0 = right, counter-clockwise)."""

    def __init__(self, cx, cy, r_in, r_out, a0, a1):
        self.cx, self.cy, self.r_in, self.r_out, self.a0, self.a1 = cx, cy, r_in, r_out, a0, a1

    def __call__(self, x, y):
        cx, cy, r_in, r_out = self.cx, self.cy, self.r_in, self.r_out
        d2 = (x - cx) ** 2 + (y - cy) ** 2
        if not (r_in * r_in <= d2 <= r_out * r_out):
            return False
        a = math.degrees(math.atan2(cy - y, x - cx)) % 360
        lo, hi = self.a0 % 360, self.a1 % 360
        return lo <= a <= hi if lo <= hi else (a >= lo or a <= hi)

    def svg(self, attrs):
        def at(r, a):
            t = math.radians(a)
            return '%s %s' % (num(self.cx + r * math.cos(t)), num(self.cy - r * math.sin(t)))
        # Angles grow counter-clockwise on the screen, which is SVG's negative sweep.
        large = 1 if (self.a1 - self.a0) % 360 > 180 else 0
        ro, ri = num(self.r_out), num(self.r_in)
        return ('<path d="M%s A%s %s 0 %d 0 %s L%s A%s %s 0 %d 1 %s Z"%s/>' %
                (at(self.r_out, self.a0), ro, ro, large, at(self.r_out, self.a1),
                 at(self.r_in, self.a1), ri, ri, large, at(self.r_in, self.a0), attrs))


def arc(cx, cy, r_in, r_out, a0, a1):
    return Arc(cx, cy, r_in, r_out, a0, a1)


class Polygon:
    def __init__(self, points):
        self.points = points

    def __call__(self, x, y):
        points = self.points
        hit = False
        j = len(points) - 1
        for i, (xi, yi) in enumerate(points):
            xj, yj = points[j]
            if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                hit = not hit
            j = i
        return hit

    def svg(self, attrs):
        return '<polygon points="%s"%s/>' % (
            ' '.join('%s,%s' % (num(x), num(y)) for x, y in self.points), attrs)


def polygon(points):
    return Polygon(points)


class Frame:
    """The part of rounded rectangle `outer` outside rounded rectangle `inner`."""

    def __init__(self, outer, inner):
        self.outer, self.inner = outer, inner

    def __call__(self, x, y):
        return self.outer(x, y) and not self.inner(x, y)

    def svg(self, attrs):
        return '<path fill-rule="evenodd" d="%s %s"%s/>' % (self.outer.path(), self.inner.path(),
                                                           attrs)


class Scaled:
    """The shape drawn for a 48-pixel design, scaled to another size."""

    def __init__(self, shape, factor):
        self.shape, self.factor = shape, factor

    def __call__(self, x, y):
        return self.shape(x / self.factor, y / self.factor)


def scaled(shape, factor):
    return Scaled(shape, factor)


# ---------------------------------------------------------------------------------------------
# Rendering: layers of (shape, colour) painted in order; each pixel supersampled.

def render(width, height, background, layers, samples=4, alpha=False):
    """Returns rows of (r, g, b, a). `background` is a colour or a function (x, y) -> colour."""
    rows = []
    offsets = [(i + 0.5) / samples for i in range(samples)]
    for py in range(height):
        row = []
        for px in range(width):
            acc = [0.0, 0.0, 0.0, 0.0]
            for oy in offsets:
                for ox in offsets:
                    x, y = px + ox, py + oy
                    colour = background(x, y) if callable(background) else background
                    for shape, c in layers:
                        if shape(x, y):
                            colour = c
                    a = colour[3] if len(colour) > 3 else 255
                    acc[0] += colour[0] * a
                    acc[1] += colour[1] * a
                    acc[2] += colour[2] * a
                    acc[3] += a
            n = samples * samples
            if acc[3] == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append(tuple(int(round(acc[i] / acc[3])) for i in range(3)) +
                           (int(round(acc[3] / n)),))
        rows.append(row)
    return rows


def render_hard(width, height, background, layers):
    """Like render, but each pixel takes the colour at its centre: for 16-colour art."""
    rows = []
    for py in range(height):
        row = []
        for px in range(width):
            colour = background
            for shape, c in layers:
                if shape(px + 0.5, py + 0.5):
                    colour = c
            row.append(colour)
        rows.append(row)
    return rows


# ---------------------------------------------------------------------------------------------
# Palettes.

VGA16 = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
    (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]


def palette256():
    colours = [(r * 51, g * 51, b * 51) for r in range(6) for g in range(6) for b in range(6)]
    colours += [(round(i * 255 / 39),) * 3 for i in range(40)]
    return colours


def nearest(palette, colour):
    r, g, b = colour[:3]
    best, best_d = 0, None
    for i, (pr, pg, pb) in enumerate(palette):
        d = (pr - r) ** 2 + (pg - g) ** 2 + (pb - b) ** 2
        if best_d is None or d < best_d:
            best, best_d = i, d
    return best


# ---------------------------------------------------------------------------------------------
# File formats.

def row_bytes(bits, width):
    return ((width * bits + 31) // 32) * 4


def pack_rows(rows, bits, palette=None):
    """Pixel rows (top first) as bottom-up DIB rows of the given depth."""
    out = bytearray()
    for row in reversed(rows):
        line = bytearray()
        if bits == 32:
            for r, g, b, a in row:
                line += bytes((b, g, r, a))
        elif bits == 24:
            for px in row:
                line += bytes((px[2], px[1], px[0]))
        elif bits == 8:
            line += bytes(nearest(palette, px) for px in row)
        elif bits == 4:
            idx = [nearest(palette, px) for px in row]
            if len(idx) % 2:
                idx.append(0)
            line += bytes((idx[i] << 4) | idx[i + 1] for i in range(0, len(idx), 2))
        elif bits == 1:
            value, count = 0, 0
            for bit in row:
                value = (value << 1) | bit
                count += 1
                if count == 8:
                    line.append(value)
                    value, count = 0, 0
            if count:
                line.append(value << (8 - count))
        line += bytes(row_bytes(bits, len(row)) - len(line))
        out += line
    return bytes(out)


def info_header(width, height, bits, image_size, colours):
    return struct.pack('<IiiHHIIiiII', 40, width, height, 1, bits, 0, image_size, 2835, 2835,
                       colours, colours)


def palette_bytes(palette):
    return b''.join(bytes((b, g, r, 0)) for r, g, b in palette)


def bmp(rows, bits, palette=None):
    height, width = len(rows), len(rows[0])
    pixels = pack_rows(rows, bits, palette)
    colours = len(palette) if palette else 0
    header = info_header(width, height, bits, len(pixels), colours)
    pal = palette_bytes(palette) if palette else b''
    offset = 14 + len(header) + len(pal)
    return struct.pack('<2sIHHI', b'BM', offset + len(pixels), 0, 0, offset) + header + pal + pixels


def ico(images):
    """images: list of (rows of RGBA, bits)."""
    entries, blobs = [], []
    offset = 6 + 16 * len(images)
    for rows, bits in images:
        size = len(rows)
        palette = VGA16 if bits == 4 else (palette256() if bits == 8 else None)
        xor = pack_rows(rows, bits, palette)
        mask = pack_rows([[0 if px[3] >= 128 else 1 for px in row] for row in rows], 1)
        header = info_header(size, size * 2, bits, len(xor) + len(mask), 0)
        blob = header + (palette_bytes(palette) if palette else b'') + xor + mask
        entries.append(struct.pack('<BBBBHHII', size, size, 16 if bits == 4 else 0, 0, 1, bits,
                                   len(blob), offset))
        blobs.append(blob)
        offset += len(blob)
    return struct.pack('<HHH', 0, 1, len(images)) + b''.join(entries) + b''.join(blobs)


# ---------------------------------------------------------------------------------------------
# The artwork.

WHITE = (255, 255, 255)
LIGHT_BLUE = (176, 206, 238)
DEEP_BLUE = (24, 64, 140)
MID_BLUE = (60, 120, 200)


HEADER_WIDTH, HEADER_HEIGHT = 319, 68


def header_layers():
    """A disk with a sender dot and three waves, then a row of level bars."""
    cx, cy = 32, 33
    waves = [arc(cx - 9, cy, r, r + 3, -50, 50) for r in (8, 14, 20)]
    logo = [
        (disk(cx, cy, 26), DEEP_BLUE),
        (disk(cx - 9, cy, 4), WHITE),
    ] + [(w, WHITE) for w in waves]
    bars = [(rounded_rect(66 + 9 * i, 52 - h, 72 + 9 * i, 56, 2), MID_BLUE)
            for i, h in enumerate((14, 24, 34, 20, 28, 12))]
    return logo + bars


def header_image():
    width, height = HEADER_WIDTH, HEADER_HEIGHT

    def gradient(x, y):
        t = min(max((math.floor(y) + 0.5) / (height - 1), 0.0), 1.0)
        if math.floor(y) >= height - 1:
            t = 1.0
        return tuple(int(round(WHITE[i] + (LIGHT_BLUE[i] - WHITE[i]) * t)) for i in range(3))

    rows = render(width, height, gradient, header_layers())
    # The last row is the background colour of the rest of the dialog: exactly one colour.
    rows[-1] = [LIGHT_BLUE + (255,)] * width
    return [[px[:3] for px in row] for row in rows]


CYAN = (0, 255, 255)
BLACK = (0, 0, 0)
GREY = (128, 128, 128)
SILVER = (192, 192, 192)
GREEN = (0, 128, 0)
NAVY = (0, 0, 128)
BLUE = (0, 0, 255)


def loudspeaker(ox):
    body = polygon([(ox + 2, 5), (ox + 5, 5), (ox + 9, 1), (ox + 10, 1), (ox + 10, 15),
                    (ox + 9, 15), (ox + 5, 11), (ox + 2, 11)])
    inner = polygon([(ox + 3, 6), (ox + 5.5, 6), (ox + 9, 2.6), (ox + 9, 13.4), (ox + 5.5, 10),
                     (ox + 3, 10)])
    wave1 = arc(ox + 10, 8, 2, 3, -45, 45)
    wave2 = arc(ox + 10, 8, 4, 5, -50, 50)
    return [(body, BLACK), (inner, GREY), (wave1, NAVY), (wave2, NAVY)]


def refresh_page(ox):
    page = polygon([(ox + 2, 1), (ox + 10, 1), (ox + 14, 5), (ox + 14, 15), (ox + 2, 15)])
    paper = polygon([(ox + 3, 2), (ox + 9.5, 2), (ox + 13, 5.5), (ox + 13, 14), (ox + 3, 14)])
    fold = polygon([(ox + 9.5, 1.5), (ox + 9.5, 5.5), (ox + 13.5, 5.5)])
    upper = arc(ox + 8, 8.5, 3, 4.5, 20, 170)
    lower = arc(ox + 8, 8.5, 3, 4.5, 200, 350)
    head1 = polygon([(ox + 10.5, 9), (ox + 14, 9), (ox + 12.25, 11.5)])
    head2 = polygon([(ox + 2, 8), (ox + 5.5, 8), (ox + 3.75, 5.5)])
    return [(page, BLACK), (paper, WHITE), (fold, SILVER), (upper, GREEN), (lower, GREEN),
            (head1, GREEN), (head2, GREEN)]


def forward_arrow(ox):
    shaft = arc(ox + 9, 15, 6, 9, 95, 175)
    head = polygon([(ox + 8, 2), (ox + 14, 6.5), (ox + 8, 11)])
    return [(shaft, BLUE), (head, BLUE)]


def button_layers():
    return loudspeaker(0) + refresh_page(16 * 5) + forward_arrow(16 * 6)


def button_strip():
    return render_hard(160, 16, CYAN, button_layers())


def icon_layers():
    """The icon's drawing for 48 pixels: a rounded square with a sender dot and three waves. The
    waves are drawn whole and a frame in the square's colour covers what lies outside its inner
    edge (the vector renderer takes no clip paths)."""
    cx, cy = 24, 24
    base = rounded_rect(2, 2, 46, 46, 9)
    dot = disk(cx - 10, cy + 8, 4.5)
    waves = [arc(cx - 10, cy + 8, r, r + 4, 0, 90) for r in (9, 17, 25)]
    edge = Frame(base, rounded_rect(6, 6, 42, 42, 6))
    layers = [(base, DEEP_BLUE + (255,)), (dot, WHITE + (255,))]
    layers += [(w, WHITE + (255,)) for w in waves]
    return layers + [(edge, DEEP_BLUE + (255,))]


def icon_image(size):
    f = size / 48.0
    layers = [(scaled(shape, f), colour) for shape, colour in icon_layers()]
    return render(size, size, (0, 0, 0, 0), layers, samples=4 if size > 16 else 6)


# ---------------------------------------------------------------------------------------------
# Vector versions, for screens that draw more than one pixel per point. The same shapes in the
# same colours and sizes; the strip's cyan background becomes real transparency.

def hex_colour(colour):
    return '#%02x%02x%02x' % tuple(colour[:3])


def svg(width, height, layers, defs='', background=''):
    lines = ['<svg xmlns="http://www.w3.org/2000/svg" version="1.2" baseProfile="tiny" '
             'width="%d" height="%d" viewBox="0 0 %d %d">' % (width, height, width, height)]
    if defs:
        lines.append('<defs>%s</defs>' % defs)
    if background:
        lines.append(background)
    for shape, colour in layers:
        lines.append(shape.svg(' fill="%s"' % hex_colour(colour)))
    lines.append('</svg>')
    return ('\n'.join(lines) + '\n').encode('ascii')


def header_svg():
    # Row y of the bitmap has the gradient's colour at its centre, y + 0.5, of a run from 0 to
    # the last row; below that it keeps the last row's colour.
    defs = ('<linearGradient id="sky" gradientUnits="userSpaceOnUse" x1="0" y1="0" x2="0" '
            'y2="%d"><stop offset="0" stop-color="%s"/><stop offset="1" stop-color="%s"/>'
            '</linearGradient>' % (HEADER_HEIGHT - 1, hex_colour(WHITE), hex_colour(LIGHT_BLUE)))
    background = ('<rect width="%d" height="%d" fill="url(#sky)"/>' %
                  (HEADER_WIDTH, HEADER_HEIGHT))
    last_row = (rect(0, HEADER_HEIGHT - 1, HEADER_WIDTH, HEADER_HEIGHT), LIGHT_BLUE)
    return svg(HEADER_WIDTH, HEADER_HEIGHT, header_layers() + [last_row], defs, background)


def buttons_svg():
    return svg(160, 16, button_layers())


def icon_svg():
    return svg(48, 48, icon_layers())


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    os.makedirs(out, exist_ok=True)
    with open(os.path.join(out, 'header.bmp'), 'wb') as f:
        f.write(bmp(header_image(), 24))
    with open(os.path.join(out, 'buttons.bmp'), 'wb') as f:
        f.write(bmp(button_strip(), 4, VGA16))
    images = []
    for size in (48, 32, 16):
        rows = icon_image(size)
        # 16- and 256-colour images have no partial transparency: opaque where mostly covered.
        solid = [[px[:3] + (255 if px[3] >= 128 else 0,) for px in row] for row in rows]
        images += [(solid, 4), (solid, 8), (rows, 32)]
    with open(os.path.join(out, 'selector.ico'), 'wb') as f:
        f.write(ico(images))
    for name, data in (('header.svg', header_svg()), ('buttons.svg', buttons_svg()),
                       ('selector.svg', icon_svg())):
        with open(os.path.join(out, name), 'wb') as f:
            f.write(data)


if __name__ == '__main__':
    main()
