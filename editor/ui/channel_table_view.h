// The channel list's view: single full-row selection, grid lines, the selection kept
// visible without focus, and the two Ctrl gestures of the page reported as signals
// (Ctrl+left click swaps with the anchor row, Ctrl+right click moves the anchor row).
#pragma once

#include <QTableView>

namespace zelvik::editor::ui {

class ChannelTableView : public QTableView {
    Q_OBJECT
public:
    explicit ChannelTableView(QWidget* parent = nullptr);

    // Sets the column widths from the list's width so that every column is in view.
    void fit_columns();

signals:
    // `row` is the row under the mouse, -1 when the click hit no row.
    void left_clicked(int row, bool ctrl);
    void ctrl_right_clicked(int row);
    void delete_pressed();
    void edit_pressed();  // Enter with a row selected

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};

}  // namespace zelvik::editor::ui
