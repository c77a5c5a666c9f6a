// Fourth tab, "Оповещение": where alerts go (mail server, its security and login, sender,
// recipient, webhook) and when the alarm rises (NODATA, COINCIDENCE, WINDOW). "Тест"
// saves the page's values into a copy of the settings file and runs `zelvik --test-alert`
// on it as a child process, so the operator sees each server's answer before saving.
#pragma once

#include <QWidget>
#include <memory>

#include "editor/connection_params.h"
#include "editor/editor_settings.h"

class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProcess;
class QPushButton;
class QSpinBox;
class QTemporaryDir;

namespace zelvik::editor::ui {

class AlertsPage : public QWidget {
    Q_OBJECT
public:
    // Both objects must outlive the page; the test uses them as they stand when it starts.
    AlertsPage(EditorSettings& settings, const ConnectionParams& params, QWidget* parent = nullptr);
    ~AlertsPage() override;

    // The program "Тест" runs; by default `zelvik` beside this program.
    void set_zelvik_program(const QString& path) { zelvik_ = path; }
    // Starts the test; false (with the reason in the answer field) when it cannot start.
    bool start_test();
    bool test_running() const;
    QPlainTextEdit* answer() const { return answer_; }

signals:
    void test_finished(int exit_code);

private:
    void build_form();
    void show_values();
    void connect_fields();
    bool write_test_copy(QString& path, QString& error);
    void test_ended(int exit_code);

    EditorSettings& settings_;
    const ConnectionParams& params_;
    QString zelvik_;
    QLineEdit* server_ = nullptr;
    QComboBox* security_ = nullptr;
    QLineEdit* user_ = nullptr;
    QLineEdit* password_ = nullptr;
    QLineEdit* sender_ = nullptr;
    QLineEdit* recipient_ = nullptr;
    QLineEdit* webhook_ = nullptr;
    QSpinBox* nodata_ = nullptr;
    QSpinBox* coincidence_ = nullptr;
    QDoubleSpinBox* window_ = nullptr;
    QLabel* security_note_ = nullptr;
    QPushButton* test_ = nullptr;
    QPlainTextEdit* answer_ = nullptr;
    QProcess* process_ = nullptr;
    std::unique_ptr<QTemporaryDir> test_dir_;  // the copy the running test reads
};

}  // namespace zelvik::editor::ui
