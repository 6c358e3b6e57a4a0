#!/usr/bin/env bash
# Installs what is missing, builds a release build and starts the engine on the
# sample content from the staged tree (build/release/run). Without a display it
# runs on SDL's offscreen driver and echoes the console to standard output.
# Extra arguments are appended to the engine's command line, e.g.
#   scripts/run.sh ";" wait 2000 ";" quit
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

build=build/release
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILL_BUILD_TESTS=OFF
cmake --build "$build" --target quillmere game quill_stage_media -j "$(nproc)"

cd "$build/run"
args=()
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  export SDL_VIDEODRIVER=offscreen SDL_AUDIODRIVER=dummy QUILLMERE_NO_DIALOGS=1
  args=(con_devconsole 1)
fi
exec ./quillmere "${args[@]}" "$@"
