// The state picture a channel row shows. The delegate draws one picture per value, so a
// further row state is one more enumerator here and one more case in state_pictures.cpp.
#pragma once

#include "shell/engine_events.h"

namespace zelvik::shell::ui {

enum class RowState : int {
    kNormal = 0,   // running, no alarm
    kAlarm = 1,    // the channel is in alarm
    kStalled = 2,  // no new data for NODATA seconds: the channel is blind
    kWaiting = 3,  // not running yet: waits for the store or for its first data
    kSkipped = 4,  // refused (settings, sample rate, response): detects nothing
};
inline constexpr int kRowStates = 5;

// An alarm outranks everything: the detection it shows is real whatever came after. A
// channel that does not run says so before a stall does, since it never had data to
// stop; a stall is still told by the row's tooltip and the window's count.
inline RowState row_state_of(const ChannelView& row) {
    if (row.in_alarm) return RowState::kAlarm;
    switch (row.state) {
        case detect::ChannelState::kUnusable:
            return RowState::kSkipped;
        case detect::ChannelState::kRunning:
            return row.stalled ? RowState::kStalled : RowState::kNormal;
        default:
            return RowState::kWaiting;
    }
}

}  // namespace zelvik::shell::ui
