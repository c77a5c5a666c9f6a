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

// Replaces the clock for the whole process; an empty function restores the system
// clock. Call only while no other thread reads the clock (test set-up).
void set_clock_for_testing(std::function<double()> clock);

}  // namespace zelvik::common
