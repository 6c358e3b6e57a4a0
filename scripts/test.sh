#!/usr/bin/env bash
# Installs what is missing, builds the tests under AddressSanitizer and
# UndefinedBehaviorSanitizer and runs them, then runs the non-GL suites again
# under ThreadSanitizer. Run from anywhere; builds go to build/.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

jobs=$(nproc)
export SDL_VIDEODRIVER=offscreen SDL_AUDIODRIVER=dummy QUILLMERE_NO_DIALOGS=1

cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUILL_SANITIZE=address -DQUILL_BUILD_BENCH=ON
cmake --build build/asan -j "$jobs"
ctest --test-dir build/asan -j "$jobs" --output-on-failure

cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUILL_SANITIZE=thread
cmake --build build/tsan -j "$jobs"
ctest --test-dir build/tsan -j "$jobs" --output-on-failure -LE gl

# Every fuzz harness for a bounded time (clang build in build/fuzz); any finding fails the run.
bash scripts/fuzz.sh --ci
