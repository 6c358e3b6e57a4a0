#!/usr/bin/env bash
# Writes images in the forms other tools produce by default (ImageMagick's BMP V5 header and RLE8
# palettes, 1-5-5-5 TGA, uncompressed DDS with mip levels, arithmetic-coded JPEG from cjpeg) into
# the folder given, from a small picture made here. The codec tests decode them and compare with
# ImageMagick's own reading; the image fuzz corpus takes them as seeds.
set -euo pipefail
out=${1:?usage: make_foreign_images.sh <folder>}
mkdir -p "$out"
cd "$out"
# The packaged convert, not a wrapper earlier on the path.
convert=convert
if [ -x /usr/bin/convert ]; then convert=/usr/bin/convert; fi

"$convert" -seed 7 -size 23x17 plasma:red-blue src.png
"$convert" -seed 3 -size 16x16 plasma:green-yellow square.png
"$convert" -seed 5 -size 32x16 plasma:white-navy wide.png

# BMP: palettes after 40- and 124-byte info headers, run-length palettes, true colour; 4-bit and
# 32-bit bit-field files are refused.
"$convert" src.png -colors 200 -type Palette -compress None BMP3:pal8-info40.bmp
"$convert" src.png -colors 200 -type Palette -compress None BMP:pal8-v5.bmp
"$convert" src.png -colors 200 -type Palette BMP3:pal8-rle8-info40.bmp
"$convert" src.png -colors 200 -type Palette BMP:pal8-rle8-v5.bmp
"$convert" src.png -type TrueColor BMP3:rgb24.bmp
"$convert" src.png -colors 8 -type Palette BMP3:refused-pal4.bmp
"$convert" src.png -alpha set -type TrueColorAlpha BMP:refused-bitfields32.bmp

# TGA: 16-bit 1-5-5-5 raw, run-length and with its alpha bit; 24 and 32 bits; colour-mapped
# files are refused.
"$convert" src.png -depth 5 tga16.tga
"$convert" src.png -depth 5 -compress RLE tga16-rle.tga
"$convert" src.png -alpha set -channel A -fx 'i>10?1:0' +channel -depth 5 tga16-alpha.tga
"$convert" src.png -compress RLE tga24-rle.tga
"$convert" src.png -alpha set -channel A -fx 'j/16' +channel tga32.tga
"$convert" src.png -colors 100 -type Palette refused-colormap.tga

# DDS: uncompressed with mip levels (24 bits square and non-square, 32 bits with alpha), without.
"$convert" square.png -define dds:compression=none dds24-mips.dds
"$convert" wide.png -define dds:compression=none -define dds:mipmaps=3 dds24-wide-mips.dds
"$convert" square.png -alpha set -channel A -fx 'i/15' +channel -define dds:compression=none dds32-mips.dds
"$convert" src.png -alpha set -channel A -fx 'j/16' +channel -define dds:compression=none dds32.dds

# JPEG: baseline from ImageMagick; arithmetic-coded, a flat 2048 x 2048 in a few hundred bytes.
"$convert" src.png -quality 90 baseline.jpg
if command -v cjpeg >/dev/null; then
  "$convert" src.png ppm:- | cjpeg -arithmetic > arith.jpg
  "$convert" -size 2048x2048 xc:'#336699' ppm:- | cjpeg -arithmetic > arith-flat2048.jpg
fi
rm -f src.png square.png wide.png
