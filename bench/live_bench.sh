#!/usr/bin/env bash
# Live acquisition benchmark: zelvik_live_feed writes STREAMS streams of 100 samples/s
# in real time (512-byte Steim-2 records, a 3 Hz burst every 30 s on every 10th stream;
# the first alarms come once the 120 s warm-up has passed).
# Run twice, each into a fresh SQLite store with Zelvik (SLEEP=0) watching every stream:
# "seedlink" writes into the scan folder of a real ringserver (built from
# ../shared/seedlink-server) and `zelvik-store seedlink` stores what it serves; "follow"
# writes an archive that `zelvik-store follow` stores, so that a record arrives at the
# client when it lands and the alarm latency is ours alone (ringserver's scanner adds
# 0-2 s). Prints, from the runs' own measurements:
#  - from a record's arrival at the client to its commit (readable by Zelvik): p50/p95,
#    from zelvik-store's own summary lines;
#  - from the landing of the record holding a burst's trigger sample to Zelvik's alarm
#    line: p50/p95;
#  - the client's CPU share of one core and its peak resident memory;
#  - FILELIST rows per channel (a channel-day of contiguous data is one row).
# Run by scripts/bench.sh; STREAMS (default 500) and DURATION (seconds, default 240) may
# be set.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="${ZELVIK_BENCH_BUILD_DIR:-$ROOT/build-bench}"
STREAMS="${STREAMS:-500}"
SECONDS_RUN="${DURATION:-240}"
SHARED=""
for c in "$ROOT/../shared" "$ROOT/../../shared"; do [[ -z $SHARED && -d $c/seedlink-server ]] && SHARED=$c; done
if [[ -z $SHARED ]]; then
  echo "live_bench: skipped, no ../shared/seedlink-server for ringserver" >&2
  exit 0
fi
cmake --build "$BUILD_DIR" -j "$(nproc)" --target zelvik zelvik-store zelvik_live_feed >/dev/null
run_mode() {  # run_mode seedlink|follow
MODE=$1
WORK="${ZELVIK_LIVE_BENCH_DIR:-$BUILD_DIR/live-bench}/$MODE"
rm -rf "$WORK"
mkdir -p "$WORK/scan" "$WORK/ring" "$WORK/data" "$WORK/log"
PORT=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
export ODBCINI="$WORK/odbc.ini" ODBCSYSINI="$WORK"
: > "$WORK/odbcinst.ini"
printf '[live_bench]\nDriver=/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so\nDatabase=%s/store.db\nTimeout=10000\n' \
  "$WORK" > "$ODBCINI"
{
  printf '[DATABASE]\nODBC=live_bench\nUSER=b\nPASSWORD=b\nUSE_TEND=0\n[DATA]\nDIR=%s/data\n' "$WORK"
  printf '[LOG]\nDIR=%s/log\nLEVEL=ERROR\n[SYSTEM]\nTHREADS=%d\nSLEEP=0\nSTORAGE_TIME=0\nBEGIN=-5\n' "$WORK" "$STREAMS"
  printf '[ALARM]\nWAVFILE=*\nMAXDURATION=5\nNODATA=0\n'
  for ((n = 0; n < STREAMS; n++)); do
    printf '[THREAD%d]\nSTATION=L%03d\nCHANNEL=HHZ\nORDER=3\nFR1=1\nFR2=8\nSTA=1\nLTA=10\nThreshold=5\n' "$n" "$n"
  done
} > "$WORK/zelvik.ini"
STORE=("$BUILD_DIR/bin/zelvik-store" --config "$WORK/zelvik.ini")
"${STORE[@]}" init >/dev/null
pids=()
cleanup() { for p in "${pids[@]}"; do kill -TERM "$p" 2>/dev/null || true; done; wait 2>/dev/null || true; }
trap cleanup EXIT
if [[ $MODE == seedlink ]]; then
  (cd "$WORK" && exec "$RINGSERVER" -Rd ring -Rs 256000000 -Rp 512 -L "$PORT" \
    -MSSCAN "scan/ StateFile=scan.state InitCurrentState=n" >ringserver.log 2>&1) &
  pids+=($!)
  sleep 1
  "${STORE[@]}" seedlink "127.0.0.1:$PORT" 'XL_*' --summary 30 2>"$WORK/client.log" &
else
  "${STORE[@]}" follow "$WORK/scan" --summary 30 2>"$WORK/client.log" &
fi
client=$!
pids+=($client)
# Each line of zelvik's stderr with the wall time it was read.
"$BUILD_DIR/bin/zelvik" --headless --config "$WORK/zelvik.ini" \
  2> >(while IFS= read -r line; do printf '%s %s\n' "$(date +%s.%N)" "$line"; done >"$WORK/zelvik.err") &
pids+=($!)
"$BUILD_DIR/bench/zelvik_live_feed" "$WORK/scan" "$STREAMS" "$SECONDS_RUN" 10 30 >"$WORK/landed.txt"
sleep 5
read -r utime stime < <(awk '{print $14, $15}' "/proc/$client/stat")
hwm=$(awk '/VmHWM/ {print $2}' "/proc/$client/status")
started=$(awk '{print $22}' "/proc/$client/stat")
ticks=$(getconf CLK_TCK)
uptime_s=$(awk '{print $1}' /proc/uptime)
cleanup
trap - EXIT
echo "live bench, $MODE: $STREAMS streams at 100 samples/s for $SECONDS_RUN s, SQLite store"
grep -h "from arrival to commit" "$WORK/client.log" | sed 's/^zelvik-store: /  client: /'
awk -v u="$utime" -v s="$stime" -v t="$ticks" -v st="$started" -v up="$uptime_s" -v h="$hwm" 'BEGIN {
  life = up - st / t
  printf "  client CPU %.1f %% of one core over %.0f s, peak resident %.1f MB\n", 100 * (u + s) / t / life, life, h / 1024 }'
python3 "$ROOT/bench/alarm_delays.py" "$WORK/landed.txt" "$WORK/zelvik.err" "$WORK/store.db"
rows=$(sqlite3 "$WORK/store.db" "select count(*) from FILELIST")
chans=$(sqlite3 "$WORK/store.db" "select count(distinct STA) from FILELIST")
echo "  FILELIST: $rows rows for $chans channels over the run"
}

RINGSERVER=$("$SHARED/seedlink-server/build.sh" "$BUILD_DIR/ringserver" | tail -n 1)
run_mode seedlink
run_mode follow
