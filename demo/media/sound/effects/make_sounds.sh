#!/usr/bin/env bash
# Makes the sounds of the sample effects with sox (Debian package sox); the outputs are committed
# beside this script.
set -euo pipefail
cd "$(dirname "$0")"

# A short electric crackle: bursts of noise under a fast tremolo, fading out.
sox -n -r 22050 -b 16 -c 1 crackle.wav synth 0.6 whitenoise tremolo 37 90 highpass 900 fade 0.002 0.6 0.4 vol 0.4
