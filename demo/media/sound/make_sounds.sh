#!/usr/bin/env bash
# Makes the sample game's sounds with sox (Debian package sox); the outputs are committed beside
# this script.
set -euo pipefail
cd "$(dirname "$0")/demo"

# A rising two-note chime for the start of the game.
sox -n -r 22050 -b 16 -c 1 chime_a.wav synth 0.18 sine 660 fade 0.005 0.18 0.12 vol 0.5
sox -n -r 22050 -b 16 -c 1 chime_b.wav synth 0.30 sine 990 fade 0.005 0.30 0.25 vol 0.5
sox chime_a.wav chime_b.wav start.wav
rm chime_a.wav chime_b.wav
# A short click for key presses.
sox -n -r 22050 -b 16 -c 1 key.wav synth 0.04 square 1200 fade 0.001 0.04 0.03 vol 0.3
# A low hum for the sample map's speaker (looped by the map).
sox -n -r 22050 -b 16 -c 1 hum.wav synth 1.0 sine 110 sine 165 remix - vol 0.3
# The intro video's sound (media/video/quillmere.ogg): a one-second rising sweep.
sox -n -r 22050 -c 1 ../../video/quillmere.ogg synth 1.0 sine 220-880 fade 0.05 1.0 0.4 vol 0.4
