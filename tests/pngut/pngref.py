#!/usr/bin/env python3
"""Reference PNG decoder for the tests of ZANPngUt.dll, independent of libpng.

    pngref.py <out-dir> <base-dir> <relative path of a .png>...

For each file writes <out-dir>/<path with "/" as "__">.ref: "ZQRF", width and height
(32-bit little endian), then the rows top-down as blue, green, red bytes without padding;
and a line to <out-dir>/manifest.txt: "<path> ok" or "<path> refused <reason>".

The pixels follow the library's documented conversion: low-bit greys expanded by bit
replication, palettes and tRNS to alpha, 16-bit samples rounded to 8 bits exactly as
libpng's png_set_scale_16 rounds them, and alpha composited onto white with
    out = (c * a + 255 * (255 - a) + 127) // 255
Gamma, sBIT and bKGD are not applied.
"""
import os
import struct
import sys
import zlib

SIGNATURE = b"\x89PNG\r\n\x1a\n"
CHANNELS = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}
DEPTHS = {0: (1, 2, 4, 8, 16), 2: (8, 16), 3: (1, 2, 4, 8), 4: (8, 16), 6: (8, 16)}
ADAM7 = ((0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2),
         (0, 1, 1, 2))
MAX_SIDE = 32767
MAX_PIXELS = 16 * 1024 * 1024


class Refused(Exception):
    pass


def scale16(v):
    """libpng's png_do_scale_16_to_8: round(v * 255 / 65535)."""
    hi, lo = v >> 8, v & 0xFF
    return (hi + (((lo - hi + 128) * 65535) >> 24)) & 0xFF


def chunks(data):
    if data[:8] != SIGNATURE:
        raise Refused("signature")
    pos = 8
    while True:
        if pos + 12 > len(data):
            raise Refused("ends early")
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        if length > 0x7FFFFFFF or pos + 12 + length > len(data):
            raise Refused("ends early")
        body = data[pos + 8:pos + 8 + length]
        crc = struct.unpack(">I", data[pos + 8 + length:pos + 12 + length])[0]
        crc_ok = zlib.crc32(kind + body) & 0xFFFFFFFF == crc
        yield kind, body, crc_ok
        pos += 12 + length
        if kind == b"IEND":
            return


def parse(data):
    header, palette, trns, idat = None, None, None, []
    seen_idat = ended_idat = False
    for kind, body, crc_ok in chunks(data):
        critical = not (kind[0] & 0x20)
        if not crc_ok:
            if critical:
                raise Refused("CRC " + kind.decode("latin-1"))
            continue  # a damaged ancillary chunk is dropped
        if header is None and kind != b"IHDR":
            raise Refused("IHDR not first")
        if kind == b"IHDR":
            if header is not None or len(body) != 13:
                raise Refused("IHDR")
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"PLTE":
            if seen_idat or len(body) % 3 or not 0 < len(body) <= 768:
                raise Refused("PLTE")
            palette = [tuple(body[i:i + 3]) for i in range(0, len(body), 3)]
        elif kind == b"tRNS":
            trns = body
        elif kind == b"IDAT":
            if ended_idat:
                raise Refused("IDAT not consecutive")
            seen_idat = True
            idat.append(body)
        elif kind == b"IEND":
            pass
        elif critical:
            raise Refused("unknown critical chunk")
        if seen_idat and kind != b"IDAT":
            ended_idat = True
    if header is None or not idat:
        raise Refused("no image data")
    return header, palette, trns, b"".join(idat)


def unfilter(raw, pos, width, height, bits_pp):
    """Unfilters one (sub)image; returns its rows and the position after it."""
    row_bytes = (width * bits_pp + 7) // 8
    bpp = max(1, bits_pp // 8)
    prev = bytearray(row_bytes)
    rows = []
    for _ in range(height):
        if pos + 1 + row_bytes > len(raw):
            raise Refused("image data too short")
        ftype = raw[pos]
        line = bytearray(raw[pos + 1:pos + 1 + row_bytes])
        pos += 1 + row_bytes
        for i in range(row_bytes):
            a = line[i - bpp] if i >= bpp else 0
            b = prev[i]
            c = prev[i - bpp] if i >= bpp else 0
            if ftype == 0:
                continue
            if ftype == 1:
                p = a
            elif ftype == 2:
                p = b
            elif ftype == 3:
                p = (a + b) // 2
            elif ftype == 4:
                pa, pb, pc = abs(b - c), abs(a - c), abs(a + b - 2 * c)
                p = a if pa <= pb and pa <= pc else (b if pb <= pc else c)
            else:
                raise Refused("filter type")
            line[i] = (line[i] + p) & 0xFF
        rows.append(line)
        prev = line
    return rows, pos


def samples(line, width, channels, depth):
    if depth == 8:
        return list(line[:width * channels])
    if depth == 16:
        return [(line[i] << 8) | line[i + 1] for i in range(0, width * channels * 2, 2)]
    out = []
    per_byte = 8 // depth
    mask = (1 << depth) - 1
    for i in range(width * channels):
        byte = line[i // per_byte]
        shift = 8 - depth * (i % per_byte + 1)
        out.append((byte >> shift) & mask)
    return out


def to_rgba(s, ctype, depth, palette, trns):
    """One pixel's raw samples to 8-bit (r, g, b, a)."""
    def eight(v):
        if depth == 16:
            return scale16(v)
        return v * 255 // ((1 << depth) - 1)

    if ctype == 3:
        if s[0] >= len(palette):
            raise Refused("palette index")
        r, g, b = palette[s[0]]
        a = trns[s[0]] if trns is not None and s[0] < len(trns) else 255
        return r, g, b, a
    if ctype == 0:
        a = 255
        if trns is not None and len(trns) == 2 and s[0] == struct.unpack(">H", trns)[0]:
            a = 0
        v = eight(s[0])
        return v, v, v, a
    if ctype == 2:
        a = 255
        if trns is not None and len(trns) == 6 and tuple(s) == struct.unpack(">HHH", trns):
            a = 0
        return eight(s[0]), eight(s[1]), eight(s[2]), a
    if ctype == 4:
        v = eight(s[0])
        return v, v, v, eight(s[1])
    return eight(s[0]), eight(s[1]), eight(s[2]), eight(s[3])


def decode(data):
    (width, height, depth, ctype, comp, filt, interlace), palette, trns, idat = parse(data)
    if ctype not in DEPTHS or depth not in DEPTHS[ctype] or comp or filt or interlace > 1:
        raise Refused("IHDR values")
    if not (0 < width <= MAX_SIDE and 0 < height <= MAX_SIDE) or width * height > MAX_PIXELS:
        raise Refused("size")
    if ctype == 3 and palette is None:
        raise Refused("no palette")
    if ctype in (4, 6):
        trns = None
    try:
        z = zlib.decompressobj()
        raw = z.decompress(idat)
        if not z.eof:
            raise Refused("zlib stream ends early")
    except zlib.error as e:
        raise Refused("zlib: " + str(e))
    channels = CHANNELS[ctype]
    bits_pp = channels * depth
    image = [[None] * width for _ in range(height)]
    passes = ADAM7 if interlace else ((0, 0, 1, 1),)
    pos = 0
    for x0, y0, dx, dy in passes:
        pw = (width - x0 + dx - 1) // dx
        ph = (height - y0 + dy - 1) // dy
        if pw <= 0 or ph <= 0:
            continue
        rows, pos = unfilter(raw, pos, pw, ph, bits_pp)
        for j, line in enumerate(rows):
            s = samples(line, pw, channels, depth)
            for i in range(pw):
                px = s[i * channels:(i + 1) * channels]
                image[y0 + j * dy][x0 + i * dx] = to_rgba(px, ctype, depth, palette, trns)
    out = bytearray()
    for row in image:
        for r, g, b, a in row:
            if a != 255:
                r, g, b = ((c * a + 255 * (255 - a) + 127) // 255 for c in (r, g, b))
            out += bytes((b, g, r))
    return width, height, bytes(out)


def main(argv):
    if len(argv) < 4:
        print(__doc__.strip().splitlines()[2].strip(), file=sys.stderr)
        return 2
    out_dir, base = argv[1], argv[2]
    os.makedirs(out_dir, exist_ok=True)
    lines = []
    for name in argv[3:]:
        with open(os.path.join(base, name), "rb") as f:
            data = f.read()
        try:
            width, height, pixels = decode(data)
        except Refused as e:
            lines.append(f"{name} refused {e}")
            continue
        with open(os.path.join(out_dir, name.replace("/", "__") + ".ref"), "wb") as f:
            f.write(b"ZQRF" + struct.pack("<II", width, height) + pixels)
        lines.append(f"{name} ok")
    with open(os.path.join(out_dir, "manifest.txt"), "w") as f:
        f.write("\n".join(lines) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
