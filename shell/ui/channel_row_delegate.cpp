// Channel row drawing. The view paints one cell at a time; the focus rectangle of the
// current row is drawn piecewise by its cells so that it runs from the end of the state
// picture to the row's right edge, as one rectangle would.
#include "shell/ui/channel_row_delegate.h"

#include <QAbstractItemView>
#include <QPainter>

#include "shell/ui/cell_text.h"
#include "shell/ui/channel_table_model.h"
#include "shell/ui/state_pictures.h"

namespace zelvik::shell::ui {

void ChannelRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                               const QModelIndex& index) const {
    const bool selected = option.state & QStyle::State_Selected;
    const QPalette::ColorGroup group =
        option.state & QStyle::State_Active ? QPalette::Active : QPalette::Inactive;
    // A cell may carry its own colour (how late the data are); selection still wins.
    const QVariant own = index.data(Qt::BackgroundRole);
    const QColor background =
        !selected && own.canConvert<QColor>()
            ? own.value<QColor>()
            : option.palette.color(group, selected ? QPalette::Highlight : QPalette::Base);
    const QColor foreground =
        option.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text);

    painter->save();
    QRect cell = option.rect;
    painter->fillRect(cell, background);
    if (index.column() == 0) {
        const auto state = static_cast<RowState>(index.data(ChannelTableModel::StateRole).toInt());
        const QPixmap& picture = row_state_picture(state);
        const int top = cell.top() + (cell.height() - kStatePictureSize) / 2;
        painter->drawPixmap(cell.left(), top, picture);
        cell.setLeft(cell.left() + kStatePictureSize);
    }
    const QString text = index.data(Qt::DisplayRole).toString();
    const QString shown = elide_cell_text(text, option.fontMetrics, cell.width());
    painter->setClipRect(cell);
    painter->setFont(option.font);
    painter->setPen(foreground);
    const QRect text_rect = cell.adjusted(2, 1, 0, 0);
    painter->drawText(text_rect, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, shown);
    paint_focus(painter, option, index, cell);
    painter->restore();
}

void ChannelRowDelegate::paint_focus(QPainter* painter, const QStyleOptionViewItem& option,
                                     const QModelIndex& index, const QRect& cell) const {
    const auto* view = qobject_cast<const QAbstractItemView*>(option.widget);
    if (view == nullptr || !view->hasFocus() || view->currentIndex().row() != index.row()) return;
    const int last = index.model()->columnCount() - 1;
    QPen pen(option.palette.color(QPalette::Text));
    pen.setStyle(Qt::DotLine);
    painter->setPen(pen);
    const QRect r = cell.adjusted(0, 0, -1, -1);
    painter->drawLine(r.topLeft(), r.topRight());
    painter->drawLine(r.bottomLeft(), r.bottomRight());
    if (index.column() == 0) painter->drawLine(r.topLeft(), r.bottomLeft());
    if (index.column() == last) painter->drawLine(r.topRight(), r.bottomRight());
}

QSize ChannelRowDelegate::sizeHint(const QStyleOptionViewItem& option,
                                   const QModelIndex& index) const {
    const QSize text = QStyledItemDelegate::sizeHint(option, index);
    return {text.width(), std::max(text.height(), kStatePictureSize + 2)};
}

}  // namespace zelvik::shell::ui
