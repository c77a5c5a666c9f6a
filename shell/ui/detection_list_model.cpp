// Rows are the event list's own values; a period or amplitude the measurement could not
// give (stored as 0) reads "-".
#include "shell/ui/detection_list_model.h"

#include <algorithm>
#include <cmath>

#include "common/civil_time.h"

namespace zelvik::shell {

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
    switch (index.column()) {
        case 0: {
            const double whole = std::floor(e.onset);
            return QString("%1.%2")
                .arg(QString::fromStdString(common::utc_text(whole)))
                .arg(static_cast<int>((e.onset - whole) * 1000), 3, 10, QChar('0'));
        }
        case 1:
            return e.period > 0 ? QString::number(e.period, 'f', 3) : QString("-");
        default:
            return e.amplitude > 0 ? QString::number(e.amplitude, 'g', 4) : QString("-");
    }
}

QVariant DetectionListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    static const char* const kHeaders[] = {"Onset (UTC)", "Period, s", "Amplitude, \u00b5m"};
    return section >= 0 && section < 3 ? QString(kHeaders[section]) : QVariant();
}

}  // namespace zelvik::shell
