// A Ctrl+click would toggle the selection in a plain QTableView; here it selects the
// row hit like a plain click and leaves the swap to the page.
#include "editor/ui/channel_table_view.h"

#include <QFontMetrics>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <algorithm>
#include <vector>

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
    horizontalHeader()->setMinimumSectionSize(8);  // fit_columns() decides the widths
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
    // Every column in view at once, each as wide as its title and values ask, all of
    // them scaled together to the list's width. A cell cut short shows whole in its
    // tooltip.
    if (!model()) return;
    const int columns = model()->columnCount();
    const int rows = std::min(model()->rowCount(), 200);
    const QFontMetrics header_metrics(horizontalHeader()->font());
    std::vector<int> want(static_cast<size_t>(columns));
    int total = 0;
    for (int c = 0; c < columns; ++c) {
        int w = 0;
        const QString title = model()->headerData(c, Qt::Horizontal).toString();
        for (const QString& line : title.split(QLatin1Char('\n')))
            w = std::max(w, header_metrics.horizontalAdvance(line));
        for (int r = 0; r < rows; ++r)
            w = std::max(w,
                         fontMetrics().horizontalAdvance(model()->index(r, c).data().toString()));
        want[static_cast<size_t>(c)] = w + 10;
        total += w + 10;
    }
    const int available = viewport()->width();
    if (total <= 0 || available <= 0) return;
    int used = 0;
    for (int c = 0; c < columns; ++c) {
        const int w =
            c + 1 == columns ? available - used : want[static_cast<size_t>(c)] * available / total;
        setColumnWidth(c, std::max(w, 8));
        used += w;
    }
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
