#!/usr/bin/env python3
"""Writes the images of the default light materials (materials/lights.mtx) as uncompressed TGA files
beside this script: a round projection (bright in the middle, black at and beyond the rim) and a
falloff along the light's third axis (bright at the middle of the light's extent, black at both
ends). Run it again after changing it; the images are committed with it."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def write_tga(name, width, height, value):
    """value(x, y) -> 0..255 grey, rows top first."""
    header = struct.pack("<BBBHHBHHHHBB", 0, 0, 2, 0, 0, 0, 0, 0, width, height, 24, 0x20)
    body = bytearray()
    for y in range(height):
        for x in range(width):
            v = max(0, min(255, int(round(value(x, y)))))
            body += bytes((v, v, v))
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(header + body)


def round_light(x, y, size=64):
    # Centred on the image; the outermost ring of pixels stays black so clamped lookups outside the
    # light's box read black.
    u = (x + 0.5) / size * 2.0 - 1.0
    v = (y + 0.5) / size * 2.0 - 1.0
    r2 = (u * u + v * v) / (1.0 - 2.0 / size) ** 2
    return 255.0 * max(0.0, 1.0 - r2)


def falloff(x, _y, size=64):
    u = (x + 0.5) / size * 2.0 - 1.0
    u /= 1.0 - 2.0 / size
    return 255.0 * max(0.0, 1.0 - u * u)


write_tga("round.tga", 64, 64, round_light)
write_tga("falloff.tga", 64, 4, falloff)
