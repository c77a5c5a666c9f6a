// A change of the running channel set, worked out from the channels as they run and
// as the settings now describe them, and the hand-over that lets the worker make it
// between two passes while the supervisor waits, so neither ever walks a list the
// other is changing.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <string>
#include <vector>

#include "channel/channel_settings.h"
#include "common/mutex.h"

namespace zelvik::detect {

// Which running channel each channel of the new settings continues. A section whose
// settings are equal to a running channel's (its number aside: the editor renumbers
// the sections after one it deletes) keeps that channel's detector; any other starts
// a fresh one.
struct ChannelPlan {
    std::vector<int> old_of_new;    // per new channel: the running one it keeps, -1 = fresh
    std::vector<int> changed_from;  // per new channel: the running one of its number it
                                    // replaces (a changed channel), -1 = none
    std::vector<int> removed;       // running channels nothing keeps nor replaces
    bool same() const;              // nothing starts, stops or moves
};

// Same-numbered equal sections are matched first, then equal sections under other
// numbers, then same-numbered changed ones.
ChannelPlan plan_channels(const std::vector<ChannelSettings>& running,
                          const std::vector<ChannelSettings>& wanted);

// Per-channel data in the order of the new channel set: kept entries move along,
// the others are `fresh`.
template <class T>
std::vector<T> remap_rows(std::vector<T>& rows, const std::vector<int>& old_of_new,
                          const T& fresh = T{}) {
    std::vector<T> out;
    out.reserve(old_of_new.size());
    for (const int from : old_of_new) {
        const bool kept = from >= 0 && static_cast<size_t>(from) < rows.size();
        out.push_back(kept ? std::move(rows[static_cast<size_t>(from)]) : fresh);
    }
    return out;
}

// The new index of each old one, -1 for those that go.
std::vector<int> new_of_old(const std::vector<int>& old_of_new, size_t old_count);

// One change at a time from the supervisor thread to the worker thread.
class ChangeHandover {
public:
    // Supervisor thread: offers `change` and waits until the worker has run it. Every
    // `slice` it asks `gone` whether the worker has ended; then, or after `timeout`
    // without the worker taking it, the change is taken back. True when it ran.
    bool hand_over(std::function<void()> change, std::chrono::milliseconds timeout,
                   const std::function<bool()>& gone,
                   std::chrono::milliseconds slice = std::chrono::milliseconds(50));

    // Worker thread, between passes: runs the offered change, if any, with no lock held
    // (it may finish measurements and store their rows). True when one ran.
    bool run_offered();

    // Any thread: a change waits for the worker (its idle pause ends early for it).
    bool waiting() const { return waiting_.load(); }

private:
    // Guards the offered change and its progress.
    common::Mutex mutex_;
    std::condition_variable done_cv_;
    std::function<void()> offered_ GUARDED_BY(mutex_);
    bool taken_ GUARDED_BY(mutex_) = false;
    bool done_ GUARDED_BY(mutex_) = false;
    std::atomic<bool> waiting_{false};
};

}  // namespace zelvik::detect
