// The channel view's list of stored detections, newest first: onset (UTC), period and
// amplitude. Replaced whole when the list read from the store differs.
#pragma once

#include <QAbstractTableModel>
#include <vector>

#include "db/wave_store.h"

namespace zelvik::shell {

class DetectionListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;

    // Newest first, as read. Resets the model only when the rows changed, so that a
    // refresh keeps the operator's selection.
    void set_events(std::vector<db::StoredEvent> events);
    const db::StoredEvent& event(int row) const { return events_[static_cast<size_t>(row)]; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    std::vector<db::StoredEvent> events_;
};

}  // namespace zelvik::shell
