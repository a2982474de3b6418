#!/usr/bin/env python3
"""Draw the program's pictures into app/pictures/, and its desktop icons into
app/desktop/icons/.

    python3 tools/art/make-art.py [pictures-folder [icons-folder]]

Only the Python standard library is used to draw (shapes are filled with 4x4
supersampling and written as PNG); the JPEG pictures are encoded from a
temporary PNG by ImageMagick's `convert`. The output is the same on every run.
"""

import math
import os
import struct
import subprocess
import sys
import tempfile
import zlib

SS = 4  # samples per pixel along each axis


def rgb(hex_text, alpha=255):
    v = int(hex_text.lstrip("#"), 16)
    return ((v >> 16) & 255, (v >> 8) & 255, v & 255, alpha)


class Canvas:
    def __init__(self, width, height, background=(0, 0, 0, 0)):
        self.w, self.h = width, height
        self.px = [list(background) for _ in range(width * height)]

    # -- compositing

    def blend(self, x, y, color, coverage):
        if coverage <= 0 or not (0 <= x < self.w and 0 <= y < self.h):
            return
        r, g, b, a = color
        sa = a / 255.0 * coverage
        dst = self.px[y * self.w + x]
        da = dst[3] / 255.0
        oa = sa + da * (1 - sa)
        if oa <= 0:
            return
        for i, c in enumerate((r, g, b)):
            dst[i] = (c * sa + dst[i] * da * (1 - sa)) / oa
        dst[3] = oa * 255.0

    def fill(self, inside, box, color):
        """Fill where inside(x, y) holds; color is a colour or f(x, y) -> colour."""
        x0, y0, x1, y1 = box
        x0, y0 = max(0, int(math.floor(x0))), max(0, int(math.floor(y0)))
        x1, y1 = min(self.w, int(math.ceil(x1))), min(self.h, int(math.ceil(y1)))
        offsets = [(i + 0.5) / SS for i in range(SS)]
        for y in range(y0, y1):
            for x in range(x0, x1):
                hits = sum(1 for oy in offsets for ox in offsets if inside(x + ox, y + oy))
                if hits:
                    c = color(x + 0.5, y + 0.5) if callable(color) else color
                    self.blend(x, y, c, hits / (SS * SS))

    # -- shapes (coordinates in pixels, pixel (i, j) covers [i, i+1) x [j, j+1))

    def rect(self, x0, y0, x1, y1, color):
        self.fill(lambda x, y: x0 <= x < x1 and y0 <= y < y1, (x0, y0, x1, y1), color)

    def frame(self, x0, y0, x1, y1, t, color):
        self.fill(lambda x, y: x0 <= x < x1 and y0 <= y < y1
                  and not (x0 + t <= x < x1 - t and y0 + t <= y < y1 - t), (x0, y0, x1, y1), color)

    def polygon(self, pts, color):
        xs, ys = [p[0] for p in pts], [p[1] for p in pts]

        def inside(x, y):
            odd = False
            j = len(pts) - 1
            for i in range(len(pts)):
                xi, yi = pts[i]
                xj, yj = pts[j]
                if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                    odd = not odd
                j = i
            return odd
        self.fill(inside, (min(xs), min(ys), max(xs), max(ys)), color)

    def ellipse(self, cx, cy, rx, ry, color, inner=0.0):
        """A filled ellipse, or a ring of width rx - inner when inner > 0."""
        def inside(x, y):
            d = ((x - cx) / rx) ** 2 + ((y - cy) / ry) ** 2
            if d > 1:
                return False
            if inner > 0:
                return ((x - cx) / inner) ** 2 + ((y - cy) / (inner * ry / rx)) ** 2 > 1
            return True
        self.fill(inside, (cx - rx, cy - ry, cx + rx, cy + ry), color)

    def line(self, p, q, width, color, cap=True):
        (x0, y0), (x1, y1) = p, q
        length = math.hypot(x1 - x0, y1 - y0)
        dx, dy = (x1 - x0) / length, (y1 - y0) / length
        nx, ny = -dy * width / 2, dx * width / 2
        self.polygon([(x0 + nx, y0 + ny), (x1 + nx, y1 + ny), (x1 - nx, y1 - ny), (x0 - nx, y0 - ny)], color)
        if cap:
            for cx, cy in (p, q):
                self.ellipse(cx, cy, width / 2, width / 2, color)

    def polyline(self, pts, width, color):
        """One stroke through pts, round joins, drawn as a single coverage pass."""
        r = width / 2

        def seg_dist(x, y, a, b):
            (ax, ay), (bx, by) = a, b
            vx, vy = bx - ax, by - ay
            t = max(0.0, min(1.0, ((x - ax) * vx + (y - ay) * vy) / (vx * vx + vy * vy or 1)))
            return math.hypot(x - ax - t * vx, y - ay - t * vy)

        def inside(x, y):
            return any(seg_dist(x, y, a, b) <= r for a, b in zip(pts, pts[1:]))
        xs, ys = [p[0] for p in pts], [p[1] for p in pts]
        self.fill(inside, (min(xs) - r, min(ys) - r, max(xs) + r, max(ys) + r), color)

    # -- output

    def png(self, path, opaque_on=None):
        rows = []
        for y in range(self.h):
            row = bytearray([0])
            for x in range(self.w):
                r, g, b, a = self.px[y * self.w + x]
                if opaque_on is not None:           # flatten onto a background
                    f = a / 255.0
                    r, g, b = (c * f + bg * (1 - f) for c, bg in zip((r, g, b), opaque_on))
                    a = 255
                row += bytes(int(round(max(0, min(255, v)))) for v in (r, g, b, a))
            rows.append(bytes(row))
        raw = b"".join(rows)

        def chunk(kind, data):
            body = kind + data
            return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)
        with open(path, "wb") as out:
            out.write(b"\x89PNG\r\n\x1a\n")
            out.write(chunk(b"IHDR", struct.pack(">IIBBBBB", self.w, self.h, 8, 6, 0, 0, 0)))
            out.write(chunk(b"IDAT", zlib.compress(raw, 9)))
            out.write(chunk(b"IEND", b""))

    def jpeg(self, path, background=(255, 255, 255), quality=92):
        with tempfile.TemporaryDirectory() as tmp:
            src = os.path.join(tmp, "src.png")
            self.png(src, opaque_on=background)
            # baseline JPEG, full-resolution colour, no metadata: same bytes every run
            subprocess.run(["convert", src, "-strip", "-interlace", "none",
                            "-sampling-factor", "1x1", "-quality", str(quality), path], check=True)


# ---------------------------------------------------------------- colours

INK = rgb("1a1a1a")
WHITE = rgb("ffffff")
RED = rgb("d42020")
BLUE = rgb("2a5db0")
DARK_BLUE = rgb("1c3f7a")
GREY = rgb("8c8c8c")
LIGHT = rgb("d8d8d8")
YELLOW = rgb("f2c230")
DARK_YELLOW = rgb("b88a12")


def radial(cx, cy, r, inner, outer):
    """A colour function fading from inner at the centre to outer at radius r."""
    def color(x, y):
        t = min(1.0, math.hypot(x - cx, y - cy) / r)
        return tuple(i + (o - i) * t for i, o in zip(inner, outer))
    return color


# ---------------------------------------------------------------- pictures

def lcd_send():
    """36 x 29: a monitor outline with a large S on its screen."""
    c = Canvas(36, 29, WHITE)
    c.frame(1, 1, 35, 22, 2, INK)                  # screen bezel
    c.rect(15, 22, 21, 25, INK)                    # neck
    c.rect(9, 25, 27, 27, INK)                     # foot
    cx, cy, rx, ry = 18, 11.5, 5.2, 3.4
    pts = [(cx + rx * math.cos(math.radians(a)), cy - ry + ry * math.sin(math.radians(a)))
           for a in range(-25, -271, -15)]
    pts += [(cx + rx * math.cos(math.radians(a)), cy + ry + ry * math.sin(math.radians(a)))
            for a in range(-90, 156, 15)]
    c.polyline(pts, 3.0, INK)
    return c


def lcd_rel():
    """24 x 24: a hollow triangle, the relative-reading delta."""
    c = Canvas(24, 24, WHITE)
    outer = [(12, 1.5), (22.8, 21.5), (1.2, 21.5)]
    c.polygon(outer, INK)
    inner = [(12, 7.6), (18.3, 19.0), (5.7, 19.0)]
    c.polygon(inner, WHITE)
    return c


def lamp(core, edge, rim):
    """20 x 20: a round indicator lamp with a highlight, on transparent ground."""
    c = Canvas(20, 20)
    c.ellipse(10, 10, 9, 9, rim)
    c.ellipse(10, 10, 7.6, 7.6, radial(8, 8, 9, core, edge))
    c.ellipse(7.5, 7, 2.4, 1.8, rgb("ffffff", 170))
    return c


def record_new():
    """16 x 16, "Close Data": a table with a red cross."""
    c = Canvas(16, 16)
    c.rect(1, 2, 14, 14, WHITE)
    c.rect(1, 2, 14, 5, BLUE)                       # title row
    for x in (5, 9):
        c.rect(x, 5, x + 1, 14, GREY)
    for y in (8, 11):
        c.rect(1, y, 14, y + 1, GREY)
    c.frame(1, 2, 14, 14, 1, DARK_BLUE)
    c.line((8.5, 8.5), (14.5, 14.5), 2.2, RED)
    c.line((14.5, 8.5), (8.5, 14.5), 2.2, RED)
    return c


def open_folder():
    """16 x 16: an open folder."""
    c = Canvas(16, 16)
    c.polygon([(1, 3), (6, 3), (7, 4.5), (13, 4.5), (13, 13), (1, 13)], DARK_YELLOW)
    c.rect(2, 5.5, 12, 12, rgb("fff6d8"))          # a sheet inside
    c.polygon([(3.5, 7), (15.5, 7), (13, 13), (1, 13)], YELLOW)
    c.polyline([(3.5, 7), (15.5, 7), (13, 13), (1, 13), (3.5, 7)], 0.8, DARK_YELLOW)
    return c


def floppy(body=DARK_BLUE):
    """16 x 16: a diskette."""
    c = Canvas(16, 16)
    c.polygon([(1, 1), (13, 1), (15, 3), (15, 15), (1, 15)], body)
    c.rect(4, 1, 12, 6, LIGHT)                      # shutter
    c.rect(9, 2, 11, 5, body)
    c.rect(3, 9, 13, 15, WHITE)                     # label
    c.rect(4, 11, 12, 12, GREY)
    c.rect(4, 13, 10, 14, GREY)
    return c


def printer():
    """16 x 16: a printer with a sheet."""
    c = Canvas(16, 16)
    c.rect(4, 1, 12, 7, WHITE)                      # paper in
    c.frame(4, 1, 12, 7, 1, GREY)
    c.rect(1, 6, 15, 12, rgb("a8a8a8"))             # body
    c.frame(1, 6, 15, 12, 1, rgb("505050"))
    c.rect(12, 8, 14, 9, rgb("3ac23a"))             # power lamp
    c.rect(4, 10, 12, 15, WHITE)                    # paper out
    c.frame(4, 10, 12, 15, 1, GREY)
    c.rect(5, 12, 11, 13, GREY)
    return c


def new_page():
    """16 x 16: a blank page with a folded corner."""
    c = Canvas(16, 16)
    c.polygon([(3, 1), (10, 1), (13, 4), (13, 15), (3, 15)], WHITE)
    c.polyline([(10, 1), (3, 1), (3, 15), (13, 15), (13, 4), (10, 1), (10, 4), (13, 4)], 1, rgb("505050"))
    return c


def camera():
    """16 x 16: a camera, for saving the chart as a picture."""
    c = Canvas(16, 16)
    c.rect(5, 3, 10, 5, rgb("404040"))              # viewfinder hump
    c.rect(1, 5, 15, 14, rgb("505050"))
    c.rect(2, 6, 14, 13, rgb("6e6e6e"))
    c.rect(12, 6, 14, 7, rgb("f0f0f0"))             # flash
    c.ellipse(8, 9.5, 3.6, 3.6, rgb("202020"))
    c.ellipse(8, 9.5, 2.4, 2.4, radial(7.3, 8.8, 2.6, rgb("7fb2ff"), rgb("1d3f80")))
    return c


def arrow(direction, stop):
    """16 x 16 paging glyph: a triangle pointing left (-1) or right (+1), with a stop bar."""
    c = Canvas(16, 16)
    if direction > 0:
        tri = [(5, 3), (12, 8), (5, 13)]
        if stop:
            tri = [(3, 3), (10, 8), (3, 13)]
            c.rect(11, 3, 13, 13, DARK_BLUE)
    else:
        tri = [(11, 3), (4, 8), (11, 13)]
        if stop:
            tri = [(13, 3), (6, 8), (13, 13)]
            c.rect(3, 3, 5, 13, DARK_BLUE)
    c.polygon(tri, DARK_BLUE)
    return c


def magnifier(plus):
    """25 x 25: a magnifying glass with + (enlarge) or - (restore)."""
    c = Canvas(25, 25)
    c.line((15.5, 15.5), (22.5, 22.5), 3.6, rgb("6b4a1e"))        # handle
    c.ellipse(10, 10, 8.2, 8.2, rgb("e8f2ff"))                    # glass
    c.ellipse(10, 10, 8.2, 8.2, rgb("3b3b3b"), inner=6.6)          # rim
    c.rect(6, 9, 14, 11, DARK_BLUE)
    if plus:
        c.rect(9, 6, 11, 14, DARK_BLUE)
    return c


def meter_shapes():
    """The program's icon, a handheld multimeter, as shapes on a 32 x 32 square:
    (kind, geometry, colour). The window icon and the desktop icons at every
    size, the scalable one included, are drawn from this one list."""
    shapes = [
        ("polygon", [(7, 1), (25, 1), (28, 4), (28, 28), (25, 31), (7, 31), (4, 28), (4, 4)], rgb("e8a317")),
        ("polygon", [(8, 3), (24, 3), (26, 5), (26, 27), (24, 29), (8, 29), (6, 27), (6, 5)], rgb("3a3a3a")),
        ("rect", (8, 5, 24, 13), rgb("c8d8b8")),                     # LCD
    ]
    for x in (10, 17):                                               # two digits "8"
        for (x0, y0, x1, y1) in ((0, 0, 5, 1), (0, 3, 5, 4), (0, 6, 5, 7), (0, 0, 1, 7), (4, 0, 5, 7)):
            shapes.append(("rect", (x + x0, 6 + y0, x + x1, 6 + y1), rgb("1e2a18")))
    shapes.append(("circle", (16, 20.5, 5), rgb("d0d0d0")))          # range dial
    shapes.append(("line", ((16, 20.5), (16, 16.5), 1.6), rgb("202020")))
    for x in (9, 16, 23):                                             # probe sockets
        shapes.append(("circle", (x, 27, 1.3), RED if x == 23 else rgb("101010")))
    return shapes


def window_icon(size=32):
    """size x size: the handheld multimeter."""
    c = Canvas(size, size)
    s = size / 32
    for kind, g, colour in meter_shapes():
        if kind == "polygon":
            c.polygon([(x * s, y * s) for x, y in g], colour)
        elif kind == "rect":
            c.rect(*(v * s for v in g), colour)
        elif kind == "circle":
            cx, cy, r = g
            c.ellipse(cx * s, cy * s, r * s, r * s, colour)
        elif kind == "line":
            (x0, y0), (x1, y1), w = g
            c.line((x0 * s, y0 * s), (x1 * s, y1 * s), w * s, colour)
    return c


def svg_icon(path):
    """The same multimeter as a scalable picture."""
    def hex_colour(c):
        return "#%02x%02x%02x" % c[:3]

    def num(v):
        return ("%g" % v)

    body = []
    for kind, g, colour in meter_shapes():
        fill = hex_colour(colour)
        if kind == "polygon":
            pts = " ".join("%s,%s" % (num(x), num(y)) for x, y in g)
            body.append('  <polygon points="%s" fill="%s"/>' % (pts, fill))
        elif kind == "rect":
            x0, y0, x1, y1 = g
            body.append('  <rect x="%s" y="%s" width="%s" height="%s" fill="%s"/>'
                        % (num(x0), num(y0), num(x1 - x0), num(y1 - y0), fill))
        elif kind == "circle":
            cx, cy, r = g
            body.append('  <circle cx="%s" cy="%s" r="%s" fill="%s"/>' % (num(cx), num(cy), num(r), fill))
        elif kind == "line":
            (x0, y0), (x1, y1), w = g
            body.append('  <line x1="%s" y1="%s" x2="%s" y2="%s" stroke="%s" stroke-width="%s" '
                        'stroke-linecap="round"/>' % (num(x0), num(y0), num(x1), num(y1), fill, num(w)))
    with open(path, "w") as out:
        out.write('<?xml version="1.0" encoding="UTF-8"?>\n'
                  '<svg xmlns="http://www.w3.org/2000/svg" width="128" height="128" viewBox="0 0 32 32">\n'
                  '  <title>quelt</title>\n' + "\n".join(body) + "\n</svg>\n")


def backdrop():
    """316 x 134: a blue-green texture behind the scale panel."""
    w, h = 316, 134
    c = Canvas(w, h)

    def hash01(i, j):
        n = (i * 374761393 + j * 668265263) & 0xFFFFFFFF
        n = ((n ^ (n >> 13)) * 1274126177) & 0xFFFFFFFF
        return ((n ^ (n >> 16)) & 0xFFFF) / 65535.0

    def noise(x, y):
        i, j = int(math.floor(x)), int(math.floor(y))
        fx, fy = x - i, y - j
        sx, sy = fx * fx * (3 - 2 * fx), fy * fy * (3 - 2 * fy)
        top = hash01(i, j) + (hash01(i + 1, j) - hash01(i, j)) * sx
        bottom = hash01(i, j + 1) + (hash01(i + 1, j + 1) - hash01(i, j + 1)) * sx
        return top + (bottom - top) * sy

    dark, light = (18, 82, 104), (72, 170, 150)
    for y in range(h):
        for x in range(w):
            v = (0.65 * noise(x / 30.0, y / 24.0) + 0.28 * noise(x / 11.0 + 50, y / 8.0)
                 + 0.07 * noise(x / 3.0 + 100, y / 3.0))
            v = 0.5 + 0.5 * math.sin(v * 5.0 + x / 45.0)    # soft bands
            c.px[y * w + x] = [d + (l - d) * v for d, l in zip(dark, light)] + [255]
    return c


PICTURES = [  # file name, drawing, format
    ("LCDsend.jpg", lcd_send, "jpeg"),
    ("LCDREL.jpg", lcd_rel, "jpeg"),
    ("CONok.png", lambda: lamp(rgb("b8ff9a"), rgb("19a21c"), rgb("0c5a10")), "png"),
    ("CONokN.png", lambda: lamp(rgb("e89a9a"), rgb("8a2a2a"), rgb("4a1414")), "png"),
    ("RecordNew.png", record_new, "png"),
    ("OpenDataFiles.png", open_folder, "png"),
    ("saveas.png", floppy, "png"),
    ("BtPrint.png", printer, "png"),
    ("BtNew.png", new_page, "png"),
    ("BtSave.png", camera, "png"),
    ("BtFirst.png", lambda: arrow(-1, True), "png"),
    ("BTPrevious.png", lambda: arrow(-1, False), "png"),
    ("BtNext.png", lambda: arrow(1, False), "png"),
    ("BTlast.png", lambda: arrow(1, True), "png"),
    ("TbFd.png", lambda: magnifier(True), "png"),
    ("TbSx.png", lambda: magnifier(False), "png"),
    ("Icon.png", window_icon, "png"),
    ("KD2.jpg", backdrop, "jpeg"),
]


# The desktop's icons (hicolor theme): the 32-pixel one is Icon.png itself.
ICON_NAME = "org.quelt.Quelt"
ICON_SIZES = (64, 128)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "..", "app", "pictures")
    icons = sys.argv[2] if len(sys.argv) > 2 else os.path.join(here, "..", "..", "app", "desktop", "icons")
    os.makedirs(out, exist_ok=True)
    for name, draw, kind in PICTURES:
        canvas = draw()
        path = os.path.join(out, name)
        if kind == "jpeg":
            canvas.jpeg(path)
        else:
            canvas.png(path)
    os.makedirs(icons, exist_ok=True)
    for size in ICON_SIZES:
        window_icon(size).png(os.path.join(icons, "%s-%d.png" % (ICON_NAME, size)))
    svg_icon(os.path.join(icons, ICON_NAME + ".svg"))


if __name__ == "__main__":
    main()
