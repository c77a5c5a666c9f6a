// Row health texts. Lateness is measured from the end of the data the detector has
// processed, which is what the operator needs to know: how far behind the detection is.
#include "shell/ui/row_health.h"

#include <algorithm>
#include <cmath>

#include "shell/ui/cell_text.h"

namespace zelvik::shell::ui {

Lateness lateness_of(const ChannelView& row, double now, int no_data_seconds) {
    if (row.state != detect::ChannelState::kRunning || row.last_data_time <= 0.0)
        return Lateness::kUnknown;
    if (no_data_seconds <= 0) return Lateness::kFresh;
    const double late = now - row.last_data_time;
    if (late >= no_data_seconds) return Lateness::kBeyond;
    return late >= no_data_seconds / 2.0 ? Lateness::kLate : Lateness::kFresh;
}

QColor lateness_colour(Lateness l) {
    switch (l) {
        case Lateness::kLate:
            return {255, 222, 140};
        case Lateness::kBeyond:
            return {255, 176, 168};
        default:
            return {};
    }
}

QString duration_text(double seconds) {
    const long s = std::lround(std::max(0.0, seconds));
    const auto n = [](long v) { return QString::number(v); };
    if (s < 120) return n(s) + " s";
    if (s < 3600) return n(s / 60) + " min" + (s % 60 ? " " + n(s % 60) + " s" : QString());
    if (s < 86400)
        return n(s / 3600) + " h" + (s % 3600 / 60 ? " " + n(s % 3600 / 60) + " min" : QString());
    return n(s / 86400) + " d" + (s % 86400 / 3600 ? " " + n(s % 86400 / 3600) + " h" : QString());
}

QString row_tooltip(const ChannelView& row) {
    const QString reason = QString::fromStdString(row.reason);
    switch (row.state) {
        case detect::ChannelState::kUnusable:
            return "Skipped, detects nothing: " + reason;
        case detect::ChannelState::kWaitingForData:
            return "Waiting for its first data: " + reason;
        case detect::ChannelState::kRunning:
            break;
        default:
            return "Waiting for the store: " + reason;
    }
    if (!row.stalled) return {};
    if (row.last_data_time <= 0.0) return QStringLiteral("No data yet");
    return QStringLiteral("No new data since ") + list_time_text(row.last_data_time);
}

QString data_time_tooltip(const ChannelView& row, double now, int no_data_seconds) {
    QString tip = row_tooltip(row);
    if (row.state != detect::ChannelState::kRunning || row.last_data_time <= 0.0) return tip;
    if (!tip.isEmpty()) tip += '\n';
    tip += "Latest data " + duration_text(now - row.last_data_time) + " ago";
    if (no_data_seconds > 0) tip += " (NODATA " + duration_text(no_data_seconds) + ")";
    return tip;
}

}  // namespace zelvik::shell::ui
