// The channel list as a table model over the editor's channel table: row i shows entry
// i for the first channel_count entries. The model only shows; every edit goes through
// editor/channel_table and is announced here afterwards.
#pragma once

#include <QAbstractTableModel>

#include "editor/editor_settings.h"

namespace zelvik::editor::ui {

class ChannelTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // `settings` must outlive the model.
    explicit ChannelTableModel(EditorSettings& settings, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // The table changed in a way that moved rows or changed their number.
    void rebuild();
    // The values of these rows changed in place.
    void rows_changed(int first, int last);

    static constexpr int kColumns = 10;

private:
    // The column's title and the cell's value in full (reals exactly, not to 2 places).
    QString tooltip(const QModelIndex& index) const;

    EditorSettings& settings_;
};

}  // namespace zelvik::editor::ui
