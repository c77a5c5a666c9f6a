// Draws the cells of the channel list as the rows were always drawn: highlight or window
// colours (or a cell's own background, which tells how late its data are), the row's
// state picture at the left of column 0, each text 2 px from the cell's left and 1 px
// below its top, shortened with "..." (cell_text.h).
#pragma once

#include <QStyledItemDelegate>

namespace zelvik::shell::ui {

class ChannelRowDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    void paint_focus(QPainter* painter, const QStyleOptionViewItem& option,
                     const QModelIndex& index, const QRect& cell) const;
};

}  // namespace zelvik::shell::ui
