// The window's pictures, drawn in code: the 16 x 16 state image of a channel row, the
// alarm indicator and the window icon, each in its normal and its alarm form.
#pragma once

#include <QIcon>
#include <QPixmap>

#include "shell/ui/row_state.h"

namespace zelvik::shell::ui {

inline constexpr int kStatePictureSize = 16;  // pixels, both ways

// The state image of a row: running, a green disc; alarm, a red triangle with a white
// "!"; stalled, an amber square with two bars; waiting, a blue hourglass; skipped, a
// grey barred ring. Built once per state and shared.
const QPixmap& row_state_picture(RowState state);

// The alarm indicator, `size` pixels square: a dark lamp, or a lit red one.
QPixmap indicator_picture(bool alarm, int size);

// The program icon in its two blink phases: a seismogram trace, red in the alarm phase.
QIcon window_icon(bool alarm);

}  // namespace zelvik::shell::ui
