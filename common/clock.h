// The one source of "now" for the whole program. Tests install a fake clock so that
// log stamps, detection start times and alarm timing are deterministic.
#pragma once

#include <cstdint>
#include <functional>

namespace zelvik::common {

// Seconds since 1970-01-01 00:00 UTC, with fraction. Thread-safe.
double now_utc();

// Whole seconds since 1970 (truncated).
int64_t now_utc_seconds();

// Seconds on a clock that never jumps: the wall time of its first reading in the
// process, advanced by the monotonic clock since. Durations (alarms, silences, NODATA,
// waits) are timed on it, so a change of the system time neither ends them early nor
// draws them out; data and onset times stay on now_utc(). With a test clock installed
// and no test monotonic clock, it is the test clock.
double now_run();
int64_t now_run_seconds();

// Replaces the monotonic clock under now_run() (seconds from any origin); an empty
// function restores steady_clock. Same rules as set_clock_for_testing().
void set_monotonic_clock_for_testing(std::function<double()> clock);

// Replaces the clock for the whole process; an empty function restores the system
// clock. Call only while no other thread reads the clock (test set-up).
void set_clock_for_testing(std::function<double()> clock);

}  // namespace zelvik::common
