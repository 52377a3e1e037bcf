#!/usr/bin/env python3
"""Draws the control's pictures and cursors.

    make_resources.py <output folder> [<font file>]

Writes, for src/resources/ZanQuilmo4.rc:
  tool glyphs          glyph_*.bmp      36 x 36 (the undo strip 72 x 36: enabled, disabled)
  pen media            medium_*.bmp     32 x 32
  pen widths           width_*.bmp      32 x 32
  shape kinds          shape_*.bmp      32 x 32
  fill styles          fill_*.ico       32 x 32 icons
  text panel caption   caption.bmp      101 x 37, the Japanese hint in three lines
  toolbox bitmap       toolbox.bmp      16 x 16, 4 bits per pixel
  cursors              *.cur            32 x 32 monochrome, with their hot spots
Pictures are 32-bit premultiplied BGRA bitmaps (drawn with per-pixel alpha on any
background); everything is drawn at four times the size and averaged down, so edges are
smooth. The output depends only on this script, Pillow and the font (fonts-ipafont-gothic).
"""
import math
import os
import struct
import sys

from PIL import Image, ImageDraw, ImageFont

SCALE = 4
FONT = "/usr/share/fonts/opentype/ipafont-gothic/ipagp.ttf"

INK = (40, 40, 48, 255)
OUTLINE = (50, 50, 60, 255)


# ---- file writers ----

def premultiplied_bgra_rows(img):
    """Rows bottom-up, each pixel B, G, R, A premultiplied."""
    w, h = img.size
    px = img.load()
    out = bytearray()
    for y in range(h - 1, -1, -1):
        for x in range(w):
            r, g, b, a = px[x, y]
            out += bytes((b * a // 255, g * a // 255, r * a // 255, a))
    return bytes(out)


def write_bmp32(path, img):
    w, h = img.size
    pixels = premultiplied_bgra_rows(img)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 32, 0, len(pixels), 2835, 2835, 0, 0)
    head = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    with open(path, "wb") as f:
        f.write(head + info + pixels)


def and_mask(alpha_rows, w, h, threshold=1):
    """1-bit rows bottom-up, padded to 4 bytes: 1 where transparent."""
    stride = ((w + 31) // 32) * 4
    out = bytearray()
    for y in range(h - 1, -1, -1):
        row = bytearray(stride)
        for x in range(w):
            if alpha_rows[y][x] < threshold:
                row[x // 8] |= 0x80 >> (x % 8)
        out += row
    return bytes(out)


def write_ico32(path, img):
    w, h = img.size
    px = img.load()
    alpha = [[px[x, y][3] for x in range(w)] for y in range(h)]
    # Icons carry straight (not premultiplied) alpha.
    color = bytearray()
    for y in range(h - 1, -1, -1):
        for x in range(w):
            r, g, b, a = px[x, y]
            color += bytes((b, g, r, a))
    image = struct.pack("<IiiHHIIiiII", 40, w, h * 2, 1, 32, 0, 0, 0, 0, 0, 0) + bytes(color) + and_mask(alpha, w, h)
    head = struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", w, h, 0, 0, 1, 32, len(image), 22)
    with open(path, "wb") as f:
        f.write(head + image)


def write_cursor(path, grid, hot):
    """grid: 32 strings of 32 characters: '.' transparent, '#' black, 'o' white."""
    w = h = 32
    stride = 4
    xor_rows, and_rows = bytearray(), bytearray()
    for y in range(h - 1, -1, -1):
        xr, ar = bytearray(stride), bytearray(stride)
        for x in range(w):
            c = grid[y][x]
            bit = 0x80 >> (x % 8)
            if c == ".":
                ar[x // 8] |= bit
            elif c == "o":
                xr[x // 8] |= bit
        xor_rows += xr
        and_rows += ar
    palette = bytes((0, 0, 0, 0, 255, 255, 255, 0))
    image = struct.pack("<IiiHHIIiiII", 40, w, h * 2, 1, 1, 0, 0, 0, 0, 2, 0) + palette + bytes(xor_rows) + bytes(and_rows)
    head = struct.pack("<HHH", 0, 2, 1) + struct.pack("<BBBBHHII", w, h, 2, 0, hot[0], hot[1], len(image), 22)
    with open(path, "wb") as f:
        f.write(head + image)


VGA16 = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
         (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255),
         (255, 0, 255), (0, 255, 255), (255, 255, 255)]


def write_bmp4(path, img):
    """A 16-colour bitmap with the standard VGA palette; each pixel its nearest colour."""
    w, h = img.size
    px = img.convert("RGB").load()
    stride = ((w * 4 + 31) // 32) * 4
    rows = bytearray()
    for y in range(h - 1, -1, -1):
        row = bytearray(stride)
        for x in range(w):
            r, g, b = px[x, y]
            i = min(range(16), key=lambda k: (VGA16[k][0] - r) ** 2 + (VGA16[k][1] - g) ** 2 + (VGA16[k][2] - b) ** 2)
            row[x // 2] |= i << (4 if x % 2 == 0 else 0)
        rows += row
    palette = b"".join(bytes((b, g, r, 0)) for r, g, b in VGA16)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 4, 0, len(rows), 0, 0, 16, 0)
    head = struct.pack("<2sIHHI", b"BM", 14 + 40 + 64 + len(rows), 0, 0, 14 + 40 + 64)
    with open(path, "wb") as f:
        f.write(head + info + palette + bytes(rows))


# ---- drawing at four times the size ----

class Pen:
    """Drawing in the final picture's pixel coordinates on a canvas SCALE times larger."""

    def __init__(self, w, h):
        self.img = Image.new("RGBA", (w * SCALE, h * SCALE), (0, 0, 0, 0))
        self.d = ImageDraw.Draw(self.img)
        self.size = (w, h)

    def p(self, pts):
        return [(x * SCALE, y * SCALE) for x, y in pts]

    def line(self, pts, fill, width):
        self.d.line(self.p(pts), fill=fill, width=max(1, round(width * SCALE)), joint="curve")
        r = width * SCALE / 2
        for x, y in (pts[0], pts[-1]):
            self.d.ellipse((x * SCALE - r, y * SCALE - r, x * SCALE + r, y * SCALE + r), fill=fill)

    def poly(self, pts, fill=None, outline=None, width=1.0):
        if fill:
            self.d.polygon(self.p(pts), fill=fill)
        if outline:
            self.line(list(pts) + [pts[0]], outline, width)

    def rect(self, box, fill=None, outline=None, width=1.0, radius=0):
        x0, y0, x1, y1 = box
        b = (x0 * SCALE, y0 * SCALE, x1 * SCALE, y1 * SCALE)
        if radius:
            self.d.rounded_rectangle(b, radius * SCALE, fill=fill, outline=outline, width=round(width * SCALE) if outline else 0)
        else:
            self.d.rectangle(b, fill=fill, outline=outline, width=round(width * SCALE) if outline else 0)

    def ellipse(self, box, fill=None, outline=None, width=1.0):
        x0, y0, x1, y1 = box
        self.d.ellipse((x0 * SCALE, y0 * SCALE, x1 * SCALE, y1 * SCALE), fill=fill, outline=outline,
                       width=round(width * SCALE) if outline else 0)

    def done(self):
        return self.img.resize(self.size, Image.BOX)


def rotate(pts, cx, cy, deg):
    a = math.radians(deg)
    c, s = math.cos(a), math.sin(a)
    return [(cx + (x - cx) * c - (y - cy) * s, cy + (x - cx) * s + (y - cy) * c) for x, y in pts]


def wave(x0, x1, y, amp, n=24):
    return [(x0 + (x1 - x0) * i / n, y + amp * math.sin(i / n * 2 * math.pi)) for i in range(n + 1)]


def pen_body(p, cx, cy, angle, length, width, body, tip, nib_len=5.0, cap=None):
    """A pen lying along `angle`, its tip at (cx, cy)."""
    hw = width / 2
    nib = [(0, 0), (nib_len, -hw), (nib_len, hw)]
    shaft = [(nib_len, -hw), (length, -hw), (length, hw), (nib_len, hw)]
    def place(pts):
        return rotate([(cx + x, cy + y) for x, y in pts], cx, cy, angle)
    p.poly(place(shaft), fill=body, outline=OUTLINE, width=0.9)
    if cap:
        p.poly(place([(length - 5, -hw), (length, -hw), (length, hw), (length - 5, hw)]), fill=cap, outline=OUTLINE, width=0.9)
    p.poly(place(nib), fill=tip, outline=OUTLINE, width=0.9)


# ---- tool glyphs (36 x 36; the button shows columns and rows 3 to 32) ----

def glyph_pen():
    p = Pen(36, 36)
    p.line(wave(6, 22, 28, 2.2), (20, 20, 30, 255), 1.8)
    pen_body(p, 9, 26, -45, 25, 6.5, (70, 110, 200, 255), (240, 220, 180, 255), 6, cap=(40, 60, 120, 255))
    return p.done()


def glyph_eraser():
    p = Pen(36, 36)
    p.line([(6, 30), (28, 30)], (160, 160, 170, 255), 1.2)
    body = rotate([(9, 19), (29, 19), (29, 28), (9, 28)], 19, 23.5, -35)
    sleeve = rotate([(17, 19), (29, 19), (29, 28), (17, 28)], 19, 23.5, -35)
    p.poly(body, fill=(250, 180, 190, 255), outline=OUTLINE, width=1.0)
    p.poly(sleeve, fill=(80, 140, 220, 255), outline=OUTLINE, width=1.0)
    return p.done()


def glyph_bucket():
    p = Pen(36, 36)
    bucket = rotate([(8, 12), (24, 12), (22, 29), (10, 29)], 16, 20, -30)
    p.poly(bucket, fill=(190, 200, 215, 255), outline=OUTLINE, width=1.1)
    rim = rotate([(8, 12), (24, 12)], 16, 20, -30)
    p.line(rim, OUTLINE, 1.6)
    handle = rotate([(9, 12), (10, 6), (16, 4), (22, 6), (23, 12)], 16, 20, -30)
    p.line(handle, OUTLINE, 1.0)
    paint = rotate([(8.5, 12.5), (23.5, 12.5), (23, 16), (9, 16)], 16, 20, -30)
    p.poly(paint, fill=(220, 50, 60, 255))
    p.poly([(25, 20), (28, 26), (27, 29), (24, 30), (22, 28), (23, 25)], fill=(220, 50, 60, 255), outline=(150, 30, 40, 255), width=0.8)
    return p.done()


def glyph_text():
    p = Pen(36, 36)
    ink = (30, 30, 40, 255)
    p.poly([(17, 6), (20, 6), (28, 29), (24.5, 29), (22.6, 23), (14.4, 23), (12.5, 29), (9, 29)], fill=ink)
    p.poly([(18.5, 10.5), (21.5, 20), (15.5, 20)], fill=(0, 0, 0, 0))
    img = p.done()
    # Cut the counter of the "A" out again (the polygon above filled it).
    q = Pen(36, 36)
    q.poly([(18.5, 11.5), (21.4, 20.2), (15.6, 20.2)], fill=(255, 255, 255, 255))
    hole = q.done()
    px, hp = img.load(), hole.load()
    for y in range(36):
        for x in range(36):
            r, g, b, a = px[x, y]
            px[x, y] = (r, g, b, a * (255 - hp[x, y][3]) // 255)
    p2 = Pen(36, 36)
    p2.line([(8, 31.5), (29, 31.5)], (70, 110, 200, 255), 1.4)
    return Image.alpha_composite(img, p2.done())


def glyph_shape():
    p = Pen(36, 36)
    p.rect((6, 14, 20, 28), fill=(120, 170, 240, 255), outline=OUTLINE, width=1.0)
    p.ellipse((15, 6, 29, 20), fill=(250, 200, 90, 230), outline=OUTLINE, width=1.0)
    p.poly([(23, 17), (30, 29), (16, 29)], fill=(120, 200, 120, 235), outline=OUTLINE, width=1.0)
    return p.done()


def glyph_open():
    p = Pen(36, 36)
    p.poly([(5, 10), (13, 10), (15, 13), (29, 13), (29, 28), (5, 28)], fill=(235, 190, 80, 255), outline=(150, 110, 30, 255), width=1.0)
    p.rect((10, 7, 27, 22), fill=(255, 255, 255, 255), outline=OUTLINE, width=0.9)
    p.poly([(11.5, 20.5), (16, 14), (19, 18), (21.5, 15.5), (25.5, 20.5)], fill=(90, 160, 90, 255))
    p.ellipse((21, 9, 24.5, 12.5), fill=(240, 170, 40, 255))
    p.poly([(5, 28), (8, 17), (32, 17), (29, 28)], fill=(250, 210, 110, 255), outline=(150, 110, 30, 255), width=1.0)
    return p.done()


def undo_arrow(color, shade):
    p = Pen(36, 36)
    # An arc from the right going round to the left, ending in an arrow head at the left.
    pts = []
    for i in range(0, 181, 6):
        a = math.radians(i)
        pts.append((18 + 9 * math.cos(a), 19 - 8 * math.sin(a)))
    pts = [(x, y) for x, y in pts]
    p.line(pts[::-1][::-1], shade, 4.6)
    p.line(pts, color, 3.2)
    head = [(3.5, 21), (15, 21), (9.2, 29)]
    p.poly(head, fill=color, outline=shade, width=0.8)
    return p.done()


def glyph_undo():
    enabled = undo_arrow((50, 120, 210, 255), (25, 60, 130, 255))
    disabled = undo_arrow((160, 160, 160, 255), (255, 255, 255, 200))
    strip = Image.new("RGBA", (72, 36), (0, 0, 0, 0))
    strip.paste(enabled, (0, 0))
    # The disabled image: grey, with a light edge one pixel down and right (engraved look).
    light = undo_arrow((255, 255, 255, 230), (255, 255, 255, 230))
    strip.alpha_composite(light, (37, 1))
    strip.alpha_composite(disabled, (36, 0))
    return strip


def glyph_clear():
    p = Pen(36, 36)
    p.poly([(8, 5), (22, 5), (28, 11), (28, 31), (8, 31)], fill=(255, 255, 255, 255), outline=OUTLINE, width=1.0)
    p.poly([(22, 5), (22, 11), (28, 11)], fill=(215, 220, 230, 255), outline=OUTLINE, width=0.8)
    p.line([(12, 15), (24, 27)], (215, 45, 45, 255), 3.0)
    p.line([(24, 15), (12, 27)], (215, 45, 45, 255), 3.0)
    return p.done()


# ---- pen media (32 x 32, on white) ----

def medium(kind):
    p = Pen(32, 32)
    base = (20, 20, 30, 255)
    if kind == "oilink":      # felt-tip marker, crisp even line
        p.line(wave(4, 18, 27, 2), base, 2.6)
        pen_body(p, 7, 24, -45, 24, 7, (50, 50, 55, 255), (20, 20, 25, 255), 5, cap=(230, 60, 50, 255))
    elif kind == "waterink":  # rollerball with a softer bluish line and a little bleed
        p.line(wave(4, 18, 27, 2), (60, 90, 200, 110), 3.6)
        p.line(wave(4, 18, 27, 2), (40, 70, 190, 255), 1.8)
        pen_body(p, 7, 24, -45, 24, 6, (150, 180, 235, 255), (210, 210, 220, 255), 5, cap=(40, 70, 190, 255))
    elif kind == "pencil":    # coloured pencil: hexagonal wood with a coloured core, grainy line
        for i in range(14):
            x = 4 + i
            p.line([(x, 27 + 1.6 * math.sin(i / 2)), (x + 0.6, 27.4 + 1.6 * math.sin(i / 2))], (40, 150, 60, 150 + (i * 37) % 100), 1.4)
        pen_body(p, 7, 24, -45, 24, 6, (70, 170, 80, 255), (235, 200, 150, 255), 6)
        p.poly(rotate([(7, 24), (9, 23.2), (9, 24.8)], 7, 24, -45), fill=(40, 140, 50, 255))
    elif kind == "crayon":    # crayon: paper wrapper, blunt wax tip, gappy waxy line
        for i in range(7):
            x = 4 + 2 * i
            p.line([(x, 26.5), (x + 1.3, 27.5)], (230, 110, 30, 230), 2.6)
        tip = rotate([(6, 24), (10, 21), (10, 27)], 6, 24, -45)
        p.poly(tip, fill=(235, 120, 40, 255), outline=OUTLINE, width=0.8)
        body = rotate([(10, 21), (30, 21), (30, 27), (10, 27)], 6, 24, -45)
        p.poly(body, fill=(235, 120, 40, 255), outline=OUTLINE, width=0.8)
        wrap = rotate([(13, 21), (25, 21), (25, 27), (13, 27)], 6, 24, -45)
        p.poly(wrap, fill=(250, 235, 200, 255), outline=OUTLINE, width=0.6)
    elif kind == "watercolour":  # round brush, translucent wash with a darker edge
        p.ellipse((3, 22, 19, 30), fill=(70, 140, 230, 90))
        p.ellipse((3, 22, 19, 30), outline=(40, 100, 200, 170), width=0.9)
        handle = rotate([(11, 19), (29, 19), (29, 21.5), (11, 21.5)], 10, 20, -45)
        p.poly(handle, fill=(190, 120, 60, 255), outline=OUTLINE, width=0.7)
        ferrule = rotate([(8, 18.8), (12, 18.8), (12, 21.7), (8, 21.7)], 10, 20, -45)
        p.poly(ferrule, fill=(200, 200, 210, 255), outline=OUTLINE, width=0.6)
        hair = rotate([(2, 20.2), (8, 18.6), (8, 21.9)], 10, 20, -45)
        p.poly(hair, fill=(60, 110, 200, 255), outline=OUTLINE, width=0.6)
    elif kind == "oilpaint":  # flat brush, thick opaque paint with bristle streaks
        p.rect((3, 23, 19, 30), fill=(200, 40, 40, 255), radius=1.5)
        for y in (24.5, 26.5, 28.5):
            p.line([(4, y), (18, y)], (240, 110, 100, 255), 0.6)
        handle = rotate([(12, 17.5), (29, 17.5), (29, 20.5), (12, 20.5)], 10, 19, -45)
        p.poly(handle, fill=(120, 80, 40, 255), outline=OUTLINE, width=0.7)
        ferrule = rotate([(8, 16.5), (12, 16.5), (12, 21.5), (8, 21.5)], 10, 19, -45)
        p.poly(ferrule, fill=(200, 200, 210, 255), outline=OUTLINE, width=0.6)
        hair = rotate([(4, 16.8), (8, 16.5), (8, 21.5), (4, 21.2)], 10, 19, -45)
        p.poly(hair, fill=(200, 40, 40, 255), outline=OUTLINE, width=0.6)
    elif kind == "airbrush":  # spray gun and a soft cloud of dots
        import random
        rnd = random.Random(7)
        for _ in range(70):
            a = rnd.uniform(0, 2 * math.pi)
            r = abs(rnd.gauss(0, 3.2))
            x, y = 9 + r * math.cos(a) * 1.3, 25 + r * math.sin(a) * 0.8
            p.ellipse((x - 0.45, y - 0.45, x + 0.45, y + 0.45), fill=(120, 60, 200, 200))
        p.ellipse((5, 21, 13, 29), fill=(120, 60, 200, 60))
        body = [(14, 12), (27, 6), (29, 10), (16, 16)]
        p.poly(body, fill=(170, 175, 190, 255), outline=OUTLINE, width=0.8)
        p.poly([(13, 13), (16, 12.5), (16.5, 15.5), (13.5, 16)], fill=(90, 90, 100, 255))
        p.poly([(21, 14), (23, 13), (24, 21), (22, 22)], fill=(120, 120, 135, 255), outline=OUTLINE, width=0.6)
        p.ellipse((20, 3, 26, 9), fill=(150, 110, 220, 255), outline=OUTLINE, width=0.6)
    return p.done()


def width_picture(w):
    p = Pen(32, 32)
    ink = (25, 25, 35, 255)
    if w <= 3:
        p.line(wave(5, 27, 16, 3.5), ink, w)
    else:
        d = min(w, 29)
        p.ellipse((16 - d / 2, 16 - d / 2, 16 + d / 2, 16 + d / 2), fill=ink)
    return p.done()


def shape_picture(kind):
    p = Pen(32, 32)
    fill, line = (255, 255, 255, 255), (30, 30, 40, 255)
    if kind == "rect":
        p.rect((5, 8, 27, 24), fill=fill, outline=line, width=1.4)
    elif kind == "rrect":
        p.rect((5, 8, 27, 24), fill=fill, outline=line, width=1.4, radius=5)
    elif kind == "ellipse":
        p.ellipse((4, 7, 28, 25), fill=fill, outline=line, width=1.4)
    elif kind == "tri":
        p.poly([(16, 5), (28, 26), (4, 26)], fill=fill, outline=line, width=1.4)
    elif kind == "line":
        p.line([(5, 26), (27, 6)], line, 1.6)
    return p.done()


def fill_picture(kind):
    p = Pen(32, 32)
    colour, line = (60, 120, 220, 255), (30, 30, 40, 255)
    if kind == "fill":
        p.rect((5, 6, 27, 26), fill=colour, outline=colour, width=1)
    elif kind == "frame":
        p.rect((5, 6, 27, 26), fill=(255, 255, 255, 255), outline=colour, width=3)
    else:  # frame with a transparent inside: the checkered pattern shows through
        for yy in range(7, 26, 3):
            for xx in range(6, 27, 3):
                if ((xx + yy) // 3) % 2 == 0:
                    p.rect((xx, yy, min(xx + 3, 26), min(yy + 3, 25)), fill=(190, 190, 200, 255))
                else:
                    p.rect((xx, yy, min(xx + 3, 26), min(yy + 3, 25)), fill=(255, 255, 255, 255))
        p.rect((5, 6, 27, 26), outline=colour, width=3)
    return p.done()


def caption(font_file):
    img = Image.new("RGBA", (101, 37), (0, 0, 0, 0))
    d = ImageDraw.Draw(img)
    font = ImageFont.truetype(font_file, 11)
    for i, line in enumerate(["画面上でドラッグして", "表示する大きさを", "決定してください。"]):
        d.text((1, 1 + 12 * i), line, font=font, fill=(0, 0, 0, 255))
    return img


def toolbox():
    img = Image.new("RGB", (16, 16), (192, 192, 192))
    d = ImageDraw.Draw(img)
    d.rectangle((1, 2, 12, 14), fill=(255, 255, 255), outline=(0, 0, 0))
    d.line((3, 11, 5, 9, 7, 11, 9, 8), fill=(0, 0, 255))
    d.line((9, 9, 14, 2), fill=(128, 0, 0), width=2)
    d.point((9, 10), fill=(0, 0, 0))
    return img


# ---- cursors: '#' black, 'o' white, '.' transparent ----

def cursor_grid(shape_fn):
    """Rasterises white shapes with black outlines at 1:1 into a 32 x 32 grid."""
    img = Image.new("L", (32, 32), 0)
    d = ImageDraw.Draw(img)
    shape_fn(d)
    g = [["."] * 32 for _ in range(32)]
    px = img.load()
    for y in range(32):
        for x in range(32):
            g[y][x] = {0: ".", 1: "#", 2: "o"}.get(px[x, y], ".")
    return ["".join(r) for r in g]


def pen_cursor(tip, angle, width, length, nib):
    def draw(d):
        hw = width / 2
        body = rotate([(tip[0] + nib, tip[1] - hw), (tip[0] + length, tip[1] - hw),
                       (tip[0] + length, tip[1] + hw), (tip[0] + nib, tip[1] + hw)], tip[0], tip[1], angle)
        point = rotate([tip, (tip[0] + nib, tip[1] - hw), (tip[0] + nib, tip[1] + hw)], tip[0], tip[1], angle)
        for poly in (body, point):
            d.polygon([(round(x), round(y)) for x, y in poly], fill=2, outline=1)
        d.point(tip, fill=1)
    return draw


def eraser_cursor(d):
    corner = (8, 26)
    body = rotate([(8, 18), (26, 18), (26, 26), (8, 26)], 8, 26, -30)
    d.polygon([(round(x), round(y)) for x, y in body], fill=2, outline=1)
    band = rotate([(17, 18), (19, 18), (19, 26), (17, 26)], 8, 26, -30)
    d.polygon([(round(x), round(y)) for x, y in band], fill=1)
    d.point(corner, fill=1)


def bucket_cursor(d):
    body = rotate([(11, 8), (25, 8), (23, 22), (13, 22)], 18, 15, -35)
    d.polygon([(round(x), round(y)) for x, y in body], fill=2, outline=1)
    handle = rotate([(12, 8), (14, 3), (22, 3), (24, 8)], 18, 15, -35)
    d.line([(round(x), round(y)) for x, y in handle], fill=1)
    # The paint pours down to the hot spot.
    d.line([(10, 17), (9, 22), (9, 28)], fill=1, width=1)
    d.line([(11, 18), (10, 23)], fill=2)
    d.point((9, 28), fill=1)


def text_cursor(d):
    # A small cross whose centre is the hot spot (4, 4), and a letter A beside it.
    d.line([(4, 0), (4, 8)], fill=1)
    d.line([(0, 4), (8, 4)], fill=1)
    d.polygon([(15, 8), (18, 8), (24, 24), (21, 24), (19.5, 20), (13.5, 20), (12, 24), (9, 24)], fill=2, outline=1)
    d.polygon([(16.5, 12), (18.5, 17), (14.5, 17)], fill=1)


def main(argv):
    out = argv[1]
    font = argv[2] if len(argv) > 2 else FONT
    os.makedirs(out, exist_ok=True)
    glyphs = {"pen": glyph_pen, "eraser": glyph_eraser, "bucket": glyph_bucket, "text": glyph_text,
              "shape": glyph_shape, "open": glyph_open, "undo": glyph_undo, "clear": glyph_clear}
    for name, fn in glyphs.items():
        write_bmp32(os.path.join(out, f"glyph_{name}.bmp"), fn())
    for name in ["oilink", "waterink", "pencil", "crayon", "watercolour", "oilpaint", "airbrush"]:
        write_bmp32(os.path.join(out, f"medium_{name}.bmp"), medium(name))
    for w in [1, 2, 3, 8, 14, 22, 32]:
        write_bmp32(os.path.join(out, f"width_{w:02d}.bmp"), width_picture(w))
    for name in ["rect", "rrect", "ellipse", "tri", "line"]:
        write_bmp32(os.path.join(out, f"shape_{name}.bmp"), shape_picture(name))
    for name in ["fill", "frame", "frametp"]:
        write_ico32(os.path.join(out, f"fill_{name}.ico"), fill_picture(name))
    write_bmp32(os.path.join(out, "caption.bmp"), caption(font))
    write_bmp4(os.path.join(out, "toolbox.bmp"), toolbox())
    cursors = {
        "pen_c": (pen_cursor((10, 24), -45, 6, 26, 6), (10, 24)),
        "pen_a": (pen_cursor((1, 30), -45, 5, 30, 5), (1, 30)),
        "pen_b": (pen_cursor((4, 27), -60, 7, 24, 7), (4, 27)),
        "eraser": (eraser_cursor, (8, 26)),
        "bucket": (bucket_cursor, (9, 28)),
        "text": (text_cursor, (4, 4)),
    }
    for name, (fn, hot) in cursors.items():
        write_cursor(os.path.join(out, f"{name}.cur"), cursor_grid(fn), hot)
    # Previews for people: the cursors as pictures (not resources).
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
