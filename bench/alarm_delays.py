#!/usr/bin/env python3
"""Alarm latency of a live run: for each "in alarm: event at ..." line of Zelvik (each
line prefixed with the wall time it was read), the time since the record that holds the
trigger sample (onset + STA/2) landed, from the "landed NET.STA.LOC.CHA START END WALL"
lines of the feed. The line gives the onset to the whole second; the event row of the
store (SQLite file, third argument) gives it exactly. Prints p50, p95, max."""
import calendar
import re
import sqlite3
import sys
import time


def main(landed_path, alarms_path, store_path, half_sta=0.5):
    onsets = {}
    with sqlite3.connect(store_path) as db:
        for station, tbegin in db.execute("select STA, TBEGIN from EVENTLIST"):
            onsets.setdefault((station, int(tbegin)), tbegin)
    records = {}
    for line in open(landed_path):
        parts = line.split()
        if len(parts) == 5 and parts[0] == "landed":
            records.setdefault(parts[1].split(".")[1], []).append(tuple(map(float, parts[2:5])))
    delays = []
    pattern = re.compile(r"^(\S+) .*\((\w+)\.[^)]*\) in alarm: event at (\S+ \S+) UTC")
    for line in open(alarms_path):
        m = pattern.match(line)
        if not m:
            continue
        seen, station, onset_text = float(m.group(1)), m.group(2), m.group(3)
        whole = calendar.timegm(time.strptime(onset_text, "%Y-%m-%d %H:%M:%S"))
        onset = onsets.get((station, whole))
        if onset is None:
            continue
        trigger = onset + half_sta
        for start, end, wall in records.get(station, []):
            if start <= trigger < end:
                delays.append(seen - wall)
                break
    if not delays:
        print("  alarms: none")
        return 0
    delays.sort()
    at = lambda q: delays[min(len(delays) - 1, int(q * len(delays)))]
    print("  alarm after the record holding the trigger sample landed: %d alarms, "
          "p50 %.2f s, p95 %.2f s, max %.2f s" % (len(delays), at(0.5), at(0.95), delays[-1]))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2], sys.argv[3]))
