// The "NO DATA" mail of the data watchdog: one short text naming the channels whose
// stalled state changed, with their last data times. A channel is named at most once an
// hour, so a channel that flaps cannot flood the mailbox; a change held back by that
// limit is mailed when the hour is over, if the channel is still in the new state.
// Supervisor thread only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/data_watchdog.h"

namespace zelvik::detect {

class NoDataMail {
public:
    static constexpr double kPerChannelInterval = 3600.0;  // seconds between two mails

    // `names[i]` is "STA.CHA.LOC" of channel i; `no_data_s` is NODATA, for the text.
    NoDataMail(std::vector<std::string> names, int no_data_s);

    // Between passes: the channels in the order of a changed set (see DataWatchdog).
    void remap(const std::vector<int>& old_of_new, std::vector<std::string> names);

    // The body to mail for the watchdog states after a pass at `now`, or "" when nothing
    // is due. A channel named in the body counts as mailed from `now` on.
    std::string due(const std::vector<WatchState>& states, int64_t now);

private:
    struct Mailed {
        bool stalled = false;  // the state the last mail gave (none: not stalled)
        double at = -kPerChannelInterval;
    };

    std::vector<std::string> names_;
    const int no_data_;
    std::vector<Mailed> mailed_;
};

}  // namespace zelvik::detect
