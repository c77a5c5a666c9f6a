// The editor's window, "Изменение настроек детектора событий": four tab pages made at
// start and kept alive while switching, and OK (the default button) / "Применить" /
// "Отмена". A save that would change values the operator did not touch asks first and
// names them; a failed save is reported in a box naming the file and the reason, and the
// window stays open. Escape or closing the window with unsaved changes asks first.
#pragma once

#include <QDialog>

#include "editor/connection_params.h"
#include "editor/editor_settings.h"

class QTabWidget;

namespace zelvik::editor::ui {

class AlertsPage;
class ChannelPage;
class DataSourcePage;
class SoundPage;

class SettingsDialog : public QDialog {
    Q_OBJECT
public:
    // Loads `settings` from its settings_path; both objects must outlive the dialog.
    SettingsDialog(EditorSettings& settings, ConnectionParams& params, QWidget* parent = nullptr);

    QTabWidget* tabs() const { return tabs_; }
    ChannelPage* channel_page() const { return channels_; }
    DataSourcePage* data_source_page() const { return data_source_; }
    SoundPage* sound_page() const { return sound_; }
    AlertsPage* alerts_page() const { return alerts_; }

    // Writes the settings file; false (after the box) when that failed or the operator
    // declined the changes he did not make.
    bool save();
    void accept() override;  // save, and close only when the save succeeded
    // Changes since the last load or save.
    bool has_unsaved_changes() const;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    bool may_discard();  // true when nothing is unsaved or the operator agrees to lose it
    void size_from_dialog_units();

    EditorSettings& settings_;
    ConnectionParams& params_;
    ConnectionParams saved_params_;
    QTabWidget* tabs_ = nullptr;
    ChannelPage* channels_ = nullptr;
    DataSourcePage* data_source_ = nullptr;
    SoundPage* sound_ = nullptr;
    AlertsPage* alerts_ = nullptr;
};

}  // namespace zelvik::editor::ui
