// Third tab, "Звук": the alarm's WAV file and the two numbers of the alarm. A stored
// number outside the editor's range is shown and kept as it is, with a note.
#pragma once

#include <QWidget>

#include "config/settings_schema.h"
#include "editor/editor_settings.h"

class QLabel;
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
    QLabel* repeats_note() const { return repeats_note_; }
    void choose_wav_file();

private:
    // Sets `spin` to `stored` within `range` widened to hold it; the note (shown when
    // the stored value lies outside `range`) is returned for the layout.
    QLabel* hold_value(QSpinBox* spin, const config::IntRange& range, int stored);

    EditorSettings& settings_;
    QLineEdit* wav_ = nullptr;
    QSpinBox* repeats_ = nullptr;
    QSpinBox* pause_ = nullptr;
    QLabel* repeats_note_ = nullptr;
    QLabel* pause_note_ = nullptr;
};

}  // namespace zelvik::editor::ui
