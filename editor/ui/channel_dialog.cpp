// Add and edit of one channel. The store work runs as background calls on a session
// that only the running call touches; a call given up leaves the session to that call
// and the dialog goes on without the store.
#include "editor/ui/channel_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <optional>

#include "common/text.h"
#include "config/settings_schema.h"
#include "editor/channel_table.h"
#include "editor/store_session.h"
#include "editor/ui/background_call.h"
#include "editor/ui/message_box.h"

namespace zelvik::editor::ui {

struct ChannelDialog::Loaded {
    bool connected = false;
    std::string error;
    std::vector<std::string> stations;  // as offered
    std::vector<std::string> full;      // the stored code behind each offered one
    int selected_station = -1;
    bool station_found = true;
    std::vector<std::string> channels;
    std::vector<ChannelRate> rates;
};

namespace {

// The offered codes and, for each, the first stored code it was cut from.
void offer(const std::vector<std::string>& stored, std::vector<std::string>& offered,
           std::vector<std::string>& full) {
    offered = offered_codes(stored);
    full.assign(offered.size(), {});
    for (const std::string& s : stored) {
        for (size_t i = 0; i < offered.size(); ++i) {
            if (full[i].empty() && s.compare(0, kCodeLength, offered[i]) == 0) full[i] = s;
        }
    }
}

QLineEdit* number_field(QWidget* parent) {
    auto* field = new QLineEdit(parent);
    field->setMaxLength(31);
    return field;
}

}  // namespace

ChannelDialog::ChannelDialog(EditorSettings& settings, const ConnectionParams& params,
                             int edit_index, int insert_index, QWidget* parent)
    : QDialog(parent),
      settings_(settings),
      params_(params),
      edit_index_(edit_index),
      insert_index_(insert_index) {
    build_form();
    if (edit_index_ >= 0 && edit_index_ < static_cast<int>(settings_.channels.size())) {
        edited_ = settings_.channels[static_cast<size_t>(edit_index_)];
        setWindowTitle(QStringLiteral("Изменение канала..."));
        fill_form(edited_);
    } else {
        setWindowTitle(QStringLiteral("Добавление канала..."));
        order_->setValue(3);
        sound_on_->setChecked(true);
    }
    start_loading();
}

ChannelDialog::~ChannelDialog() = default;

void ChannelDialog::build_form() {
    auto* form = new QFormLayout;
    auto add_row = [&](const char* text, QWidget* field) {
        auto* label = new QLabel(QString::fromUtf8(text), this);
        label->setBuddy(field);
        form->addRow(label, field);
    };
    station_ = new QComboBox(this);
    channel_ = new QComboBox(this);
    for (QComboBox* box : {station_, channel_}) {
        box->setEditable(true);
        box->setInsertPolicy(QComboBox::NoInsert);
        box->setMinimumWidth(140);
    }
    sta_ = number_field(this);
    lta_ = number_field(this);
    threshold_ = number_field(this);
    fr1_ = number_field(this);
    fr2_ = number_field(this);
    order_ = new QSpinBox(this);
    const config::IntRange order = config::spec_of(config::Setting::kOrder).editor_range;
    order_->setRange(order.min, order.max);
    const std::pair<QWidget*, const char*> names[] = {
        {station_, "station"},     {channel_, "channel"}, {sta_, "sta"}, {lta_, "lta"},
        {threshold_, "threshold"}, {fr1_, "fr1"},         {fr2_, "fr2"}, {order_, "order"}};
    for (const auto& [widget, name] : names) widget->setObjectName(QString::fromLatin1(name));
    add_row("Код станции", station_);
    add_row("Код канала", channel_);
    add_row("Размер короткого окна, сек.", sta_);
    add_row("Размер длинного окна, сек.", lta_);
    add_row("Порог срабатывания", threshold_);
    add_row("Нижняя частота фильтра, Гц", fr1_);
    add_row("Верхняя частота фильтра, Гц", fr2_);
    add_row("Порядок фильтра Баттерворта", order_);

    auto* group = new QGroupBox(QStringLiteral("Оповещение"), this);
    sound_on_ = new QRadioButton(QStringLiteral("есть"), group);
    sound_off_ = new QRadioButton(QStringLiteral("нет"), group);
    sound_on_->setObjectName(QStringLiteral("sound_on"));
    sound_off_->setObjectName(QStringLiteral("sound_off"));
    auto* radios = new QHBoxLayout(group);
    radios->addWidget(sound_on_);
    radios->addWidget(sound_off_);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QStringLiteral("Отмена"), QDialogButtonBox::RejectRole);
    ok->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &ChannelDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &ChannelDialog::reject);
    connect(station_, &QComboBox::activated, this, &ChannelDialog::station_chosen);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(group);
    layout->addWidget(buttons);
}

void ChannelDialog::fill_form(const ChannelEntry& e) {
    sta_->setText(QString::number(e.sta));
    lta_->setText(QString::number(e.lta));
    threshold_->setText(QString::fromStdString(exact_number_text(e.threshold)));
    fr1_->setText(QString::fromStdString(exact_number_text(e.fr1)));
    fr2_->setText(QString::fromStdString(exact_number_text(e.fr2)));
    order_->setValue(e.order);  // outside its range the spin shows the nearest limit
    order_shown_ = order_->value();
    filled_.clear();
    for (const QLineEdit* f : {sta_, lta_, threshold_, fr1_, fr2_})
        filled_.push_back({f, f->text()});
    (e.sound ? sound_on_ : sound_off_)->setChecked(true);
    station_->setEditText(QString::fromStdString(e.station));
    channel_->setEditText(QString::fromStdString(e.channel));
}

void ChannelDialog::run(const QString& text, std::function<std::function<void()>()> work) {
    busy_ = true;
    BackgroundCall* call = BackgroundCall::start(this, text, std::move(work));
    connect(call, &BackgroundCall::finished, this, [this] { busy_ = false; });
    connect(call, &BackgroundCall::cancelled, this, [this] {
        // The call keeps its own reference; this dialog no longer uses the store.
        session_.reset();
        busy_ = false;
    });
}

void ChannelDialog::start_loading() {
    session_ = std::make_shared<StoreSession>();
    const bool editing = edit_index_ >= 0;
    const std::string wanted = edited_.station;
    run(QStringLiteral("Подключение к базе данных и чтение кодов станций...\n"
                       "Можно подождать или прервать."),
        [this, session = session_, params = params_, editing, wanted]() -> std::function<void()> {
            auto loaded = std::make_shared<Loaded>();
            loaded->connected = session->open(params);
            loaded->error = session->error();
            if (loaded->connected) {
                if (const auto st = session->stations()) offer(*st, loaded->stations, loaded->full);
                if (!loaded->stations.empty()) {
                    const int at = editing ? find_code_prefix(loaded->stations, wanted) : 0;
                    loaded->station_found = at >= 0;
                    loaded->selected_station = at >= 0 ? at : 0;
                    const std::string& station =
                        loaded->full[static_cast<size_t>(loaded->selected_station)];
                    if (const auto ch = session->channels(station))
                        loaded->channels = offered_codes(*ch);
                    if (const auto r = session->channel_rates(station)) loaded->rates = *r;
                }
            }
            return [this, loaded] { show_loaded(*loaded); };
        });
}

void ChannelDialog::show_loaded(const Loaded& loaded) {
    if (!loaded.connected) {
        session_.reset();
        if (!loaded.error.empty()) show_connection_error(this, loaded.error);
        return;
    }
    const QString typed = station_->currentText();
    station_->clear();
    for (size_t i = 0; i < loaded.stations.size(); ++i)
        station_->addItem(QString::fromStdString(loaded.stations[i]),
                          QString::fromStdString(loaded.full[i]));
    if (loaded.stations.empty()) {
        station_->setEditText(typed);
        return;
    }
    station_->setCurrentIndex(loaded.selected_station);
    if (!loaded.station_found)
        show_message(this, QMessageBox::Warning,
                     QStringLiteral("Станция не найдена в базе данных"));
    rates_ = loaded.rates;
    rates_station_ = station_->currentText();
    show_channels(loaded.channels);
}

void ChannelDialog::station_chosen(int index) {
    if (!session_ || index < 0) return;
    const std::string full = station_->itemData(index).toString().toStdString();
    const QString offered = station_->itemText(index);
    run(QStringLiteral("Чтение кодов каналов...\nМожно подождать или прервать."),
        [this, session = session_, full, offered]() -> std::function<void()> {
            std::vector<std::string> codes;
            if (const auto ch = session->channels(full)) codes = offered_codes(*ch);
            std::vector<ChannelRate> rates;
            if (const auto r = session->channel_rates(full)) rates = *r;
            return [this, codes, rates, offered] {
                rates_ = rates;
                rates_station_ = offered;
                show_channels(codes);
            };
        });
}

void ChannelDialog::show_channels(const std::vector<std::string>& codes) {
    channel_->clear();
    for (const std::string& c : codes) channel_->addItem(QString::fromStdString(c));
    if (codes.empty()) return;
    int at = 0;
    if (edit_index_ >= 0) {
        at = find_code_prefix(codes, edited_.channel);
        if (at < 0) {
            show_message(this, QMessageBox::Warning,
                         QStringLiteral("Канал не найден в базе данных"));
            at = 0;
        }
    }
    channel_->setCurrentIndex(at);
}

std::string ChannelDialog::code_of(const QComboBox* box) const {
    // A code typed by hand is kept even when the store does not list it (a station not
    // yet in the store, a store that did not answer); accept() warns about it.
    return box->currentText().trimmed().toStdString().substr(0, kTextCapacity - 1);
}

bool ChannelDialog::listed(const QComboBox* box) const {
    return box->count() == 0 || box->findText(box->currentText().trimmed(),
                                              Qt::MatchExactly | Qt::MatchCaseSensitive) >= 0;
}

double ChannelDialog::sample_rate(const std::string& channel) const {
    // The rates read belong to one station; a station typed since tells nothing.
    if (station_->currentText().trimmed() != rates_station_) return 0.0;
    for (const ChannelRate& r : rates_) {
        if (r.channel.compare(0, kCodeLength, channel.substr(0, kCodeLength)) == 0) return r.sps;
    }
    return 0.0;
}

ChannelEntry ChannelDialog::entry_from_form() const {
    // A field left as it was filled keeps the stored value exactly: the form shows
    // numbers rounded (the window lengths as whole seconds, the order within its range).
    const bool editing = edit_index_ >= 0;
    auto untouched = [&](const QLineEdit* f) {
        for (const auto& [field, text] : filled_)
            if (field == f) return editing && f->text() == text;
        return false;
    };
    ChannelEntry e = editing ? edited_ : ChannelEntry{};
    e.station = code_of(station_);
    e.channel = code_of(channel_);
    if (!untouched(sta_)) e.sta = common::leading_int(sta_->text().toStdString());
    if (!untouched(lta_)) e.lta = common::leading_int(lta_->text().toStdString());
    if (!untouched(threshold_))
        e.threshold = common::leading_double(threshold_->text().toStdString());
    if (!untouched(fr1_)) e.fr1 = common::leading_double(fr1_->text().toStdString());
    if (!untouched(fr2_)) e.fr2 = common::leading_double(fr2_->text().toStdString());
    if (!editing || order_->value() != order_shown_) e.order = order_->value();
    e.sound = sound_on_->isChecked();
    return e;
}

QString ChannelDialog::refusal(const ChannelEntry& e, QWidget*& field) const {
    if (e.sta >= e.lta) {
        field = sta_;
        return QStringLiteral(
                   "«Размер короткого окна, сек.» (%1) должен быть меньше "
                   "«Размера длинного окна, сек.» (%2).")
            .arg(e.sta)
            .arg(e.lta);
    }
    if (e.fr1 >= e.fr2) {
        field = fr1_;
        return QStringLiteral(
                   "«Нижняя частота фильтра, Гц» (%1) должна быть меньше "
                   "«Верхней частоты фильтра, Гц» (%2).")
            .arg(e.fr1)
            .arg(e.fr2);
    }
    const double sps = sample_rate(e.channel);
    if (sps > 0 && e.fr2 >= sps / 2) {
        field = fr2_;
        return QStringLiteral(
                   "«Верхняя частота фильтра, Гц» (%1) должна быть ниже половины "
                   "частоты дискретизации канала %2 (%3 Гц из SITECHAN), то есть "
                   "ниже %4 Гц.")
            .arg(e.fr2)
            .arg(QString::fromStdString(e.channel))
            .arg(sps)
            .arg(sps / 2);
    }
    return {};
}

void ChannelDialog::accept() {
    for (const QLineEdit* f : {sta_, lta_, threshold_, fr1_, fr2_}) {
        if (f->text().isEmpty()) {
            show_message(this, QMessageBox::Warning,
                         QStringLiteral("Необходимо заполнить все поля!"));
            return;
        }
    }
    const ChannelEntry e = entry_from_form();
    QWidget* wrong = nullptr;
    const QString refused = refusal(e, wrong);
    if (!refused.isEmpty()) {
        show_message(this, QMessageBox::Warning, refused);
        wrong->setFocus(Qt::OtherFocusReason);
        return;
    }
    QStringList unlisted;
    if (!listed(station_))
        unlisted << QStringLiteral("код станции «%1»").arg(QString::fromStdString(e.station));
    if (!listed(channel_))
        unlisted << QStringLiteral("код канала «%1»").arg(QString::fromStdString(e.channel));
    if (!unlisted.isEmpty()) {
        // Shown over the page, as this dialog closes now.
        show_message(parentWidget(), QMessageBox::Warning,
                     QStringLiteral("В базе данных нет: %1. Код сохранён так, как введён.")
                         .arg(unlisted.join(QStringLiteral(", "))));
    }
    if (edit_index_ >= 0 && edit_index_ < static_cast<int>(settings_.channels.size())) {
        settings_.channels[static_cast<size_t>(edit_index_)] = e;
    } else {
        insert_channel(settings_, insert_index_, e);
    }
    session_.reset();
    QDialog::accept();
}

void ChannelDialog::reject() {
    session_.reset();
    QDialog::reject();
}

}  // namespace zelvik::editor::ui
