#!/usr/bin/env python3
"""Draws the program icon and writes qzt.ico (128, 48, 32, 16 px) and qzt.png.

A stack of document sheets (many files) with a pencil (rename); the larger
images also show "A -> B" on the front sheet. Shapes are signed distance
functions in a unit square (y down), anti-aliased by supersampling; the 16 px
pencil is set pixel by pixel. Standard library only; the output depends on
nothing but this script, so rerunning it reproduces the same images.

    python3 make_icon.py [--preview DIR]

--preview also writes every size enlarged (nearest neighbour) into DIR.
"""

import math
import os
import struct
import sys
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
ICO_SIZES = (128, 48, 32, 16)


def rgb(hex_colour, alpha=1.0):
    value = int(hex_colour.lstrip("#"), 16)
    return ((value >> 16) / 255.0, ((value >> 8) & 255) / 255.0, (value & 255) / 255.0, alpha)


INK = rgb("#2c3a4e")
SHEET_BACK = rgb("#9fb3cc")
SHEET_MIDDLE = rgb("#c8d5e6")
SHEET_FRONT = rgb("#ffffff")
FOLD = rgb("#d9e2ee")
TEXT_LINE = rgb("#a9b6c6")
LETTER_OLD = rgb("#5d6b7e")
LETTER_NEW = rgb("#1769d1")
ARROW = rgb("#f07c12")
BADGE = rgb("#f07c12")
BADGE_RIM = rgb("#ffffff")
PENCIL = rgb("#ffffff")
PENCIL_TIP = rgb("#2c3a4e")
PENCIL_BODY = rgb("#f59a2e")
PENCIL_SHADE = rgb("#d86d0c")
ERASER = rgb("#f2a7b0")
WOOD = rgb("#f6d3a4")


# --- signed distance functions: negative inside, in unit coordinates -------

def rounded_box(cx, cy, half_w, half_h, radius, angle_deg=0.0):
    cos_a = math.cos(math.radians(angle_deg))
    sin_a = math.sin(math.radians(angle_deg))
    inner_w, inner_h = half_w - radius, half_h - radius

    def sdf(x, y):
        dx, dy = x - cx, y - cy
        u = abs(dx * cos_a + dy * sin_a) - inner_w
        v = abs(-dx * sin_a + dy * cos_a) - inner_h
        outside = math.hypot(max(u, 0.0), max(v, 0.0))
        return outside + min(max(u, v), 0.0) - radius
    return sdf


def circle(cx, cy, radius):
    return lambda x, y: math.hypot(x - cx, y - cy) - radius


def capsule(x0, y0, x1, y1, radius):
    ex, ey = x1 - x0, y1 - y0
    length2 = ex * ex + ey * ey or 1e-12

    def sdf(x, y):
        t = max(0.0, min(1.0, ((x - x0) * ex + (y - y0) * ey) / length2))
        return math.hypot(x - x0 - t * ex, y - y0 - t * ey) - radius
    return sdf


def arc(cx, cy, ring_radius, radius, start_deg, end_deg):
    """Stroke along a circle from start to end angle (degrees, y down)."""
    a0, a1 = math.radians(start_deg), math.radians(end_deg)
    p0 = (cx + ring_radius * math.cos(a0), cy + ring_radius * math.sin(a0))
    p1 = (cx + ring_radius * math.cos(a1), cy + ring_radius * math.sin(a1))

    def sdf(x, y):
        angle = math.atan2(y - cy, x - cx)
        while angle < a0:
            angle += 2 * math.pi
        if angle <= a1:
            return abs(math.hypot(x - cx, y - cy) - ring_radius) - radius
        return min(math.hypot(x - p0[0], y - p0[1]), math.hypot(x - p1[0], y - p1[1])) - radius
    return sdf


def convex_polygon(points):
    """Points in either order. Inside exact, outside a lower bound."""
    area = sum(x0 * y1 - x1 * y0 for (x0, y0), (x1, y1) in zip(points, points[1:] + points[:1]))
    if area < 0:
        points = points[::-1]
    edges = []
    for (x0, y0), (x1, y1) in zip(points, points[1:] + points[:1]):
        length = math.hypot(x1 - x0, y1 - y0)
        nx, ny = (y1 - y0) / length, -(x1 - x0) / length  # outward normal
        edges.append((nx, ny, nx * x0 + ny * y0))
    return lambda x, y: max(nx * x + ny * y - d for nx, ny, d in edges)


def union(*sdfs):
    return lambda x, y: min(s(x, y) for s in sdfs)


def intersect(*sdfs):
    return lambda x, y: max(s(x, y) for s in sdfs)


def inset(sdf, amount):
    return lambda x, y: sdf(x, y) + amount


# --- the artwork -----------------------------------------------------------

def sheet_layers(sdf, fill, line):
    """An outlined sheet: the outline colour, then the fill inset by `line`."""
    return [(sdf, INK), (inset(sdf, line), fill)]


def front_sheet(x0, y0, x1, y1, radius, fold, line):
    body = rounded_box((x0 + x1) / 2, (y0 + y1) / 2, (x1 - x0) / 2, (y1 - y0) / 2, radius)
    # Cut the top-right corner along the diagonal for the folded corner.
    corner = convex_polygon([(x1 - fold, y0 - 1), (x1 + 1, y0 - 1), (x1 + 1, y0 + fold)])
    sheet = intersect(body, lambda x, y: -corner(x, y))
    flap = convex_polygon([(x1 - fold, y0), (x1, y0 + fold), (x1 - fold, y0 + fold)])
    layers = sheet_layers(sheet, SHEET_FRONT, line)
    layers += [(flap, INK), (inset(flap, line), FOLD)]
    return layers


def pencil_badge(cx, cy, radius, rim, pencil_width):
    """An orange disc with a white pencil: the "rename" sign."""
    layers = [(circle(cx, cy, radius), BADGE_RIM), (circle(cx, cy, radius - rim), BADGE)]
    # Pencil from upper right to lower left, 45 degrees.
    d = radius * 0.58
    sx, sy = cx + d, cy - d          # back end
    ex, ey = cx - d, cy + d          # point
    ux, uy = (ex - sx) / math.hypot(ex - sx, ey - sy), (ey - sy) / math.hypot(ex - sx, ey - sy)
    nx, ny = -uy, ux
    half = pencil_width / 2
    tip_len = pencil_width * 1.15
    bx, by = ex - ux * tip_len, ey - uy * tip_len   # where the tip starts
    body = convex_polygon([(sx + nx * half, sy + ny * half), (sx - nx * half, sy - ny * half),
                           (bx - nx * half, by - ny * half), (bx + nx * half, by + ny * half)])
    tip = convex_polygon([(bx + nx * half, by + ny * half), (bx - nx * half, by - ny * half), (ex, ey)])
    # Dark graphite point and a band between body and eraser.
    gx, gy = ex - ux * tip_len * 0.42, ey - uy * tip_len * 0.42
    g_half = half * 0.42
    graphite = convex_polygon([(gx + nx * g_half, gy + ny * g_half), (gx - nx * g_half, gy - ny * g_half),
                               (ex, ey)])
    band_at = 0.26
    b0x, b0y = sx + (bx - sx) * band_at, sy + (by - sy) * band_at
    band = capsule(b0x - nx * half, b0y - ny * half, b0x + nx * half, b0y + ny * half, pencil_width * 0.07)
    return layers + [(body, PENCIL), (tip, PENCIL), (graphite, PENCIL_TIP), (band, BADGE)]


def letter_a(x, y, h, stroke):
    """"A" with its apex at (x, y) and height h."""
    w = h * 0.42
    return union(capsule(x, y, x - w, y + h, stroke), capsule(x, y, x + w, y + h, stroke),
                 capsule(x - w * 0.55, y + h * 0.62, x + w * 0.55, y + h * 0.62, stroke))


def letter_b(x, y, h, stroke):
    """"B" whose stem runs from (x, y) down by h."""
    top_r = h * 0.235
    bottom_r = h * 0.265
    top_w = h * 0.18
    bottom_w = h * 0.21
    mid = y + 2 * top_r
    return union(capsule(x, y, x, y + h, stroke),
                 capsule(x, y, x + top_w, y, stroke),
                 capsule(x, mid, x + bottom_w, mid, stroke),
                 capsule(x, y + h, x + bottom_w, y + h, stroke),
                 arc(x + top_w, y + top_r, top_r, stroke, -90, 90),
                 arc(x + bottom_w, mid + bottom_r, bottom_r, stroke, -90, 90))


def arrow(x0, x1, y, stroke, head):
    return union(capsule(x0, y, x1, y, stroke),
                 capsule(x1, y, x1 - head, y - head, stroke),
                 capsule(x1, y, x1 - head, y + head, stroke))


def pixel_box(size, x0, y0, x1, y1, radius=0.5):
    """A box between pixel edges x0..x1, y0..y1 of a `size` px image."""
    return rounded_box((x0 + x1) / 2 / size, (y0 + y1) / 2 / size, (x1 - x0) / 2 / size,
                       (y1 - y0) / 2 / size, radius / size)


def pixel_pencil_16():
    """A pencil drawn pixel by pixel along the 45 degree diagonal of the
    lower-right quarter: antialiasing would blur it to a smudge at 16 px."""
    cells = {}
    for x in range(4, 16):
        for y in range(4, 16):
            across = x + y - 21.5   # the body is the two cells either side of the axis
            along = x - y           # grows towards the eraser, upper right
            if abs(across) == 1.5 and -5 <= along <= 8:
                cells[(x, y)] = INK
            elif abs(across) == 0.5:
                if along == 8:
                    cells[(x, y)] = INK
                elif 6 <= along <= 7:
                    cells[(x, y)] = ERASER
                elif -3 <= along <= 5:
                    cells[(x, y)] = PENCIL_BODY if across < 0 else PENCIL_SHADE
                elif -6 <= along <= -4:
                    cells[(x, y)] = WOOD
                elif along == -7:
                    cells[(x, y)] = INK
    return cells


def small_design(size):
    """16 and 32 px: sheets offset on the pixel grid so that edges stay crisp."""
    px = 1.0 / size
    layers = []
    if size == 16:
        layers += sheet_layers(pixel_box(16, 1, 0, 10, 12), SHEET_BACK, px)
        layers += sheet_layers(pixel_box(16, 4, 3, 14, 16), SHEET_FRONT, px)
        layers += [(pixel_box(16, 6, 6, 11, 7, 0), TEXT_LINE), (pixel_box(16, 6, 8, 9, 9, 0), TEXT_LINE)]
        return layers + [pixel_pencil_16()]
    layers += sheet_layers(pixel_box(32, 2, 0, 19, 23, 1), SHEET_BACK, px)
    layers += sheet_layers(pixel_box(32, 5, 3, 22, 27, 1), SHEET_MIDDLE, px)
    layers += front_sheet(9 * px, 6 * px, 28 * px, 31 * px, px, 5 * px, px)
    for y, x1 in ((12, 23), (16, 25), (20, 19)):
        layers.append((pixel_box(32, 12, y, x1, y + 2, 0), TEXT_LINE))
    layers += pencil_badge(24 * px, 24 * px, 8 * px, 1.5 * px, 3.6 * px)
    return layers


def design(size):
    """The layers, back to front, for an image of `size` pixels."""
    if size <= 32:
        return small_design(size)
    px = 1.0 / size
    line = max(1.0, size / 40.0) * px
    layers = []
    layers += sheet_layers(rounded_box(0.40, 0.47, 0.27, 0.36, 0.04, -15), SHEET_BACK, line)
    layers += sheet_layers(rounded_box(0.45, 0.47, 0.27, 0.36, 0.04, -6), SHEET_MIDDLE, line)
    layers += front_sheet(0.26, 0.09, 0.82, 0.89, 0.035, 0.16, line)

    h, stroke = 0.17, max(0.021, 1.0 * px)
    top = 0.24
    layers += [(letter_a(0.37, top, h, stroke), LETTER_OLD),
               (arrow(0.465, 0.545, top + h / 2, stroke * 0.85, 0.035), ARROW),
               (letter_b(0.585, top, h, stroke), LETTER_NEW)]
    bar = max(0.017, 0.9 * px)
    layers += [(capsule(0.35, 0.54, 0.62, 0.54, bar), TEXT_LINE),
               (capsule(0.35, 0.62, 0.52, 0.62, bar), TEXT_LINE)]

    badge_r = 0.225
    layers += pencil_badge(1 - badge_r - 0.015, 1 - badge_r - 0.015, badge_r, max(1.5 * px, 0.035),
                           badge_r * 0.42)
    return layers


# --- rasterising -------------------------------------------------------------

def render(size, layers):
    """Straight-alpha RGBA floats, row-major, top row first."""
    grid = 8 if size <= 48 else 5
    offsets = [(i + 0.5) / grid for i in range(grid)]
    samples = len(offsets) ** 2
    pixels = [[0.0, 0.0, 0.0, 0.0] for _ in range(size * size)]  # premultiplied

    def paint(index, r, g, b, alpha):
        dst = pixels[index]
        keep = 1.0 - alpha
        dst[0] = r * alpha + dst[0] * keep
        dst[1] = g * alpha + dst[1] * keep
        dst[2] = b * alpha + dst[2] * keep
        dst[3] = alpha + dst[3] * keep

    for layer in layers:
        if isinstance(layer, dict):  # whole pixels: {(x, y): colour}
            for (px, py), (r, g, b, a) in layer.items():
                paint(py * size + px, r, g, b, a)
            continue
        sdf, (r, g, b, a) = layer
        for py in range(size):
            for px in range(size):
                x_c, y_c = (px + 0.5) / size, (py + 0.5) / size
                # Skip pixels clearly inside or outside (an SDF is 1-Lipschitz).
                centre = sdf(x_c, y_c)
                if centre > 0.75 / size:
                    continue
                if centre < -0.75 / size:
                    cover = 1.0
                else:
                    inside = 0
                    for oy in offsets:
                        for ox in offsets:
                            if sdf((px + ox) / size, (py + oy) / size) <= 0:
                                inside += 1
                    cover = inside / samples
                if cover > 0:
                    paint(py * size + px, r, g, b, cover * a)
    out = []
    for r, g, b, a in pixels:
        if a <= 0:
            out.append((0, 0, 0, 0))
        else:
            out.append(tuple(min(255, int(round(c / a * 255))) for c in (r, g, b)) + (int(round(a * 255)),))
    return out


# --- file formats --------------------------------------------------------------

def png_bytes(size, rgba, scale=1):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    rows = bytearray()
    for y in range(size * scale):
        rows.append(0)
        for x in range(size * scale):
            rows.extend(rgba[(y // scale) * size + x // scale])
    header = struct.pack(">IIBBBBB", size * scale, size * scale, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
            + chunk(b"IDAT", zlib.compress(bytes(rows), 9)) + chunk(b"IEND", b""))


def dib_bytes(size, rgba):
    """A 32-bit BGRA DIB with its AND mask, bottom row first, as an ICO holds it."""
    mask_stride = ((size + 31) // 32) * 4
    colour = bytearray()
    mask = bytearray()
    for y in reversed(range(size)):
        row_mask = bytearray(mask_stride)
        for x in range(size):
            r, g, b, a = rgba[y * size + x]
            colour.extend((b, g, r, a))
            if a == 0:
                row_mask[x // 8] |= 0x80 >> (x % 8)
        mask.extend(row_mask)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(colour) + len(mask), 0, 0, 0, 0)
    return header + bytes(colour) + bytes(mask)


def ico_bytes(images):
    """images: list of (size, rgba)."""
    blobs = [dib_bytes(size, rgba) for size, rgba in images]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for (size, _), blob in zip(images, blobs):
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(blob), offset)
        offset += len(blob)
    return out + b"".join(blobs)


def main(argv):
    preview_dir = None
    if len(argv) == 3 and argv[1] == "--preview":
        preview_dir = argv[2]
    elif len(argv) != 1:
        sys.stderr.write(__doc__)
        return 2

    images = [(size, render(size, design(size))) for size in ICO_SIZES]
    with open(os.path.join(HERE, "qzt.ico"), "wb") as f:
        f.write(ico_bytes(images))
    with open(os.path.join(HERE, "qzt.png"), "wb") as f:
        f.write(png_bytes(128, dict(images)[128]))
    if preview_dir:
        os.makedirs(preview_dir, exist_ok=True)
        for size, rgba in images:
            with open(os.path.join(preview_dir, "qzt-%d.png" % size), "wb") as f:
                f.write(png_bytes(size, rgba, 8 if size < 128 else 4))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
