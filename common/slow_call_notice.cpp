#include "common/slow_call_notice.h"

#include <cstdio>

#include "common/log.h"

namespace zelvik::common {

SlowCallNotice::SlowCallNotice(std::chrono::milliseconds after, std::string message)
    : message_(std::move(message)) {
    thread_ = std::thread([this, after] { watch(after); });
}

SlowCallNotice::~SlowCallNotice() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        done_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void SlowCallNotice::watch(std::chrono::milliseconds after) noexcept {
    std::unique_lock<std::mutex> lock(mutex_);
    if (wake_.wait_for(lock, after, [this] { return done_; })) return;
    told_ = true;
    lock.unlock();
    // Written outside the lock: the log has its own, and the call being watched may
    // write to the log too.
    (void)log_write(message_);
    std::fprintf(stderr, "%s: %s\n", program_invocation_short_name, message_.c_str());
}

bool SlowCallNotice::told() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return told_;
}

double SlowCallNotice::seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

}  // namespace zelvik::common
