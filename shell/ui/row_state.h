// The state picture a channel row shows. The delegate draws one picture per value, so a
// further row state is one more enumerator here and one more case in state_pictures.cpp.
#pragma once

#include "shell/engine_events.h"

namespace zelvik::shell::ui {

enum class RowState : int {
    kNormal = 0,  // state image 1 of the list: no alarm
    kAlarm = 1,   // state image 2: the channel is in alarm
};

inline RowState row_state_of(const ChannelView& row) {
    return row.in_alarm ? RowState::kAlarm : RowState::kNormal;
}

}  // namespace zelvik::shell::ui
