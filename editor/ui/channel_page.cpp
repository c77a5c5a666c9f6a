// Every action edits the channel table through editor/channel_table and then tells the
// model, so the list always shows the table and a reorder never touches a value.
// Edit, delete and the mouse gestures need a row that exists; without one they do nothing.
#include "editor/ui/channel_page.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include "editor/channel_table.h"
#include "editor/ui/channel_dialog.h"
#include "editor/ui/channel_table_model.h"
#include "editor/ui/channel_table_view.h"
#include "editor/ui/message_box.h"

namespace zelvik::editor::ui {

ChannelPage::ChannelPage(EditorSettings& settings, const ConnectionParams& params, QWidget* parent)
    : QWidget(parent), settings_(settings), params_(params) {
    model_ = new ChannelTableModel(settings_, this);
    view_ = new ChannelTableView(this);
    view_->setModel(model_);
    // Column widths follow the values shown.
    connect(model_, &QAbstractItemModel::modelReset, view_, &ChannelTableView::fit_columns);
    connect(model_, &QAbstractItemModel::dataChanged, view_, &ChannelTableView::fit_columns);
    view_->setAccessibleName(QStringLiteral("Каналы"));

    auto* up = new QToolButton(this);
    up->setArrowType(Qt::UpArrow);
    up->setToolTip(QStringLiteral("Вверх"));
    up->setAccessibleName(QStringLiteral("Вверх"));
    auto* down = new QToolButton(this);
    down->setArrowType(Qt::DownArrow);
    down->setToolTip(QStringLiteral("Вниз"));
    down->setAccessibleName(QStringLiteral("Вниз"));
    for (QToolButton* b : {up, down}) {
        b->setFocusPolicy(Qt::StrongFocus);
        b->setMinimumSize(32, 28);
    }
    auto* add = new QPushButton(QStringLiteral("Добавить"), this);
    auto* remove = new QPushButton(QStringLiteral("Удалить"), this);
    auto* edit = new QPushButton(QStringLiteral("Изменить"), this);
    for (QPushButton* b : {add, remove, edit}) b->setAutoDefault(false);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(up);
    buttons->addWidget(down);
    buttons->addStretch();
    buttons->addWidget(add);
    buttons->addWidget(remove);
    buttons->addWidget(edit);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(view_);
    layout->addWidget(make_threads_note());
    layout->addLayout(buttons);

    connect(up, &QToolButton::clicked, this, &ChannelPage::move_up);
    connect(down, &QToolButton::clicked, this, &ChannelPage::move_down);
    connect(add, &QPushButton::clicked, this, &ChannelPage::add_channel);
    connect(remove, &QPushButton::clicked, this, &ChannelPage::delete_channel);
    connect(edit, &QPushButton::clicked, this, &ChannelPage::edit_channel);
    connect(view_, &QAbstractItemView::doubleClicked, this, [this] { edit_channel(); });
    connect(view_, &ChannelTableView::left_clicked, this, &ChannelPage::left_clicked);
    connect(view_, &ChannelTableView::ctrl_right_clicked, this, &ChannelPage::ctrl_right_clicked);
    connect(view_->horizontalHeader(), &QHeaderView::sectionClicked, this,
            &ChannelPage::sort_clicked);
    connect(view_, &ChannelTableView::delete_pressed, this, &ChannelPage::delete_channel);
    connect(view_, &ChannelTableView::edit_pressed, this, &ChannelPage::edit_channel);
}

QLabel* ChannelPage::make_threads_note() {
    // THREADS larger than the channel sections found is cut to them: the one value the
    // editor changes without being asked, so it says so here and in the save's question.
    auto* note = new QLabel(this);
    note->setObjectName(QStringLiteral("threads_note"));
    note->setWordWrap(true);
    note->setStyleSheet(QStringLiteral("color: #8a4b00;"));
    const LoadedFile& l = settings_.loaded;
    note->setVisible(l.present && l.threads_in_file != l.channel_count);
    note->setText(QStringLiteral("В файле THREADS=%1, а разделов каналов найдено %2: при "
                                 "сохранении будет записано THREADS=%2.")
                      .arg(l.threads_in_file)
                      .arg(l.channel_count));
    return note;
}

int ChannelPage::selected_row() const {
    const QModelIndexList rows = view_->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.front().row();
}

void ChannelPage::select_row(int row) {
    if (row < 0 || row >= model_->rowCount()) {
        view_->clearSelection();
        return;
    }
    view_->selectionModel()->setCurrentIndex(
        model_->index(row, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

bool ChannelPage::run_dialog(int edit_index, int insert_index) {
    ChannelDialog dialog(settings_, params_, edit_index, insert_index, this);
    emit dialog_opened(&dialog);
    return dialog.exec() == QDialog::Accepted;
}

void ChannelPage::add_channel() {
    if (!run_dialog(-1, selected_row())) return;
    model_->rebuild();
    view_->clearSelection();
}

void ChannelPage::edit_channel() {
    const int s = selected_row();
    if (s < 0) return;
    if (run_dialog(s, -1)) model_->rows_changed(s, s);
}

void ChannelPage::delete_channel() {
    const int s = selected_row();
    if (s < 0) return;
    if (!ask_yes_no(this, QStringLiteral("Вы действительно хотите\n удалить станцию?"))) return;
    if (!remove_channel(settings_, s)) return;
    model_->rebuild();
    view_->clearSelection();
}

void ChannelPage::move_up() {
    const int s = selected_row();
    const int to = move_channel_up(settings_, s);
    if (to < 0) return;
    model_->rows_changed(s, to);
    select_row(to);
    anchor_row_ = to;
    view_->setFocus();
}

void ChannelPage::move_down() {
    const int s = selected_row();
    const int to = move_channel_down(settings_, s);
    if (to < 0) return;
    model_->rows_changed(s, to);
    select_row(to);
    anchor_row_ = to;
    view_->setFocus();
}

void ChannelPage::left_clicked(int row, bool ctrl) {
    // A stale anchor (its row deleted since) and a click on no row swap nothing.
    if (ctrl && anchor_row_ != row && swap_channels(settings_, anchor_row_, row))
        model_->rows_changed(anchor_row_, row);
    if (ctrl) select_row(row);
    anchor_row_ = row;
}

void ChannelPage::ctrl_right_clicked(int row) {
    if (anchor_row_ == row || !move_channel(settings_, anchor_row_, row)) return;
    model_->rebuild();
}

void ChannelPage::sort_clicked(int column) {
    if (column != 1) return;
    const int selected = selected_row();
    const std::vector<int> order = sort_by_station(settings_, sort_descending_next_);
    sort_descending_next_ = !sort_descending_next_;
    model_->rebuild();
    // The selection follows its channel to its new row, as it does in a sorted list.
    int now = -1;
    for (size_t i = 0; i < order.size(); ++i)
        if (order[i] == selected) now = static_cast<int>(i);
    select_row(now);
    anchor_row_ = now;
}

}  // namespace zelvik::editor::ui
