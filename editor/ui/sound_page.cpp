// The spin boxes offer the editor's ranges, widened to hold a stored value outside them
// (Zelvik itself runs MAXDURATION 120 by default): the page shows the file's value and
// an untouched save keeps it, with a note beside the field.
#include "editor/ui/sound_page.h"

#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>

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
    repeats_->setObjectName(QStringLiteral("repeats"));
    pause_->setObjectName(QStringLiteral("pause"));
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

    const int stored_repeats = settings_.max_repeats;
    const int stored_pause = settings_.pause_seconds;
    repeats_note_ = hold_value(repeats_, repeats, stored_repeats);
    pause_note_ = hold_value(pause_, pause, stored_pause);
    layout->insertWidget(layout->indexOf(repeats_) + 1, repeats_note_);
    layout->insertWidget(layout->indexOf(pause_) + 1, pause_note_);
    wav_->setText(QString::fromStdString(settings_.wav_file));
}

QLabel* SoundPage::hold_value(QSpinBox* spin, const config::IntRange& range, int stored) {
    const bool outside = stored < range.min || stored > range.max;
    spin->setRange(std::min(range.min, stored), std::max(range.max, stored));
    spin->setValue(stored);
    auto* note = new QLabel(this);
    note->setObjectName(spin->objectName() + QStringLiteral("_note"));
    note->setWordWrap(true);
    note->setStyleSheet(QStringLiteral("color: #8a4b00;"));
    note->setText(QStringLiteral("В файле %1: вне диапазона %2-%3. Значение сохраняется как "
                                 "есть, пока вы его не измените.")
                      .arg(stored)
                      .arg(range.min)
                      .arg(range.max));
    note->setVisible(outside);
    return note;
}

void SoundPage::choose_wav_file() {
    const QString file = QFileDialog::getOpenFileName(
        this, QString(), QString(), QStringLiteral("Звуковые файлы (*.wav);;Все файлы (*.*)"));
    if (!file.isEmpty()) wav_->setText(file);
}

}  // namespace zelvik::editor::ui
