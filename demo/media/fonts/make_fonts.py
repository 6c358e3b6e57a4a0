#!/usr/bin/env python3
"""Builds the demo's bitmap fonts from DejaVu Sans Mono (Debian package fonts-dejavu-core) with
ImageMagick: for each font folder a 32-bit TGA glyph sheet (white glyphs, alpha coverage) and the
1520-byte ".dat" file of 95 glyph rectangles (x, y, w, h as little-endian 32-bit integers, one per
character from 32 to 126). The material declarations live in materials/fonts.mtx.

Run from anywhere: python3 demo/media/fonts/make_fonts.py
"""
import os
import struct
import subprocess
import sys

FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf"
HERE = os.path.dirname(os.path.abspath(__file__))

# folder (relative to media/fonts), file stem, point size, sheet size
FONTS = [
    ("", "dejavumono", 20, 256),
    ("console", "dejavumono", 16, 256),
]
COLUMNS = 16


def cell_size(points):
    """Advance width and line height of the monospaced face, from ImageMagick's metrics."""
    out = subprocess.check_output(
        ["convert", "-font", FONT, "-pointsize", str(points), "label:" + "M" * 20, "-format", "%w %h", "info:"],
        text=True)
    w, h = (int(v) for v in out.split())
    return max(1, round(w / 20.0)), h


def build(folder, stem, points, size):
    out_dir = os.path.join(HERE, folder)
    os.makedirs(out_dir, exist_ok=True)
    cw, ch = cell_size(points)
    rows = (95 + COLUMNS - 1) // COLUMNS
    if COLUMNS * cw > size or rows * ch > size:
        sys.exit("glyphs of %d points do not fit a %d sheet" % (points, size))
    cmd = ["convert", "-size", "%dx%d" % (size, size), "xc:none", "-font", FONT, "-pointsize", str(points),
           "-fill", "white", "-gravity", "NorthWest"]
    records = []
    for i in range(95):
        c = chr(32 + i)
        x = (i % COLUMNS) * cw
        y = (i // COLUMNS) * ch
        records.append(struct.pack("<4i", x, y, cw, ch))
        if c != " ":
            # -annotate takes the text literally only after escaping ImageMagick's own '%', '\' and '@'.
            text = c.replace("\\", "\\\\").replace("%", "%%")
            if text == "@":
                text = "\\@"
            cmd += ["-annotate", "+%d+%d" % (x, y), text]
    image = os.path.join(out_dir, stem + ".tga")
    cmd += ["-depth", "8", "-type", "TrueColorAlpha", "-compress", "None", image]
    subprocess.check_call(cmd)
    # ImageMagick writes the rows top row first but leaves the header's origin at bottom-left,
    # which turns the sheet upside down for a reader that honours the header: say top-left.
    with open(image, "r+b") as f:
        f.seek(17)
        descriptor = f.read(1)[0]
        f.seek(17)
        f.write(bytes([descriptor | 0x20]))
    data = b"".join(records)
    assert len(data) == 1520
    with open(os.path.join(out_dir, stem + ".dat"), "wb") as f:
        f.write(data)
    print("%s: %dx%d cells on a %d sheet" % (os.path.join("fonts", folder, stem), cw, ch, size))


def main():
    if not os.path.exists(FONT):
        sys.exit("missing %s: install fonts-dejavu-core" % FONT)
    for folder, stem, points, size in FONTS:
        build(folder, stem, points, size)


if __name__ == "__main__":
    main()
