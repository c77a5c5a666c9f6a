// Message boxes of the editor.
#include "editor/ui/message_box.h"

namespace zelvik::editor::ui {

QMessageBox* show_message(QWidget* parent, QMessageBox::Icon icon, const QString& text,
                          const QString& caption) {
    auto* box = new QMessageBox(icon, caption, text, QMessageBox::Ok, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    box->open();
    return box;
}

bool ask_yes_no(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::Question, kProgramName, text, QMessageBox::Yes | QMessageBox::No,
                    parent);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

}  // namespace zelvik::editor::ui

namespace zelvik::editor::ui {

QMessageBox* show_connection_error(QWidget* parent, const std::string& driver_message) {
    return show_message(
        parent, QMessageBox::Critical,
        QStringLiteral("При попытке подключения к базе данных произошла ошибка:\r\n") +
            QString::fromStdString(driver_message),
        QStringLiteral("Ошибка при подключении к базе данных"));
}

}  // namespace zelvik::editor::ui
