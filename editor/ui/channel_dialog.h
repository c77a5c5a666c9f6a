// The dialog that adds or edits one channel. It offers the station and channel codes of
// the store's SITECHAN table; connecting and querying run off the GUI thread, and the
// dialog stays usable (codes typed by hand when no store answers).
#pragma once

#include <QDialog>
#include <QString>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "editor/connection_params.h"
#include "editor/editor_settings.h"
#include "editor/store_session.h"

class QComboBox;
class QLineEdit;
class QRadioButton;
class QSpinBox;

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
    bool listed(const QComboBox* box) const;  // the box's text is one of its codes (or none)
    double sample_rate(const std::string& channel) const;  // 0 when SITECHAN gave none
    ChannelEntry entry_from_form() const;
    // Why `e` cannot be confirmed, naming the field (set to `field`); empty when it can.
    QString refusal(const ChannelEntry& e, QWidget*& field) const;
    void run(const QString& text, std::function<std::function<void()>()> work);

    EditorSettings& settings_;
    const ConnectionParams params_;
    const int edit_index_;
    const int insert_index_;
    ChannelEntry edited_;  // the stored entry when editing
    std::shared_ptr<StoreSession> session_;
    bool busy_ = false;
    std::vector<ChannelRate> rates_;  // SITECHAN rates of the station rates_station_
    QString rates_station_;           // as offered in the station list
    int order_shown_ = 0;             // the order spin's value when the form was filled
    std::vector<std::pair<const QLineEdit*, QString>> filled_;  // each field's text then

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
