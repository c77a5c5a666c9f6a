// A Ctrl+click would toggle the selection in a plain QTableView; here it selects the
// row hit like a plain click and leaves the swap to the page.
#include "editor/ui/channel_table_view.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <algorithm>

namespace zelvik::editor::ui {

ChannelTableView::ChannelTableView(QWidget* parent) : QTableView(parent) {
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setShowGrid(true);
    setWordWrap(false);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    verticalHeader()->hide();
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    horizontalHeader()->setSectionsClickable(true);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // Keep the selected row's highlight when the list has no focus.
    QPalette p = palette();
    p.setColor(QPalette::Inactive, QPalette::Highlight,
               p.color(QPalette::Active, QPalette::Highlight));
    p.setColor(QPalette::Inactive, QPalette::HighlightedText,
               p.color(QPalette::Active, QPalette::HighlightedText));
    setPalette(p);
}

void ChannelTableView::fit_columns() {
    // Every column in view at once: "#" a narrow one, the nine others share the rest.
    // A title or value cut short shows whole in its tooltip.
    const int w = viewport()->width();
    const int columns = model() ? model()->columnCount() : 10;
    if (columns < 2) return;
    const int number = std::max(w / 20, fontMetrics().horizontalAdvance(QStringLiteral("999")) + 8);
    const int each = std::max((w - number) / (columns - 1), 24);
    setColumnWidth(0, number);
    for (int c = 1; c < columns; ++c) setColumnWidth(c, each);
}

void ChannelTableView::resizeEvent(QResizeEvent* event) {
    QTableView::resizeEvent(event);
    fit_columns();
}

void ChannelTableView::mousePressEvent(QMouseEvent* event) {
    const QModelIndex hit = indexAt(event->position().toPoint());
    const int row = hit.isValid() ? hit.row() : -1;
    const bool ctrl = event->modifiers().testFlag(Qt::ControlModifier);
    if (event->button() == Qt::RightButton) {
        if (ctrl) emit ctrl_right_clicked(row);
        return;
    }
    if (event->button() != Qt::LeftButton) return QTableView::mousePressEvent(event);
    if (ctrl) {
        setFocus(Qt::MouseFocusReason);
        emit left_clicked(row, true);
        return;
    }
    QTableView::mousePressEvent(event);
    emit left_clicked(row, false);
}

}  // namespace zelvik::editor::ui

namespace zelvik::editor::ui {

void ChannelTableView::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Delete && event->modifiers() == Qt::NoModifier) {
        emit delete_pressed();
        return;
    }
    // Enter on a selected row edits it; without a selection it goes on to the dialog's
    // default button.
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && selectionModel() && selectionModel()->hasSelection()) {
        event->accept();
        emit edit_pressed();
        return;
    }
    QTableView::keyPressEvent(event);
}

}  // namespace zelvik::editor::ui
