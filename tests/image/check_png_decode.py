#!/usr/bin/env python3
"""Decodes the control's PngImageBase64 output with an independent PNG decoder (Pillow).

    check_png_decode.py <test-output folder>

The control test writes pngimagebase64.png (the PNG that the Base64 text held) and
pngimagebase64.bgr (the drawing's width and height as two little-endian 32-bit numbers,
then its rows top to bottom, three bytes a pixel: blue, green, red). The PNG must be a
standard 8-bit RGB image that decodes to exactly those pixels.
"""
import os
import struct
import sys

from PIL import Image


def main(folder):
    png = os.path.join(folder, "pngimagebase64.png")
    raw = open(os.path.join(folder, "pngimagebase64.bgr"), "rb").read()
    width, height = struct.unpack("<II", raw[:8])
    image = Image.open(png)
    image.load()
    if image.size != (width, height) or image.mode != "RGB":
        print(f"decoded {image.size} {image.mode}, expected {(width, height)} RGB")
        return 1
    rgb = image.tobytes()
    bgr = raw[8:]
    for i in range(0, len(bgr), 3):
        if (bgr[i + 2], bgr[i + 1], bgr[i]) != tuple(rgb[i:i + 3]):
            p = i // 3
            print(f"pixel ({p % width}, {p // width}) differs")
            return 1
    print(f"{width} x {height}: every pixel as the control drew it")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
