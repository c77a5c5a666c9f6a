#!/usr/bin/env bash
# Installs what is missing, builds Zelvik, creates a fresh SQLite waveform store and
# runs Zelvik headless on it: start-up, a few seconds of running, SIGTERM, shutdown.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

zelvik_install_packages
BUILD_DIR="${ZELVIK_BUILD_DIR:-$ZELVIK_ROOT/build}"
zelvik_configure_and_build "$BUILD_DIR"

# Everything of the demo lives in one fresh directory: store file, data directory,
# private ODBC configuration, settings file and log. No system file is touched.
DEMO_DIR="$BUILD_DIR/demo"
rm -rf "$DEMO_DIR"
mkdir -p "$DEMO_DIR/data"
SQLITE_DRIVER="$(dpkg -L libsqliteodbc | grep '/libsqlite3odbc\.so$' | head -n 1)"
cat > "$DEMO_DIR/odbc.ini" <<INI
[zelvik_demo]
Driver = $SQLITE_DRIVER
Database = $DEMO_DIR/store.sqlite
INI
: > "$DEMO_DIR/odbcinst.ini"
export ODBCINI="$DEMO_DIR/odbc.ini" ODBCSYSINI="$DEMO_DIR"
cat > "$DEMO_DIR/zelvik.ini" <<INI
[DATABASE]
ODBC=zelvik_demo
[DATA]
DIR=$DEMO_DIR/data
[LOG]
DIR=$DEMO_DIR/log
LEVEL=DEBUG
INI

"$BUILD_DIR/bin/zelvik-store" --config "$DEMO_DIR/zelvik.ini" init
echo "zelvik: running headless for 5 s on the fresh store in $DEMO_DIR" >&2
status=0
timeout --preserve-status --signal=TERM 5 \
  "$BUILD_DIR/bin/zelvik" --headless --config "$DEMO_DIR/zelvik.ini" || status=$?
cat "$DEMO_DIR"/log/*.log
exit "$status"
