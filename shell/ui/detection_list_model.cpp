// Rows are the event list's own values. Without a stored amplitude (no response) or
// period, the view's own measurement of that detection stands in, marked "cnt"; with
// neither, "-".
#include "shell/ui/detection_list_model.h"

#include <algorithm>
#include <cmath>

#include "common/civil_time.h"

namespace zelvik::shell {

namespace {
// Stored onsets pass through the store's timestamp; the view computed its own.
constexpr double kSameOnset = 0.005;  // seconds
}  // namespace

void DetectionListModel::set_events(std::vector<db::StoredEvent> events) {
    const bool same = std::equal(events.begin(), events.end(), events_.begin(), events_.end(),
                                 [](const db::StoredEvent& a, const db::StoredEvent& b) {
                                     return a.onset == b.onset && a.amplitude == b.amplitude &&
                                            a.period == b.period;
                                 });
    if (same) return;
    beginResetModel();
    events_ = std::move(events);
    endResetModel();
}

void DetectionListModel::add_measurements(const std::vector<detect::TraceMeasurement>& measured) {
    bool added = false;
    for (const detect::TraceMeasurement& m : measured) {
        if (this->measured(m.onset) != nullptr) continue;
        measured_.push_back(m);
        added = true;
    }
    if (added && !events_.empty())
        emit dataChanged(index(0, 1), index(rowCount() - 1, 2), {Qt::DisplayRole});
}

const detect::TraceMeasurement* DetectionListModel::measured(double onset) const {
    for (const detect::TraceMeasurement& m : measured_)
        if (std::fabs(m.onset - onset) < kSameOnset) return &m;
    return nullptr;
}

int DetectionListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(events_.size());
}

int DetectionListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 3;
}

QVariant DetectionListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const db::StoredEvent& e = events_[static_cast<size_t>(index.row())];
    if (role == Qt::TextAlignmentRole)
        return index.column() == 0 ? QVariant() : QVariant(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole) return {};
    const detect::TraceMeasurement* m = measured(e.onset);
    switch (index.column()) {
        case 0: {
            const double whole = std::floor(e.onset);
            return QString("%1.%2")
                .arg(QString::fromStdString(common::utc_text(whole)))
                .arg(static_cast<int>((e.onset - whole) * 1000), 3, 10, QChar('0'));
        }
        case 1:
            if (e.period > 0) return QString::number(e.period, 'f', 3);
            return m != nullptr && m->period > 0 ? QString::number(m->period, 'f', 3)
                                                 : QString("-");
        default:
            if (e.amplitude > 0) return QString::number(e.amplitude, 'g', 4) + " \u00b5m";
            return m != nullptr ? QString::number(m->amplitude_counts, 'f', 3) + " cnt"
                                : QString("-");
    }
}

QVariant DetectionListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal) return {};
    if (role == Qt::ToolTipRole && section == 2)
        return QString(
            "\u00b5m as stored; without a response, counts as the view measured "
            "them (shown once the detection's span has been read)");
    if (role != Qt::DisplayRole) return {};
    static const char* const kHeaders[] = {"Onset (UTC)", "Period, s", "Amplitude"};
    return section >= 0 && section < 3 ? QString(kHeaders[section]) : QVariant();
}

}  // namespace zelvik::shell
