#!/usr/bin/env bash
# Installs every Debian package the engine, its tests and its benchmarks need.
# Only missing packages are installed; apt-get runs as root, through sudo otherwise.
set -euo pipefail

PACKAGES=(
  # build
  cmake ninja-build g++ pkg-config
  # engine dependencies
  libsdl2-dev liblua5.1-0-dev libminizip-dev zlib1g-dev libjpeg62-turbo-dev
  libogg-dev libvorbis-dev libgl-dev libgl1-mesa-dri libegl1
  # sound readers: MP3, and the audio of AVI/WMV files
  libmpg123-dev libavformat-dev libavcodec-dev libavutil-dev libswresample-dev
  # tests, fuzzing and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev
  libglm-dev libstb-dev libjpeg-turbo-progs zip unzip
  # the network benchmark's peer
  libenet-dev
  # the collision benchmark's peer
  libbullet-dev
  # the sound benchmark's peer mixer, and the tools of the sound fixture scripts
  libopenal-dev sox vorbis-tools lame ffmpeg
  # images and packs written by other tools, made by the codec and pack tests
  imagemagick libarchive-tools
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
