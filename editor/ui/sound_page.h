// Third tab, "Звук": the alarm's WAV file and the two numbers of the alarm, each kept
// within its range; a stored value outside it is shown and kept as the nearest limit.
#pragma once

#include <QWidget>

#include "editor/editor_settings.h"

class QLineEdit;
class QSpinBox;

namespace zelvik::editor::ui {

class SoundPage : public QWidget {
    Q_OBJECT
public:
    // `settings` must outlive the page.
    explicit SoundPage(EditorSettings& settings, QWidget* parent = nullptr);

    QLineEdit* wav_field() const { return wav_; }
    QSpinBox* repeats() const { return repeats_; }
    QSpinBox* pause() const { return pause_; }
    void choose_wav_file();

private:
    EditorSettings& settings_;
    QLineEdit* wav_ = nullptr;
    QSpinBox* repeats_ = nullptr;
    QSpinBox* pause_ = nullptr;
};

}  // namespace zelvik::editor::ui
