// The channel view's list of stored detections, newest first: onset (UTC), period and
// amplitude. Replaced whole when the list read from the store differs. A detection
// stored without an amplitude (the channel has no response) shows the amplitude in
// counts that the view measured, as the measurement line logs it, once its span has
// been read.
#pragma once

#include <QAbstractTableModel>
#include <vector>

#include "channel/channel_trace.h"
#include "db/wave_store.h"

namespace zelvik::shell {

class DetectionListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;

    // Newest first, as read. Resets the model only when the rows changed, so that a
    // refresh keeps the operator's selection.
    void set_events(std::vector<db::StoredEvent> events);
    // Measurements the view made of the detections in a span it read; kept for the
    // window's life, so a detection once shown keeps its counts.
    void add_measurements(const std::vector<detect::TraceMeasurement>& measured);
    const db::StoredEvent& event(int row) const { return events_[static_cast<size_t>(row)]; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    const detect::TraceMeasurement* measured(double onset) const;

    std::vector<db::StoredEvent> events_;
    std::vector<detect::TraceMeasurement> measured_;  // in the order they were made
};

}  // namespace zelvik::shell
