#!/usr/bin/env python3
"""Writes the intro video of the demo content, media/video/quillmere.ovid: 160 x 120
pixels, 24 quad frames (one second at 24 frames a second) of a diagonal band of
colour sweeping across a dark field, each frame after a codebook of flat YCbCr cells.

With --seeds DIR it also writes small videos of every frame kind (raw, quad, DDS,
block delta) as fuzzing seeds.

Run from anywhere: python3 demo/tools/make_intro_video.py [--seeds DIR]
"""
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "..", "media", "video", "quillmere.ovid")


def chunk(cid, data=b"", arg=0):
    return struct.pack("<HIH", cid, len(data), arg) + data


def header(width, height):
    return chunk(0x1084) + chunk(0x1001, struct.pack("<HHI", width, height, 0))


class Codes:
    """2-bit codes in 16-bit little-endian words, most significant pair first;
    argument bytes go where they fall, as the decoder reads them."""

    def __init__(self):
        self.data = bytearray()
        self.word = 0
        self.left = 0

    def code(self, c):
        if self.left == 0:
            self.word = len(self.data)
            self.data += b"\0\0"
            self.left = 8
        self.left -= 1
        w = struct.unpack_from("<H", self.data, self.word)[0] | ((c & 3) << (self.left * 2))
        struct.pack_into("<H", self.data, self.word, w)

    def byte(self, b):
        self.data.append(b & 255)


def codebook(frame):
    """16 flat 2x2 cells (a dark ramp, then bright hues that turn with the frame),
    each 4x4 cell made of four copies of the same 2x2 cell."""
    cells2 = bytearray()
    for c in range(16):
        if c < 8:
            y, cb, cr = 16 + c * 6, 128, 128
        else:
            y = 120 + (c - 8) * 16
            cb = 128 + ((frame * 5 + c * 20) % 100) - 50
            cr = 128 + ((frame * 3 + c * 35) % 120) - 60
        cells2 += bytes([y, y, y, y, cb & 255, cr & 255])
    cells4 = bytearray()
    for c in range(16):
        cells4 += bytes([c, c, c, c])
    return chunk(0x1002, bytes(cells2 + cells4), (16 << 8) | 16)


def quad_frame(width, height, frame, frames):
    codes = Codes()
    sweep = (width + height) * frame / max(frames - 1, 1)
    for my in range(0, height, 16):
        for mx in range(0, width, 16):
            for b in range(4):
                bx, by = mx + (b & 1) * 8, my + (b >> 1) * 8
                d = abs(bx + by - sweep)
                cell = 8 + min(7, int(d / 6)) if d < 48 else (bx // 8 + by // 8) % 8
                codes.code(2)
                codes.byte(cell)
    return chunk(0x1011, bytes(codes.data))


def intro():
    width, height, frames = 160, 120, 24
    data = header(width, height)
    for f in range(frames):
        data += codebook(f) + quad_frame(width, height, f, frames)
    return data


def dds_dxt1(blocks, width, height):
    h = bytearray(128)
    h[0:4] = b"DDS "
    struct.pack_into("<IIII", h, 4, 124, 0, height, width)
    struct.pack_into("<I", h, 28, 1)
    struct.pack_into("<II", h, 76, 32, 4)
    h[84:88] = b"DXT1"
    return bytes(h) + blocks


def seeds(directory):
    os.makedirs(directory, exist_ok=True)
    raw = header(8, 6) + b"".join(chunk(0x1010, bytes((i * 7 + f) & 255 for i in range(8 * 6 * 3)))
                                  for f in range(3))
    quad = header(24, 20) + codebook(0) + quad_frame(24, 20, 0, 2) + codebook(1)
    codes = Codes()
    codes.code(1)
    codes.byte(0x08)
    codes.code(0)
    codes.code(3)
    for s in range(4):
        codes.code(s)
        codes.data += bytes([1, 2, 3, 4][: (0, 1, 1, 4)[s]])
    for _ in range(13):
        codes.code(2)
        codes.byte(3)
    quad += chunk(0x1011, bytes(codes.data))
    blocks = bytes((i * 13) & 255 for i in range(5 * 3 * 8))
    delta = Codes()
    delta.code(2)
    delta.data += bytes(range(8))
    delta.code(1)
    delta.byte(0x78)
    delta.code(3)
    for s in range(4):
        delta.code(s)
        if s == 1:
            delta.byte(0x88)
        elif s == 2:
            delta.data += bytes(range(8, 16))
    delta.code(0)
    dxt = header(20, 12) + chunk(0x1013, dds_dxt1(blocks, 20, 12)) + chunk(0x1014, bytes(delta.data))
    for name, data in (("raw", raw), ("quad", quad), ("dxt", dxt)):
        with open(os.path.join(directory, name), "wb") as f:
            f.write(data)


def main():
    os.makedirs(os.path.dirname(OUT), exist_ok=True)
    with open(OUT, "wb") as f:
        f.write(intro())
    if len(sys.argv) == 3 and sys.argv[1] == "--seeds":
        seeds(sys.argv[2])


if __name__ == "__main__":
    main()
