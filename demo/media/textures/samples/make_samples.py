#!/usr/bin/env python3
"""Writes the images of the sample materials (materials/samples.mtx) as uncompressed TGA files
beside this script: a brick wall (diffuse, normal and specular maps), a round glow for an additive
sprite, a stripe for a scrolling stage and a fence with alpha holes for a two-sided surface.
Run it again after changing it; the images are committed with it."""
import math
import os
import struct

SIZE = 64
HERE = os.path.dirname(os.path.abspath(__file__))


def write_tga(name, pixels, alpha):
    """pixels: rows top first of (r, g, b, a) tuples."""
    bits = 32 if alpha else 24
    header = struct.pack("<BBBHHBHHHHBB", 0, 0, 2, 0, 0, 0, 0, 0, SIZE, SIZE, bits, 0x20 | (8 if alpha else 0))
    body = bytearray()
    for row in pixels:
        for r, g, b, a in row:
            body += bytes((b, g, r, a)) if alpha else bytes((b, g, r))
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(header + body)


def brick_height(x, y):
    """1 on a brick, 0 in the mortar: rows of 16 pixels, bricks 32 wide, every other row offset."""
    row = y // 16
    bx = (x + (16 if row % 2 else 0)) % 32
    by = y % 16
    return 0.0 if bx < 2 or by < 2 else 1.0


def image(fn):
    return [[fn(x, y) for x in range(SIZE)] for y in range(SIZE)]


def wall_diffuse(x, y):
    h = brick_height(x, y)
    noise = ((x * 73 + y * 151) % 17) - 8
    if h:
        return (150 + noise, 70 + noise // 2, 50, 255)
    return (120 + noise, 120 + noise, 115 + noise, 255)


def wall_normal(x, y):
    dx = brick_height((x + 1) % SIZE, y) - brick_height((x - 1) % SIZE, y)
    dy = brick_height(x, (y + 1) % SIZE) - brick_height(x, (y - 1) % SIZE)
    nx, ny, nz = -dx, -dy, 1.0
    length = math.sqrt(nx * nx + ny * ny + nz * nz)
    return tuple(int(round((c / length * 0.5 + 0.5) * 255)) for c in (nx, ny, nz)) + (255,)


def wall_specular(x, y):
    v = 90 if brick_height(x, y) else 20
    return (v, v, v, 255)


def glow(x, y):
    d = math.hypot(x - 31.5, y - 31.5) / 32.0
    v = max(0.0, 1.0 - d) ** 2
    c = int(round(v * 255))
    return (c, int(c * 0.8), int(c * 0.4), c)


def scroll(x, y):
    band = (x // 8) % 2
    return (40, 160, 220, 255) if band else (10, 40, 90, 255)


def fence(x, y):
    wire = x % 16 < 2 or y % 16 < 2 or (x + y) % 16 < 2
    return (170, 170, 160, 255) if wire else (0, 0, 0, 0)


if __name__ == "__main__":
    write_tga("wall_d.tga", image(wall_diffuse), False)
    write_tga("wall_n.tga", image(wall_normal), False)
    write_tga("wall_s.tga", image(wall_specular), False)
    write_tga("glow.tga", image(glow), True)
    write_tga("scroll.tga", image(scroll), False)
    write_tga("fence.tga", image(fence), True)
