// What a channel row tells beyond its columns: why a channel is not running, when its
// data stopped, and how late its latest data are against NODATA. The list shows these
// as the row's tooltip and the "Last count time" cell's colour.
#pragma once

#include <QColor>
#include <QString>

#include "shell/engine_events.h"

namespace zelvik::shell::ui {

// How late a channel's latest data are, in steps the cell colour shows.
enum class Lateness : int {
    kUnknown = 0,  // no data yet, or the channel does not run
    kFresh,        // under half of NODATA (or no data watch)
    kLate,         // half of NODATA or more
    kBeyond,       // NODATA or more: the data watch calls this a stall
};

// `now` and the row's last data time in seconds since 1970; `no_data_seconds` is
// ALARM NODATA, 0 when the data watch is off.
Lateness lateness_of(const ChannelView& row, double now, int no_data_seconds);

// The "Last count time" cell's background for `l`; invalid for no colour.
QColor lateness_colour(Lateness l);

// A duration for the operator: "12 s", "5 min 3 s", "2 h 10 min", "3 d 4 h".
QString duration_text(double seconds);

// The row's own tooltip, on every cell: the reason of a skipped or waiting channel, or
// when a stalled channel's data stopped. Empty for a running channel with data.
QString row_tooltip(const ChannelView& row);

// The "Last count time" cell's tooltip: the row's tooltip and, once data have come,
// "Latest data 12 s ago (NODATA 600 s)".
QString data_time_tooltip(const ChannelView& row, double now, int no_data_seconds);

}  // namespace zelvik::shell::ui
