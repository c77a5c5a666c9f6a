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

}  // namespace

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
