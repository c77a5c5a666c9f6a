// First tab, "Просмотр каналов": the channel list with add, edit, delete, the move
// buttons, Ctrl+click swap, Ctrl+right-click move and the alternating sort by station.
#pragma once

#include <QWidget>

#include "editor/connection_params.h"
#include "editor/editor_settings.h"

class QLabel;
class QPushButton;
class QToolButton;

namespace zelvik::editor::ui {

class ChannelTableModel;
class ChannelTableView;

class ChannelPage : public QWidget {
    Q_OBJECT
public:
    // Both objects must outlive the page; `params` is read when a dialog opens.
    ChannelPage(EditorSettings& settings, const ConnectionParams& params,
                QWidget* parent = nullptr);

    ChannelTableView* table() const { return view_; }
    int anchor_row() const { return anchor_row_; }
    int selected_row() const;
    void select_row(int row);

    void add_channel();
    void edit_channel();
    void delete_channel();
    void move_up();
    void move_down();
    void sort_clicked(int column);

signals:
    // A channel dialog opened (tests drive it from here).
    void dialog_opened(QDialog* dialog);

private:
    void left_clicked(int row, bool ctrl);
    void ctrl_right_clicked(int row);
    bool run_dialog(int edit_index, int insert_index);
    QLabel* make_threads_note();

    EditorSettings& settings_;
    const ConnectionParams& params_;
    ChannelTableModel* model_ = nullptr;
    ChannelTableView* view_ = nullptr;
    int anchor_row_ = -1;                // the row last clicked with the left button
    bool sort_descending_next_ = false;  // direction of the next sort by station
};

}  // namespace zelvik::editor::ui
