#!/usr/bin/env bash
# Realistic engine benchmark: the real `zelvik --until-caught-up` over 10 channels x 24 h
# at 100 samples/s whose noise has the averaged spectrum of the pre-event noise of the
# shared real recordings, with real earthquakes added (one every 20 minutes per channel
# on average), and a noisy-site store with short local bursts besides (thousands of
# detections a day). Each store is run on SQLite with the driver's default settings,
# on SQLite with the write-ahead journal and on a PostgreSQL server on loopback; the
# numpy/scipy yardstick (bench/numpy_compare.py) reads the same store in the same run.
# Prints samples per second of the whole run, measurements and the ratio to the script.
# Generated data stay under the build directory. Run by scripts/bench.sh.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="${ZELVIK_BENCH_BUILD_DIR:-$ROOT/build-bench}"
cmake --build "$BUILD_DIR" -j "$(nproc)" --target zelvik zelvik-store zelvik_realistic_bench_gen >/dev/null
WORK="${ZELVIK_REALISTIC_BENCH_DIR:-$BUILD_DIR/realistic-bench}"
REAL="${ZELVIK_REAL_MSEED_DIR:-}"
for candidate in "$ROOT/../shared/data/real/mseed" "$ROOT/../../shared/data/real/mseed"; do
  [[ -z "$REAL" && -f "$candidate/picks.csv" ]] && REAL="$candidate"
done
if [[ -z "$REAL" ]]; then
  echo "realistic_bench: no real recordings found (set ZELVIK_REAL_MSEED_DIR)" >&2
  exit 1
fi
START=1600000000  # 2020-09-13 12:26:40 UTC
DAY=86400
CHANNELS=10
SAMPLES=$((CHANNELS * DAY * 100))
PG_BIN=/usr/lib/postgresql/15/bin
SQLITE_DRIVER=/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so
PG_DRIVER=/usr/lib/x86_64-linux-gnu/odbc/psqlodbcw.so
export ODBCINI="$WORK/odbc.ini" ODBCSYSINI="$WORK"
mkdir -p "$WORK"
: > "$WORK/odbcinst.ini"

as_postgres() { if [[ $(id -u) -eq 0 ]]; then runuser -u postgres -- "$@"; else "$@"; fi; }

write_settings() {  # write_settings FILE DSN STORE_DIR
  {
    printf '[DATABASE]\nODBC=%s\nUSER=bench\nPASSWORD=bench\nUSE_TEND=0\n' "$2"
    printf '[DATA]\nDIR=%s/data\n[LOG]\nDIR=%s/log\nLEVEL=ERROR\n' "$3" "$3"
    printf '[SYSTEM]\nTHREADS=%d\nSLEEP=0\nSTORAGE_TIME=0\nBEGIN=2020-09-13 12:26:40\n' "$CHANNELS"
    printf '[ALARM]\nWAVFILE=*\n'
    for ((n = 0; n < CHANNELS; n++)); do
      printf '[THREAD%d]\nSTATION=R%03d\nCHANNEL=HHZ\nORDER=3\nFR1=1\nFR2=8\nSTA=1\nLTA=10\nThreshold=5\n' "$n" "$n"
    done
  } > "$1"
}

# One store per kind, made once and reused while its marker says it is complete.
make_store() {  # make_store NAME BURST_EVERY SEED
  local dir="$WORK/$1"
  [[ -f "$dir/complete" ]] && return 0
  rm -rf "$dir"
  mkdir -p "$dir/data" "$dir/log" "$dir/mseed"
  write_settings "$dir/zelvik.ini" "$1_sqlite" "$dir"
  echo "realistic_bench: generating the $1 store" >&2
  "$BUILD_DIR/bench/zelvik_realistic_bench_gen" "$REAL" "$dir/mseed" "$START" "$CHANNELS" "$DAY" 1200 "$2" "$3"
  "$BUILD_DIR/bin/zelvik-store" --config "$dir/zelvik.ini" init
  "$BUILD_DIR/bin/zelvik-store" --config "$dir/zelvik.ini" import "$dir"/mseed/*.mseed 2>&1 | tail -1
  rm -rf "$dir/mseed"
  touch "$dir/complete"
}

write_odbc_ini() {  # data sources of both stores: default SQLite, WAL SQLite, PostgreSQL
  : > "$ODBCINI"
  for name in realistic noisy; do
    printf '[%s_sqlite]\nDriver=%s\nDatabase=%s/%s/store.db\n' "$name" "$SQLITE_DRIVER" "$WORK" "$name"
    printf '[%s_wal]\nDriver=%s\nDatabase=%s/%s/store.db\nJournalMode=WAL\nSyncPragma=NORMAL\n' \
      "$name" "$SQLITE_DRIVER" "$WORK" "$name"
    # Protocol 7.4-1: rollback of the whole transaction on an error, instead of the
    # driver's savepoint around every statement (two more round trips each).
    printf '[%s_pg]\nDriver=%s\nServername=127.0.0.1\nPort=%s\nDatabase=%s\nProtocol=7.4-1\n' \
      "$name" "$PG_DRIVER" "$PG_PORT" "$name"
  done >> "$ODBCINI"
}

PG_PORT=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
PG_DIR="$WORK/pg"
stop_pg() { as_postgres "$PG_BIN/pg_ctl" -D "$PG_DIR/data" -m fast -w stop >/dev/null 2>&1 || true; }
start_pg() {  # a throw-away cluster with the server's default durability settings
  rm -rf "$PG_DIR"
  mkdir -p "$PG_DIR"
  [[ $(id -u) -eq 0 ]] && chown postgres "$PG_DIR"
  as_postgres "$PG_BIN/initdb" -D "$PG_DIR/data" -U postgres --auth-local=trust --auth-host=scram-sha-256 \
    -E UTF8 --locale=C >"$PG_DIR/initdb.log" 2>&1
  as_postgres "$PG_BIN/pg_ctl" -D "$PG_DIR/data" -l "$PG_DIR/server.log" -w \
    -o "-p $PG_PORT -k $PG_DIR -c listen_addresses=127.0.0.1" start >/dev/null
  trap stop_pg EXIT
  psql_admin postgres "create role bench login password 'bench'"
}
psql_admin() { as_postgres psql -q -X -h "$PG_DIR" -p "$PG_PORT" -U postgres -d "$1" -c "$2" >/dev/null; }

copy_to_pg() {  # copy_to_pg NAME: the store's rows into a database of that name
  local dir="$WORK/$1"
  psql_admin postgres "create database $1 owner bench"
  write_settings "$dir/zelvik-pg.ini" "$1_pg" "$dir"
  "$BUILD_DIR/bin/zelvik-store" --config "$dir/zelvik-pg.ini" init
  local table cols
  for table in SITECHAN FILELIST; do
    cols=$(sqlite3 "$dir/store.db" "select group_concat(name, ',') from pragma_table_info('$table')")
    sqlite3 -csv "$dir/store.db" "select $cols from $table" |
      as_postgres psql -q -X -h "$PG_DIR" -p "$PG_PORT" -U postgres -d "$1" \
        -c "\\copy $table($cols) from stdin csv" >/dev/null
  done
  psql_admin "$1" "analyze"
}

clear_events() {  # clear_events NAME KIND
  case "$2" in
    pg) psql_admin "$1" "delete from eventlist" ;;
    *) sqlite3 "$WORK/$1/store.db" "delete from EVENTLIST" ;;
  esac
}

event_rows() {  # event_rows NAME KIND
  case "$2" in
    pg) as_postgres psql -tA -X -h "$PG_DIR" -p "$PG_PORT" -U postgres -d "$1" -c "select count(*) from eventlist" ;;
    *) sqlite3 "$WORK/$1/store.db" "select count(*) from EVENTLIST" ;;
  esac
}

run() {  # run NAME KIND (sqlite, wal, pg) PYTHON_RATE
  local dir="$WORK/$1" ini="$WORK/$1/zelvik-$2.ini"
  write_settings "$ini" "$1_$2" "$dir"
  clear_events "$1" "$2"
  rm -f "$dir"/log/*.log
  local t0 t1
  t0=$(date +%s.%N)
  /usr/bin/time -v -o "$dir/time.txt" "$BUILD_DIR/bin/zelvik" --until-caught-up --config "$ini" 2>"$dir/stderr.txt"
  t1=$(date +%s.%N)
  local rss cpu measured rows
  rss=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$dir/time.txt")
  cpu=$(awk -F': ' '/User time/ {u = $2} /System time/ {s = $2} END {print u + s}' "$dir/time.txt")
  measured=$(cat "$dir"/log/*.log | grep -c 'Ch: ' || true)
  rows=$(event_rows "$1" "$2")
  awk -v l="$1 store, $2" -v s="$SAMPLES" -v a="$t0" -v b="$t1" -v c="$cpu" -v r="$rss" -v e="$measured" \
    -v w="$rows" -v p="$3" 'BEGIN {
    rate = s / 1e6 / (b - a)
    printf "%-22s %.1f M samples in %.2f s wall = %.1f M samples/s (%.2f s CPU), %d measurements, %d rows, RSS %.1f MB, %.1f x numpy/scipy\n",
           l ":", s / 1e6, b - a, rate, c, e, w, r / 1024, rate / p }'
}

python_rate() {  # python_rate NAME: prints the script's line to stderr, its rate to stdout
  local line
  line=$(/usr/bin/python3 "$ROOT/bench/numpy_compare.py" "$WORK/$1/store.db" "$WORK/$1/data")
  echo "$1 store, $line" >&2
  sed -E 's/.* = ([0-9.]+) M samples\/s.*/\1/' <<<"$line"
}

write_odbc_ini
make_store realistic 0 11
make_store noisy 40 12
start_pg
copy_to_pg realistic
copy_to_pg noisy
echo "load before the runs: $(cut -d' ' -f1-3 /proc/loadavg)"
for name in realistic noisy; do
  # The write-ahead journal stays with the file once set: back to the default first.
  sqlite3 "$WORK/$name/store.db" "pragma journal_mode=delete" >/dev/null
  rate=$(python_rate "$name")
  run "$name" sqlite "$rate"
  run "$name" wal "$rate"
  sqlite3 "$WORK/$name/store.db" "pragma journal_mode=delete" >/dev/null
  run "$name" pg "$rate"
done
echo "load after the runs: $(cut -d' ' -f1-3 /proc/loadavg)"
