#!/usr/bin/env bash
# Builds Zelvik, makes a SQLite waveform store from the real recordings bundled in
# tests/data/real (MIT-licensed, from AI4EPS/PhaseNet; see tests/data/real/README.md),
# runs `zelvik --headless --until-caught-up` over them from the start of the data and
# shows what it found: the measurement lines of the log and `zelvik-store events`.
# With --window (and a display) it opens the main window on the same store instead of
# the headless run; the lists are shown once the window has been left with Exit.
# With --live the recordings are replayed in real time, as a digitizer writes them, into
# a folder that `zelvik-store follow` stores from while Zelvik runs beside it; each
# alarm is shown as it comes with its delay after the data landed (about 4 minutes).
set -euo pipefail
WINDOW=0
LIVE=0
for arg in "$@"; do
  case "$arg" in
    --window) WINDOW=1 ;;
    --live) LIVE=1 ;;
    *) echo "usage: $0 [--window | --live]" >&2; exit 2 ;;
  esac
done
if [[ $WINDOW -eq 1 && -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]]; then
  echo "zelvik: --window needs a display (DISPLAY or WAYLAND_DISPLAY)" >&2
  exit 2
fi
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

zelvik_install_packages
BUILD_DIR="${ZELVIK_BUILD_DIR:-$ZELVIK_ROOT/build}"
# The build's own output is shown only when it fails; a good build is one line.
if ! build_log=$( { cmake -S "$ZELVIK_ROOT" -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo &&
                    cmake --build "$BUILD_DIR" -j "$(nproc)" --target zelvik zelvik-store; } 2>&1); then
  printf '%s\n' "$build_log" >&2
  echo "demo: the build failed" >&2
  exit 1
fi
echo "demo: built zelvik and zelvik-store in $BUILD_DIR" >&2

DEMO="${ZELVIK_DEMO_DIR:-$BUILD_DIR/demo}"
rm -rf "$DEMO"
mkdir -p "$DEMO/data" "$DEMO/log"

# A private data source: the store is one SQLite file beside the settings.
SQLITE_DRIVER="$(dpkg -L libsqliteodbc | grep '/libsqlite3odbc\.so$' | head -n 1)"
: > "$DEMO/odbcinst.ini"
cat > "$DEMO/odbc.ini" <<INI
[zelvik_demo]
Driver=$SQLITE_DRIVER
Database=$DEMO/store.db
Timeout=5000
INI
export ODBCINI="$DEMO/odbc.ini" ODBCSYSINI="$DEMO"

# One channel section per recording (station and channel from the file name and the
# pick table). Detection settings for 100 samples/s local-event data: trigger band
# 1-5 Hz, order 3, STA 1 s, LTA 10 s, threshold 5 on the ratio of variances.
RECORDINGS=(
  "NN_MGN_1987020206461132_N1.mseed MGN EHZ"
  "NC_PHC_2004011816230722.mseed PHC SHZ"
  "BK_BKS_2017071510492061.mseed BKS HHZ"
  "PB_B072_2017092719561779.mseed B072 EHZ"
  "NC_CLCB_2017112601505303.mseed CLCB HNZ"
)
{
  echo "[DATABASE]"
  echo "ODBC=zelvik_demo"
  echo "USER=demo"
  echo "PASSWORD=demo"
  echo "USE_TEND=0"
  echo "[DATA]"
  echo "DIR=$DEMO/data"
  echo "[LOG]"
  echo "DIR=$DEMO/log"
  echo "LEVEL=ERROR"
  echo "[SYSTEM]"
  echo "THREADS=${#RECORDINGS[@]}"
  echo "SLEEP=0"
  echo "STORAGE_TIME=0"
  if [[ $LIVE -eq 1 ]]; then
    echo "BEGIN=-10"  # the replay starts now
  else
    # The earliest recording starts at 1987-02-02 06:43:11 UTC.
    echo "BEGIN=1987-02-02 06:43:00"
  fi
  echo "[ALARM]"
  echo "WAVFILE=*"
  echo "MAXDURATION=120"
  echo "NODATA=60"
  n=0
  for rec in "${RECORDINGS[@]}"; do
    read -r _ sta chan <<<"$rec"
    echo "[THREAD$n]"
    echo "STATION=$sta"
    echo "CHANNEL=$chan"
    echo "LCODE=??"
    echo "ORDER=3"
    echo "FR1=1.0"
    echo "FR2=5.0"
    echo "STA=1"
    echo "LTA=10"
    echo "Threshold=5"
    echo "SOUND=1"
    n=$((n + 1))
  done
  # List column widths (pixels) that show both time columns whole; the window keeps
  # whatever the operator drags them to at Exit.
  echo "[LISTBOXHEADER]"
  echo "HDRSIZE=32,42,36,24,134,134,24,40,40,42,44,52"
} > "$DEMO/zelvik.ini"

STORE=("$BUILD_DIR/bin/zelvik-store" --config "$DEMO/zelvik.ini")
files=()
for rec in "${RECORDINGS[@]}"; do
  read -r file _ _ <<<"$rec"
  files+=("$ZELVIK_ROOT/tests/data/real/$file")
done
"${STORE[@]}" init
if [[ $LIVE -eq 1 ]]; then
  source "$ZELVIK_ROOT/scripts/live_demo.sh"
  exit 0
fi
"${STORE[@]}" import "${files[@]}"

if [[ $WINDOW -eq 1 ]]; then
  echo "zelvik: main window on the demo store; leave it with Exit" >&2
  "$BUILD_DIR/bin/zelvik" --config "$DEMO/zelvik.ini"
else
  echo "zelvik --check: what a run over this configuration would watch" >&2
  "$BUILD_DIR/bin/zelvik" --check --config "$DEMO/zelvik.ini"
  echo
  echo "zelvik: detecting over the stored recordings" >&2
  start=$(date +%s)
  "$BUILD_DIR/bin/zelvik" --until-caught-up --config "$DEMO/zelvik.ini"
  echo "zelvik: run took $(( $(date +%s) - start )) s" >&2
fi

echo
echo "Measurement lines of the log ($DEMO/log):"
cat "$DEMO"/log/*.log | tr -d '\r' | grep 'Ch: ' || echo "  (none)"
echo
echo "Analyst P picks, for comparison (tests/data/real/picks.csv):"
cut -d, -f4,7,12 "$ZELVIK_ROOT/tests/data/real/picks.csv" | tail -n +2 | sed 's/^/  /'
echo
echo "Event list (zelvik-store events):"
"${STORE[@]}" events
