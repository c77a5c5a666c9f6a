// The editor's window, "Изменение настроек детектора событий": three tab pages made
// at start and kept alive while switching, and OK / "Применить" / "Отмена". A failed
// save is reported in a box naming the file and the reason, and the window stays open.
#pragma once

#include <QDialog>

#include "editor/connection_params.h"
#include "editor/editor_settings.h"

class QTabWidget;

namespace zelvik::editor::ui {

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

    // Writes the settings file; false (after the box) when that failed.
    bool save();
    void accept() override;  // save, and close only when the save succeeded

private:
    EditorSettings& settings_;
    ConnectionParams& params_;
    QTabWidget* tabs_ = nullptr;
    ChannelPage* channels_ = nullptr;
    DataSourcePage* data_source_ = nullptr;
    SoundPage* sound_ = nullptr;
};

}  // namespace zelvik::editor::ui
