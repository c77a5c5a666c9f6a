// The window as an operator drives it: an untouched "Применить" leaves the file as it
// was, a value mended without being asked is marked and asked about, OK answers Enter,
// Escape asks before losing changes, and the alerts page is saved key by key and its
// "Тест" reaches a real SMTP server (aiosmtpd with STARTTLS and AUTH) through zelvik.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTabWidget>
#include <QtTest>

#include "config/ini_file.h"
#include "editor/ui/alerts_page.h"
#include "editor/ui/channel_table_view.h"
#include "editor/ui/settings_dialog.h"
#include "editor/ui/sound_page.h"
#include "tests/editor/ui_test_support.h"
#include "tests/support/smtp_test_servers.h"
#include "tests/support/temp_dir.h"

namespace zelvik::editor::ui::test {

class SettingsDialogTest : public QObject {
    Q_OBJECT
private:
    static QPushButton* button(QWidget* dialog, const char* name) {
        return field<QPushButton>(dialog, name);
    }

private slots:
    void cleanup() {
        close_all_boxes();
        QTRY_COMPARE(BackgroundCall::running(), 0);
    }

    void untouched_apply_leaves_the_file_as_it_was() {
        zelvik::test::TempDir dir;
        const std::string original =
            "[ALARM]\nMAXDURATION=120\n[SYSTEM]\nTHREADS=1\n"
            "[THREAD0]\nSTATION=KIV\nCHANNEL=SHZ\nSTA=1.5\nLTA=30\nThreshold=5\nORDER=1\n";
        EditorSettings s;
        s.settings_path = dir.write("zelvik.ini", original);
        ConnectionParams p;
        SettingsDialog dialog(s, p);
        dialog.show();
        QCOMPARE(dialog.sound_page()->repeats()->value(), 120);
        QVERIFY(!dialog.has_unsaved_changes());
        button(&dialog, "apply")->click();
        QVERIFY2(boxes_with(QString()).isEmpty(), qPrintable(all_box_texts()));
        QCOMPARE(zelvik::test::read_file(s.settings_path), original);
    }

    void value_mended_unasked_is_marked_and_asked() {
        zelvik::test::TempDir dir;
        const std::string original =
            "[SYSTEM]\nTHREADS=5\n[THREAD0]\nSTATION=A\n[THREAD1]\nSTATION=B\n";
        EditorSettings s;
        s.settings_path = dir.write("zelvik.ini", original);
        ConnectionParams p;
        SettingsDialog dialog(s, p);
        dialog.show();
        auto* note = field<QLabel>(&dialog, "threads_note");
        QVERIFY(note->isVisible());
        QVERIFY(note->text().contains(QStringLiteral("будет записано THREADS=2")));
        answer_next_question(QMessageBox::No);
        button(&dialog, "apply")->click();
        QCOMPARE(zelvik::test::read_file(s.settings_path), original);
        QString asked;
        auto* timer = new QTimer(&dialog);
        connect(timer, &QTimer::timeout, [&] {
            for (QMessageBox* b : boxes_with(QStringLiteral("которых вы не меняли"))) {
                asked = b->text();
                b->button(QMessageBox::Yes)->click();
            }
        });
        timer->start(20);
        button(&dialog, "apply")->click();
        timer->stop();
        QVERIFY(asked.contains(QStringLiteral("[SYSTEM] THREADS: 5 → 2")));
        QCOMPARE(config::ini::read_int(s.settings_path, "SYSTEM", "THREADS", 0), 2);
    }

    void enter_and_escape() {
        zelvik::test::TempDir dir;
        EditorSettings s;
        s.settings_path =
            dir.write("zelvik.ini", "[SYSTEM]\nTHREADS=1\n[THREAD0]\nSTATION=A\nSTA=1\nLTA=10\n");
        ConnectionParams p;
        SettingsDialog dialog(s, p);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QVERIFY(button(&dialog, "ok")->isDefault());
        // Enter on a selected row edits it instead of closing the window.
        ChannelPage* page = dialog.channel_page();
        page->select_row(0);
        QString title;
        on_next_dialog(page, [&](ChannelDialog* d) { title = d->windowTitle(); });
        QTest::keyClick(page->table(), Qt::Key_Return);
        QCOMPARE(title, QStringLiteral("Изменение канала..."));
        QVERIFY(dialog.isVisible());
        // Escape with a change asks; "No" keeps the window, "Yes" closes it unsaved.
        dialog.tabs()->setCurrentIndex(2);
        dialog.sound_page()->pause()->setValue(45);
        answer_next_question(QMessageBox::No);
        QTest::keyClick(&dialog, Qt::Key_Escape);
        QVERIFY(dialog.isVisible());
        answer_next_question(QMessageBox::Yes);
        QTest::keyClick(&dialog, Qt::Key_Escape);
        QVERIFY(!dialog.isVisible());
        QCOMPARE(config::ini::read_int(s.settings_path, "ALARM", "SILENCE", 0), 0);
    }

    void alerts_page_saved_key_by_key_and_tested() {
        zelvik::test::TempDir dir, tls, mails;
        std::string cert, key;
        QVERIFY(testing::make_test_certificate(tls.path(), "DNS:localhost", cert, key));
        testing::SmtpSinkProcess sink(mails.path(),
                                      {"--starttls", cert, key, "--auth", "zelvik", "s3cret"});
        QVERIFY2(sink.port() != 0, sink.error().c_str());
        EditorSettings s;
        s.settings_path =
            dir.write("zelvik.ini",
                      "[LOG]\nDIR=" + dir.path() + "\n[MAIL]\nNETWORK=XX\nCAFILE=" + cert + "\n");
        ConnectionParams p;
        SettingsDialog dialog(s, p);
        dialog.show();
        AlertsPage* page = dialog.alerts_page();
        page->set_zelvik_program(QStringLiteral(ZELVIK_BINARY));
        dialog.tabs()->setCurrentWidget(page);
        QCOMPARE(field<QLineEdit>(page, "password")->echoMode(), QLineEdit::Password);
        QCOMPARE(field<QSpinBox>(page, "nodata")->value(), 600);  // Zelvik's default
        field<QLineEdit>(page, "server")->setText(QStringLiteral("localhost:%1").arg(sink.port()));
        auto* security = field<QComboBox>(page, "security");
        security->setCurrentIndex(security->findData(QStringLiteral("starttls")));
        QTest::keyClicks(field<QLineEdit>(page, "user"), "zelvik");
        QTest::keyClicks(field<QLineEdit>(page, "password"), "s3cret");
        QTest::keyClicks(field<QLineEdit>(page, "sender"), "z@example.org");
        QTest::keyClicks(field<QLineEdit>(page, "recipient"), "ops@example.org");
        field<QSpinBox>(page, "coincidence")->setValue(2);

        QSignalSpy finished(page, &AlertsPage::test_finished);
        button(page, "test")->click();
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 60000);
        const QString answer = page->answer()->toPlainText();
        QCOMPARE(finished.front().front().toInt(), 0);
        QVERIFY2(answer.contains(QStringLiteral("250")), qPrintable(answer));
        QVERIFY2(!answer.contains(QStringLiteral("s3cret")), qPrintable(answer));
        QCOMPARE(sink.wait_for_mails(1, std::chrono::seconds(10)), size_t(1));
        QVERIFY(config::ini::read_section(s.settings_path, "ALARM").empty());  // not saved yet

        button(&dialog, "apply")->click();
        const std::string& f = s.settings_path;
        auto mail = [&](const char* k) { return config::ini::read_string(f, "MAIL", k, "-", 512); };
        QCOMPARE(mail("SERVER"), "localhost:" + std::to_string(sink.port()));
        QCOMPARE(mail("SECURITY"), std::string("starttls"));
        QCOMPARE(mail("USER"), std::string("zelvik"));
        QCOMPARE(mail("PASSWORD"), std::string("s3cret"));
        QCOMPARE(mail("NETWORK"), std::string("XX"));
        QCOMPARE(mail("CAFILE"), cert);
        QCOMPARE(mail("WEBHOOK"), std::string("-"));  // untouched: not added
        QCOMPARE(config::ini::read_int(f, "ALARM", "COINCIDENCE", 0), 2);
        QCOMPARE(config::ini::read_int(f, "ALARM", "NODATA", -1), -1);
    }
};

}  // namespace zelvik::editor::ui::test

QObject* make_settings_dialog_test() {
    return new zelvik::editor::ui::test::SettingsDialogTest;
}

#include "settings_dialog_ui_test.moc"
