#!/usr/bin/env bash
# Runs the libFuzzer targets of a sanitizer build (ZELVIK_ASAN=ON, ZELVIK_FUZZ=ON, clang).
#   scripts/fuzz.sh [BUILD_DIR] [--runs N | --seconds S] [--keep DIR]
# --runs N     inputs per target (default 20000: what CI runs, about a minute in all)
# --seconds S  run each target for S seconds instead (longer runs: --seconds 3600)
# --keep DIR   keep the grown corpora under DIR/<target> (default: a temporary directory)
# Each target starts from its seed corpus in fuzz/corpus/<target> (real files of the
# repository and the reproducers of every fault found so far). A crash, a hang of one
# input past 10 s, a sanitizer report or a memory blow-up fails the run; the input that
# did it is left in the working directory as crash-*, timeout-* or oom-*.
# Exit status: 0 when every target ran clean, 1 otherwise.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="${ZELVIK_ASAN_BUILD_DIR:-$ROOT/build-asan}"
if [[ $# -gt 0 && "$1" != --* ]]; then BUILD_DIR="$1"; shift; fi
BUILD_DIR="$(cd "$BUILD_DIR" && pwd)"
limit=(-runs=20000)
keep=""
while [[ $# -gt 0 ]]; do
  case "$1" in
    --runs) limit=(-runs="$2"); shift 2 ;;
    --seconds) limit=(-max_total_time="$2"); shift 2 ;;
    --keep) keep="$2"; shift 2 ;;
    *) echo "fuzz.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done
TARGETS=(ini_round_trip paz_text fap_text smtp_reply miniseed_file sac_file mseed_record)
work="$(mktemp -d "${TMPDIR:-/tmp}/zelvik-fuzz.XXXXXX")"
trap 'rm -rf "$work"' EXIT
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:${UBSAN_OPTIONS:-}"
export LSAN_OPTIONS="suppressions=$ROOT/scripts/sanitizers/lsan.supp:${LSAN_OPTIONS:-}"
failed=0
for t in "${TARGETS[@]}"; do
  bin="$BUILD_DIR/fuzz/${t}_fuzz"
  if [[ ! -x "$bin" ]]; then
    echo "fuzz.sh: $bin is missing (configure with -DZELVIK_ASAN=ON -DZELVIK_FUZZ=ON)" >&2
    failed=1
    continue
  fi
  corpus="${keep:+$keep/$t}"
  corpus="${corpus:-$work/$t}"
  mkdir -p "$corpus"
  start=$(date +%s)
  # The first directory receives new inputs; the seeds are only read.
  if (cd "$work" && "$bin" "${limit[@]}" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
        -print_final_stats=0 "$corpus" "$ROOT/fuzz/corpus/$t" >"$work/$t.log" 2>&1); then
    echo "fuzz: $t clean ($(( $(date +%s) - start )) s, $(grep -o 'Done [0-9]* runs' "$work/$t.log" | tail -1))"
  else
    echo "fuzz: $t FAILED; its output:" >&2
    tail -60 "$work/$t.log" >&2
    for f in "$work"/crash-* "$work"/timeout-* "$work"/oom-* "$work"/leak-*; do
      [[ -e "$f" ]] && cp "$f" "$ROOT/" && echo "fuzz: input kept as $ROOT/$(basename "$f")" >&2
    done
    failed=1
  fi
done
exit "$failed"
