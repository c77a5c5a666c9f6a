// The picture: a title line, three panes sharing the time axis, counts on the left,
// micrometres on the right of the filtered pane when the channel has a response. Time
// runs left to right over [span_start, span_end); columns without samples stay empty
// and are shaded, so a gap is never drawn as signal; the detection rule's warm-up after
// the start of data or a long gap is hatched.
#include "shell/ui/trace_painter.h"

#include <QLineF>
#include <QPainter>
#include <QPoint>
#include <QPolygonF>
#include <QVector>
#include <algorithm>
#include <cmath>

#include "common/civil_time.h"
#include "shell/ui/trace_plot.h"

namespace zelvik::shell {
namespace {

constexpr int kLeft = 78, kRight = 78, kTitle = 24, kAxis = 36, kGap = 8;
const QColor kRawColour(40, 40, 40), kFilteredColour(20, 80, 170), kRatioColour(0, 120, 60);
const QColor kThresholdColour(200, 0, 0), kMarkerColour(230, 100, 0), kNoData(236, 236, 236);
const QColor kPickColour(150, 0, 150), kWarmUpColour(200, 140, 0);

struct Scale {
    double lo, hi;  // values at the bottom and top of the pane
    double y(const QRect& pane, double v) const {
        return pane.bottom() + 1 - (v - lo) / (hi - lo) * pane.height();
    }
};

double x_of(const QRect& pane, const detect::ChannelTrace& t, double time) {
    return pane.left() + (time - t.span_start) / (t.span_end - t.span_start) * pane.width();
}

// 1, 2 or 5 times a power of ten, giving about `count` steps over `range`.
double nice_step(double range, int count) {
    const double raw = range / std::max(1, count);
    const double mag = std::pow(10.0, std::floor(std::log10(raw)));
    const double f = raw / mag;
    return (f < 1.5 ? 1 : f < 3 ? 2 : f < 7 ? 5 : 10) * mag;
}

void draw_columns(QPainter& p, const QRect& pane, const TracePlot& plot,
                  const std::vector<detect::MinMaxTree>& trees, const Scale& s,
                  const QColor& colour) {
    const detect::ChannelTrace& t = plot.snapshot.trace;
    std::vector<detect::ColumnRange> columns(static_cast<size_t>(std::max(1, pane.width())));
    for (size_t i = 0; i < trees.size(); ++i)
        detect::add_columns(trees[i], t.stretches[i].start, t.sample_rate, t.span_start, t.span_end,
                            columns);
    QVector<QLineF> lines;
    lines.reserve(static_cast<qsizetype>(columns.size()));
    for (size_t c = 0; c < columns.size(); ++c) {
        if (columns[c].empty()) continue;
        const double x = pane.left() + static_cast<double>(c) + 0.5;
        const double top =
            std::clamp(s.y(pane, columns[c].max), double(pane.top()), double(pane.bottom() + 1));
        const double bottom =
            std::clamp(s.y(pane, columns[c].min), double(pane.top()), double(pane.bottom() + 1));
        lines.append(QLineF(x, top, x, std::max(bottom, top + 1.0)));
    }
    p.setPen(QPen(colour, 1));
    p.drawLines(lines);
}

// Shades the parts of the pane where the store delivered no samples.
void shade_gaps(QPainter& p, const QRect& pane, const detect::ChannelTrace& t) {
    double covered = t.span_start;
    auto shade = [&](double from, double to) {
        const double x0 = x_of(pane, t, from), x1 = x_of(pane, t, to);
        if (x1 - x0 >= 1) p.fillRect(QRectF(x0, pane.top(), x1 - x0, pane.height()), kNoData);
    };
    for (const detect::TraceStretch& s : t.stretches) {
        shade(covered, s.start);
        covered = s.start + static_cast<double>(s.raw.size()) / t.sample_rate;
    }
    shade(covered, t.span_end);
}

// Hatches the stretches where the detection rule was still warming up, on the filtered
// and ratio panes: a quiet ratio there means "could not detect", not "nothing came".
void mark_warmups(QPainter& p, const TraceLayout& l, const detect::ChannelTrace& t) {
    for (const detect::WarmUp& w : t.warmups) {
        const double from = std::max(w.start, t.span_start), to = std::min(w.end, t.span_end);
        if (to <= from) continue;
        const double x0 = x_of(l.ratio, t, from), x1 = x_of(l.ratio, t, to);
        for (const QRect* pane : {&l.filtered, &l.ratio})
            p.fillRect(QRectF(x0, pane->top(), x1 - x0, pane->height()),
                       QBrush(kWarmUpColour, Qt::BDiagPattern));
        const QString label = QStringLiteral("warm-up");
        const double width = p.fontMetrics().horizontalAdvance(label) + 6;
        if (x1 - x0 < width) continue;
        const double h = p.fontMetrics().height();
        const QRectF box(x0 + 2, l.ratio.bottom() - h - 2, width, h);
        p.fillRect(box, Qt::white);
        p.setPen(kWarmUpColour.darker(150));
        p.drawText(box, Qt::AlignCenter, label);
    }
}

void value_axis(QPainter& p, const QRect& pane, const Scale& s, double factor, bool right) {
    // `factor` turns the pane's values into the axis' unit (1 for counts).
    const double lo = s.lo * factor, hi = s.hi * factor;
    const double step = nice_step(hi - lo, std::max(2, pane.height() / 28));
    p.setPen(QColor(90, 90, 90));
    for (double v = std::ceil(lo / step) * step; v <= hi + step * 1e-6; v += step) {
        const double y = s.y(pane, v / factor);
        const double x = right ? pane.right() + 1 : pane.left();
        p.drawLine(QPointF(x, y), QPointF(right ? x + 4 : x - 4, y));
        const QString text = QString::number(std::fabs(v) < step * 1e-6 ? 0.0 : v, 'g', 4);
        const QRectF box(right ? x + 6 : x - kLeft + 2, y - 8, kLeft - 10, 16);
        p.drawText(box, (right ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignVCenter, text);
    }
}

void time_axis(QPainter& p, const QRect& axis, const QRect& pane, const detect::ChannelTrace& t) {
    static const double kSteps[] = {1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 900, 1800, 3600};
    const double span = t.span_end - t.span_start;
    double step = kSteps[std::size(kSteps) - 1];
    for (double s : kSteps) {
        if (s / span * pane.width() >= 90) {
            step = s;
            break;
        }
    }
    p.setPen(QColor(90, 90, 90));
    for (double v = std::ceil(t.span_start / step) * step; v < t.span_end; v += step) {
        const double x = x_of(pane, t, v);
        p.drawLine(QPointF(x, axis.top()), QPointF(x, axis.top() + 4));
        const auto whole = static_cast<int64_t>(std::llround(v));
        p.drawText(QRectF(x - 45, axis.top() + 4, 90, 14), Qt::AlignCenter,
                   QString::fromStdString(common::format_utc(whole, "%H:%M:%S")));
    }
    const auto start = static_cast<int64_t>(std::floor(t.span_start));
    p.drawText(QRectF(axis.left(), axis.top() + 19, axis.width(), 14), Qt::AlignCenter,
               QString::fromStdString(common::format_utc(start, "%Y-%m-%d")) + " (UTC)");
}

void pane_label(QPainter& p, const QRect& pane, const QString& text) {
    p.setPen(QColor(60, 60, 60));
    p.drawText(pane.adjusted(6, 3, -6, -3), Qt::AlignLeft | Qt::AlignTop, text);
}

Scale raw_scale(const TracePlot& plot) {
    double lo = plot.raw_min, hi = plot.raw_max;
    if (!(hi > lo)) lo -= 1, hi += 1;
    const double pad = (hi - lo) * 0.05;
    return {lo - pad, hi + pad};
}

Scale filtered_scale(const TracePlot& plot) {
    const double peak = plot.filtered_peak > 0 ? plot.filtered_peak * 1.05 : 1.0;
    return {-peak, peak};
}

Scale ratio_scale(const TracePlot& plot) {
    // Room above the threshold, but a ratio of 1e8 (a flat LTA window) must not squash
    // the rest of the pane: the top is clipped at twenty thresholds.
    const double thr = std::max(plot.settings.threshold, 1e-3);
    return {0.0, std::clamp(double(plot.ratio_max) * 1.1, 2 * thr, 20 * thr)};
}

QString title_text(const TracePlot& plot) {
    const detect::ChannelSettings& s = plot.settings;
    const detect::ChannelTrace& t = plot.snapshot.trace;
    return QString(
               "%1.%2.%3   %4 to %5 UTC   %6 sps   trigger %7-%8 Hz, order %9   STA %10 s, "
               "LTA %11 s")
        .arg(QString::fromStdString(s.station), QString::fromStdString(s.channel),
             QString::fromStdString(s.location),
             QString::fromStdString(common::utc_text(t.span_start)),
             QString::fromStdString(common::format_utc(std::llround(t.span_end), "%H:%M:%S")))
        .arg(t.sample_rate, 0, 'g', 6)
        .arg(double(s.fr1), 0, 'f', 3)
        .arg(double(s.fr2), 0, 'f', 3)
        .arg(s.order)
        .arg(s.sta_seconds, 0, 'g', 6)
        .arg(s.lta_seconds, 0, 'g', 6);
}

void draw_markers(QPainter& p, const TraceLayout& l, const TracePlot& plot) {
    const detect::ChannelTrace& t = plot.snapshot.trace;
    p.setPen(QPen(kMarkerColour, 1.5));
    for (const db::StoredEvent& e : plot.snapshot.span_events) {
        const double x = x_of(l.raw, t, e.onset);
        for (const QRect* pane : {&l.raw, &l.filtered, &l.ratio})
            p.drawLine(QPointF(x, pane->top()), QPointF(x, pane->bottom()));
        const QPolygonF flag({QPointF(x - 5, l.raw.top()), QPointF(x + 5, l.raw.top()),
                              QPointF(x, l.raw.top() + 8)});
        p.setBrush(kMarkerColour);
        p.drawPolygon(flag);
    }
    // The refined onset of each detection the view computed, beside the trigger's onset:
    // a dashed line through the raw and filtered panes, labelled "P" and its grade.
    p.setBrush(Qt::NoBrush);
    for (const detect::OnsetPick& pick : t.picks) {
        if (pick.fallback != detect::PickFallback::kNone) continue;  // it is the onset itself
        const double x = x_of(l.raw, t, pick.time);
        p.setPen(QPen(kPickColour, 1.5, Qt::DashLine));
        for (const QRect* pane : {&l.raw, &l.filtered})
            p.drawLine(QPointF(x, pane->top()), QPointF(x, pane->bottom()));
        const QString label = QString("P%1").arg(pick.grade);
        const QRectF box(x + 3, l.raw.top() + 10, p.fontMetrics().horizontalAdvance(label) + 4,
                         p.fontMetrics().height());
        p.fillRect(box, Qt::white);  // over the trace, which is busiest right there
        p.setPen(kPickColour);
        p.drawText(box, Qt::AlignCenter, label);
    }
}

void draw_panes(QPainter& p, const TraceLayout& l, const TracePlot& plot) {
    const detect::ChannelTrace& t = plot.snapshot.trace;
    const detect::ChannelSettings& s = plot.settings;
    const Scale raw = raw_scale(plot), filtered = filtered_scale(plot), ratio = ratio_scale(plot);
    for (const QRect* pane : {&l.raw, &l.filtered, &l.ratio}) shade_gaps(p, *pane, t);
    mark_warmups(p, l, t);
    p.save();
    for (auto [pane, trees, scale, colour] :
         {std::tuple{&l.raw, &plot.raw, &raw, kRawColour},
          std::tuple{&l.filtered, &plot.filtered, &filtered, kFilteredColour},
          std::tuple{&l.ratio, &plot.ratio, &ratio, kRatioColour}}) {
        p.setClipRect(*pane);
        draw_columns(p, *pane, plot, *trees, *scale, colour);
    }
    p.setClipRect(l.ratio);
    p.setPen(QPen(kThresholdColour, 1, Qt::DashLine));
    const double y = ratio.y(l.ratio, s.threshold);
    p.drawLine(QPointF(l.ratio.left(), y), QPointF(l.ratio.right(), y));
    p.restore();
    value_axis(p, l.raw, raw, 1, false);
    value_axis(p, l.filtered, filtered, 1, false);
    value_axis(p, l.ratio, ratio, 1, false);
    const double um = plot.snapshot.um_per_count;
    if (um > 0) value_axis(p, l.filtered, filtered, um, true);
    pane_label(p, l.raw, "Raw, counts");
    pane_label(p, l.filtered,
               QString("Trigger filter %1-%2 Hz, counts").arg(s.fr1).arg(s.fr2) +
                   (um > 0 ? QString("  (right: \u00b5m at %1 Hz)")
                                 .arg(double(plot.snapshot.response_hz), 0, 'f', 2)
                           : QString()));
    pane_label(p, l.ratio, QString("STA/LTA ratio, threshold %1 (dashed)").arg(s.threshold));
    draw_markers(p, l, plot);
    time_axis(p, l.time_axis, l.raw, t);
}

void draw_message(QPainter& p, const TraceLayout& l, const QString& message) {
    const QRect over = l.raw.united(l.ratio).adjusted(40, 40, -40, -40);
    const QRect box = p.fontMetrics()
                          .boundingRect(over, Qt::AlignCenter | Qt::TextWordWrap, message)
                          .adjusted(-16, -12, 16, 12);
    p.setPen(QPen(kThresholdColour, 1.5));
    p.setBrush(QColor(255, 245, 235));
    p.drawRect(box);
    p.setPen(QColor(120, 0, 0));
    p.drawText(box, Qt::AlignCenter | Qt::TextWordWrap, message);
    p.setBrush(Qt::NoBrush);
}

}  // namespace

TraceLayout TraceLayout::of(const QRect& area) {
    TraceLayout l;
    const int left = area.left() + kLeft;
    const int width = std::max(10, area.width() - kLeft - kRight);
    const int top = area.top() + kTitle;
    const int height = std::max(60, area.height() - kTitle - kAxis - 2 * kGap);
    const int raw = height * 34 / 100, filtered = height * 33 / 100;
    l.title = QRect(area.left() + 8, area.top(), area.width() - 16, kTitle);
    l.raw = QRect(left, top, width, raw);
    l.filtered = QRect(left, top + raw + kGap, width, filtered);
    l.ratio = QRect(left, l.filtered.bottom() + 1 + kGap, width, height - raw - filtered);
    l.time_axis = QRect(left, l.ratio.bottom() + 1, width, kAxis);
    return l;
}

void paint_trace(QPainter& p, const QRect& area, const TracePlot* plot, const QString& message) {
    const TraceLayout l = TraceLayout::of(area);
    p.fillRect(area, Qt::white);
    QFont font = p.font();
    font.setPointSizeF(8.5);
    p.setFont(font);
    if (plot != nullptr && plot->snapshot.trace.span_end > plot->snapshot.trace.span_start) {
        p.setPen(Qt::black);
        p.drawText(l.title, Qt::AlignLeft | Qt::AlignVCenter, title_text(*plot));
        draw_panes(p, l, *plot);
    }
    p.setPen(QColor(150, 150, 150));
    for (const QRect* pane : {&l.raw, &l.filtered, &l.ratio})
        p.drawRect(pane->adjusted(0, 0, -1, -1));
    if (!message.isEmpty()) draw_message(p, l, message);
}

int detection_near(const TracePlot& plot, const QRect& area, const QPoint& pos) {
    const TraceLayout l = TraceLayout::of(area);
    if (pos.y() < l.raw.top() || pos.y() > l.ratio.bottom()) return -1;
    const auto& events = plot.snapshot.span_events;
    for (size_t i = 0; i < events.size(); ++i) {
        if (std::fabs(x_of(l.raw, plot.snapshot.trace, events[i].onset) - pos.x()) <= 4)
            return static_cast<int>(i);
    }
    return -1;
}

QString detection_text(const db::StoredEvent& e) {
    const double whole = std::floor(e.onset);
    QString text = QString("Detection %1.%2 UTC")
                       .arg(QString::fromStdString(common::utc_text(whole)))
                       .arg(static_cast<int>((e.onset - whole) * 1000), 3, 10, QChar('0'));
    text += e.period > 0 ? QString("\nperiod %1 s").arg(e.period, 0, 'f', 3)
                         : QString("\nperiod not measured");
    text += e.amplitude > 0 ? QString("\namplitude %1 \u00b5m").arg(e.amplitude, 0, 'g', 4)
                            : QString("\namplitude not converted (no response)");
    return text;
}

}  // namespace zelvik::shell
