#!/usr/bin/env python3
"""Replays miniSEED 2 recordings in real time, as a digitizer writes them.

Every record is appended to its day file of an SDS tree
(YEAR/NET/STA/CHA.D/NET.STA.LOC.CHA.D.YEAR.DOY) once the wall clock has passed the
time of its last sample. The recordings are moved in time so that their first samples
fall at the replay's start (now, unless --start says otherwise); the samples are not
touched, only the start time in each record's fixed header. Prints one line per record
written: "landed NET.STA.LOC.CHA START END WALL" (seconds since 1970).
"""
import argparse
import calendar
import os
import struct
import sys
import time


def record_length(rec):
    """Length from blockette 1000, or None."""
    order = byte_order(rec)
    offset = struct.unpack(order + "H", rec[46:48])[0]
    while 48 <= offset < len(rec) - 8:
        kind, following = struct.unpack(order + "HH", rec[offset:offset + 4])
        if kind == 1000:
            return 1 << rec[offset + 6]
        if following == 0 or following <= offset:
            return None
        offset = following
    return None


def byte_order(rec):
    year = struct.unpack(">H", rec[20:22])[0]
    return ">" if 1900 <= year <= 2100 else "<"


def header_times(rec):
    order = byte_order(rec)
    year, doy, hour, minute, second, _, fract = struct.unpack(order + "HHBBBBH", rec[20:30])
    count, factor, multiplier = struct.unpack(order + "Hhh", rec[30:36])
    start = calendar.timegm((year, 1, 1, hour, minute, second)) + (doy - 1) * 86400 + fract / 1e4
    if factor > 0:
        rate = factor * multiplier if multiplier > 0 else (-factor / multiplier if multiplier else factor)
    else:
        rate = -multiplier / factor if multiplier > 0 else 1.0 / (factor * multiplier)
    return start, count, rate


def with_start(rec, start):
    order = byte_order(rec)
    whole = int(start)
    fract = int(round((start - whole) * 1e4))
    if fract == 10000:
        whole, fract = whole + 1, 0
    t = time.gmtime(whole)
    fields = struct.pack(order + "HHBBBBH", t.tm_year, t.tm_yday, t.tm_hour, t.tm_min, t.tm_sec, 0, fract)
    return rec[:20] + fields + rec[30:]


def codes(rec):
    text = rec[8:20].decode("ascii", "replace")
    sta, loc, cha, net = text[0:5].strip(), text[5:7].strip(), text[7:10].strip(), text[10:12].strip()
    return net, sta, loc, cha


def read_records(path):
    data = open(path, "rb").read()
    pos = 0
    while pos + 64 <= len(data):
        length = record_length(data[pos:pos + 4096]) or 512
        yield data[pos:pos + length]
        pos += length


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", required=True, help="root of the SDS tree to write")
    parser.add_argument("--start", type=float, help="new time of the first sample (default: now)")
    parser.add_argument("files", nargs="+")
    args = parser.parse_args()
    start = args.start if args.start is not None else round(time.time(), 2)
    plan = []
    for path in args.files:
        records = list(read_records(path))
        first = min(header_times(r)[0] for r in records)
        for rec in records:
            t0, count, rate = header_times(rec)
            new_start = start + (t0 - first)
            plan.append((new_start + count / rate, new_start, with_start(rec, new_start)))
    plan.sort(key=lambda p: p[0])
    for end, begin, rec in plan:
        time.sleep(max(0.0, end - time.time()))
        net, sta, loc, cha = codes(rec)
        t = time.gmtime(int(begin))
        folder = os.path.join(args.out, str(t.tm_year), net, sta, cha + ".D")
        os.makedirs(folder, exist_ok=True)
        name = "%s.%s.%s.%s.D.%04d.%03d" % (net, sta, loc, cha, t.tm_year, t.tm_yday)
        with open(os.path.join(folder, name), "ab") as f:
            f.write(rec)
        print("landed %s.%s.%s.%s %.3f %.3f %.3f" % (net, sta, loc, cha, begin, end, time.time()), flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
