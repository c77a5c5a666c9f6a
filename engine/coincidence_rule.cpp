// Coincidence groups over the kept detections, sorted by onset. A group is any span of
// `window` seconds holding detections of `stations` different stations; every detection
// in such a span raises the alarm, also one that was judged "below" before (a station
// whose data came late). Kept detections are few (the detections of the last hour or
// so), so the groups are found by a plain scan.
#include "engine/coincidence_rule.h"

#include "engine/channel_set_change.h"

#include <algorithm>
#include <set>

namespace zelvik::detect {

CoincidenceRule::CoincidenceRule(int stations, double window_s, size_t channels)
    : stations_(std::max(1, stations)), window_(std::max(0.0, window_s)), confirmed_(channels) {}

void CoincidenceRule::remap(const std::vector<int>& old_of_new) {
    const std::vector<int> to = new_of_old(old_of_new, confirmed_.size());
    const auto moved = [&to](NetworkDetection& d) {
        const bool known = d.channel >= 0 && static_cast<size_t>(d.channel) < to.size();
        d.channel = known ? to[static_cast<size_t>(d.channel)] : -1;
        return d.channel < 0;
    };
    {
        const common::MutexLock lock(queue_mutex_);
        std::erase_if(queued_, moved);
    }
    std::erase_if(kept_, [&moved](Kept& k) { return moved(k.d); });
    confirmed_ = remap_rows(confirmed_, old_of_new);
    if (!previous_.empty()) previous_ = remap_rows(previous_, old_of_new);
}

void CoincidenceRule::add(NetworkDetection d) {
    const common::MutexLock lock(queue_mutex_);
    queued_.push_back(std::move(d));
}

void CoincidenceRule::take_queued(int64_t now, std::vector<size_t>& fresh) {
    std::vector<NetworkDetection> taken;
    {
        const common::MutexLock lock(queue_mutex_);
        taken.swap(queued_);
    }
    for (NetworkDetection& d : taken) {
        const auto at =
            std::upper_bound(kept_.begin(), kept_.end(), d.onset,
                             [](double onset, const Kept& k) { return onset < k.d.onset; });
        for (size_t& f : fresh) {
            if (f >= static_cast<size_t>(at - kept_.begin())) ++f;
        }
        fresh.push_back(static_cast<size_t>(at - kept_.begin()));
        kept_.insert(at, Kept{std::move(d), Verdict::kWaiting, now});
    }
}

void CoincidenceRule::raise_group_of(size_t at, CoincidenceOutcome& out) {
    // Every span [x, x + window] that holds kept_[at] starts at some kept onset x in
    // [onset - window, onset]; the widest group among them is raised.
    const double onset = kept_[at].d.onset;
    size_t best_first = 0, best_last = 0;
    int best = 0;
    for (size_t first = at + 1; first-- > 0;) {
        if (kept_[first].d.onset < onset - window_) break;
        std::set<std::string> seen;
        size_t last = first;
        for (size_t j = first;
             j < kept_.size() && kept_[j].d.onset <= kept_[first].d.onset + window_; ++j) {
            seen.insert(kept_[j].d.station);
            last = j;
        }
        if (static_cast<int>(seen.size()) > best) {
            best = static_cast<int>(seen.size());
            best_first = first;
            best_last = last;
        }
    }
    if (best < stations_) return;
    for (size_t j = best_first; j <= best_last; ++j) {
        Kept& k = kept_[j];
        if (k.verdict == Verdict::kRaised) continue;
        k.verdict = Verdict::kRaised;
        const auto c = static_cast<size_t>(k.d.channel);
        if (c < confirmed_.size()) confirmed_[c] = std::max(confirmed_[c], k.d.onset);
        out.raised.push_back({k.d, best});
    }
}

bool CoincidenceRule::settled(const Kept& k, const std::vector<ChannelProgress>& progress) const {
    // Settled when no other station can still bring a detection into a span with this
    // one: each of its live channels has declared everything up to onset + window.
    for (const ChannelProgress& p : progress) {
        if (!p.live || p.station == k.d.station) continue;
        if (p.data_time < k.d.onset + window_ + p.lag) return false;
    }
    return true;
}

void CoincidenceRule::trim(CoincidenceOutcome& out) {
    // Judged detections stay while a late station could still group with them; the
    // newest onset bounds how far back that can reach.
    if (kept_.empty()) return;
    const double newest = kept_.back().d.onset;
    const double keep_from = newest - std::max(2.0 * window_, kMaxWaitSeconds);
    size_t drop = 0;
    while (drop < kept_.size() &&
           (kept_.size() - drop > kMaxKept ||
            (kept_[drop].d.onset < keep_from && kept_[drop].verdict != Verdict::kWaiting))) {
        if (kept_[drop].verdict == Verdict::kWaiting) out.below.push_back(kept_[drop].d);
        ++drop;
    }
    kept_.erase(kept_.begin(), kept_.begin() + static_cast<std::ptrdiff_t>(drop));
}

CoincidenceOutcome CoincidenceRule::pass(const std::vector<ChannelProgress>& progress, int64_t now,
                                         bool final) {
    CoincidenceOutcome out;
    std::vector<size_t> fresh;
    take_queued(now, fresh);
    std::sort(fresh.begin(), fresh.end());
    for (size_t at : fresh) raise_group_of(at, out);
    std::sort(out.raised.begin(), out.raised.end(),
              [](const auto& a, const auto& b) { return a.detection.onset < b.detection.onset; });
    for (Kept& k : kept_) {
        if (k.verdict != Verdict::kWaiting) continue;
        const bool waited_long = static_cast<double>(now - k.arrived) >= kMaxWaitSeconds;
        if (final || waited_long || (!previous_.empty() && settled(k, previous_))) {
            k.verdict = Verdict::kBelow;
            out.below.push_back(k.d);
        }
    }
    trim(out);
    previous_ = progress;
    return out;
}

}  // namespace zelvik::detect
