#!/usr/bin/env bash
# Builds the libFuzzer harnesses (clang, ASan+UBSan, build/fuzz) and runs them.
#
#   scripts/fuzz.sh [--ci] [harness...]     bounded run for CI: each harness from its seed corpus
#                                           for FUZZ_SECONDS (30) or FUZZ_RUNS (200000), whichever
#                                           comes first; fails on any crash, sanitizer report,
#                                           leak, timeout (5 s an input) or out-of-memory.
#   scripts/fuzz.sh --long [harness...]     long local run: FUZZ_SECONDS (3600) per harness,
#                                           FUZZ_JOBS (1) independent processes per harness on
#                                           one corpus kept in build/fuzz/corpus/<harness> between
#                                           runs; prints the inputs run by all of them.
#                                           FUZZ_TIMEOUT (5) seconds an input: raise it on a
#                                           machine loaded enough to stretch a normal input.
#   scripts/fuzz.sh --list                  the harness names.
# FUZZ_BUILD_DIR (build/fuzz) and FUZZ_BUILD_JOBS (all cores) set where and how wide it builds.
#
# Harnesses: tests/fuzz/<name>_fuzz.cpp; seeds: tests/fuzz/corpus/<name>/. Crash inputs land in
# build/fuzz/artifacts/ (reproduce: build/fuzz/tests/fuzz/fuzz_<name> <file>).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

mode=ci
case "${1:-}" in
  --ci) mode=ci; shift ;;
  --long) mode=long; shift ;;
  --list) mode=list; shift ;;
esac

all=()
for f in tests/fuzz/*_fuzz.cpp; do
  n=$(basename "$f" _fuzz.cpp)
  all+=("$n")
done
if [ "$mode" = list ]; then
  printf '%s\n' "${all[@]}"
  exit 0
fi
harnesses=("$@")
if [ ${#harnesses[@]} -eq 0 ]; then
  harnesses=("${all[@]}")
fi

build="${FUZZ_BUILD_DIR:-$root/build/fuzz}"
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g" "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O2 -g" \
  -DQUILL_BUILD_FUZZ=ON -DQUILL_BUILD_TESTS=OFF >/dev/null
targets=()
for h in "${harnesses[@]}"; do targets+=("fuzz_$h"); done
cmake --build "$build" -j "${FUZZ_BUILD_JOBS:-$(nproc)}" --target "${targets[@]}"

export SDL_VIDEODRIVER=offscreen SDL_AUDIODRIVER=dummy QUILLMERE_NO_DIALOGS=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
artifacts="$build/artifacts"
mkdir -p "$artifacts"

failed=()
report_failure() {
  echo "fuzz_$1 FAILED; its output:"
  grep -v -E '^#[0-9]+[[:space:]]+(NEW|REDUCE|pulse|RELOAD)' "$2" | tail -n 80
  failed+=("$1")
}
if [ "$mode" = long ]; then
  # Freed blocks stay poisoned through the last 64 MB of frees rather than 256: the image and
  # container harnesses spent about half their time recycling the larger quarantine, and a stale
  # pointer used within one input is still caught.
  export ASAN_OPTIONS="${ASAN_OPTIONS:-quarantine_size_mb=64}"
fi
for h in "${harnesses[@]}"; do
  exe="$build/tests/fuzz/fuzz_$h"
  seeds="$root/tests/fuzz/corpus/$h"
  mkdir -p "$seeds"
  if [ "$mode" = ci ]; then
    # New inputs go to a scratch corpus; the seeds in the tree stay as they are.
    work=$(mktemp -d)
    args=(-max_total_time="${FUZZ_SECONDS:-30}" -runs="${FUZZ_RUNS:-200000}")
  else
    work="$build/corpus/$h"
    mkdir -p "$work"
    args=(-max_total_time="${FUZZ_SECONDS:-3600}")
  fi
  echo "== fuzz_$h"
  # Absolute paths: some harnesses work inside a scratch directory of their own.
  common=("$work" "$seeds" "${args[@]}" -timeout="${FUZZ_TIMEOUT:-5}" -rss_limit_mb=2560 -max_len=4096
    -print_final_stats=1)
  if [ "$mode" = ci ]; then
    log="$build/fuzz_$h.log"
    if "$exe" "${common[@]}" -artifact_prefix="$artifacts/$h-" >"$log" 2>&1; then
      grep -E '^stat::(number_of_executed_units|average_exec_per_sec)|^#[0-9]+[[:space:]]+DONE' "$log" || true
    else
      report_failure "$h" "$log"
    fi
    rm -rf "$work"
    continue
  fi
  # Independent processes rather than libFuzzer's fork mode, which restarts its workers every few
  # seconds and ran the slow-starting harnesses at about half the rate. Each reads the corpus once
  # at start and adds what it finds to it.
  declare -A job=()
  for ((i = 1; i <= ${FUZZ_JOBS:-1}; i++)); do
    "$exe" "${common[@]}" -artifact_prefix="$artifacts/$h-$i-" >"$build/fuzz_$h.$i.log" 2>&1 &
    job[$!]=$i
  done
  # The first process to fail stops the others: its input is what the run was for.
  live=("${!job[@]}")
  while [ ${#live[@]} -gt 0 ]; do
    status=0
    wait -n -p ended "${live[@]}" || status=$?
    rest=()
    for pid in "${live[@]}"; do [ "$pid" = "$ended" ] || rest+=("$pid"); done
    live=("${rest[@]}")
    if [ $status != 0 ]; then
      report_failure "$h" "$build/fuzz_$h.${job[$ended]}.log"
      kill "${live[@]}" 2>/dev/null || true
      wait || true
      break
    fi
  done
  total=0
  for ((i = 1; i <= ${#job[@]}; i++)); do
    n=$(grep -oE '^stat::number_of_executed_units: [0-9]+' "$build/fuzz_$h.$i.log" | grep -oE '[0-9]+$' || true)
    total=$((total + ${n:-0}))
  done
  echo "fuzz_$h: $total inputs in ${#job[@]} processes"
  unset job
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzzing found problems in: ${failed[*]} (inputs in $artifacts)"
  exit 1
fi
echo "fuzzing: ${#harnesses[@]} harnesses clean"
