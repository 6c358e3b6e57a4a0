#!/usr/bin/env python3
"""Writes the interface's mouse cursor, guicursor_arrow.tga (32 x 32, alpha), beside this script:
a white arrow with a dark outline pointing to the top-left corner, which is the cursor's hot spot.
Run it again after changing it; the image is committed with it."""
import os
import struct

SIZE = 32
HERE = os.path.dirname(os.path.abspath(__file__))


def inside(x, y):
    """The arrow: a triangle from the corner down and right, with a short tail."""
    if y < 0 or x < 0:
        return False
    if y <= 22 and x <= y * 0.6:
        return True
    # The tail: a slanted bar below the head.
    return 14 <= y <= 28 and 0.5 * (y - 14) + 4 <= x <= 0.5 * (y - 14) + 8


def pixel(x, y):
    if inside(x, y):
        # Fill, or outline where a neighbour lies outside.
        edge = any(not inside(x + dx, y + dy) for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1)))
        return (20, 20, 30, 255) if edge else (250, 250, 250, 255)
    return (0, 0, 0, 0)


def main():
    header = struct.pack("<BBBHHBHHHHBB", 0, 0, 2, 0, 0, 0, 0, 0, SIZE, SIZE, 32, 0x28)
    body = bytearray()
    for y in range(SIZE):
        for x in range(SIZE):
            r, g, b, a = pixel(x, y)
            body += bytes((b, g, r, a))
    with open(os.path.join(HERE, "guicursor_arrow.tga"), "wb") as f:
        f.write(header + body)


if __name__ == "__main__":
    main()
