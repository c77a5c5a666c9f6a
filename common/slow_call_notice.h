// Says once, while a call still runs, that it is taking longer than it should: a
// connection waiting on a store another program holds locked, or on a server that does
// not answer, would otherwise look exactly like a hang.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace zelvik::common {

class SlowCallNotice {
public:
    // Starts watching: when the object still lives `after` from now, `message` goes to
    // the log and to stderr, once.
    SlowCallNotice(std::chrono::milliseconds after, std::string message);
    // Ends the watch (joins its thread).
    ~SlowCallNotice();
    SlowCallNotice(const SlowCallNotice&) = delete;
    SlowCallNotice& operator=(const SlowCallNotice&) = delete;

    // Whether the message was given; then also how long the call has taken, in seconds.
    bool told();
    double seconds() const;

private:
    void watch(std::chrono::milliseconds after) noexcept;

    const std::string message_;
    const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::mutex mutex_;  // guards done_ and told_
    std::condition_variable wake_;
    bool done_ = false;
    bool told_ = false;
    std::thread thread_;
};

}  // namespace zelvik::common
