#!/usr/bin/env bash
# Installs what is missing, makes a Release build with the benchmarks in build-bench,
# runs every Google Benchmark program (zelvik_*_bench), then every bench/*.sh script
# (which finds the build in ZELVIK_BENCH_BUILD_DIR). Extra arguments go to the programs.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

zelvik_install_packages
BUILD_DIR="${ZELVIK_BENCH_BUILD_DIR:-$ZELVIK_ROOT/build-bench}"
cmake -S "$ZELVIK_ROOT" -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release -DZELVIK_BUILD_BENCH=ON \
  -DZELVIK_BUILD_TESTS=OFF -DZELVIK_WITH_QT=ON >/dev/null
cmake --build "$BUILD_DIR" -j "$(nproc)"

status=0
for program in "$BUILD_DIR"/bench/zelvik_*_bench; do
  [[ -x "$program" ]] || continue
  echo "== $(basename "$program")"
  "$program" "$@" || status=1
done
export ZELVIK_BENCH_BUILD_DIR="$BUILD_DIR"
for script in "$ZELVIK_ROOT"/bench/*.sh; do
  [[ -f "$script" ]] || continue
  echo "== $(basename "$script")"
  bash "$script" || status=1
done
exit $status
