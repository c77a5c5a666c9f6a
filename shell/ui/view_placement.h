// Where a channel view opens: beside the main window on the same screen, never over the
// main window's alarm lamp, and never larger than the screen's free area. Pure geometry,
// in global pixels, so it is tested without a window system.
#pragma once

#include <QRect>
#include <QSize>

namespace zelvik::shell {

// The frame rectangle for a view that would like `preferred` and needs at least
// `minimum`, on a screen whose free area is `available`, beside `main_frame` whose
// `lamp` must stay visible.
// Tried in turn: the preferred size right of, left of, below and above the main window;
// then the largest rectangle of at least `minimum` in one of those four strips; then the
// largest beside the lamp alone (it may then cover part of the list, never the lamp);
// last, the free area's top left corner at the size that fits.
QRect view_placement(const QRect& available, const QRect& main_frame, const QRect& lamp,
                     QSize preferred, QSize minimum);

}  // namespace zelvik::shell
