#!/usr/bin/python3
"""Build the LCD font SEGO-A2 from the outlines defined in this file.

Run with Debian's python3 (it carries the fontforge module):
    /usr/bin/python3 tools/font/make-font.py [display/fonts/SEGO-A2.ttf]

Digits and letters are chains of pointed segments, like the bars of a
segment display, slanted a little; the annunciator symbols (hold, battery,
beeper, diode) are upright pictures made of bars, discs and arcs. Every
piece is a convex polygon; fontforge merges the overlapping pieces.
"""

import math
import os
import sys

os.environ.setdefault("SOURCE_DATE_EPOCH", "1767225600")  # fixed head table dates

import fontforge  # noqa: E402  (needs the environment variable above)
import psMat  # noqa: E402

FAMILY = "SEGO-A2"
EM = 1000
ASCENT = 900    # line box: 1.12 em, so a 100 px font sits in a 112 px label
DESCENT = 220

T = 66          # segment thickness
GAP = 9         # gap between neighbouring segments
SLANT = 0.08    # tan of the italic angle of digits and letters

H = 720         # centre line of the top bar (capitals, digits)
M = 360         # centre line of the middle bar
X = 430         # x-height (centre line)
XM = 215        # middle of the x-height
A = 720         # ascender
D = -200        # descender
WD = 210        # digit width (centre lines)
WU = 210        # capital width
WL = 190        # lower-case width
WW = 300        # wide letters (M, W, m, w)

DIGIT_ADVANCE = 400


# ---------------------------------------------------------------- pieces

def seg(p, q, t=T, gap=GAP):
    """A pointed segment from p to q (both ends pulled back by the gap)."""
    (x0, y0), (x1, y1) = p, q
    length = math.hypot(x1 - x0, y1 - y0)
    dx, dy = (x1 - x0) / length, (y1 - y0) / length
    nx, ny = -dy, dx
    h = t / 2
    if length < 2 * (gap + h) + 4:       # too short to point: a plain bar
        return bar(p, q, t)
    a = (x0 + gap * dx, y0 + gap * dy)
    b = (x1 - gap * dx, y1 - gap * dy)
    s = gap + h
    return [a,
            (x0 + s * dx + h * nx, y0 + s * dy + h * ny),
            (x1 - s * dx + h * nx, y1 - s * dy + h * ny),
            b,
            (x1 - s * dx - h * nx, y1 - s * dy - h * ny),
            (x0 + s * dx - h * nx, y0 + s * dy - h * ny)]


def bar(p, q, t=T, ext=0.0):
    """A flat-ended bar of width t from p to q, extended by ext at both ends."""
    (x0, y0), (x1, y1) = p, q
    length = math.hypot(x1 - x0, y1 - y0)
    dx, dy = (x1 - x0) / length, (y1 - y0) / length
    nx, ny = -dy * t / 2, dx * t / 2
    x0, y0 = x0 - dx * ext, y0 - dy * ext
    x1, y1 = x1 + dx * ext, y1 + dy * ext
    return [(x0 + nx, y0 + ny), (x1 + nx, y1 + ny), (x1 - nx, y1 - ny), (x0 - nx, y0 - ny)]


def rect(x0, y0, x1, y1):
    return [(x0, y0), (x0, y1), (x1, y1), (x1, y0)]


def frame(x0, y0, x1, y1, t):
    """The outline of a rectangle drawn with bars of width t (outer size given)."""
    return [rect(x0, y0, x1, y0 + t), rect(x0, y1 - t, x1, y1),
            rect(x0, y0, x0 + t, y1), rect(x1 - t, y0, x1, y1)]


def disc(cx, cy, r, n=24):
    return [(cx + r * math.cos(2 * math.pi * i / n), cy + r * math.sin(2 * math.pi * i / n))
            for i in range(n)]


def arc(cx, cy, r_in, r_out, a0, a1, steps=None):
    """An arc band between radii r_in and r_out from angle a0 to a1 (degrees)."""
    steps = steps or max(2, int(abs(a1 - a0) / 10))
    parts = []
    for i in range(steps):
        t0 = math.radians(a0 + (a1 - a0) * i / steps)
        t1 = math.radians(a0 + (a1 - a0) * (i + 1) / steps)
        parts.append([(cx + r_in * math.cos(t0), cy + r_in * math.sin(t0)),
                      (cx + r_out * math.cos(t0), cy + r_out * math.sin(t0)),
                      (cx + r_out * math.cos(t1), cy + r_out * math.sin(t1)),
                      (cx + r_in * math.cos(t1), cy + r_in * math.sin(t1))])
    return parts


def chains(*paths, t=T):
    """Segments between consecutive points of each path."""
    out = []
    for path in paths:
        for p, q in zip(path, path[1:]):
            out.append(seg(p, q, t))
    return out


def moved(polys, dx, dy=0.0):
    return [[(x + dx, y + dy) for x, y in poly] for poly in polys]


# ---------------------------------------------------------------- digits

def seven(on, w=WD):
    """Seven-segment figure; on names the lit segments a..g."""
    pts = {"a": ((0, H), (w, H)), "b": ((w, H), (w, M)), "c": ((w, M), (w, 0)),
           "d": ((w, 0), (0, 0)), "e": ((0, 0), (0, M)), "f": ((0, M), (0, H)),
           "g": ((0, M), (w, M))}
    return [seg(*pts[s]) for s in on]


DIGITS = {"0": "abcdef", "1": "bc", "2": "abged", "3": "abgcd", "4": "fgbc",
          "5": "afgcd", "6": "afgedc", "7": "abc", "8": "abcdefg", "9": "abcdfg"}

# ---------------------------------------------------------------- letters
# Capitals: x 0..WU, y 0..H with the middle at M.
w, h, m = WU, H, M
UPPER = {
    "A": chains([(0, 0), (0, m), (0, h), (w, h), (w, m), (w, 0)], [(0, m), (w, m)]),
    "B": chains([(0, 0), (0, m), (0, h), (w - 45, h), (w - 45, m)], [(0, m), (w, m), (w, 0), (0, 0)]),
    "C": chains([(w, h), (0, h), (0, m), (0, 0), (w, 0)]),
    "D": chains([(0, 0), (0, m), (0, h), (w - 100, h), (w, h - 190), (w, 190), (w - 100, 0), (0, 0)]),
    "E": chains([(w, h), (0, h), (0, m), (0, 0), (w, 0)], [(0, m), (w - 50, m)]),
    "F": chains([(w, h), (0, h), (0, m), (0, 0)], [(0, m), (w - 50, m)]),
    "G": chains([(w, h), (0, h), (0, m), (0, 0), (w, 0), (w, m), (w / 2, m)]),
    "H": chains([(0, 0), (0, m), (0, h)], [(w, 0), (w, m), (w, h)], [(0, m), (w, m)]),
    "I": chains([(w / 2 - 80, h), (w / 2 + 80, h)], [(w / 2, h), (w / 2, m), (w / 2, 0)],
                [(w / 2 - 80, 0), (w / 2 + 80, 0)]),
    "J": chains([(w, h), (w, m), (w, 0), (0, 0), (0, m * 0.7)]),
    "K": chains([(0, 0), (0, m), (0, h)], [(w, h), (40, m), (w, 0)]),
    "L": chains([(0, h), (0, m), (0, 0), (w, 0)]),
    "M": chains([(0, 0), (0, m), (0, h), (WW / 2, m + 40), (WW, h), (WW, m), (WW, 0)]),
    "N": chains([(0, 0), (0, m), (0, h), (w, 0), (w, m), (w, h)]),
    "O": chains([(0, 0), (0, m), (0, h), (w, h), (w, m), (w, 0), (0, 0)]),
    "P": chains([(0, 0), (0, m), (0, h), (w, h), (w, m), (0, m)]),
    "Q": chains([(0, 0), (0, m), (0, h), (w, h), (w, m), (w, 0), (0, 0)], [(w / 2 + 20, 170), (w + 40, -90)]),
    "R": chains([(0, 0), (0, m), (0, h), (w, h), (w, m), (0, m)], [(70, m), (w, 0)]),
    "S": chains([(w, h), (0, h), (0, m), (w, m), (w, 0), (0, 0)]),
    "T": chains([(0, h), (w / 2, h), (w, h)], [(w / 2, h), (w / 2, m), (w / 2, 0)]),
    "U": chains([(0, h), (0, m), (0, 0), (w, 0), (w, m), (w, h)]),
    "V": chains([(0, h), (w / 2, 0), (w, h)]),
    "W": chains([(0, h), (0, m), (0, 0), (WW / 2, m - 40), (WW, 0), (WW, m), (WW, h)]),
    "X": chains([(0, h), (w, 0)], [(w, h), (0, 0)]),
    "Y": chains([(0, h), (w / 2, m), (w, h)], [(w / 2, m), (w / 2, 0)]),
    "Z": chains([(0, h), (w, h), (0, 0), (w, 0)]),
}

# Lower case: x-height X (middle XM), ascender A, descender D.
w, x, xm = WL, X, XM
DOT = [rect(-T / 2, x + 110, T / 2, x + 110 + T)]
MU = chains([(0, x), (0, 0), (0, D)], [(0, 0), (w, 0), (w, x)])
LOWER = {
    "a": chains([(10, x), (w, x), (w, xm), (w, 0), (0, 0), (0, xm), (w, xm)]),
    "b": chains([(0, A), (0, x), (0, 0), (w, 0), (w, x), (0, x)]),
    "c": chains([(w, x), (0, x), (0, 0), (w, 0)]),
    "d": chains([(w, A), (w, x), (w, 0), (0, 0), (0, x), (w, x)]),
    "e": chains([(0, xm), (w, xm), (w, x), (0, x), (0, xm), (0, 0), (w, 0)]),
    "f": chains([(w, A), (60, A), (60, x), (60, 0)], [(-20, x), (w - 30, x)]),
    "g": chains([(w, x), (0, x), (0, xm), (w, xm)], [(w, x), (w, xm), (w, 0), (w, D), (0, D)]),
    "h": chains([(0, A), (0, x), (0, 0)], [(0, x), (w, x), (w, 0)]),
    "i": chains([(0, x), (0, 0)]) + DOT,
    "j": chains([(w / 2, x), (w / 2, 0), (w / 2, D), (-40, D)]) + moved(DOT, w / 2),
    "k": chains([(0, A), (0, x), (0, 0)], [(w, x), (40, xm), (w, 0)]),
    "l": chains([(0, A), (0, x), (0, 0), (90, 0)]),
    "m": chains([(0, 0), (0, x), (WW / 2, x), (WW, x), (WW, 0)], [(WW / 2, x), (WW / 2, 0)]),
    "n": chains([(0, 0), (0, x), (w, x), (w, 0)]),
    "o": chains([(0, 0), (0, x), (w, x), (w, 0), (0, 0)]),
    "p": chains([(0, D), (0, 0), (0, x), (w, x), (w, 0), (0, 0)]),
    "q": chains([(w, D), (w, 0), (w, x), (0, x), (0, 0), (w, 0)]),
    "r": chains([(0, 0), (0, x), (w, x)]),
    "s": chains([(w, x), (0, x), (0, xm), (w, xm), (w, 0), (0, 0)]),
    "t": chains([(30, A), (30, x), (30, 0), (w, 0)], [(-30, x), (w - 20, x)]),
    "u": chains([(0, x), (0, 0), (w, 0), (w, x)]),  # a plain u, so "Auto range" reads right; "+" is the micro sign
    "v": chains([(0, x), (w / 2, 0), (w, x)]),
    "w": chains([(0, x), (0, 0), (WW / 2, 0), (WW, 0), (WW, x)], [(WW / 2, 0), (WW / 2, x * 0.7)]),
    "x": chains([(0, x), (w, 0)], [(w, x), (0, 0)]),
    "y": chains([(0, x), (0, xm), (w, xm)], [(w, x), (w, xm), (w, 0), (w, D), (0, D)]),
    "z": chains([(0, x), (w, x), (0, 0), (w, 0)]),
}

# ---------------------------------------------------------------- symbols

def degree(cx, cy):
    return arc(cx, cy, 38, 80, 0, 360, 24)


def hold():
    """A lowered box with an H inside: the hold annunciator."""
    polys = frame(20, 0, 660, 620, 56)
    polys += [rect(190, 130, 260, 490), rect(420, 130, 490, 490), rect(190, 275, 490, 345)]
    return polys


def battery():
    polys = frame(30, 40, 610, 420, 52)
    polys.append(rect(610, 150, 680, 310))                       # terminal
    polys += [rect(120, 130, 230, 330), rect(270, 130, 380, 330)]  # charge left
    return polys


def beeper():
    polys = [rect(30, 220, 140, 440), [(140, 220), (290, 80), (290, 580), (140, 440)]]
    polys += arc(300, 330, 115, 165, -50, 50) + arc(300, 330, 235, 285, -50, 50)
    return polys


def diode():
    polys = [rect(20, 275, 200, 335), [(200, 90), (200, 520), (450, 305)],
             rect(450, 90, 515, 520), rect(515, 275, 690, 335)]
    return polys


def ohm():
    cx, cy, r0, r1 = 300, 410, 205, 270
    polys = arc(cx, cy, r0, r1, -55, 235, 29)
    # straight legs from both ends of the arc down to the feet
    for a, sign in ((-55, 1), (235, -1)):
        ex = cx + (r0 + r1) / 2 * math.cos(math.radians(a))
        ey = cy + (r0 + r1) / 2 * math.sin(math.radians(a))
        polys.append(rect(ex - 32, 0, ex + 32, ey + 25))
        foot = ex + sign * 150
        polys.append(rect(min(ex - 32, foot), 0, max(ex + 32, foot), 64))
    return polys


def percent():
    box = 150
    polys = frame(-10, H + T / 2 - box - 40, box - 10, H + T / 2, 58)
    polys += frame(WD - box + 30, -T / 2, WD + 30, box + 40 - T / 2, 58)
    polys.append(bar((-10, -T / 2 + 30), (WD + 30, H + T / 2 - 30), 62))
    return polys


SYMBOLS = {  # char: (outlines, slanted)
    '"': (hold(), False),
    "$": (battery(), False),
    "&": (beeper(), False),
    ")": (diode(), False),
    "*": (ohm(), False),
    "+": (MU, True),
    "#": (degree(80, H - 40) + moved(UPPER["C"], 220), True),
    "?": (degree(80, H - 40) + moved(UPPER["F"], 220), True),
    "@": (seven("def"), True),
    "%": (percent(), True),
    # The sign sits a little above the digits' middle: the panel's sign label
    # is 8 px lower than the digit labels.
    "-": ([seg((0, M + 60), (WD - 20, M + 60))], True),
    ".": ([rect(0, -T / 2, 90, 90 - T / 2)], True),
    ":": ([rect(0, -T / 2, 90, 90 - T / 2), rect(0, 320, 90, 410)], True),
    ",": ([rect(0, -T / 2, 90, 90 - T / 2), [(20, -T / 2), (90, -T / 2), (20, -170), (-20, -170)]], True),
    "'": ([rect(0, H - 180, 60, H + T / 2)], True),
    "!": ([rect(0, 160, T, H + T / 2), rect(0, -T / 2, T, T / 2)], True),
    "/": ([bar((0, -T / 2), (WD, H + T / 2), T)], True),
    "_": ([rect(0, -T / 2 - 90, WD, T / 2 - 90)], True),
    "=": ([rect(0, M - 110, WD, M - 110 + T), rect(0, M + 110 - T, WD, M + 110)], True),
}

# Glyphs drawn on the fixed digit pitch, so the overload "0L" and a signed
# reading line up like the meter's own display.
FIXED_PITCH = set("0123456789@")


# ---------------------------------------------------------------- build

def put(font, code, polys, slant, advance=None, bearing=50):
    g = font.createChar(code)
    pen = g.glyphPen()
    for poly in polys:
        # the pieces sit on centre lines; lift so ink starts at the baseline
        pts = [(px, py + T / 2) for px, py in poly]
        pen.moveTo(pts[0])
        for pt in pts[1:]:
            pen.lineTo(pt)
        pen.closePath()
    pen = None
    g.removeOverlap()
    if slant:
        g.transform(psMat.skew(math.atan(SLANT)))
    g.round()
    g.correctDirection()
    xmin, _, xmax, _ = g.boundingBox()
    if advance is None:
        g.transform(psMat.translate(bearing - xmin, 0))
        g.width = int(round(xmax - xmin)) + 2 * bearing
    else:
        g.transform(psMat.translate((advance - (xmax - xmin)) / 2 - xmin, 0))
        g.width = advance
    g.round()
    return g


def build(path):
    font = fontforge.font()
    font.encoding = "UnicodeBmp"
    font.familyname = FAMILY
    font.fontname = FAMILY
    font.fullname = FAMILY
    font.weight = "Regular"
    font.version = "1.0"
    font.copyright = "Drawn for the meter interface program"
    font.em = EM
    font.ascent = 800
    font.descent = 200
    for attr in ("hhea_ascent_add", "hhea_descent_add", "os2_typoascent_add",
                 "os2_typodescent_add", "os2_winascent_add", "os2_windescent_add"):
        setattr(font, attr, False)
    font.hhea_ascent = ASCENT
    font.hhea_descent = -DESCENT
    font.hhea_linegap = 0
    font.os2_typoascent = ASCENT
    font.os2_typodescent = -DESCENT
    font.os2_typolinegap = 0
    font.os2_winascent = ASCENT
    font.os2_windescent = DESCENT
    font.appendSFNTName("English (US)", "Family", FAMILY)
    font.appendSFNTName("English (US)", "SubFamily", "Regular")

    notdef = font.createChar(-1, ".notdef")
    pen = notdef.glyphPen()
    for poly in frame(50, 0, 450, H + T, 50):
        pen.moveTo(poly[0])
        for pt in poly[1:]:
            pen.lineTo(pt)
        pen.closePath()
    pen = None
    notdef.removeOverlap()
    notdef.correctDirection()
    notdef.width = 500

    space = font.createChar(32)
    space.width = 300

    for ch, on in DIGITS.items():
        put(font, ord(ch), seven(on), True, DIGIT_ADVANCE)
    for table in (UPPER, LOWER):
        for ch, polys in table.items():
            put(font, ord(ch), polys, True)
    for ch, (polys, slant) in SYMBOLS.items():
        put(font, ord(ch), polys, slant, DIGIT_ADVANCE if ch in FIXED_PITCH else None)

    font.generate(path)


if __name__ == "__main__":
    here = os.path.dirname(os.path.abspath(__file__))
    default = os.path.join(here, "..", "..", "display", "fonts", FAMILY + ".ttf")
    build(os.path.normpath(sys.argv[1] if len(sys.argv) > 1 else default))
