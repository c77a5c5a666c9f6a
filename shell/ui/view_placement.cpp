// View placement. Each candidate strip is cut from the free area by one side of the
// rectangle to keep clear; the view is placed against that side and slid along it to
// start level with the main window, so it reads as the main window's neighbour.
#include "shell/ui/view_placement.h"

#include <algorithm>
#include <array>

namespace zelvik::shell {

namespace {

constexpr int kGap = 4;  // pixels between the view and what it must not cover

// The four strips of `area` beside `keep`: right, left, below, above.
std::array<QRect, 4> strips(const QRect& area, const QRect& keep) {
    return {QRect(QPoint(keep.right() + 1 + kGap, area.top()), area.bottomRight()),
            QRect(area.topLeft(), QPoint(keep.left() - 1 - kGap, area.bottom())),
            QRect(QPoint(area.left(), keep.bottom() + 1 + kGap), area.bottomRight()),
            QRect(area.topLeft(), QPoint(area.right(), keep.top() - 1 - kGap))};
}

// `size` inside `strip`, at the strip's edge that faces the kept rectangle (side 0..3 as
// strips() gives them), starting level with `align` along that edge.
QRect place_in(const QRect& strip, int side, QSize size, const QRect& align) {
    QRect r(QPoint(0, 0), size);
    const bool beside = side < 2;  // right or left: slide vertically
    if (beside) {
        r.moveLeft(side == 0 ? strip.left() : strip.right() - size.width() + 1);
        r.moveTop(std::clamp(align.top(), strip.top(), strip.bottom() - size.height() + 1));
    } else {
        r.moveTop(side == 2 ? strip.top() : strip.bottom() - size.height() + 1);
        r.moveLeft(std::clamp(align.left(), strip.left(), strip.right() - size.width() + 1));
    }
    return r;
}

bool holds(const QRect& strip, QSize size) {
    return strip.width() >= size.width() && strip.height() >= size.height();
}

// The largest part of `preferred` that one of the strips beside `keep` holds, when it
// is at least `minimum`; null when none does.
QRect largest_beside(const QRect& area, const QRect& keep, const QRect& align, QSize preferred,
                     QSize minimum) {
    QRect best;
    long best_area = 0;
    const std::array<QRect, 4> s = strips(area, keep);
    for (int side = 0; side < 4; ++side) {
        const QSize fit = preferred.boundedTo(s[side].size());
        const long a = static_cast<long>(fit.width()) * fit.height();
        if (fit.width() < minimum.width() || fit.height() < minimum.height() || a <= best_area)
            continue;
        best = place_in(s[side], side, fit, align);
        best_area = a;
    }
    return best;
}

}  // namespace

QRect view_placement(const QRect& available, const QRect& main_frame, const QRect& lamp,
                     QSize preferred, QSize minimum) {
    preferred = preferred.boundedTo(available.size());
    minimum = minimum.boundedTo(preferred);
    const std::array<QRect, 4> s = strips(available, main_frame);
    for (int side = 0; side < 4; ++side)
        if (holds(s[side], preferred)) return place_in(s[side], side, preferred, main_frame);
    QRect r = largest_beside(available, main_frame, main_frame, preferred, minimum);
    if (r.isNull()) r = largest_beside(available, lamp, main_frame, preferred, minimum);
    if (r.isNull()) r = QRect(available.topLeft(), preferred);
    return r;
}

}  // namespace zelvik::shell
