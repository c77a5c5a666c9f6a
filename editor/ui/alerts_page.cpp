// The page edits settings.alerts in place, as the other pages do. The test never blocks
// the window: QProcess runs `zelvik --test-alert --config <copy>` and its output arrives
// through the event loop; the copy lives in a temporary folder removed after the run.
#include "editor/ui/alerts_page.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFile>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QVBoxLayout>

#include <algorithm>

#include "config/atomic_file.h"
#include "editor/channel_table.h"
#include "editor/settings_writer.h"

namespace zelvik::editor::ui {
namespace {

struct SecurityChoice {
    const char* value;  // as stored
    const char* text;
};
constexpr SecurityChoice kSecurity[] = {
    {"none", "нет (SMTP, порт 25)"},
    {"starttls", "STARTTLS (порт 587)"},
    {"tls", "TLS (порт 465)"},
};

QLineEdit* text_field(QWidget* parent, const char* name) {
    auto* f = new QLineEdit(parent);
    f->setObjectName(QString::fromLatin1(name));
    f->setMaxLength(static_cast<int>(kTextCapacity - 1));
    return f;
}

// Decimals of the shortest text of `v`, so that the spin box shows it exactly.
int decimals_of(double v) {
    const std::string text = exact_number_text(v);
    const size_t dot = text.find('.');
    return dot == std::string::npos ? 0 : static_cast<int>(text.size() - dot - 1);
}

}  // namespace

AlertsPage::AlertsPage(EditorSettings& settings, const ConnectionParams& params, QWidget* parent)
    : QWidget(parent),
      settings_(settings),
      params_(params),
      zelvik_(QCoreApplication::applicationDirPath() + QStringLiteral("/zelvik")) {
    build_form();
    show_values();
    connect_fields();
}

AlertsPage::~AlertsPage() {
    if (process_ && process_->state() != QProcess::NotRunning) {
        process_->kill();
        process_->waitForFinished(2000);
    }
}

void AlertsPage::build_form() {
    server_ = text_field(this, "server");
    server_->setPlaceholderText(QStringLiteral("smtp.example.org или smtp.example.org:587"));
    security_ = new QComboBox(this);
    security_->setObjectName(QStringLiteral("security"));
    for (const SecurityChoice& c : kSecurity)
        security_->addItem(QString::fromUtf8(c.text), QString::fromLatin1(c.value));
    user_ = text_field(this, "user");
    password_ = text_field(this, "password");
    password_->setEchoMode(QLineEdit::Password);
    sender_ = text_field(this, "sender");
    recipient_ = text_field(this, "recipient");
    webhook_ = text_field(this, "webhook");
    webhook_->setPlaceholderText(QStringLiteral("https://ntfy.sh/тема"));
    nodata_ = new QSpinBox(this);
    nodata_->setObjectName(QStringLiteral("nodata"));
    nodata_->setRange(0, 86400);
    nodata_->setSpecialValueText(QStringLiteral("выключено"));
    coincidence_ = new QSpinBox(this);
    coincidence_->setObjectName(QStringLiteral("coincidence"));
    coincidence_->setRange(1, kMaxChannelSections);
    window_ = new QDoubleSpinBox(this);
    window_->setObjectName(QStringLiteral("window"));
    window_->setRange(0.0, 3600.0);
    window_->setDecimals(1);
    security_note_ = new QLabel(this);
    security_note_->setWordWrap(true);
    security_note_->setStyleSheet(QStringLiteral("color: #8a4b00;"));
    security_note_->hide();

    auto* form = new QFormLayout;
    auto add_row = [&](const char* text, QWidget* field) {
        auto* label = new QLabel(QString::fromUtf8(text), this);
        label->setBuddy(field);
        form->addRow(label, field);
    };
    add_row("Почтовый сервер", server_);
    add_row("Защита соединения", security_);
    form->addRow(QString(), security_note_);
    add_row("Пользователь", user_);
    add_row("Пароль", password_);
    add_row("Отправитель", sender_);
    add_row("Получатель", recipient_);
    add_row("Веб-хук (URL)", webhook_);
    add_row("Нет данных, сигнал через, сек.", nodata_);
    add_row("Совпадение: станций", coincidence_);
    add_row("Окно совпадения, сек.", window_);

    test_ = new QPushButton(QStringLiteral("Тест"), this);
    test_->setObjectName(QStringLiteral("test"));
    test_->setAutoDefault(false);
    test_->setToolTip(QStringLiteral("Отправить тестовое сообщение по всем настроенным путям"));
    answer_ = new QPlainTextEdit(this);
    answer_->setObjectName(QStringLiteral("answer"));
    answer_->setReadOnly(true);
    answer_->setAccessibleName(QStringLiteral("Ответ серверов"));
    answer_->setMaximumBlockCount(500);
    auto* test_row = new QHBoxLayout;
    test_row->addWidget(test_);
    test_row->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(test_row);
    layout->addWidget(answer_, 1);
    connect(test_, &QPushButton::clicked, this, [this] { (void)start_test(); });
}

void AlertsPage::show_values() {
    const AlertSettings& a = settings_.alerts;
    server_->setText(QString::fromStdString(a.server));
    const QString security = QString::fromStdString(a.security);
    int at = security_->findData(security.trimmed().toLower());
    if (at < 0) {
        // A value Zelvik does not know is kept as it is, and marked, until it is changed.
        security_->addItem(QStringLiteral("«%1» (неизвестное значение)").arg(security), security);
        at = security_->count() - 1;
        security_note_->setText(QStringLiteral("В файле SECURITY=%1: Zelvik не знает такого "
                                               "значения. Оно сохраняется как есть, пока вы не "
                                               "выберете другое.")
                                    .arg(security));
        security_note_->show();
    }
    security_->setCurrentIndex(at);
    user_->setText(QString::fromStdString(a.user));
    password_->setText(QString::fromStdString(a.password));
    sender_->setText(QString::fromStdString(a.sender));
    recipient_->setText(QString::fromStdString(a.recipient));
    webhook_->setText(QString::fromStdString(a.webhook));
    // The ranges widen to hold a stored value, so that showing it never changes it.
    nodata_->setRange(std::min(nodata_->minimum(), a.nodata_seconds),
                      std::max(nodata_->maximum(), a.nodata_seconds));
    nodata_->setValue(a.nodata_seconds);
    coincidence_->setRange(std::min(coincidence_->minimum(), a.coincidence),
                           std::max(coincidence_->maximum(), a.coincidence));
    coincidence_->setValue(a.coincidence);
    window_->setDecimals(std::clamp(decimals_of(a.window_seconds), 1, 6));
    window_->setRange(std::min(window_->minimum(), a.window_seconds),
                      std::max(window_->maximum(), a.window_seconds));
    window_->setValue(a.window_seconds);
}

void AlertsPage::connect_fields() {
    AlertSettings& a = settings_.alerts;
    const std::pair<QLineEdit*, std::string*> texts[] = {
        {server_, &a.server}, {user_, &a.user},           {password_, &a.password},
        {sender_, &a.sender}, {recipient_, &a.recipient}, {webhook_, &a.webhook}};
    for (const auto& [field, value] : texts) {
        connect(field, &QLineEdit::textChanged, this,
                [value](const QString& t) { *value = t.toStdString(); });
    }
    connect(security_, &QComboBox::currentIndexChanged, this, [this](int index) {
        settings_.alerts.security = security_->itemData(index).toString().toStdString();
    });
    connect(nodata_, &QSpinBox::valueChanged, this,
            [this](int v) { settings_.alerts.nodata_seconds = v; });
    connect(coincidence_, &QSpinBox::valueChanged, this,
            [this](int v) { settings_.alerts.coincidence = v; });
    connect(window_, &QDoubleSpinBox::valueChanged, this,
            [this](double v) { settings_.alerts.window_seconds = v; });
}

bool AlertsPage::write_test_copy(QString& path, QString& error) {
    test_dir_ = std::make_unique<QTemporaryDir>();
    if (!test_dir_->isValid()) {
        error = QStringLiteral("не удалось создать временную папку");
        return false;
    }
    path = test_dir_->filePath(QStringLiteral("zelvik.ini"));
    // The file as it stands, then this save over it: the test reads every other key
    // (LOG, the outbox folder) as Zelvik will.
    const QString source = QString::fromStdString(config::replace_target(settings_.settings_path));
    if (QFile::exists(source) && !QFile::copy(source, path)) {
        error = QStringLiteral("не удалось скопировать %1").arg(source);
        return false;
    }
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    EditorSettings copy = settings_;
    copy.settings_path = path.toStdString();
    SettingsWriter writer;
    if (!writer.save(copy, params_)) {
        error = QString::fromStdString(writer.last_error());
        return false;
    }
    return true;
}

bool AlertsPage::start_test() {
    if (test_running()) return false;
    answer_->clear();
    QString path;
    QString error;
    if (!write_test_copy(path, error)) {
        answer_->setPlainText(QStringLiteral("Тест не запущен: %1").arg(error));
        return false;
    }
    if (!process_) {
        process_ = new QProcess(this);
        process_->setProcessChannelMode(QProcess::MergedChannels);
        connect(process_, &QProcess::readyRead, this, [this] {
            while (process_->canReadLine())
                answer_->appendPlainText(QString::fromUtf8(process_->readLine()).trimmed());
        });
        connect(process_, &QProcess::finished, this, [this](int code, QProcess::ExitStatus how) {
            const QString rest = QString::fromUtf8(process_->readAll()).trimmed();
            if (!rest.isEmpty()) answer_->appendPlainText(rest);
            // A crash is a failed test whatever exit code the platform reports.
            test_ended(how == QProcess::NormalExit ? code : -1);
        });
        connect(process_, &QProcess::errorOccurred, this, [this](QProcess::ProcessError e) {
            if (e != QProcess::FailedToStart) return;
            answer_->appendPlainText(QStringLiteral("Не удалось запустить %1: %2")
                                         .arg(zelvik_, process_->errorString()));
            test_ended(-1);
        });
    }
    answer_->setPlainText(QStringLiteral("Отправка тестового сообщения..."));
    test_->setEnabled(false);
    // The test dialogue with a server that does not answer is bounded by zelvik's own
    // time-outs; the window stays usable meanwhile.
    process_->setWorkingDirectory(test_dir_->path());
    process_->start(zelvik_, {QStringLiteral("--test-alert"), QStringLiteral("--config"), path});
    return true;
}

bool AlertsPage::test_running() const {
    return process_ && process_->state() != QProcess::NotRunning;
}

void AlertsPage::test_ended(int exit_code) {
    test_->setEnabled(true);
    answer_->appendPlainText(exit_code == 0
                                 ? QStringLiteral("Тест пройден: все пути приняли сообщение.")
                                 : QStringLiteral("Тест не пройден (код %1).").arg(exit_code));
    test_dir_.reset();
    emit test_finished(exit_code);
}

}  // namespace zelvik::editor::ui
