// Pictures painted with QPainter at the size they are shown, so they stay sharp on any
// screen and need no image files.
#include "shell/ui/state_pictures.h"

#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QRadialGradient>

#include <array>

namespace zelvik::shell::ui {

namespace {

QPixmap transparent(int size) {
    QPixmap p(size, size);
    p.fill(Qt::transparent);
    return p;
}

// Each state has its own outline (disc, triangle, square, hourglass, barred ring) as
// well as its own colour, so the rows stay apart for a colour-blind operator and on a
// grey-scale screen.
QPainter& start_picture(QPainter& g, const QColor& fill) {
    g.setRenderHint(QPainter::Antialiasing);
    g.setPen(QPen(fill.darker(170), 1.0));
    g.setBrush(fill);
    return g;
}

QPixmap running_picture() {
    QPixmap p = transparent(kStatePictureSize);
    QPainter g(&p);
    start_picture(g, QColor(60, 170, 75)).drawEllipse(QRectF(2.5, 2.5, 11.0, 11.0));
    return p;
}

QPixmap alarm_picture() {
    QPixmap p = transparent(kStatePictureSize);
    QPainter g(&p);
    start_picture(g, QColor(220, 30, 30))
        .drawPolygon(QPolygonF({QPointF(8.0, 0.8), QPointF(15.3, 14.5), QPointF(0.7, 14.5)}));
    g.setPen(Qt::NoPen);
    g.setBrush(Qt::white);
    g.drawRect(QRectF(7.0, 5.0, 2.0, 5.0));
    g.drawRect(QRectF(7.0, 11.0, 2.0, 2.0));
    return p;
}

// Amber square with the two bars of a paused feed.
QPixmap stalled_picture() {
    QPixmap p = transparent(kStatePictureSize);
    QPainter g(&p);
    start_picture(g, QColor(240, 170, 20)).drawRoundedRect(QRectF(1.5, 1.5, 13.0, 13.0), 2, 2);
    g.setPen(Qt::NoPen);
    g.setBrush(QColor(70, 45, 0));
    g.drawRect(QRectF(5.0, 4.5, 2.0, 7.0));
    g.drawRect(QRectF(9.0, 4.5, 2.0, 7.0));
    return p;
}

// Blue hourglass: it will start by itself.
QPixmap waiting_picture() {
    QPixmap p = transparent(kStatePictureSize);
    QPainter g(&p);
    start_picture(g, QColor(70, 130, 220))
        .drawPolygon(QPolygonF({QPointF(3.0, 1.5), QPointF(13.0, 1.5), QPointF(8.0, 8.0),
                                QPointF(13.0, 14.5), QPointF(3.0, 14.5), QPointF(8.0, 8.0)}));
    return p;
}

// Grey barred ring, the "not in use" sign: this channel detects nothing.
QPixmap skipped_picture() {
    QPixmap p = transparent(kStatePictureSize);
    QPainter g(&p);
    g.setRenderHint(QPainter::Antialiasing);
    g.setPen(QPen(QColor(95, 95, 95), 2.2));
    g.setBrush(QColor(225, 225, 225));
    g.drawEllipse(QRectF(2.0, 2.0, 12.0, 12.0));
    g.drawLine(QPointF(4.2, 11.8), QPointF(11.8, 4.2));
    return p;
}

QPixmap make_row_picture(RowState state) {
    switch (state) {
        case RowState::kAlarm:
            return alarm_picture();
        case RowState::kStalled:
            return stalled_picture();
        case RowState::kWaiting:
            return waiting_picture();
        case RowState::kSkipped:
            return skipped_picture();
        case RowState::kNormal:
            break;
    }
    return running_picture();
}

QPixmap trace_icon(bool alarm, int size) {
    QPixmap p = transparent(size);
    QPainter g(&p);
    g.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    g.setPen(Qt::NoPen);
    g.setBrush(alarm ? QColor(200, 25, 25) : QColor(40, 70, 120));
    g.drawRoundedRect(QRectF(0, 0, s, s), s * 0.18, s * 0.18);
    QPainterPath trace;
    const qreal mid = s / 2;
    const std::array<qreal, 11> y = {0, 0, 0.05, -0.1, 0.38, -0.42, 0.3, -0.18, 0.08, 0, 0};
    for (size_t i = 0; i < y.size(); ++i) {
        const QPointF at(s * (0.08 + 0.84 * static_cast<qreal>(i) / (y.size() - 1)),
                         mid - y[i] * s);
        if (i == 0)
            trace.moveTo(at);
        else
            trace.lineTo(at);
    }
    g.setBrush(Qt::NoBrush);
    g.setPen(
        QPen(Qt::white, std::max<qreal>(1.0, s / 14), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    g.drawPath(trace);
    return p;
}

}  // namespace

const QPixmap& row_state_picture(RowState state) {
    static const std::array<QPixmap, kRowStates> pictures = [] {
        std::array<QPixmap, kRowStates> all;
        for (int i = 0; i < kRowStates; ++i) all[i] = make_row_picture(static_cast<RowState>(i));
        return all;
    }();
    const auto i = static_cast<size_t>(state);
    return i < pictures.size() ? pictures[i] : pictures[0];
}

QPixmap indicator_picture(bool alarm, int size) {
    QPixmap p = transparent(size);
    QPainter g(&p);
    g.setRenderHint(QPainter::Antialiasing);
    const QRectF lamp(1.5, 1.5, size - 3.0, size - 3.0);
    QRadialGradient glow(lamp.center() - QPointF(size * 0.12, size * 0.12), size * 0.6);
    if (alarm) {
        glow.setColorAt(0.0, QColor(255, 190, 170));
        glow.setColorAt(0.45, QColor(250, 40, 30));
        glow.setColorAt(1.0, QColor(150, 0, 0));
    } else {
        glow.setColorAt(0.0, QColor(150, 150, 150));
        glow.setColorAt(1.0, QColor(70, 70, 70));
    }
    g.setPen(QPen(QColor(40, 40, 40), 1.0));
    g.setBrush(glow);
    g.drawEllipse(lamp);
    return p;
}

QIcon window_icon(bool alarm) {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64}) icon.addPixmap(trace_icon(alarm, size));
    return icon;
}

}  // namespace zelvik::shell::ui
