#!/usr/bin/env bash
# Installs what is missing, builds the tests under AddressSanitizer and
# UndefinedBehaviorSanitizer and runs them, then runs the non-GL suites again
# under ThreadSanitizer. Run from anywhere; builds go to build/.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

jobs=$(nproc)
export SDL_VIDEODRIVER=offscreen SDL_AUDIODRIVER=dummy QUILLMERE_NO_DIALOGS=1

# Warnings are errors in every configuration built here.
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUILL_SANITIZE=address -DQUILL_BUILD_BENCH=ON \
  -DQUILL_WERROR=ON
cmake --build build/asan -j "$jobs"
ctest --test-dir build/asan -j "$jobs" --output-on-failure

# The release build of the engine: the optimiser finds warnings the debug builds do not.
cmake -S . -B build/release-check -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILL_BUILD_TESTS=OFF -DQUILL_WERROR=ON
cmake --build build/release-check -j "$jobs"

cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUILL_SANITIZE=thread -DQUILL_WERROR=ON
cmake --build build/tsan -j "$jobs"
ctest --test-dir build/tsan -j "$jobs" --output-on-failure -LE gl

# Every fuzz harness for a bounded time (clang build in build/fuzz); any finding fails the run.
bash scripts/fuzz.sh --ci
