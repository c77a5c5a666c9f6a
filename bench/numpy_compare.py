#!/usr/bin/env python3
"""The yardstick of the engine benchmark: the same work as a catch-up run, written with
numpy and scipy. Reads every HHZ channel of a SQLite waveform store an hour at a time
from its data files, runs both band-pass filters (the measurement filter, order 2,
0.6-1.9 Hz, and the trigger filter, order 3, 1-8 Hz, Butterworth as second-order
sections with their state carried from hour to hour) and the STA/LTA trigger (variance
of the last 1 s against that of the 10 s before it, threshold 5, rising edges with 5 s
hold-over). Prints samples, detections and samples per second of the whole run.

usage: numpy_compare.py STORE.db DATA_DIR
"""
import os
import sqlite3
import sys
import time

import numpy as np
from scipy import signal

RATE = 100.0
STA, LTA, THRESHOLD, HOLD = 100, 1000, 5.0, 500


def channel_segments(db, sta):
    return db.execute(
        "select TBEGIN, TQTY, SPS, DATATYPE, FOFF, CPATH from FILELIST "
        "where STA=? and CH='HHZ' order by TBEGIN", (sta,)).fetchall()


def read_hours(data_dir, segments):
    """Yields the channel's samples an hour (or less) at a time, as float32."""
    for tbegin, tqty, sps, datatype, foff, cpath in segments:
        count = int(round(tqty * sps))
        dtype = {2: "<i4", 3: "<f4"}[datatype]
        path = os.path.join(data_dir, cpath)
        hour = int(3600 * sps)
        for first in range(0, count, hour):
            n = min(hour, count - first)
            yield np.fromfile(path, dtype=dtype, count=n,
                              offset=foff + 4 * first).astype(np.float32)


def detections(y):
    """Rising edges of the variance-ratio trigger over the whole channel."""
    c1 = np.concatenate(([0.0], np.cumsum(y)))
    c2 = np.concatenate(([0.0], np.cumsum(y * y)))
    n = len(y)
    end = np.arange(LTA + STA, n + 1)
    sta_m = (c1[end] - c1[end - STA]) / STA
    sta_v = (c2[end] - c2[end - STA]) / STA - sta_m ** 2
    lta_m = (c1[end - STA] - c1[end - STA - LTA]) / LTA
    lta_v = (c2[end - STA] - c2[end - STA - LTA]) / LTA - lta_m ** 2
    on = sta_v > THRESHOLD * np.maximum(lta_v, 1e-300)
    rises = np.flatnonzero(on[1:] & ~on[:-1]) + 1
    if len(rises) == 0:
        return 0
    # A rise within the hold-over of the previous trigger is the same detection.
    falls = np.flatnonzero(on[:-1] & ~on[1:]) + 1
    last_fall = np.searchsorted(falls, rises) - 1
    gap_ok = (last_fall < 0) | (rises - falls[np.maximum(last_fall, 0)] > HOLD)
    return int(np.count_nonzero(gap_ok))


def main():
    db_path, data_dir = sys.argv[1], sys.argv[2]
    t0 = time.perf_counter()
    db = sqlite3.connect(db_path)
    stations = [r[0] for r in db.execute(
        "select distinct STA from FILELIST where CH='HHZ' order by STA")]
    m_sos = signal.butter(2, [0.6, 1.9], btype="bandpass", fs=RATE, output="sos")
    t_sos = signal.butter(3, [1.0, 8.0], btype="bandpass", fs=RATE, output="sos")
    samples = found = 0
    for sta in stations:
        m_zi = np.zeros((m_sos.shape[0], 2))
        t_zi = np.zeros((t_sos.shape[0], 2))
        trigger_input = []
        for x in read_hours(data_dir, channel_segments(db, sta)):
            x = x.astype(np.float64)
            m, m_zi = signal.sosfilt(m_sos, x, zi=m_zi)
            y, t_zi = signal.sosfilt(t_sos, x, zi=t_zi)
            trigger_input.append(y)
            samples += len(x)
        if trigger_input:
            found += detections(np.concatenate(trigger_input))
    wall = time.perf_counter() - t0
    print(f"numpy/scipy: {samples / 1e6:.1f} M samples in {wall:.2f} s = "
          f"{samples / 1e6 / wall:.1f} M samples/s, {found} detections")


if __name__ == "__main__":
    main()
