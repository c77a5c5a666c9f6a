// The connection test runs as a background call with its own session, closed when the
// test is over: the page holds no connection between tests.
#include "editor/ui/data_source_page.h"

#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QVBoxLayout>
#include <memory>
#include <optional>

#include "editor/data_sources.h"
#include "editor/store_session.h"
#include "editor/ui/background_call.h"
#include "editor/ui/message_box.h"

namespace zelvik::editor::ui {
namespace {

QLabel* label_for(const char* text, QWidget* buddy, QWidget* parent) {
    auto* label = new QLabel(QString::fromUtf8(text), parent);
    label->setBuddy(buddy);
    return label;
}

std::string bounded_text(const QLineEdit* field, size_t capacity) {
    std::string text = field->text().toStdString();
    if (text.size() > capacity - 1) text.resize(capacity - 1);
    return text;
}

}  // namespace

QString odbc_admin_program() {
    for (const char* name : {"ODBCManageDataSourcesQ5", "ODBCManageDataSourcesQ4"}) {
        const QString path = QStandardPaths::findExecutable(QString::fromLatin1(name));
        if (!path.isEmpty()) return path;
    }
    return {};
}

DataSourcePage::DataSourcePage(ConnectionParams& params, QWidget* parent)
    : QWidget(parent), params_(params) {
    auto* admin = new QPushButton(QStringLiteral("Вызов ODBC Data Source Administrator"), this);
    auto* frame = new QGroupBox(this);
    sources_ = new QComboBox(frame);
    sources_->setEditable(false);
    user_ = new QLineEdit(frame);
    password_ = new QLineEdit(frame);
    password_->setEchoMode(QLineEdit::Password);
    data_dir_ = new QLineEdit(frame);
    auto* browse = new QPushButton(QStringLiteral(".."), frame);
    browse->setAccessibleName(QStringLiteral("Выбор каталога"));
    browse->setFixedWidth(32);
    auto* dir_row = new QHBoxLayout;
    dir_row->addWidget(data_dir_);
    dir_row->addWidget(browse);

    auto* fields = new QVBoxLayout(frame);
    fields->addWidget(label_for("Имя ресурса базы данных, объявленного в ODBC", sources_, frame));
    fields->addWidget(sources_);
    fields->addWidget(label_for("Имя пользователя", user_, frame));
    fields->addWidget(user_);
    fields->addWidget(label_for("Пароль пользователя", password_, frame));
    fields->addWidget(password_);
    fields->addWidget(label_for("Путь на данные для системы обработки сейсмических данных (QSX)",
                                data_dir_, frame));
    fields->addLayout(dir_row);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    auto* cancel = new QPushButton(QStringLiteral("Отмена"), this);
    test_ = new QPushButton(QStringLiteral("Тест"), this);
    for (QPushButton* b : {admin, browse, ok, cancel, test_}) b->setAutoDefault(false);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    buttons->addWidget(test_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(admin);
    layout->addWidget(frame);
    layout->addLayout(buttons);
    layout->addStretch();

    user_->setText(QString::fromStdString(params_.user));
    password_->setText(QString::fromStdString(params_.password));
    data_dir_->setText(QString::fromStdString(params_.data_dir));
    fill_sources();

    connect(user_, &QLineEdit::textChanged, this,
            [this] { params_.user = bounded_text(user_, kUserCapacity); });
    connect(password_, &QLineEdit::textChanged, this,
            [this] { params_.password = bounded_text(password_, kPasswordCapacity); });
    connect(data_dir_, &QLineEdit::textChanged, this,
            [this] { params_.data_dir = bounded_text(data_dir_, kDataDirCapacity); });
    connect(sources_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0)
            params_.data_source = strip_kind_suffix(sources_->itemText(index).toStdString());
    });
    connect(test_, &QPushButton::clicked, this, &DataSourcePage::run_test);
    connect(ok, &QPushButton::clicked, this, &DataSourcePage::take_over_fields);
    connect(admin, &QPushButton::clicked, this, &DataSourcePage::open_odbc_admin);
    connect(browse, &QPushButton::clicked, this, &DataSourcePage::choose_folder);
}

void DataSourcePage::fill_sources() {
    std::vector<std::string> lines;
    for (const DataSource& s : enumerate_data_sources()) lines.push_back(data_source_line(s));
    // Filled before the change signal is connected: the starting value stays as
    // resolved even when no line matches it.
    for (const std::string& l : lines) sources_->addItem(QString::fromStdString(l));
    sources_->setCurrentIndex(find_data_source_line(lines, params_.data_source));
}

void DataSourcePage::take_over_fields() {
    const QString line = sources_->currentText();
    if (line.contains(QStringLiteral(" (System DSN)")) ||
        line.contains(QStringLiteral(" (User DSN)")))
        params_.data_source = strip_kind_suffix(line.toStdString());
    params_.user = bounded_text(user_, kUserCapacity);
    params_.password = bounded_text(password_, kPasswordCapacity);
    params_.data_dir = bounded_text(data_dir_, kDataDirCapacity);
}

void DataSourcePage::run_test() {
    if (busy_) return;
    params_.data_source = sources_->currentIndex() < 0
                              ? std::string()
                              : strip_kind_suffix(sources_->currentText().toStdString());
    params_.user = bounded_text(user_, kUserCapacity);
    params_.password = bounded_text(password_, kPasswordCapacity);
    busy_ = true;
    test_->setEnabled(false);
    BackgroundCall* call = BackgroundCall::start(
        this, QStringLiteral("Подключение к источнику данных...\nМожно подождать или прервать."),
        [this, params = params_]() -> std::function<void()> {
            StoreSession session;
            const bool ok = session.open(params);
            std::optional<std::vector<std::string>> tables;
            if (ok) tables = session.tables();
            const std::string error = session.error();
            const std::string report = connection_report(params.data_source, params.user, tables);
            return [this, ok, error, report] {
                if (ok) {
                    show_message(this, QMessageBox::Information, QString::fromStdString(report),
                                 QStringLiteral("Подключение к источнику данных!"));
                } else if (!error.empty()) {
                    show_connection_error(this, error);
                }
            };
        });
    auto idle = [this] {
        busy_ = false;
        test_->setEnabled(true);
    };
    connect(call, &BackgroundCall::finished, this, idle);
    connect(call, &BackgroundCall::cancelled, this, idle);
}

void DataSourcePage::open_odbc_admin() {
    const QString program = odbc_admin_program();
    if (!program.isEmpty() && QProcess::startDetached(program, {})) return;
    show_message(this, QMessageBox::Information, QString::fromStdString(odbc_configuration_help()),
                 QStringLiteral("Источники данных ODBC"));
}

void DataSourcePage::choose_folder() {
    const QString initial = data_dir_->text().left(255);
    const QString chosen = QFileDialog::getExistingDirectory(this, QStringLiteral("Выбор каталога"),
                                                             initial, QFileDialog::ShowDirsOnly);
    if (!chosen.isEmpty()) data_dir_->setText(chosen);
}

}  // namespace zelvik::editor::ui
