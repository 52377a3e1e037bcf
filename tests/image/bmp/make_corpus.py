#!/usr/bin/env python3
"""Writes the BMP corpus beside this file: readable files of every kind the control reads
(ok-*.bmp) and damaged or hostile ones (bad-*.bmp), and manifest.txt with what each must give:

    ok-NAME.bmp  WIDTH HEIGHT  HEX      the pixels, top row first, blue-green-red, unpadded
    bad-NAME.bmp refused

The expected pixels come from the picture each file was made of, not from a reader; with
Pillow (python3-pil) present, its reading of every ok file is checked against them too.
Run it again only to change the corpus:  python3 tests/image/bmp/make_corpus.py"""
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
W, H = 7, 5  # odd, so that rows are padded


def picture(colours):
    """A W x H picture of palette indices that shows any shift or flip."""
    return [[(x * 3 + y * 5 + (x * y) % 3) % colours for x in range(W)] for y in range(H)]


PALETTE = [(b * 37 % 256, b * 91 % 256, (255 - b * 53) % 256) for b in range(256)]  # (b, g, r)


def file_header(offset, total):
    return b"BM" + struct.pack("<IHHI", total, 0, 0, offset)


def info_header(w, h, bits, compression=0, colours=0, size=40, extra=b""):
    head = struct.pack("<IiiHHIIiiII", size, w, h, 1, bits, compression, 0, 2835, 2835, colours, 0)
    return (head + extra).ljust(size, b"\0")


def rows(indices, bits, top_down=False):
    out = b""
    order = indices if top_down else list(reversed(indices))
    for row in order:
        acc, nbits, line = 0, 0, b""
        for v in row:
            acc = (acc << bits) | v
            nbits += bits
            while nbits >= 8:
                nbits -= 8
                line += bytes([(acc >> nbits) & 0xFF])
        if nbits:
            line += bytes([(acc << (8 - nbits)) & 0xFF])
        out += line.ljust((len(row) * bits + 31) // 32 * 4, b"\0")
    return out


def direct_rows(pixels, pack, size, top_down=False):
    order = pixels if top_down else list(reversed(pixels))
    out = b""
    for row in order:
        line = b"".join(pack(p) for p in row)
        out += line.ljust((len(row) * size + 3) // 4 * 4, b"\0")
    return out


def expect_indexed(indices, palette):
    return [[palette[v] for v in row] for row in indices]


def bmp(header, palette_bytes, data, offset=None):
    start = 14 + len(header) + len(palette_bytes)
    offset = start if offset is None else offset
    body = header + palette_bytes
    gap = b"\0" * max(0, offset - start)
    return file_header(offset, 14 + len(body) + len(gap) + len(data)) + body + gap + data


def quad_palette(n):
    return b"".join(bytes([b, g, r, 0]) for b, g, r in PALETTE[:n])


def scale(v, bits):
    """A channel of `bits` bits widened to eight by repeating its bits."""
    wide, s = 0, 8 - bits
    while s > -bits:
        wide |= v << s if s >= 0 else v >> -s
        s -= bits
    return wide & 0xFF


def valid_files():
    files = {}
    # 24 bits, bottom-up and top-down.
    px = [[((x * 40) % 256, (y * 60) % 256, (x * y * 9) % 256) for x in range(W)] for y in range(H)]
    pack24 = lambda p: bytes(p)
    files["ok-24-bottomup.bmp"] = (bmp(info_header(W, H, 24), b"", direct_rows(px, pack24, 3)), px)
    files["ok-24-topdown.bmp"] = (bmp(info_header(W, -H, 24), b"", direct_rows(px, pack24, 3, True)), px)
    # Palettes of 8, 4 and 1 bits; one with fewer colours than the bits can index.
    for bits in (8, 4, 1):
        idx = picture(1 << bits)
        files[f"ok-{bits}-palette.bmp"] = (
            bmp(info_header(W, H, bits, colours=1 << bits), quad_palette(1 << bits), rows(idx, bits)),
            expect_indexed(idx, PALETTE))
    idx = picture(16)
    files["ok-8-sixteen-colours.bmp"] = (
        bmp(info_header(W, H, 8, colours=16), quad_palette(16), rows(idx, 8)), expect_indexed(idx, PALETTE))
    # The old core header: 16-bit sizes and three-byte palette entries.
    idx = picture(256)
    core = struct.pack("<IHHHH", 12, W, H, 1, 8)
    files["ok-core-8.bmp"] = (
        bmp(core, b"".join(bytes(c) for c in PALETTE), rows(idx, 8)), expect_indexed(idx, PALETTE))
    # 16 bits: the default 5-5-5, and 5-6-5 masks after a 40-byte header.
    raw = [[(x * 4 + y) % 32 for x in range(W)] for y in range(H)]
    p555 = [[(v, (v * 3) % 32, (31 - v)) for v in row] for row in raw]  # (b, g, r) 5 bits each
    files["ok-16-555.bmp"] = (
        bmp(info_header(W, H, 16), b"", direct_rows(p555, lambda p: struct.pack("<H", p[2] << 10 | p[1] << 5 | p[0]), 2)),
        [[(scale(b, 5), scale(g, 5), scale(r, 5)) for b, g, r in row] for row in p555])
    p565 = [[(v, (v * 2 + 1) % 64, (31 - v)) for v in row] for row in raw]
    files["ok-16-565-bitfields.bmp"] = (
        bmp(info_header(W, H, 16, compression=3), struct.pack("<III", 0xF800, 0x07E0, 0x001F),
            direct_rows(p565, lambda p: struct.pack("<H", p[2] << 11 | p[1] << 5 | p[0]), 2)),
        [[(scale(b, 5), scale(g, 6), scale(r, 5)) for b, g, r in row] for row in p565])
    # A colour whose mask is empty is absent (black in it).
    files["ok-16-bitfields-no-red.bmp"] = (
        bmp(info_header(W, H, 16, compression=3), struct.pack("<III", 0, 0x07E0, 0x001F),
            direct_rows(p565, lambda p: struct.pack("<H", p[2] << 11 | p[1] << 5 | p[0]), 2)),
        [[(scale(b, 5), scale(g, 6), 0) for b, g, r in row] for row in p565])
    # 32 bits: blue-green-red-unused, and a version 5 header with masks in red-green-blue-alpha order.
    files["ok-32-bgrx.bmp"] = (
        bmp(info_header(W, H, 32), b"", direct_rows(px, lambda p: bytes(p) + b"\x7f", 4)), px)
    v5 = info_header(W, H, 32, compression=3, size=124,
                     extra=struct.pack("<IIII", 0x000000FF, 0x0000FF00, 0x00FF0000, 0xFF000000))
    files["ok-32-v5-rgba.bmp"] = (
        bmp(v5, b"", direct_rows(px, lambda p: bytes([p[2], p[1], p[0], 0x80]), 4)), px)
    # Run-length 8 and 4 bits: runs, an absolute run, a delta (skipped pixels stay black), ends of
    # line and of bitmap.
    black = (0, 0, 0)
    rle8 = bytes([3, 1, 0, 4, 2, 3, 4, 5, 0, 0,          # row 0 (bottom): 1 1 1 2 3 4 5
                  7, 6, 0, 0,                            # row 1: 6 x 7
                  2, 7, 0, 2, 3, 1, 2, 8, 0, 0,           # row 2: 7 7, delta +3 right +1 up; row 3: - - - - - 8 8
                  1, 9, 0, 1])                           # row 4: 9, end of bitmap
    pal = lambda i: PALETTE[i]
    exp8 = [[pal(9)] + [black] * 6,
            [black] * 5 + [pal(8), pal(8)],
            [pal(7), pal(7)] + [black] * 5,
            [pal(6)] * 7,
            [pal(1)] * 3 + [pal(2), pal(3), pal(4), pal(5)]]
    files["ok-rle8.bmp"] = (bmp(info_header(W, H, 8, compression=1, colours=16), quad_palette(16), rle8), exp8)
    rle4 = bytes([7, 0x12, 0, 0,                          # row 0: 1 2 1 2 1 2 1
                  0, 3, 0x34, 0x50, 4, 0x66, 0, 0,        # row 1: 3 4 5 then 6 6 6 6
                  0, 1])
    exp4 = [[black] * 7, [black] * 7, [black] * 7,
            [pal(3), pal(4), pal(5)] + [pal(6)] * 4,
            [pal(1), pal(2)] * 3 + [pal(1)]]
    files["ok-rle4.bmp"] = (bmp(info_header(W, H, 4, compression=2, colours=16), quad_palette(16), rle4), exp4)
    # A run-length stream that ends early shows what it holds, the rest black.
    files["ok-rle8-cut-short.bmp"] = (
        bmp(info_header(W, H, 8, compression=1, colours=16), quad_palette(16), rle8[:10]),
        [[black] * 7] * 4 + [[pal(1)] * 3 + [pal(2), pal(3), pal(4), pal(5)]])
    return files


def bad_files(ok):
    good24 = ok["ok-24-bottomup.bmp"][0]
    pal8 = ok["ok-8-palette.bmp"][0]

    def patch(data, at, fmt, value):
        return data[:at] + struct.pack(fmt, value) + data[at + struct.calcsize(fmt):]

    hdr = 14  # the information header's start
    return {
        "bad-empty.bmp": b"",
        "bad-file-header-only.bmp": good24[:14],
        "bad-not-bm.bmp": b"MB" + good24[2:],
        "bad-offset-past-end.bmp": patch(good24, 10, "<I", len(good24) + 4096),
        "bad-offset-far-past-end.bmp": patch(good24, 10, "<I", 0x7FFFFFF0),
        "bad-offset-inside-header.bmp": patch(good24, 10, "<I", 20),
        "bad-pixels-cut-short.bmp": good24[:-5],
        "bad-header-size-huge.bmp": patch(good24, hdr, "<I", 0xFFFFFFF0),
        "bad-header-size-odd.bmp": patch(good24, hdr, "<I", 41),
        "bad-header-cut-short.bmp": good24[:30],
        "bad-width-zero.bmp": patch(good24, hdr + 4, "<i", 0),
        "bad-width-negative.bmp": patch(good24, hdr + 4, "<i", -7),
        "bad-height-zero.bmp": patch(good24, hdr + 8, "<i", 0),
        "bad-height-int-min.bmp": patch(good24, hdr + 8, "<i", -2 ** 31),
        "bad-side-too-long.bmp": patch(good24, hdr + 4, "<i", 40000),
        "bad-too-many-pixels.bmp": patch(patch(good24, hdr + 4, "<i", 32767), hdr + 8, "<i", 1601),
        "bad-planes-two.bmp": patch(good24, hdr + 12, "<H", 2),
        "bad-bits-zero.bmp": patch(good24, hdr + 14, "<H", 0),
        "bad-bits-seven.bmp": patch(good24, hdr + 14, "<H", 7),
        "bad-compression-unknown.bmp": patch(good24, hdr + 16, "<I", 9),
        "bad-compression-jpeg.bmp": patch(good24, hdr + 16, "<I", 4),
        "bad-rle8-on-24-bits.bmp": patch(good24, hdr + 16, "<I", 1),
        "bad-rle-top-down.bmp": patch(ok["ok-rle8.bmp"][0], hdr + 8, "<i", -H),
        "bad-palette-past-end.bmp": patch(pal8, hdr + 32, "<I", 256)[:14 + 40 + 100],
        "bad-bitfields-not-one-run.bmp": patch(ok["ok-16-565-bitfields.bmp"][0], 14 + 40, "<I", 0xF00F),
        "bad-bitfields-masks-missing.bmp": ok["ok-16-565-bitfields.bmp"][0][:14 + 40 + 4],
    }


def main():
    ok = valid_files()
    manifest = []
    try:
        from PIL import Image
    except ImportError:
        Image = None
    for name, (data, pixels) in sorted(ok.items()):
        assert len(pixels) == H and all(len(r) == W for r in pixels), name
        with open(os.path.join(HERE, name), "wb") as f:
            f.write(data)
        hexed = "".join(f"{b:02x}{g:02x}{r:02x}" for row in pixels for b, g, r in row)
        manifest.append(f"{name} {W} {H} {hexed}")
        if Image:
            with Image.open(os.path.join(HERE, name)) as im:
                rgb = im.convert("RGB")
                got = [[rgb.getpixel((x, y))[::-1] for x in range(W)] for y in range(H)]
            if got != pixels and "rle" not in name:  # Pillow fills what runs skip with colour 0
                sys.exit(f"{name}: Pillow reads {got} instead of {pixels}")
    for name, data in sorted(bad_files(ok).items()):
        with open(os.path.join(HERE, name), "wb") as f:
            f.write(data)
        manifest.append(f"{name} refused")
    with open(os.path.join(HERE, "manifest.txt"), "w") as f:
        f.write("\n".join(manifest) + "\n")
    print(f"{len(ok)} readable and {len(manifest) - len(ok)} refused files in {HERE}")


if __name__ == "__main__":
    main()
