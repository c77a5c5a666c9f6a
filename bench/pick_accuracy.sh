#!/usr/bin/env bash
# Refined onsets against analyst P picks: the real channel chain over the recordings of
# tests/data/real, then, when the shared set lies beside the checkout, over its
# MIT-licensed recordings. Prints one row per recording and the medians.
# Run by scripts/bench.sh, which builds into ZELVIK_BENCH_BUILD_DIR.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="${ZELVIK_BENCH_BUILD_DIR:-$ROOT/build-bench}"
cmake --build "$BUILD_DIR" -j "$(nproc)" --target zelvik_pick_accuracy >/dev/null
echo "Recordings of tests/data/real:"
"$BUILD_DIR/bench/zelvik_pick_accuracy" "$ROOT/tests/data/real/picks.csv"
for candidate in "$ROOT/../shared/data/real/mseed" "$ROOT/../../shared/data/real/mseed"; do
  if [[ -f "$candidate/picks.csv" ]]; then
    echo
    echo "MIT-licensed recordings of the shared set ($candidate):"
    "$BUILD_DIR/bench/zelvik_pick_accuracy" "$candidate/picks.csv" MIT | tail -n 7
    break
  fi
done
