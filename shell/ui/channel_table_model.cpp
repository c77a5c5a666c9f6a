// Channel list model. Column 0 shows the displayed row's position: the channels are first
// listed in engine order (where position and channel index agree) and every header click
// renumbers from the top, so the position is what the column holds at any time.
#include "shell/ui/channel_table_model.h"

#include <QByteArray>

#include <algorithm>
#include <cstdio>

#include "common/clock.h"
#include "shell/ui/cell_text.h"
#include "shell/ui/row_health.h"
#include "shell/ui/row_state.h"

namespace zelvik::shell::ui {

namespace {

const char* const kHeaders[ChannelTableModel::kColumns] = {
    "#",   "Sta", "Chan", "LC",     "Last count time", "Last event time",
    "Flt", "Fr1", "Fr2",  "STA(s)", "LTA(s)",          "STA/LTA"};

QString fixed3(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.3f", value);
    return QString::fromLatin1(text);
}

// Byte-wise comparison of the texts as the list holds them (Latin-1 cells).
int compare_bytes(const QString& a, const QString& b) {
    const QByteArray x = a.toLatin1();
    const QByteArray y = b.toLatin1();
    const int common = static_cast<int>(std::min(x.size(), y.size()));
    for (int i = 0; i < common; ++i) {
        const auto cx = static_cast<unsigned char>(x[i]);
        const auto cy = static_cast<unsigned char>(y[i]);
        if (cx != cy) return cx < cy ? -1 : 1;
    }
    if (x.size() == y.size()) return 0;
    return x.size() < y.size() ? -1 : 1;
}

// Column 4 of a channel that has no data to show says why, rather than showing the
// time 0 as "01/01/1970 00:00:0.00", which reads like a channel that is working.
QString data_time_text(const ChannelView& c) {
    if (c.state == detect::ChannelState::kUnusable) return QStringLiteral("skipped");
    if (c.last_data_time > 0.0) return list_time_text(c.last_data_time);
    switch (c.state) {
        case detect::ChannelState::kRunning:
            return QStringLiteral("no data yet");
        case detect::ChannelState::kWaitingForData:
            return QStringLiteral("waiting for data");
        default:
            return QStringLiteral("waiting for the store");
    }
}

}  // namespace

ChannelTableModel::ChannelTableModel(QObject* parent) : QAbstractTableModel(parent) {}

int ChannelTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(order_.size());
}

int ChannelTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumns;
}

QVariant ChannelTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= kColumns) return {};
    if (role == Qt::DisplayRole) return QString::fromLatin1(kHeaders[section]);
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    return {};
}

QString ChannelTableModel::channel_text(const ChannelView& c, int column) const {
    const detect::ChannelSettings& s = c.settings;
    switch (column) {
        case 1:
            return QString::fromLatin1(s.station.c_str());
        case 2:
            return QString::fromLatin1(s.channel.c_str());
        case 3:
            return QString::fromLatin1(s.location.c_str());
        case 4:
            return data_time_text(c);
        case 5:
            // A skipped channel never had its chance to detect: "No event yet" would
            // read as a quiet, healthy channel.
            if (c.state == detect::ChannelState::kUnusable && c.last_onset == 0.0)
                return QStringLiteral("skipped: ") + QString::fromStdString(c.reason);
            return event_time_text(c.last_onset);
        case 6:
            return QString::number(s.order);
        case 7:
            return fixed3(s.fr1);
        case 8:
            return fixed3(s.fr2);
        case 9:
            return fixed3(s.sta_seconds);
        case 10:
            return fixed3(s.lta_seconds);
        case 11:
            return fixed3(s.threshold);
        default:
            return {};
    }
}

QString ChannelTableModel::cell_text(int row, int column) const {
    if (row < 0 || row >= rowCount()) return {};
    if (column == 0) return QString::number(row);
    return channel_text(channels_[static_cast<size_t>(order_[static_cast<size_t>(row)])], column);
}

int ChannelTableModel::channel_at(int row) const {
    if (row < 0 || row >= rowCount()) return -1;
    return channels_[static_cast<size_t>(order_[static_cast<size_t>(row)])].settings.index;
}

QVariant ChannelTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= kColumns) return {};
    const ChannelView& c = channels_[static_cast<size_t>(order_[static_cast<size_t>(index.row())])];
    switch (role) {
        case Qt::DisplayRole:
        case Qt::AccessibleTextRole:
            return cell_text(index.row(), index.column());
        case Qt::ToolTipRole: {
            const QString tip = index.column() == kDataTimeColumn
                                    ? data_time_tooltip(c, common::now_utc(), no_data_seconds_)
                                    : row_tooltip(c);
            return tip.isEmpty() ? QVariant() : QVariant(tip);
        }
        case Qt::BackgroundRole: {
            if (index.column() != kDataTimeColumn) return {};
            const QColor colour =
                lateness_colour(lateness_of(c, common::now_utc(), no_data_seconds_));
            return colour.isValid() ? QVariant(colour) : QVariant();
        }
        case StateRole:
            return static_cast<int>(row_state_of(c));
        case ChannelIndexRole:
            return c.settings.index;
        default:
            return {};
    }
}

void ChannelTableModel::set_rows(std::vector<ChannelView> rows) {
    if (update_paused_) return;
    if (rows.size() != channels_.size()) {
        beginResetModel();
        channels_ = std::move(rows);
        order_.resize(channels_.size());
        lateness_.clear();
        for (const ChannelView& c : channels_)
            lateness_.push_back(
                static_cast<int>(lateness_of(c, common::now_utc(), no_data_seconds_)));
        for (size_t i = 0; i < order_.size(); ++i) order_[i] = static_cast<int>(i);
        endResetModel();
        return;
    }
    std::vector<bool> changed(channels_.size(), false);
    const double now_seconds = common::now_utc();
    for (size_t i = 0; i < rows.size(); ++i) {
        const ChannelView& old = channels_[i];
        const ChannelView& now = rows[i];
        // Lateness grows while the data stand still: its colour is compared as well.
        const int lateness = static_cast<int>(lateness_of(now, now_seconds, no_data_seconds_));
        changed[i] = old.last_data_time != now.last_data_time || old.last_onset != now.last_onset ||
                     old.in_alarm != now.in_alarm || old.state != now.state ||
                     old.stalled != now.stalled || old.reason != now.reason ||
                     lateness_[i] != lateness;
        lateness_[i] = lateness;
        channels_[i] = std::move(rows[i]);
    }
    for (size_t row = 0; row < order_.size(); ++row) {
        if (!changed[static_cast<size_t>(order_[row])]) continue;
        const int r = static_cast<int>(row);
        emit dataChanged(index(r, 0), index(r, kColumns - 1),
                         {Qt::DisplayRole, Qt::AccessibleTextRole, Qt::ToolTipRole,
                          Qt::BackgroundRole, StateRole});
    }
}

bool ChannelTableModel::less(int a, int b, int column, bool descending) const {
    const ChannelView& x = channels_[static_cast<size_t>(a)];
    const ChannelView& y = channels_[static_cast<size_t>(b)];
    int c = compare_bytes(channel_text(x, column), channel_text(y, column));
    if (c == 0 && column == kStationColumn)
        c = compare_bytes(channel_text(x, 2), channel_text(y, 2));
    return descending ? c > 0 : c < 0;
}

void ChannelTableModel::sort_by_header(int column) {
    update_paused_ = true;
    const bool sorts =
        column == kStationColumn || column == kDataTimeColumn || column == kEventTimeColumn;
    if (sorts && !order_.empty()) {
        const bool descending = descending_next_[static_cast<size_t>(column)];
        emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
        const QModelIndexList before = persistentIndexList();
        std::vector<int> channel_of_persistent;
        channel_of_persistent.reserve(static_cast<size_t>(before.size()));
        for (const QModelIndex& i : before)
            channel_of_persistent.push_back(order_[static_cast<size_t>(i.row())]);
        std::stable_sort(order_.begin(), order_.end(),
                         [&](int a, int b) { return less(a, b, column, descending); });
        std::vector<int> row_of_channel(order_.size());
        for (size_t row = 0; row < order_.size(); ++row)
            row_of_channel[static_cast<size_t>(order_[row])] = static_cast<int>(row);
        QModelIndexList after;
        after.reserve(before.size());
        for (qsizetype k = 0; k < before.size(); ++k)
            after.push_back(index(
                row_of_channel[static_cast<size_t>(channel_of_persistent[static_cast<size_t>(k)])],
                before[k].column()));
        changePersistentIndexList(before, after);
        emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
        descending_next_[static_cast<size_t>(column)] = !descending;
    }
    // Column 0 shows positions: after a sort every displayed number may have changed.
    if (!order_.empty()) emit dataChanged(index(0, 0), index(rowCount() - 1, 0), {Qt::DisplayRole});
    update_paused_ = false;
}

}  // namespace zelvik::shell::ui
