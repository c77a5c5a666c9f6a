// The spin boxes own the ranges: setting a stored value clamps it, and the change
// signal then stores the clamped value, so a save writes what the page shows.
#include "editor/ui/sound_page.h"

#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "config/settings_schema.h"

namespace zelvik::editor::ui {

SoundPage::SoundPage(EditorSettings& settings, QWidget* parent)
    : QWidget(parent), settings_(settings) {
    wav_ = new QLineEdit(this);
    wav_->setMaxLength(static_cast<int>(kTextCapacity - 1));
    auto* browse = new QPushButton(QStringLiteral(".."), this);
    browse->setAccessibleName(QStringLiteral("Выбор звукового файла"));
    browse->setFixedWidth(32);
    browse->setAutoDefault(false);
    repeats_ = new QSpinBox(this);
    pause_ = new QSpinBox(this);
    auto* wav_label = new QLabel(QStringLiteral("Путь на звуковой файл"), this);
    using config::Setting;
    const config::IntRange repeats = config::spec_of(Setting::kAlarmMaxDuration).editor_range;
    const config::IntRange pause = config::spec_of(Setting::kAlarmSilence).editor_range;
    auto* repeats_label =
        new QLabel(QStringLiteral("Максимальное количество повторений звукового сигнала (%1-%2)")
                       .arg(repeats.min)
                       .arg(repeats.max),
                   this);
    auto* pause_label = new QLabel(
        QStringLiteral("Перерыв между повторениями, сек. (%1-%2)").arg(pause.min).arg(pause.max),
        this);
    wav_label->setBuddy(wav_);
    repeats_label->setBuddy(repeats_);
    pause_label->setBuddy(pause_);

    auto* wav_row = new QHBoxLayout;
    wav_row->addWidget(wav_);
    wav_row->addWidget(browse);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(wav_label);
    layout->addLayout(wav_row);
    layout->addSpacing(16);
    layout->addWidget(repeats_label);
    layout->addWidget(repeats_);
    layout->addSpacing(16);
    layout->addWidget(pause_label);
    layout->addWidget(pause_);
    layout->addStretch();

    connect(repeats_, &QSpinBox::valueChanged, this, [this](int v) { settings_.max_repeats = v; });
    connect(pause_, &QSpinBox::valueChanged, this, [this](int v) { settings_.pause_seconds = v; });
    connect(wav_, &QLineEdit::textChanged, this,
            [this](const QString& t) { settings_.wav_file = t.toStdString(); });
    connect(browse, &QPushButton::clicked, this, &SoundPage::choose_wav_file);

    // Connected first, so that a value the range clamps is stored as clamped. A value
    // already at a limit raises no change, hence the explicit stores after.
    const int stored_repeats = settings_.max_repeats;
    const int stored_pause = settings_.pause_seconds;
    repeats_->setRange(repeats.min, repeats.max);
    repeats_->setValue(stored_repeats);
    pause_->setRange(pause.min, pause.max);
    pause_->setValue(stored_pause);
    settings_.max_repeats = repeats_->value();
    settings_.pause_seconds = pause_->value();
    wav_->setText(QString::fromStdString(settings_.wav_file));
}

void SoundPage::choose_wav_file() {
    const QString file = QFileDialog::getOpenFileName(
        this, QString(), QString(), QStringLiteral("Звуковые файлы (*.wav);;Все файлы (*.*)"));
    if (!file.isEmpty()) wav_->setText(file);
}

}  // namespace zelvik::editor::ui
