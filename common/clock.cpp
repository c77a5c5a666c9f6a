#include "common/clock.h"

#include <chrono>
#include <cmath>
#include <utility>

namespace zelvik::common {

namespace {

std::function<double()>& test_clock() {
    static std::function<double()> clock;
    return clock;
}

struct TestMonotonic {
    std::function<double()> clock;
    double wall_origin = 0.0;  // now_utc() when it was installed
    double origin = 0.0;       // its reading then
};

TestMonotonic& test_monotonic() {
    static TestMonotonic m;
    return m;
}

double steady_seconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

double now_run() {
    if (const TestMonotonic& m = test_monotonic(); m.clock)
        return m.wall_origin + (m.clock() - m.origin);
    if (test_clock()) return test_clock()();
    // Both origins are read once, together, on the first call (thread-safe static init).
    struct Origin {
        double wall = now_utc();
        double steady = steady_seconds();
    };
    static const Origin origin;
    return origin.wall + (steady_seconds() - origin.steady);
}

int64_t now_run_seconds() {
    return static_cast<int64_t>(std::floor(now_run()));
}

void set_monotonic_clock_for_testing(std::function<double()> clock) {
    TestMonotonic& m = test_monotonic();
    m.wall_origin = clock ? now_utc() : 0.0;
    m.origin = clock ? clock() : 0.0;
    m.clock = std::move(clock);
}

double now_utc() {
    if (const auto& clock = test_clock()) return clock();
    const auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
    return std::chrono::duration<double>(since_epoch).count();
}

int64_t now_utc_seconds() {
    return static_cast<int64_t>(std::floor(now_utc()));
}

void set_clock_for_testing(std::function<double()> clock) {
    test_clock() = std::move(clock);
}

}  // namespace zelvik::common
