// Draws a channel view's picture with QPainter onto any device (widget, image, PNG):
// raw trace, trigger-filtered trace and STA/LTA ratio in three panes over one UTC time
// axis, the threshold as a line, each stored detection as a marker at its onset and the
// refined onset of each detection beside it.
// Traces are drawn as one min/max line per pixel column, so the cost follows the width.
#pragma once

#include <QRect>
#include <QString>

class QPainter;
class QPoint;

namespace zelvik::db {
struct StoredEvent;
}

namespace zelvik::shell {

struct TracePlot;

// Where the parts of the picture lie inside the area it is drawn in.
struct TraceLayout {
    QRect title, raw, filtered, ratio, time_axis;
    static TraceLayout of(const QRect& area);
};

// Draws `plot` (may be null: empty panes) into `area`; a non-empty `message` is drawn
// in a box over the panes (why the store cannot serve the channel). GUI thread or any
// thread painting an image of its own.
void paint_trace(QPainter& p, const QRect& area, const TracePlot* plot, const QString& message);

// Index into plot.snapshot.span_events of the detection whose marker lies within a few
// pixels of `pos` inside the panes, or -1.
int detection_near(const TracePlot& plot, const QRect& area, const QPoint& pos);

// "Detection 2017-07-15 10:49:51.180 UTC", then period and amplitude, for the hover text.
QString detection_text(const db::StoredEvent& e);

}  // namespace zelvik::shell
