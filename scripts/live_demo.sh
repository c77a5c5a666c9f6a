# The live part of demo.sh (sourced by it, with DEMO, BUILD_DIR, STORE and files set and
# the store made): replays the recordings in real time into $DEMO/sds, stores them with
# `zelvik-store follow`, runs `zelvik --headless` beside it and prints each alarm with
# its delay after the record holding the trigger sample (onset + STA/2) landed. The
# recordings are moved in time to start now; P arrives about 180 s in.
mkdir -p "$DEMO/sds"
pids=()
stop_all() {
  for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap stop_all EXIT
"${STORE[@]}" follow "$DEMO/sds" 2>"$DEMO/follow.log" &
pids+=($!)
"$BUILD_DIR/bin/zelvik" --headless --config "$DEMO/zelvik.ini" 2>"$DEMO/zelvik.err" &
pids+=($!)
start=$(date +%s)
python3 "$ZELVIK_ROOT/scripts/replay_records.py" --out "$DEMO/sds" --start "$start" "${files[@]}" \
  >"$DEMO/landed.txt" &
replay=$!
pids+=($replay)
echo "demo: replaying ${#files[@]} recordings in real time into $DEMO/sds; P arrives about 180 s in" >&2
echo "demo: zelvik-store follow and zelvik --headless run beside it; alarms as they come:" >&2
# Alarm lines as they come; the delay is from the landing of the record holding
# onset + 0.5 s (STA/2) to the moment the line was read here.
alarms=0
tail -n +1 -F "$DEMO/zelvik.err" 2>/dev/null | while IFS= read -r line; do
  case "$line" in
    *"in alarm: event at "*)
      now=$(date +%s.%N)
      name=$(sed -E 's/.*\(([^)]*)\).*/\1/' <<<"$line")
      sta=${name%%.*}
      rest=${name#*.}
      cha=${rest%%.*}
      onset=$(date -u -d "$(sed -E 's/.*event at (.*) UTC/\1/' <<<"$line")" +%s)
      landed=$(awk -v s="$sta" -v c="$cha" -v t="$onset" '
        { split($2, id, "."); if (id[2] == s && id[4] == c && $3 <= t + 0.5 && t + 0.5 < $4) print $5 }' \
        "$DEMO/landed.txt" | head -n 1)
      if [[ -n $landed ]]; then
        printf 'demo: %s in alarm, onset %s UTC, %.1f s after its data landed\n' "$name" \
          "$(date -u -d "@$onset" +%H:%M:%S)" "$(awk -v a="$now" -v b="$landed" 'BEGIN { print a - b }')"
      else
        printf 'demo: %s in alarm, onset %s UTC\n' "$name" "$(date -u -d "@$onset" +%H:%M:%S)"
      fi
      ;;
  esac
done &
watcher=$!
wait "$replay" || true
sleep 15  # the last records' measurements and alarms
kill "$watcher" 2>/dev/null || true
pkill -P "$watcher" 2>/dev/null || true
stop_all
trap - EXIT
echo
echo "What zelvik-store follow said ($DEMO/follow.log):"
sed 's/^/  /' "$DEMO/follow.log"
echo
echo "Measurement lines of the log ($DEMO/log):"
cat "$DEMO"/log/*.log | tr -d '\r' | grep 'Ch: ' || echo "  (none)"
echo
echo "Event list (zelvik-store events):"
"${STORE[@]}" events
echo
echo "FILELIST rows (one growing segment per channel):"
sqlite3 "$DEMO/store.db" "select STA, CH, TBEGIN, TQTY, CPATH from FILELIST" | sed 's/^/  /'
