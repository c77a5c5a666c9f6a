// Second tab, "Источник данных": the data source chosen from the driver manager's
// list, user, password, data directory, the connection test and the way to the ODBC
// configuration. Keeps ConnectionParams current as the operator types.
#pragma once

#include <QWidget>

#include "editor/connection_params.h"

class QComboBox;
class QLineEdit;
class QPushButton;

namespace zelvik::editor::ui {

class DataSourcePage : public QWidget {
    Q_OBJECT
public:
    // `params` must outlive the page.
    explicit DataSourcePage(ConnectionParams& params, QWidget* parent = nullptr);

    QComboBox* data_sources() const { return sources_; }
    QLineEdit* user_field() const { return user_; }
    QLineEdit* password_field() const { return password_; }
    QLineEdit* data_dir_field() const { return data_dir_; }
    QPushButton* test_button() const { return test_; }
    bool busy() const { return busy_; }

    void run_test();
    void take_over_fields();  // the page's OK
    void open_odbc_admin();
    void choose_folder();

private:
    void fill_sources();

    ConnectionParams& params_;
    QComboBox* sources_ = nullptr;
    QLineEdit* user_ = nullptr;
    QLineEdit* password_ = nullptr;
    QLineEdit* data_dir_ = nullptr;
    QPushButton* test_ = nullptr;
    bool busy_ = false;
};

// The program that configures ODBC data sources on this machine, empty when none is
// installed.
QString odbc_admin_program();

}  // namespace zelvik::editor::ui
