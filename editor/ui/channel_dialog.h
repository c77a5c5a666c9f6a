// The dialog that adds or edits one channel. It offers the station and channel codes of
// the store's SITECHAN table; connecting and querying run off the GUI thread, and the
// dialog stays usable (codes typed by hand when no store answers).
#pragma once

#include <QDialog>
#include <memory>
#include <string>
#include <vector>

#include "editor/connection_params.h"
#include "editor/editor_settings.h"

class QComboBox;
class QLineEdit;
class QRadioButton;
class QSpinBox;

namespace zelvik::editor {
class StoreSession;
}

namespace zelvik::editor::ui {

class ChannelDialog : public QDialog {
    Q_OBJECT
public:
    // Edits entry `edit_index`, or adds before row `insert_index` when `edit_index` is
    // -1. `settings` must outlive the dialog; `params` are copied as they stand now.
    ChannelDialog(EditorSettings& settings, const ConnectionParams& params, int edit_index,
                  int insert_index, QWidget* parent = nullptr);
    ~ChannelDialog() override;

    // True while a store call of this dialog runs (for tests).
    bool busy() const { return busy_; }

    void accept() override;
    void reject() override;

private:
    struct Loaded;
    void build_form();
    void fill_form(const ChannelEntry& e);
    void start_loading();
    void show_loaded(const Loaded& loaded);
    void station_chosen(int index);
    void show_channels(const std::vector<std::string>& codes);
    std::string code_of(const QComboBox* box) const;
    void run(const QString& text, std::function<std::function<void()>()> work);

    EditorSettings& settings_;
    const ConnectionParams params_;
    const int edit_index_;
    const int insert_index_;
    ChannelEntry edited_;  // the stored entry when editing
    std::shared_ptr<StoreSession> session_;
    bool busy_ = false;

    QComboBox* station_ = nullptr;
    QComboBox* channel_ = nullptr;
    QLineEdit* sta_ = nullptr;
    QLineEdit* lta_ = nullptr;
    QLineEdit* threshold_ = nullptr;
    QLineEdit* fr1_ = nullptr;
    QLineEdit* fr2_ = nullptr;
    QSpinBox* order_ = nullptr;
    QRadioButton* sound_on_ = nullptr;
    QRadioButton* sound_off_ = nullptr;
};

}  // namespace zelvik::editor::ui
