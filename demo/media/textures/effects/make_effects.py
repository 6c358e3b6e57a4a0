#!/usr/bin/env python3
"""Writes the images of the sample effect materials (materials/effects.mtx) as uncompressed TGA
files beside this script: a hot spark with a bright core, a soft smoke puff whose alpha fades
to its rim, a sooty scorch mark for decals, and the dark rim of tunnel vision (clear in the middle). Run it again after changing it; the images are committed with it."""
import math
import os
import struct

SIZE = 32
HERE = os.path.dirname(os.path.abspath(__file__))


def write_tga(name, fn):
    """fn(x, y) -> (r, g, b, a); rows top first."""
    header = struct.pack("<BBBHHBHHHHBB", 0, 0, 2, 0, 0, 0, 0, 0, SIZE, SIZE, 32, 0x20 | 8)
    body = bytearray()
    for y in range(SIZE):
        for x in range(SIZE):
            r, g, b, a = fn(x, y)
            body += bytes((b, g, r, a))
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(header + body)


def radius(x, y):
    c = (SIZE - 1) / 2.0
    return math.hypot(x - c, y - c) / (SIZE / 2.0)


def spark(x, y):
    d = radius(x, y)
    core = max(0.0, 1.0 - d * 2.5)
    halo = max(0.0, 1.0 - d) ** 2
    v = min(1.0, core + halo * 0.6)
    return (int(255 * v), int(255 * v * 0.85), int(255 * v * 0.5), int(255 * v))


def smoke(x, y):
    d = radius(x, y)
    # A little lumpiness so the puffs do not look like discs.
    lump = 0.85 + 0.15 * math.sin(x * 0.9) * math.cos(y * 0.7)
    a = max(0.0, 1.0 - d) ** 1.5 * lump
    return (200, 200, 200, int(255 * min(1.0, a)))


def scorch(x, y):
    d = radius(x, y)
    # A ragged dark blot: darkest in the middle, its rim broken up.
    ragged = 0.8 + 0.2 * math.sin(math.atan2(y - SIZE / 2.0, x - SIZE / 2.0) * 7.0)
    a = max(0.0, 1.0 - d / ragged) ** 0.7
    return (20, 16, 12, int(255 * min(1.0, a)))


def tunnel(x, y):
    d = radius(x, y)
    a = min(1.0, max(0.0, (d - 0.45) / 0.5))
    return (0, 0, 0, int(255 * a))


write_tga("spark.tga", spark)
write_tga("smoke.tga", smoke)
write_tga("scorch.tga", scorch)
write_tga("tunnel.tga", tunnel)
