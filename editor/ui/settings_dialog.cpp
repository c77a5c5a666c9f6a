// The window and its save. A save writes the values changed since the last load or save
// (see editor/save_plan.h); nothing is reloaded afterwards.
#include "editor/ui/settings_dialog.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTabWidget>
#include <QVBoxLayout>

#include "editor/settings_writer.h"
#include "editor/ui/alerts_page.h"
#include "editor/ui/channel_page.h"
#include "editor/ui/data_source_page.h"
#include "editor/ui/message_box.h"
#include "editor/ui/sound_page.h"

namespace zelvik::editor::ui {
namespace {

// The window's client size in dialog units, and the conversion the desktop it was laid
// out for uses: a horizontal unit is a quarter of the average character width (that of
// the 52 Latin letters), a vertical unit an eighth of the character height.
constexpr int kWidthUnits = 320;
constexpr int kHeightUnits = 241;

QSize dialog_units_size(const QFont& font, int width_units, int height_units) {
    const QFontMetrics metrics(font);
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    const int base_x = (letters / 26 + 1) / 2;
    const int base_y = metrics.height();
    return {(width_units * base_x + 2) / 4, (height_units * base_y + 4) / 8};
}

}  // namespace

SettingsDialog::SettingsDialog(EditorSettings& settings, ConnectionParams& params, QWidget* parent)
    : QDialog(parent), settings_(settings), params_(params) {
    setWindowTitle(QStringLiteral("Изменение настроек детектора событий"));
    setWindowIcon(style()->standardIcon(QStyle::SP_ComputerIcon));
    load_settings(settings_);

    tabs_ = new QTabWidget(this);
    channels_ = new ChannelPage(settings_, params_, tabs_);
    data_source_ = new DataSourcePage(params_, tabs_);
    sound_ = new SoundPage(settings_, tabs_);
    alerts_ = new AlertsPage(settings_, params_, tabs_);
    tabs_->addTab(channels_, QStringLiteral("Просмотр каналов"));
    tabs_->addTab(data_source_, QStringLiteral("Источник данных"));
    tabs_->addTab(sound_, QStringLiteral("Звук"));
    tabs_->addTab(alerts_, QStringLiteral("Оповещение"));
    saved_params_ = params_;

    auto* apply = new QPushButton(QStringLiteral("Применить"), this);
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    auto* cancel = new QPushButton(QStringLiteral("Отмена"), this);
    apply->setObjectName(QStringLiteral("apply"));
    ok->setObjectName(QStringLiteral("ok"));
    cancel->setObjectName(QStringLiteral("cancel"));
    apply->setAutoDefault(false);
    cancel->setAutoDefault(false);
    ok->setAutoDefault(false);
    ok->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(apply);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs_);
    layout->addLayout(buttons);
    connect(apply, &QPushButton::clicked, this, [this] { (void)save(); });
    connect(ok, &QPushButton::clicked, this, &SettingsDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &SettingsDialog::reject);
    size_from_dialog_units();
}

void SettingsDialog::size_from_dialog_units() {
    QSize size = dialog_units_size(font(), kWidthUnits, kHeightUnits).expandedTo(minimumSizeHint());
    const QScreen* screen = this->screen() ? this->screen() : QApplication::primaryScreen();
    if (screen) {
        // The frame the window manager adds is not known before the window is shown;
        // keep a margin for it so the whole window fits the free area.
        const QSize free = screen->availableGeometry().size() - QSize(16, 48);
        size = size.boundedTo(free);
    }
    resize(size);
}

bool SettingsDialog::has_unsaved_changes() const {
    return differs_from_loaded(settings_) || !(params_ == saved_params_);
}

bool SettingsDialog::save() {
    const std::vector<UnaskedChange> unasked = pending_unasked_changes(settings_, params_);
    if (!unasked.empty() &&
        !ask_yes_no(this, QStringLiteral("При сохранении изменятся значения, которых вы не "
                                         "меняли:\n\n%1\nСохранить?")
                              .arg(QString::fromStdString(describe(unasked)))))
        return false;
    SettingsWriter writer;
    if (writer.save(settings_, params_)) {
        mark_saved(settings_);
        saved_params_ = params_;
        return true;
    }
    show_message(this, QMessageBox::Critical,
                 QStringLiteral("Настройки не сохранены в файл\n%1\n\nПричина: %2")
                     .arg(QString::fromStdString(settings_.settings_path),
                          QString::fromStdString(writer.last_error())));
    return false;
}

void SettingsDialog::accept() {
    if (save()) QDialog::accept();
}

bool SettingsDialog::may_discard() {
    return !has_unsaved_changes() ||
           ask_yes_no(this, QStringLiteral("Изменения не сохранены.\nЗакрыть без сохранения?"));
}

void SettingsDialog::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        event->accept();
        if (may_discard()) QDialog::reject();
        return;
    }
    QDialog::keyPressEvent(event);
}

void SettingsDialog::closeEvent(QCloseEvent* event) {
    if (!isVisible() || may_discard()) return QDialog::closeEvent(event);
    event->ignore();
}

}  // namespace zelvik::editor::ui
