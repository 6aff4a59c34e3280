#!/usr/bin/env python3
"""Draws the window's skin images and the application icon as PNG files.

Output (RGBA, 8 bits per channel, written next to this script):
  app_icon.png                     32 x 32  application icon
  title_left.png                  441 x 23  title bar, left part (natural size)
  title_client.png                  1 x 23  title bar, stretched middle
  title_right.png                   1 x 23  title bar, right end (natural size)
  title_{close,min,menu}_{normal,hover,pressed}.png
                                   19 x 19  title bar buttons

Shapes are described by signed distance functions (negative inside) and
rasterised with one pixel of analytic anti-aliasing, so the script needs
nothing beyond the Python standard library. Running it again reproduces the
committed files byte for byte.
"""

import math
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))


# ---------------------------------------------------------------- canvas ---


class Canvas:
    """Straight-alpha RGBA pixels, each channel a float in [0, 1]."""

    def __init__(self, width, height, fill=(0.0, 0.0, 0.0, 0.0)):
        self.width = width
        self.height = height
        self.px = [list(fill) for _ in range(width * height)]

    def blend(self, x, y, rgb, alpha):
        if alpha <= 0.0 or not (0 <= x < self.width and 0 <= y < self.height):
            return
        alpha = min(alpha, 1.0)
        d = self.px[y * self.width + x]
        out_a = alpha + d[3] * (1.0 - alpha)
        if out_a <= 0.0:
            return
        for i in range(3):
            d[i] = (rgb[i] * alpha + d[i] * d[3] * (1.0 - alpha)) / out_a
        d[3] = out_a

    def shape(self, sdf, paint, opacity=1.0):
        """Fills the shape `sdf` (x, y -> distance) with `paint` (x, y -> rgb)."""
        for y in range(self.height):
            for x in range(self.width):
                cx, cy = x + 0.5, y + 0.5
                cover = min(max(0.5 - sdf(cx, cy), 0.0), 1.0)
                if cover > 0.0:
                    self.blend(x, y, paint(cx, cy), cover * opacity)

    def png(self, path):
        raw = bytearray()
        for y in range(self.height):
            raw.append(0)  # filter type: none
            for x in range(self.width):
                r, g, b, a = self.px[y * self.width + x]
                raw.extend(round(min(max(c, 0.0), 1.0) * 255) for c in (r, g, b, a))

        def chunk(tag, data):
            body = tag + data
            return (struct.pack(">I", len(data)) + body +
                    struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF))

        header = struct.pack(">IIBBBBB", self.width, self.height, 8, 6, 0, 0, 0)
        with open(path, "wb") as f:
            f.write(b"\x89PNG\r\n\x1a\n")
            f.write(chunk(b"IHDR", header))
            f.write(chunk(b"IDAT", zlib.compress(bytes(raw), 9)))
            f.write(chunk(b"IEND", b""))


# ------------------------------------------------------------ geometry -----


def hexrgb(text):
    return tuple(int(text[i:i + 2], 16) / 255.0 for i in (1, 3, 5))


def mix(a, b, t):
    t = min(max(t, 0.0), 1.0)
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def circle(cx, cy, r):
    return lambda x, y: math.hypot(x - cx, y - cy) - r


def ellipse(cx, cy, rx, ry):
    return lambda x, y: (math.hypot((x - cx) / rx, (y - cy) / ry) - 1.0) * min(rx, ry)


def capsule(ax, ay, bx, by, r):
    def d(x, y):
        px, py, vx, vy = x - ax, y - ay, bx - ax, by - ay
        t = min(max((px * vx + py * vy) / (vx * vx + vy * vy), 0.0), 1.0)
        return math.hypot(px - vx * t, py - vy * t) - r
    return d


def rounded_box(x0, y0, x1, y1, r):
    cx, cy, hw, hh = (x0 + x1) / 2, (y0 + y1) / 2, (x1 - x0) / 2, (y1 - y0) / 2

    def d(x, y):
        qx, qy = abs(x - cx) - hw + r, abs(y - cy) - hh + r
        return (math.hypot(max(qx, 0.0), max(qy, 0.0)) +
                min(max(qx, qy), 0.0) - r)
    return d


def rotated_box(cx, cy, length, half_width, angle):
    """Box from (cx, cy) reaching `length` along `angle`, 2*half_width wide."""
    ca, sa = math.cos(angle), math.sin(angle)

    def d(x, y):
        u = (x - cx) * ca + (y - cy) * sa
        v = -(x - cx) * sa + (y - cy) * ca
        qx, qy = abs(u - length / 2) - length / 2, abs(v) - half_width
        return math.hypot(max(qx, 0.0), max(qy, 0.0)) + min(max(qx, qy), 0.0)
    return d


def polygon(points):
    """Convex polygon given clockwise on screen (y down)."""
    edges = []
    for i, (ax, ay) in enumerate(points):
        bx, by = points[(i + 1) % len(points)]
        length = math.hypot(bx - ax, by - ay)
        edges.append((ax, ay, (by - ay) / length, -(bx - ax) / length))

    def d(x, y):
        return max((x - ax) * nx + (y - ay) * ny for ax, ay, nx, ny in edges)
    return d


def union(*shapes):
    return lambda x, y: min(s(x, y) for s in shapes)


def subtract(a, b):
    return lambda x, y: max(a(x, y), -b(x, y))


def grow(shape, amount):
    return lambda x, y: shape(x, y) - amount


def vertical(stops):
    """Paint from (y, rgb) stops, linear between them."""
    def paint(_x, y):
        if y <= stops[0][0]:
            return stops[0][1]
        for (y0, c0), (y1, c1) in zip(stops, stops[1:]):
            if y <= y1:
                return mix(c0, c1, (y - y0) / (y1 - y0))
        return stops[-1][1]
    return paint


def solid(rgb):
    return lambda _x, _y: rgb


# ----------------------------------------------------------- title bar -----

TITLE_HEIGHT = 23
TITLE_LEFT_WIDTH = 441

# Glass bar: a lighter upper half, a sharp step at the middle, a deeper lower
# half, a bright top edge and a dark bottom edge.
TITLE_STOPS = [
    (0.0, hexrgb("#a9c6f0")),
    (1.0, hexrgb("#a9c6f0")),
    (1.01, hexrgb("#6f98dc")),
    (11.0, hexrgb("#4677c8")),
    (11.01, hexrgb("#2f62b5")),
    (21.0, hexrgb("#2757a6")),
    (22.0, hexrgb("#2757a6")),
    (22.01, hexrgb("#173a78")),
    (23.0, hexrgb("#173a78")),
]


def title_column(y):
    return vertical(TITLE_STOPS)(0, y + 0.5)


def title_left():
    c = Canvas(TITLE_LEFT_WIDTH, TITLE_HEIGHT)
    for y in range(TITLE_HEIGHT):
        base = title_column(y)
        for x in range(TITLE_LEFT_WIDTH):
            c.blend(x, y, base, 1.0)
    # A soft glow behind the icon and caption, fading out well before the
    # seam with the stretched middle part.
    glow = lambda x, y: max(0.0, 1.0 - math.hypot((x - 20) / 150.0, (y - 6) / 16.0))
    for y in range(TITLE_HEIGHT - 1):
        for x in range(1, 200):
            a = glow(x + 0.5, y + 0.5) * 0.22
            c.blend(x, y, hexrgb("#ffffff"), a)
    # Bright left edge, like light catching a bevel.
    for y in range(1, TITLE_HEIGHT - 1):
        c.blend(0, y, hexrgb("#c9dcf7"), 0.55)
    return c


def title_client():
    c = Canvas(1, TITLE_HEIGHT)
    for y in range(TITLE_HEIGHT):
        c.blend(0, y, title_column(y), 1.0)
    return c


def title_right():
    c = title_client()
    for y in range(1, TITLE_HEIGHT):
        c.blend(0, y, hexrgb("#102a5c"), 0.45)
    return c


# ------------------------------------------------------- title buttons -----

BUTTON = 19
GLYPH = hexrgb("#ffffff")
GLYPH_SHADOW = hexrgb("#0b2250")

# state -> (face top, face bottom, face opacity, rim opacity, glyph offset)
FACES = {
    "normal": ("#ffffff", "#ffffff", (0.18, 0.04), 0.42, 0.0),
    "hover": ("#9cc0f2", "#4f82d3", (1.0, 1.0), 0.85, 0.0),
    "pressed": ("#2c528f", "#3f69b0", (1.0, 1.0), 0.60, 1.0),
}
CLOSE_FACES = {
    "hover": ("#f08a7c", "#c8372a", (1.0, 1.0), 0.85, 0.0),
    "pressed": ("#8f2018", "#b7362a", (1.0, 1.0), 0.60, 1.0),
}


def glyph_close(dy):
    return union(capsule(6.2, 6.2 + dy, 12.8, 12.8 + dy, 1.05),
                 capsule(12.8, 6.2 + dy, 6.2, 12.8 + dy, 1.05))


def glyph_min(dy):
    return rounded_box(5.5, 11.5 + dy, 13.5, 13.5 + dy, 0.4)


def glyph_menu(dy):
    return polygon([(5.0, 7.5 + dy), (14.0, 7.5 + dy), (9.5, 12.5 + dy)])


def title_button(glyph, state, faces):
    top, bottom, (op_top, op_bottom), rim, dy = faces.get(state, FACES[state])
    c = Canvas(BUTTON, BUTTON)
    body = rounded_box(1.0, 1.0, 18.0, 18.0, 3.5)
    # Face: a gradient with its own opacity gradient, a gloss on the upper
    # half, then a rim.
    for y in range(BUTTON):
        for x in range(BUTTON):
            cover = min(max(0.5 - body(x + 0.5, y + 0.5), 0.0), 1.0)
            t = (y + 0.5 - 1.0) / 17.0
            c.blend(x, y, mix(hexrgb(top), hexrgb(bottom), t),
                    cover * (op_top + (op_bottom - op_top) * t))
    gloss = rounded_box(2.0, 2.0, 17.0, 9.5, 2.5)
    c.shape(gloss, solid(hexrgb("#ffffff")), 0.22 if state != "pressed" else 0.08)
    ring = subtract(body, grow(body, -1.0))
    c.shape(ring, solid(hexrgb("#ffffff")), rim)
    shape = glyph(dy)
    c.shape(lambda x, y: shape(x, y - 1.0), solid(GLYPH_SHADOW), 0.45)
    c.shape(shape, solid(GLYPH), 1.0)
    return c


# ---------------------------------------------------------------- icon -----


def app_icon():
    c = Canvas(32, 32)
    # Database: a cylinder of three stacked platters.
    body = union(rounded_box(4.0, 7.0, 24.0, 25.5, 0.0), ellipse(14.0, 25.5, 10.0, 3.5))
    top = ellipse(14.0, 7.0, 10.0, 3.5)
    outline = hexrgb("#1c3c73")
    c.shape(grow(union(body, top), 0.9), solid(outline), 0.95)

    def side(x, _y):
        t = (x - 4.0) / 20.0
        # Light from the upper left: bright third, dark right edge.
        if t < 0.3:
            return mix(hexrgb("#7fa9ea"), hexrgb("#b9d3f7"), t / 0.3)
        return mix(hexrgb("#b9d3f7"), hexrgb("#2f5fae"), (t - 0.3) / 0.7)

    c.shape(body, side)
    for band_y in (13.0, 19.3):
        c.shape(subtract(ellipse(14.0, band_y + 0.2, 10.0, 3.5),
                         ellipse(14.0, band_y - 0.9, 10.0, 3.5)),
                solid(hexrgb("#234a8c")), 0.8)
    c.shape(top, vertical([(3.5, hexrgb("#e9f2fd")), (10.5, hexrgb("#9cbcee"))]))
    c.shape(subtract(top, grow(top, -0.9)), solid(hexrgb("#ffffff")), 0.6)

    # Wrench laid across the lower right corner.
    angle = math.radians(-45.0)
    hx, hy = 24.0, 15.5
    head = subtract(circle(hx, hy, 5.0),
                    rotated_box(hx, hy, 8.0, 1.8, angle))
    handle = capsule(hx - 2.0, hy + 2.0, 14.0, 27.5, 2.1)
    wrench = union(head, handle)
    c.shape(grow(wrench, 0.9), solid(hexrgb("#2b2f36")), 0.95)
    c.shape(wrench, lambda x, y: mix(hexrgb("#f4f6f8"), hexrgb("#8b96a3"),
                                     ((x - 12.0) + (y - 12.0)) / 22.0))
    c.shape(capsule(hx - 3.2, hy + 3.2, 14.6, 26.2, 0.55),
            solid(hexrgb("#ffffff")), 0.7)
    return c


# ---------------------------------------------------------------- main -----


def main():
    images = {
        "app_icon.png": app_icon(),
        "title_left.png": title_left(),
        "title_client.png": title_client(),
        "title_right.png": title_right(),
    }
    glyphs = {"close": glyph_close, "min": glyph_min, "menu": glyph_menu}
    for name, glyph in glyphs.items():
        faces = CLOSE_FACES if name == "close" else {}
        for state in ("normal", "hover", "pressed"):
            images["title_%s_%s.png" % (name, state)] = title_button(glyph, state, faces)
    for file_name, canvas in sorted(images.items()):
        canvas.png(os.path.join(HERE, file_name))
        print("%-26s %3d x %2d" % (file_name, canvas.width, canvas.height))


if __name__ == "__main__":
    main()
