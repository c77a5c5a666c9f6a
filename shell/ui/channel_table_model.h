// The channel list as a table model: one row per engine channel, in the order the user
// last sorted. Sorting only permutes which channel each displayed row shows, so every
// update from the engine reaches the row that shows its own channel, whatever the order.
#pragma once

#include <QAbstractTableModel>
#include <QString>

#include <array>
#include <vector>

#include "shell/engine_events.h"

namespace zelvik::shell::ui {

class ChannelTableModel : public QAbstractTableModel {
    Q_OBJECT

public:
    static constexpr int kColumns = 12;
    // Columns the header click sorts by.
    static constexpr int kStationColumn = 1;
    static constexpr int kDataTimeColumn = 4;
    static constexpr int kEventTimeColumn = 5;

    enum Role {
        StateRole = Qt::UserRole + 1,  // RowState as int
        ChannelIndexRole,              // the engine's channel index (n of THREADn)
    };

    explicit ChannelTableModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // GUI thread. The engine's rows, in engine order. The first call (or one with another
    // count) lists the channels in that order; later calls change only the cells and
    // states that differ. Ignored while a sort runs (the list-update pause).
    void set_rows(std::vector<ChannelView> rows);

    // GUI thread. The header click on `column`: Sta (then Chan), Last count time or Last
    // event time sort by their text, byte by byte, ascending on the first click of that
    // column and alternating after; every click renumbers column 0 from the top.
    void sort_by_header(int column);

    // The engine's channel index shown in displayed row `row`, -1 when there is none.
    int channel_at(int row) const;

    // The engine's channel `index` as last received; null when there is none.
    const ChannelView* channel(int index) const {
        return index >= 0 && index < static_cast<int>(channels_.size()) ? &channels_[index]
                                                                        : nullptr;
    }

    // ALARM NODATA in seconds (0: no data watch), against which the "Last count time"
    // cell colours how late each channel's data are.
    void set_no_data_seconds(int seconds) { no_data_seconds_ = seconds; }

    // True while sort_by_header runs: no engine update is applied then.
    bool update_paused() const { return update_paused_; }

    // The texts of displayed row `row` as the list shows them.
    QString cell_text(int row, int column) const;

private:
    QString channel_text(const ChannelView& channel, int column) const;
    bool less(int a, int b, int column, bool descending) const;

    std::vector<ChannelView> channels_;             // engine order
    std::vector<int> order_;                        // displayed row -> index into channels_
    std::array<bool, kColumns> descending_next_{};  // sort direction flags
    bool update_paused_ = false;
    std::vector<int> lateness_;  // engine order: Lateness as last told to the view
    int no_data_seconds_ = 0;
};

}  // namespace zelvik::shell::ui
