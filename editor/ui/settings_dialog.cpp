// The window and its save. Saving writes the whole current state every time; nothing
// is reloaded afterwards.
#include "editor/ui/settings_dialog.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QPushButton>
#include <QStyle>
#include <QTabWidget>
#include <QVBoxLayout>

#include "editor/settings_writer.h"
#include "editor/ui/channel_page.h"
#include "editor/ui/data_source_page.h"
#include "editor/ui/message_box.h"
#include "editor/ui/sound_page.h"

namespace zelvik::editor::ui {

SettingsDialog::SettingsDialog(EditorSettings& settings, ConnectionParams& params, QWidget* parent)
    : QDialog(parent), settings_(settings), params_(params) {
    setWindowTitle(QStringLiteral("Изменение настроек детектора событий"));
    setWindowIcon(style()->standardIcon(QStyle::SP_ComputerIcon));
    load_settings(settings_);

    tabs_ = new QTabWidget(this);
    channels_ = new ChannelPage(settings_, params_, tabs_);
    data_source_ = new DataSourcePage(params_, tabs_);
    sound_ = new SoundPage(settings_, tabs_);
    tabs_->addTab(channels_, QStringLiteral("Просмотр каналов"));
    tabs_->addTab(data_source_, QStringLiteral("Источник данных"));
    tabs_->addTab(sound_, QStringLiteral("Звук"));

    auto* apply = new QPushButton(QStringLiteral("Применить"), this);
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    auto* cancel = new QPushButton(QStringLiteral("Отмена"), this);
    apply->setObjectName(QStringLiteral("apply"));
    ok->setObjectName(QStringLiteral("ok"));
    cancel->setObjectName(QStringLiteral("cancel"));
    apply->setAutoDefault(false);
    cancel->setAutoDefault(false);
    ok->setAutoDefault(false);
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
    resize(760, 560);
}

bool SettingsDialog::save() {
    SettingsWriter writer;
    if (writer.save(settings_, params_)) return true;
    show_message(this, QMessageBox::Critical,
                 QStringLiteral("Настройки не сохранены в файл\n%1\n\nПричина: %2")
                     .arg(QString::fromStdString(settings_.settings_path),
                          QString::fromStdString(writer.last_error())));
    return false;
}

void SettingsDialog::accept() {
    if (save()) QDialog::accept();
}

}  // namespace zelvik::editor::ui
