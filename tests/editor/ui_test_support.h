// Helpers of the ZelvikCfg widget tests: finding and answering the boxes the editor
// opens, and driving a channel dialog that the page runs modally.
#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTimer>
#include <QtTest>
#include <functional>

#include "editor/ui/background_call.h"
#include "editor/ui/channel_dialog.h"
#include "editor/ui/channel_page.h"

namespace zelvik::editor::ui::test {

// The visible message boxes whose text contains `text`.
inline QList<QMessageBox*> boxes_with(const QString& text) {
    QList<QMessageBox*> found;
    for (QWidget* w : QApplication::allWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(w);
        if (box && box->isVisible() && box->text().contains(text)) found.push_back(box);
    }
    return found;
}

// Every visible message box's text, joined (for failure output and secret checks).
inline QString all_box_texts() {
    QString all;
    for (QMessageBox* b : boxes_with(QString())) all += b->windowTitle() + "|" + b->text() + "\n";
    return all;
}

inline void close_all_boxes() {
    for (QMessageBox* b : boxes_with(QString())) b->done(QMessageBox::Ok);
}

// Clicks `button` on the next question box that appears (the page's delete question
// blocks in its own loop, so the answer is given from a timer).
inline void answer_next_question(QMessageBox::StandardButton button) {
    auto* timer = new QTimer;
    timer->setInterval(20);
    QObject::connect(timer, &QTimer::timeout, [timer, button] {
        for (QMessageBox* b : boxes_with(QString())) {
            if (QAbstractButton* target = b->button(button)) {
                timer->stop();
                timer->deleteLater();
                target->click();
                return;
            }
        }
    });
    timer->start();
}

// Runs `steps` on the next channel dialog `page` opens; the dialog is cancelled
// afterwards if the steps did not end it, so a failing step never hangs the test.
inline void on_next_dialog(ChannelPage* page, std::function<void(ChannelDialog*)> steps) {
    auto* conn = new QMetaObject::Connection;
    *conn = QObject::connect(page, &ChannelPage::dialog_opened, [conn, steps](QDialog* d) {
        QObject::disconnect(*conn);
        delete conn;
        auto* dialog = static_cast<ChannelDialog*>(d);
        QTimer::singleShot(0, dialog, [dialog, steps] {
            steps(dialog);
            if (dialog->isVisible()) {
                close_all_boxes();
                dialog->reject();
            }
        });
    });
}

template <class W>
W* field(QWidget* parent, const char* name) {
    W* w = parent->findChild<W*>(QString::fromLatin1(name));
    if (!w) qFatal("no field %s", name);
    return w;
}

}  // namespace zelvik::editor::ui::test
