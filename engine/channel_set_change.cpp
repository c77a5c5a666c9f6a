// Channel plans and the change hand-over. The supervisor never holds the hand-over's
// lock while the worker runs the change, and the worker never holds it while it does.
#include "engine/channel_set_change.h"

namespace zelvik::detect {
namespace {

bool same_except_number(const ChannelSettings& a, const ChannelSettings& b) {
    return a.station == b.station && a.channel == b.channel && a.location == b.location &&
           a.lta_seconds == b.lta_seconds && a.sta_seconds == b.sta_seconds &&
           a.threshold == b.threshold && a.fr1 == b.fr1 && a.fr2 == b.fr2 && a.order == b.order &&
           a.sound == b.sound;
}

}  // namespace

bool ChannelPlan::same() const {
    if (!removed.empty()) return false;
    for (size_t i = 0; i < old_of_new.size(); ++i)
        if (old_of_new[i] != static_cast<int>(i)) return false;
    return true;
}

ChannelPlan plan_channels(const std::vector<ChannelSettings>& running,
                          const std::vector<ChannelSettings>& wanted) {
    ChannelPlan plan;
    plan.old_of_new.assign(wanted.size(), -1);
    plan.changed_from.assign(wanted.size(), -1);
    std::vector<bool> used(running.size(), false);
    for (size_t i = 0; i < wanted.size() && i < running.size(); ++i) {
        if (same_except_number(running[i], wanted[i]) && running[i].index == wanted[i].index) {
            plan.old_of_new[i] = static_cast<int>(i);
            used[i] = true;
        }
    }
    for (size_t i = 0; i < wanted.size(); ++i) {
        for (size_t j = 0; j < running.size() && plan.old_of_new[i] < 0; ++j) {
            if (used[j] || !same_except_number(running[j], wanted[i])) continue;
            plan.old_of_new[i] = static_cast<int>(j);
            used[j] = true;
        }
    }
    for (size_t i = 0; i < wanted.size(); ++i) {
        if (plan.old_of_new[i] >= 0) continue;
        for (size_t j = 0; j < running.size(); ++j) {
            if (used[j] || running[j].index != wanted[i].index) continue;
            plan.changed_from[i] = static_cast<int>(j);
            used[j] = true;
            break;
        }
    }
    for (size_t j = 0; j < running.size(); ++j)
        if (!used[j]) plan.removed.push_back(static_cast<int>(j));
    return plan;
}

std::vector<int> new_of_old(const std::vector<int>& old_of_new, size_t old_count) {
    std::vector<int> out(old_count, -1);
    for (size_t i = 0; i < old_of_new.size(); ++i) {
        const int from = old_of_new[i];
        if (from >= 0 && static_cast<size_t>(from) < old_count)
            out[static_cast<size_t>(from)] = static_cast<int>(i);
    }
    return out;
}

bool ChangeHandover::hand_over(std::function<void()> change, std::chrono::milliseconds timeout,
                               const std::function<bool()>& gone, std::chrono::milliseconds slice) {
    const auto until = std::chrono::steady_clock::now() + timeout;
    common::MutexLock lock(mutex_);
    offered_ = std::move(change);
    taken_ = false;
    done_ = false;
    waiting_.store(true);
    while (!done_) {
        (void)lock.wait_for(done_cv_, slice);
        if (done_ || taken_) continue;
        // Not taken yet: the worker may have ended, or be stuck in a long pass.
        if ((gone && gone()) || std::chrono::steady_clock::now() >= until) {
            offered_ = nullptr;
            waiting_.store(false);
            return false;
        }
    }
    waiting_.store(false);
    return true;
}

bool ChangeHandover::run_offered() {
    std::function<void()> change;
    {
        const common::MutexLock lock(mutex_);
        if (!offered_) return false;
        change = std::move(offered_);
        offered_ = nullptr;
        taken_ = true;
    }
    // The supervisor waits on done_ and touches nothing of the channel set meanwhile.
    try {
        change();
    } catch (...) {
        const common::MutexLock lock(mutex_);
        done_ = true;
        done_cv_.notify_all();
        throw;
    }
    const common::MutexLock lock(mutex_);
    done_ = true;
    done_cv_.notify_all();
    return true;
}

}  // namespace zelvik::detect
