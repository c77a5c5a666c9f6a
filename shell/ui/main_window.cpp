// Main window. Layout in dialog units of Arial 8, converted once at construction; the
// blink timer alternates indicator and window icon; the exit is the only place that
// waits for the engine, and it waits with no lock held and no engine call pending.
#include "shell/ui/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTableView>

#include <algorithm>
#include <chrono>

#include "common/log.h"
#include "config/column_widths.h"
#include "shell/engine.h"
#include "shell/ui/channel_row_delegate.h"
#include "shell/ui/channel_table_model.h"
#include "shell/ui/dialog_units.h"
#include "shell/ui/editor_launcher.h"
#include "shell/ui/state_pictures.h"

namespace zelvik::shell::ui {

namespace {

const char* const kEditorText = "Конфигурация";
const char* const kEditorMissing = "Не удалось обнаружить файл zelvikcfg";
// Ctrl+K, "Konfiguration": the window has no menu bar, so the editor command also sits
// in the channel list's context menu (right click or the menu key).
const QKeySequence kEditorShortcut(Qt::CTRL | Qt::Key_K);

QFont window_font() {
    QFont font(QStringLiteral("Arial"));
    font.setPointSize(8);
    return font;
}

}  // namespace

MainWindow::MainWindow(WindowSetup setup, QWidget* parent)
    : QDialog(parent), setup_(std::move(setup)) {
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFont(window_font());
    setWindowTitle(setup_.caption);
    setWindowIcon(window_icon(false));
    build_controls();
    set_up_list();
    blink_.setInterval(kBlinkIntervalMs);
    connect(&blink_, &QTimer::timeout, this, &MainWindow::tick);
    editor_ = new EditorLauncher(setup_.settings_path, setup_.editor_dirs, this);

    alarm_text_->clear();
    set_indicator(false);
    sound_->setChecked(true);
    stop_alarm_->setEnabled(false);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = rect();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}

MainWindow::~MainWindow() = default;

void MainWindow::build_controls() {
    const DialogUnits du(font());
    setFixedSize(du.x(472), du.y(143));

    list_ = new QTableView(this);
    list_->setGeometry(du.rect(14, 15, 446, 84));
    list_->setAccessibleName(QStringLiteral("Channels"));

    info_text_ = new QLabel(QStringLiteral("info"), this);
    info_text_->setGeometry(du.rect(7, 111, 113, 16));
    info_text_->setAccessibleName(QStringLiteral("Alarm duration and silence"));

    indicator_ = new QLabel(this);
    indicator_->setGeometry(du.rect(141, 109, 20, 20));
    indicator_size_ = std::min(indicator_->width(), indicator_->height());
    indicator_->setAlignment(Qt::AlignCenter);
    indicator_->setAccessibleName(QStringLiteral("Alarm indicator"));

    alarm_text_ = new QLabel(QStringLiteral("current state"), this);
    alarm_text_->setGeometry(du.rect(175, 112, 60, 12));
    alarm_text_->setAlignment(Qt::AlignCenter);
    alarm_text_->setAccessibleName(QStringLiteral("Alarm state"));
    QFont bold = font();
    bold.setBold(true);
    alarm_text_->setFont(bold);
    QPalette red = alarm_text_->palette();
    red.setColor(QPalette::WindowText, QColor(190, 0, 0));
    alarm_text_->setPalette(red);

    sound_ = new QCheckBox(QStringLiteral("Enable sound"), this);
    sound_->setGeometry(du.rect(250, 112, 63, 14));
    connect(sound_, &QCheckBox::toggled, this, [this](bool on) {
        if (engine_ != nullptr) engine_->set_sound_enabled(on);
    });

    stop_alarm_ = new QPushButton(QStringLiteral("Stop alarm"), this);
    stop_alarm_->setGeometry(du.rect(320, 112, 69, 15));
    connect(stop_alarm_, &QPushButton::clicked, this, &MainWindow::stop_alarm_clicked);

    exit_ = new QPushButton(QStringLiteral("Exit"), this);
    exit_->setGeometry(du.rect(400, 112, 50, 15));
    connect(exit_, &QPushButton::clicked, this, &MainWindow::request_exit);

    // Enter belongs to the list (it opens a channel); no button may take it as default.
    // A focused button still answers Enter as well as Space (eventFilter).
    for (QPushButton* b : {stop_alarm_, exit_}) {
        b->setAutoDefault(false);
        b->setDefault(false);
        b->installEventFilter(this);
    }
    setTabOrder(list_, sound_);
    setTabOrder(sound_, stop_alarm_);
    setTabOrder(stop_alarm_, exit_);
}

void MainWindow::set_up_list() {
    model_ = new ChannelTableModel(this);
    model_->set_no_data_seconds(setup_.no_data_seconds);
    list_->setModel(model_);
    list_->setItemDelegate(new ChannelRowDelegate(list_));
    list_->setShowGrid(true);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setWordWrap(false);
    list_->setTabKeyNavigation(false);
    list_->verticalHeader()->hide();
    const int row_height = std::max(kStatePictureSize, list_->fontMetrics().height()) + 2;
    list_->verticalHeader()->setDefaultSectionSize(row_height);
    list_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    QHeaderView* header = list_->horizontalHeader();
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header->setHighlightSections(false);
    header->setSectionsClickable(true);
    header->setStretchLastSection(false);
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->setMinimumSectionSize(1);
    const int client_width = list_->width() - 2 * list_->frameWidth();
    for (int c = 0; c < ChannelTableModel::kColumns; ++c)
        list_->setColumnWidth(c, client_width / 6);
    apply_saved_widths();
    connect(header, &QHeaderView::sectionClicked, model_, &ChannelTableModel::sort_by_header);

    connect(list_, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
        const int channel = model_->channel_at(index.row());
        if (channel >= 0) emit channel_activated(channel);
    });
    list_->installEventFilter(this);

    editor_action_ = new QAction(QString::fromUtf8(kEditorText), this);
    editor_action_->setShortcut(kEditorShortcut);
    editor_action_->setShortcutContext(Qt::WindowShortcut);
    connect(editor_action_, &QAction::triggered, this, &MainWindow::open_editor);
    list_->addAction(editor_action_);
    list_->setContextMenuPolicy(Qt::ActionsContextMenu);
}

void MainWindow::apply_saved_widths() {
    config::ColumnWidths widths{};
    for (int c = 0; c < config::kListColumns; ++c)
        widths[static_cast<size_t>(c)] = list_->columnWidth(c);
    config::read_column_widths(setup_.settings_path.toStdString(), widths);
    for (int c = 0; c < config::kListColumns; ++c)
        list_->setColumnWidth(c, widths[static_cast<size_t>(c)]);
}

std::vector<int> MainWindow::column_widths() const {
    std::vector<int> widths;
    for (int c = 0; c < config::kListColumns; ++c) widths.push_back(list_->columnWidth(c));
    return widths;
}

void MainWindow::save_widths() {
    config::ColumnWidths widths{};
    for (int c = 0; c < config::kListColumns; ++c)
        widths[static_cast<size_t>(c)] = list_->columnWidth(c);
    if (!config::write_column_widths(setup_.settings_path.toStdString(), widths))
        common::log_printf("Couldn't save the list column widths to %s",
                           setup_.settings_path.toLocal8Bit().constData());
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress) return QDialog::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
    if (enter && (watched == stop_alarm_ || watched == exit_)) {
        static_cast<QPushButton*>(watched)->animateClick();
        return true;
    }
    if (enter && watched == list_) {
        const QModelIndexList selected = list_->selectionModel()->selectedRows();
        if (!selected.isEmpty()) {
            const int channel = model_->channel_at(selected.front().row());
            if (channel >= 0) emit channel_activated(channel);
        } else if (model_->rowCount() > 0) {
            // Nothing chosen yet: the first Enter chooses the top row, the next opens it.
            list_->selectRow(0);
        }
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void MainWindow::show_rows(std::vector<ChannelView> rows) {
    const auto skipped = [](const ChannelView& r) {
        return r.state == detect::ChannelState::kUnusable;
    };
    const auto stalled = static_cast<int>(std::count_if(
        rows.begin(), rows.end(), [&](const ChannelView& r) { return r.stalled && !skipped(r); }));
    const auto skipped_now = static_cast<int>(std::count_if(rows.begin(), rows.end(), skipped));
    model_->set_rows(std::move(rows));
    if (stalled == stalled_count_ && skipped_now == skipped_count_) return;
    stalled_count_ = stalled;
    skipped_count_ = skipped_now;
    refresh_info();
}

void MainWindow::show_info(const QString& text) {
    info_ = text;
    refresh_info();
}

void MainWindow::show_log_trouble(const QString& text) {
    // Only the text that says lines are lost starts the trouble; the next one ends it.
    log_trouble_ = text.startsWith(QStringLiteral("log lines cannot")) ? text : QString();
    refresh_info();
}

void MainWindow::show_settings_note(const QString& text) {
    settings_note_ = text;
    refresh_info();
}

// The info label is two lines high: the stalled and skipped counts and the settings note
// share the second, so the duration and silence line keeps its place and its words.
void MainWindow::refresh_info() {
    QStringList counts;
    if (stalled_count_ > 0) counts << QStringLiteral("stalled: ") + QString::number(stalled_count_);
    if (skipped_count_ > 0) counts << QStringLiteral("skipped: ") + QString::number(skipped_count_);
    QString second = counts.join(QStringLiteral("  "));
    const QString settings = settings_note_.section(QStringLiteral(": "), 0, 0);
    if (!settings.isEmpty())
        second += (second.isEmpty() ? QString() : QStringLiteral(", ")) + settings;
    if (!log_trouble_.isEmpty())
        second += (second.isEmpty() ? QString() : QStringLiteral(", ")) +
                  QStringLiteral("log not written");
    info_text_->setText(second.isEmpty() ? info_ : info_ + QStringLiteral("\n") + second);
    QStringList tip;
    if (!settings_note_.isEmpty()) tip << settings_note_;
    if (!log_trouble_.isEmpty()) tip << log_trouble_;
    info_text_->setToolTip(tip.join(QStringLiteral("\n")));
}

void MainWindow::show_alarm(bool on, const QString& text) {
    alarm_text_->setText(text);
    stop_alarm_->setEnabled(on);
    if (!on) {
        blink_.stop();
        set_indicator(false);
        return;
    }
    const bool was_blinking = blink_.isActive();
    blink_.start();  // a second "on" while blinking restarts the period
    if (!was_blinking && (isMinimized() || !isActiveWindow())) QApplication::alert(this);
}

void MainWindow::tick() {
    set_indicator(!indicator_lit_);
}

void MainWindow::set_indicator(bool lit) {
    indicator_lit_ = lit;
    indicator_->setPixmap(indicator_picture(lit, indicator_size_));
    indicator_->setAccessibleDescription(lit ? QStringLiteral("alarm") : QStringLiteral("normal"));
    setWindowIcon(window_icon(lit));
}

void MainWindow::stop_alarm_clicked() {
    if (engine_ == nullptr) return;
    show_alarm(false, QString());
    engine_->silence_for(-1);
}

void MainWindow::open_editor() {
    if (editor_->start()) return;
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Zelvik"),
                                QString::fromUtf8(kEditorMissing), QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void MainWindow::request_exit() {
    if (exiting_ || question_ != nullptr) return;
    question_ = new QMessageBox(QMessageBox::Question, QStringLiteral("Zelvik"),
                                QStringLiteral("Are you sure to exit Zelvik?"),
                                QMessageBox::Yes | QMessageBox::No, this);
    question_->setDefaultButton(QMessageBox::No);
    question_->setAttribute(Qt::WA_DeleteOnClose);
    connect(question_, &QMessageBox::finished, this, [this](int answer) {
        if (answer == QMessageBox::Yes) finish_exit();
    });
    question_->open();
}

void MainWindow::exit_without_question() {
    if (question_ != nullptr) {
        question_->disconnect(this);
        question_->close();
    }
    finish_exit();
}

void MainWindow::finish_exit() {
    if (exiting_) return;
    exiting_ = true;
    save_widths();
    blink_.stop();
    if (engine_ != nullptr) {
        engine_->request_stop();
        (void)engine_->wait(std::chrono::milliseconds(kStopWaitMs));
    }
    done(QDialog::Accepted);
}

void MainWindow::reject() {
    request_exit();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (exiting_) {
        QDialog::closeEvent(event);
        return;
    }
    event->ignore();
    request_exit();
}

}  // namespace zelvik::shell::ui
