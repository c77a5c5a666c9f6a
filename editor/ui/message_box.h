// The editor's message boxes, all with the program name as caption unless a caption is
// given. show_message does not block: the box is window-modal and deletes itself.
#pragma once

#include <QMessageBox>
#include <QString>
#include <string>

namespace zelvik::editor::ui {

inline const QString kProgramName = QStringLiteral("ZelvikCfg");

QMessageBox* show_message(QWidget* parent, QMessageBox::Icon icon, const QString& text,
                          const QString& caption = kProgramName);
// Asks with Yes and No and a question icon; true on Yes. Blocks in a nested loop.
bool ask_yes_no(QWidget* parent, const QString& text);

}  // namespace zelvik::editor::ui

namespace zelvik::editor::ui {
// The connection error box: caption "Ошибка при подключении к базе данных", the text
// with the driver's message behind it.
QMessageBox* show_connection_error(QWidget* parent, const std::string& driver_message);
}  // namespace zelvik::editor::ui
