// Pictures painted with QPainter at the size they are shown, so they stay sharp on any
// screen and need no image files.
#include "shell/ui/state_pictures.h"

#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <array>

namespace zelvik::shell::ui {

namespace {

QPixmap transparent(int size) {
    QPixmap p(size, size);
    p.fill(Qt::transparent);
    return p;
}

QPixmap disc_picture(const QColor& fill, bool mark) {
    QPixmap p = transparent(kStatePictureSize);
    QPainter g(&p);
    g.setRenderHint(QPainter::Antialiasing);
    g.setPen(QPen(fill.darker(160), 1.0));
    g.setBrush(fill);
    g.drawEllipse(QRectF(1.5, 1.5, 13.0, 13.0));
    if (mark) {
        g.setPen(Qt::NoPen);
        g.setBrush(Qt::white);
        g.drawRect(QRectF(7.0, 4.0, 2.0, 5.5));
        g.drawRect(QRectF(7.0, 10.5, 2.0, 2.0));
    }
    return p;
}

// Amber with two dark bars, the sign of a paused feed: told apart from the other two
// by its shape as well as its colour.
QPixmap paused_disc_picture() {
    const QColor fill(240, 170, 20);
    QPixmap p = transparent(kStatePictureSize);
    QPainter g(&p);
    g.setRenderHint(QPainter::Antialiasing);
    g.setPen(QPen(fill.darker(160), 1.0));
    g.setBrush(fill);
    g.drawEllipse(QRectF(1.5, 1.5, 13.0, 13.0));
    g.setPen(Qt::NoPen);
    g.setBrush(QColor(70, 45, 0));
    g.drawRect(QRectF(5.0, 4.5, 2.0, 7.0));
    g.drawRect(QRectF(9.0, 4.5, 2.0, 7.0));
    return p;
}

QPixmap make_row_picture(RowState state) {
    switch (state) {
        case RowState::kAlarm:
            return disc_picture(QColor(220, 30, 30), true);
        case RowState::kStalled:
            return paused_disc_picture();
        case RowState::kNormal:
            break;
    }
    return disc_picture(QColor(60, 170, 75), false);
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
    static const std::array<QPixmap, 3> pictures = {make_row_picture(RowState::kNormal),
                                                    make_row_picture(RowState::kAlarm),
                                                    make_row_picture(RowState::kStalled)};
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
