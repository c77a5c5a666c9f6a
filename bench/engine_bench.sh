#!/usr/bin/env bash
# Engine benchmark: the real `zelvik --until-caught-up` over one day of 10 channels at
# 100 samples/s (86.4 million samples) in a SQLite store, then with 100 channels
# configured (90 more holding an hour each) for resident memory. Prints samples per
# second of the whole run (start-up and shutdown included) and the maximum RSS.
# Run by scripts/bench.sh, which builds into ZELVIK_BENCH_BUILD_DIR.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="${ZELVIK_BENCH_BUILD_DIR:-$ROOT/build-bench}"
cmake --build "$BUILD_DIR" -j "$(nproc)" --target zelvik zelvik-store zelvik_engine_bench_gen >/dev/null
WORK="${ZELVIK_ENGINE_BENCH_DIR:-$BUILD_DIR/engine-bench}"
START=1600000000  # 2020-09-13 12:26:40 UTC
DAY=86400
BIG=10
SMALL=90

export ODBCINI="$WORK/odbc.ini" ODBCSYSINI="$WORK"

write_settings() {  # write_settings FILE CHANNELS
  {
    printf '[DATABASE]\nODBC=zelvik_bench\nUSER=bench\nPASSWORD=bench\nUSE_TEND=0\n'
    printf '[DATA]\nDIR=%s/data\n[LOG]\nDIR=%s/log\nLEVEL=ERROR\n' "$WORK" "$WORK"
    printf '[SYSTEM]\nTHREADS=%d\nSLEEP=0\nSTORAGE_TIME=0\nBEGIN=2020-09-13 12:26:40\n' "$2"
    printf '[ALARM]\nWAVFILE=*\n'
    for ((n = 0; n < $2; n++)); do
      printf '[THREAD%d]\nSTATION=B%03d\nCHANNEL=HHZ\nORDER=3\nFR1=1\nFR2=8\nSTA=1\nLTA=10\nThreshold=5\n' "$n" "$n"
    done
  } > "$1"
}

# The store is made once and reused while its marker says it is complete.
if [[ ! -f "$WORK/complete" ]]; then
  rm -rf "$WORK"
  mkdir -p "$WORK/data" "$WORK/log" "$WORK/mseed"
  : > "$WORK/odbcinst.ini"
  # Write-ahead journal with normal syncing: the setting for a store that takes a row
  # per detection (the default full sync costs one disk flush per event row).
  printf '[zelvik_bench]\nDriver=/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so\nDatabase=%s/store.db\nTimeout=5000\nJournalMode=WAL\nSyncPragma=NORMAL\n' \
    "$WORK" > "$WORK/odbc.ini"
  write_settings "$WORK/zelvik.ini" "$BIG"
  echo "engine_bench: generating $BIG channels x 1 day and $SMALL channels x 1 hour" >&2
  "$BUILD_DIR/bench/zelvik_engine_bench_gen" "$WORK/mseed" "$START" "$BIG" "$DAY" 0
  "$BUILD_DIR/bench/zelvik_engine_bench_gen" "$WORK/mseed" "$START" "$SMALL" 3600 "$BIG"
  "$BUILD_DIR/bin/zelvik-store" --config "$WORK/zelvik.ini" init
  "$BUILD_DIR/bin/zelvik-store" --config "$WORK/zelvik.ini" import "$WORK"/mseed/*.mseed 2>&1 | tail -1
  rm -rf "$WORK/mseed"
  touch "$WORK/complete"
fi

run() {  # run LABEL CHANNELS SAMPLES
  write_settings "$WORK/zelvik.ini" "$2"
  sqlite3 "$WORK/store.db" "delete from EVENTLIST" 2>/dev/null || true
  rm -f "$WORK"/log/*.log
  local t0 t1
  t0=$(date +%s.%N)
  /usr/bin/time -v -o "$WORK/time.txt" "$BUILD_DIR/bin/zelvik" --until-caught-up --config "$WORK/zelvik.ini" \
    2>"$WORK/stderr.txt"
  t1=$(date +%s.%N)
  local rss cpu events
  rss=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$WORK/time.txt")
  cpu=$(awk -F': ' '/User time/ {u = $2} /System time/ {s = $2} END {print u + s}' "$WORK/time.txt")
  events=$(cat "$WORK"/log/*.log | grep -c 'Ch: ' || true)
  # Wall time is what the target is about; CPU time shows what a busy machine hides.
  awk -v l="$1" -v s="$3" -v a="$t0" -v b="$t1" -v c="$cpu" -v r="$rss" -v e="$events" 'BEGIN {
    printf "%s: %.1f M samples in %.2f s wall = %.1f M samples/s (%.2f s CPU = %.1f M/s), %d measurements, max RSS %.1f MB\n",
           l, s / 1e6, b - a, s / 1e6 / (b - a), c, s / 1e6 / c, e, r / 1024 }'
}

run "10 channels x 1 day" "$BIG" $((BIG * DAY * 100))
run "100 channels (10 x 1 day + 90 x 1 h)" $((BIG + SMALL)) $((BIG * DAY * 100 + SMALL * 3600 * 100))
