// The state picture a channel row shows. The delegate draws one picture per value, so a
// further row state is one more enumerator here and one more case in state_pictures.cpp.
#pragma once

#include "shell/engine_events.h"

namespace zelvik::shell::ui {

enum class RowState : int {
    kNormal = 0,   // state image 1 of the list: no alarm
    kAlarm = 1,    // state image 2: the channel is in alarm
    kStalled = 2,  // no new data for NODATA seconds: the channel is blind
};

// An alarm outranks a stall: the detection it shows was made before the data stopped,
// and the stall is still told by the row's tooltip and the window's stalled count.
inline RowState row_state_of(const ChannelView& row) {
    if (row.in_alarm) return RowState::kAlarm;
    return row.stalled ? RowState::kStalled : RowState::kNormal;
}

}  // namespace zelvik::shell::ui
