// The sound page, the data source page and the window's save flow with real widgets.
#include <sys/stat.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTabWidget>
#include <QtTest>

#include "config/ini_file.h"
#include "editor/ui/data_source_page.h"
#include "editor/ui/settings_dialog.h"
#include "editor/ui/sound_page.h"
#include "tests/editor/ui_test_support.h"
#include "tests/support/store_fixture.h"

namespace zelvik::editor::ui::test {

class PagesTest : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<zelvik::test::SqliteTestStore> store_;

    static QPushButton* button_in(QWidget* w, const char* text) {
        for (QPushButton* b : w->findChildren<QPushButton*>())
            if (b->text() == QString::fromUtf8(text)) return b;
        qFatal("no button %s", text);
    }
    // System data sources go into the fixture's odbc.ini, which unixODBC reads as the
    // system file (it keeps the system path of its first look-up for the process); the
    // user ones into a file of this test that ODBCINI names.
    void machine_sources(const zelvik::test::TempDir& dir, const std::vector<std::string>& system,
                         const std::vector<std::string>& user) {
        for (const std::string& n : system) zelvik::test::add_odbc_alias(n, store_->dsn());
        std::string text;
        for (const std::string& n : user)
            text += "[" + n + "]\nDriver=" + zelvik::test::kSqliteDriver +
                    "\nDatabase=" + store_->file() + "\n\n";
        dir.write("user.ini", text);
        ::setenv("ODBCINI", dir.file("user.ini").c_str(), 1);
    }

private slots:
    void initTestCase() { store_ = std::make_unique<zelvik::test::SqliteTestStore>(); }
    void cleanup() {
        close_all_boxes();
        QTRY_COMPARE(BackgroundCall::running(), 0);
    }

    void sound_values_outside_the_range_shown_and_kept() {
        EditorSettings s;
        s.max_repeats = 0;
        s.pause_seconds = 900;
        s.wav_file = "/snd/a.wav";
        SoundPage page(s);
        // Shown as stored, with a note; the model keeps them until they are changed.
        QCOMPARE(page.repeats()->value(), 0);
        QCOMPARE(page.pause()->value(), 900);
        QCOMPARE(s.max_repeats, 0);
        QCOMPARE(s.pause_seconds, 900);
        QVERIFY(!page.repeats_note()->isHidden());
        QVERIFY(page.repeats_note()->text().contains(QStringLiteral("В файле 0")));
        page.wav_field()->clear();
        QCOMPARE(s.wav_file, std::string());
        page.repeats()->setValue(250);
        QCOMPARE(s.max_repeats, 100);
        EditorSettings inside;
        inside.max_repeats = 1;
        SoundPage at_limit(inside);
        QCOMPARE(inside.max_repeats, 1);
        QVERIFY(at_limit.repeats_note()->isHidden());
    }

    void data_sources_system_first_with_prefix_selection() {
        zelvik::test::TempDir dir;
        machine_sources(dir, {"SEIS2"}, {"SEIS", "Other Store"});
        ConnectionParams p{"SEIS", "u", "pw", "/d"};
        DataSourcePage page(p);
        QComboBox* list = page.data_sources();
        QStringList lines;
        for (int i = 0; i < list->count(); ++i) lines << list->itemText(i);
        const int seis2 = lines.indexOf(QStringLiteral("SEIS2 (System DSN)"));
        const int seis = lines.indexOf(QStringLiteral("SEIS (User DSN)"));
        const int other = lines.indexOf(QStringLiteral("Other Store (User DSN)"));
        QVERIFY2(seis2 >= 0 && seis > seis2 && other > seis2, qPrintable(lines.join("|")));
        // SEIS2 begins with SEIS and system data sources come first.
        QCOMPARE(list->currentIndex(), seis2);
        QCOMPARE(p.data_source, std::string("SEIS"));  // selecting at start changes nothing
        list->setCurrentIndex(other);
        QCOMPARE(p.data_source, std::string("Other Store"));
        QCOMPARE(page.password_field()->echoMode(), QLineEdit::Password);
        QTest::keyClicks(page.user_field(), "X");
        QCOMPARE(p.user, std::string("uX"));

        ConnectionParams unknown{"NOTLISTED", "", "", ""};
        DataSourcePage none(unknown);
        QCOMPARE(none.data_sources()->currentIndex(), -1);
    }

    void connection_test_reports_tables_or_the_error() {
        zelvik::test::TempDir dir;
        machine_sources(dir, {}, {"Good", "Bad"});
        dir.write("user.ini", zelvik::test::read_file(dir.file("user.ini")) +
                                  "[Bad]\nDriver=/nonexistent/driver.so\n");
        ConnectionParams p{"Good", "ops", "Secret-1", ""};
        DataSourcePage page(p);
        page.show();
        page.test_button()->click();
        QTRY_VERIFY(!page.busy());
        QTRY_COMPARE(boxes_with(QStringLiteral("Количество таблиц: ")).size(), 1);
        QMessageBox* report =
            boxes_with(QStringLiteral("Успешное подключение к DSN: Good\t\r\n")).value(0);
        QVERIFY(report);
        QCOMPARE(report->windowTitle(), QStringLiteral("Подключение к источнику данных!"));
        QVERIFY(report->text().contains(QStringLiteral("\tSITECHAN\r\n")));
        QVERIFY(!all_box_texts().contains(QStringLiteral("Secret-1")));
        close_all_boxes();

        page.data_sources()->setCurrentIndex(1);
        page.test_button()->click();
        QTRY_VERIFY(!page.busy());
        QTRY_COMPARE(boxes_with(QStringLiteral("произошла ошибка")).size(), 1);
        QVERIFY(!all_box_texts().contains(QStringLiteral("Secret-1")));
    }

    void odbc_admin_without_a_tool_names_the_files() {
        if (!odbc_admin_program().isEmpty()) QSKIP("an ODBC configuration program is installed");
        zelvik::test::TempDir dir;
        machine_sources(dir, {}, {"Good"});
        ConnectionParams p;
        DataSourcePage page(p);
        page.show();
        page.open_odbc_admin();
        QTRY_COMPARE(boxes_with(dir.file("user.ini").c_str()).size(), 1);
        QVERIFY(all_box_texts().contains(QStringLiteral("odbcinst.ini")));
    }

    void apply_then_cancel_keeps_what_was_applied() {
        zelvik::test::TempDir dir;
        EditorSettings s;
        s.settings_path = dir.write("zelvik.ini", "[ALARM]\nSILENCE=30\n");
        ConnectionParams p{"D", "u", "p", "/d"};
        SettingsDialog dialog(s, p);
        dialog.show();
        QCOMPARE(dialog.tabs()->count(), 4);
        QCOMPARE(dialog.tabs()->tabText(0), QStringLiteral("Просмотр каналов"));
        dialog.tabs()->setCurrentIndex(2);
        dialog.sound_page()->pause()->setValue(45);
        dialog.tabs()->setCurrentIndex(0);  // the page lives on while hidden
        dialog.tabs()->setCurrentIndex(2);
        QCOMPARE(dialog.sound_page()->pause()->value(), 45);
        field<QPushButton>(&dialog, "apply")->click();
        QVERIFY(dialog.isVisible());
        dialog.sound_page()->pause()->setValue(99);
        field<QPushButton>(&dialog, "cancel")->click();
        QVERIFY(!dialog.isVisible());
        QCOMPARE(config::ini::read_int(s.settings_path, "ALARM", "SILENCE", 0), 45);
    }

    void failed_save_is_told_and_the_window_stays() {
        zelvik::test::TempDir dir;
        const std::string original = "[ALARM]\nSILENCE=30\n";
        EditorSettings s;
        s.settings_path = dir.write("zelvik.ini", original);
        ::chmod(s.settings_path.c_str(), 0444);
        ConnectionParams p{"D", "u", "Pw-Never-Shown", "/d"};
        SettingsDialog dialog(s, p);
        dialog.show();
        field<QPushButton>(&dialog, "ok")->click();
        QTRY_COMPARE(boxes_with(QString::fromStdString(s.settings_path)).size(), 1);
        QVERIFY(all_box_texts().contains(QStringLiteral("защищён")));
        QVERIFY(!all_box_texts().contains(QStringLiteral("Pw-Never-Shown")));
        QVERIFY(dialog.isVisible());
        QCOMPARE(zelvik::test::read_file(s.settings_path), original);
    }
};

}  // namespace zelvik::editor::ui::test

QObject* make_pages_test() {
    return new zelvik::editor::ui::test::PagesTest;
}

#include "pages_ui_test.moc"
