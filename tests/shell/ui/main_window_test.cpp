// The main window offscreen: start state and column widths, the exit question and what
// "yes" and "no" leave behind, blinking, updates posted from another thread, the editor
// start (missing program and a stand-in script), Enter on a row, and the stalled
// row's picture. The runs with the real engine are in main_window_engine_test.cpp.
#include <QApplication>
#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <QThread>

#include <sys/stat.h>

#include <cstdlib>
#include <memory>
#include <thread>

#include "config/ini_file.h"
#include "shell/engine.h"
#include "shell/ui/channel_table_model.h"
#include "shell/ui/editor_launcher.h"
#include "shell/ui/main_window.h"
#include "shell/ui/qt_engine_events.h"
#include "shell/ui/state_pictures.h"
#include "tests/support/engine_fixture.h"
#include "tests/support/temp_dir.h"

using zelvik::shell::ChannelView;
using zelvik::shell::ui::ChannelTableModel;
using zelvik::shell::ui::MainWindow;
using zelvik::shell::ui::WindowSetup;
using zelvik::test::TempDir;

namespace {

const char* const kSettings = "[SYSTEM]\nTHREADS=0\n[LIST]\nKEEP=1\n";

WindowSetup setup_for(const TempDir& dir) {
    WindowSetup s;
    s.caption = QStringLiteral("Zelvik (v.20140306) DSN:demo/user Data:/data");
    s.settings_path = QString::fromStdString(dir.file("zelvik.ini"));
    s.editor_dirs = {QString::fromStdString(dir.file("bin"))};
    return s;
}

std::vector<ChannelView> two_channels() {
    std::vector<ChannelView> rows(2);
    rows[0].settings.index = 0;
    rows[0].settings.station = "ZZZ";
    rows[1].settings.index = 1;
    rows[1].settings.station = "AAA";
    for (ChannelView& r : rows) r.state = zelvik::detect::ChannelState::kRunning;
    return rows;
}

bool same_picture(const QPixmap& a, const QPixmap& b) {
    return a.toImage().convertToFormat(QImage::Format_ARGB32) ==
           b.toImage().convertToFormat(QImage::Format_ARGB32);
}

QString hdrsize(const std::string& ini) {
    return QString::fromStdString(
        zelvik::config::ini::read_string(ini, "LISTBOXHEADER", "HDRSIZE", "", 128));
}

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private slots:
    void cleanup();
    void starts_quiet_with_sixth_widths();
    void saved_widths_are_applied();
    void exit_yes_writes_the_widths();
    void exit_no_changes_nothing();
    void alarm_blinks_and_stops();
    void engine_thread_updates_arrive_on_the_gui_thread();
    void missing_editor_gives_the_warning_box();
    void editor_gets_the_settings_file();
    void enter_and_double_click_name_the_channel();
    void stalled_rows_show_their_picture_tooltip_and_count();
};

void MainWindowTest::cleanup() {
    QVERIFY(QApplication::topLevelWidgets().isEmpty());
}

void MainWindowTest::starts_quiet_with_sixth_widths() {
    TempDir dir("zelvik-window");
    dir.write("zelvik.ini", kSettings);
    MainWindow w(setup_for(dir));
    QCOMPARE(w.windowTitle(), QString("Zelvik (v.20140306) DSN:demo/user Data:/data"));
    QCOMPARE(w.minimumSize(), w.maximumSize());
    QCOMPARE(w.info_text()->text(), QString("info"));
    QCOMPARE(w.alarm_text()->text(), QString());
    QVERIFY(w.sound_box()->isChecked());
    QVERIFY(!w.stop_alarm_button()->isEnabled());
    QVERIFY(!w.blinking());
    QVERIFY(same_picture(w.indicator()->pixmap(),
                         zelvik::shell::ui::indicator_picture(
                             false, std::min(w.indicator()->width(), w.indicator()->height()))));
    const int sixth = (w.list()->width() - 2 * w.list()->frameWidth()) / 6;
    QVERIFY(sixth > 20);
    for (int width : w.column_widths()) QCOMPARE(width, sixth);
    QCOMPARE(w.model()->headerData(4, Qt::Horizontal, Qt::DisplayRole).toString(),
             QString("Last count time"));
    QCOMPARE(w.editor_action()->text(), QString::fromUtf8("Конфигурация"));
}

void MainWindowTest::saved_widths_are_applied() {
    TempDir dir("zelvik-window");
    dir.write("zelvik.ini", std::string(kSettings) +
                                "[LISTBOXHEADER]\nHDRSIZE=30,40,50,60,70,80,90,100,110,120,0,5\n");
    MainWindow w(setup_for(dir));
    const int sixth = (w.list()->width() - 2 * w.list()->frameWidth()) / 6;
    // 0 keeps the column's own width.
    QCOMPARE(w.column_widths(),
             std::vector<int>({30, 40, 50, 60, 70, 80, 90, 100, 110, 120, sixth, 5}));
}

void MainWindowTest::exit_yes_writes_the_widths() {
    TempDir dir("zelvik-window");
    const std::string ini = dir.write("zelvik.ini", kSettings);
    MainWindow w(setup_for(dir));
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QVERIFY(hdrsize(ini).isEmpty());
    w.list()->setColumnWidth(3, 77);
    QTest::keyClick(&w, Qt::Key_Escape);
    QVERIFY(w.question_box() != nullptr);
    QCOMPARE(w.question_box()->text(), QString("Are you sure to exit Zelvik?"));
    QCOMPARE(w.question_box()->windowTitle(), QString("Zelvik"));
    QCOMPARE(w.question_box()->icon(), QMessageBox::Question);
    w.question_box()->button(QMessageBox::Yes)->click();
    QTRY_VERIFY(!w.isVisible());
    QCOMPARE(w.result(), int(QDialog::Accepted));
    QStringList expected;
    for (int width : w.column_widths()) expected << QString::number(width);
    QCOMPARE(hdrsize(ini), expected.join(','));
    QVERIFY(hdrsize(ini).split(',').at(3) == "77");
    // The other lines of the file stay as they were.
    QVERIFY(QString::fromStdString(zelvik::test::read_file(ini)).contains("[LIST]\nKEEP=1\n"));
}

void MainWindowTest::exit_no_changes_nothing() {
    TempDir dir("zelvik-window");
    const std::string ini = dir.write("zelvik.ini", kSettings);
    MainWindow w(setup_for(dir));
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    for (int round = 0; round < 2; ++round) {
        if (round == 0)
            w.exit_button()->click();
        else
            w.close();  // the close box
        QVERIFY(w.question_box() != nullptr);
        w.question_box()->button(QMessageBox::No)->click();
        QTRY_VERIFY(w.question_box() == nullptr);
        QVERIFY(w.isVisible());
    }
    QCOMPARE(zelvik::test::read_file(ini), std::string(kSettings));
}

void MainWindowTest::alarm_blinks_and_stops() {
    TempDir dir("zelvik-window");
    dir.write("zelvik.ini", kSettings);
    MainWindow w(setup_for(dir));
    const int size = std::min(w.indicator()->width(), w.indicator()->height());
    w.show_alarm(true, QStringLiteral("!!! A L A R M !!!"));
    QVERIFY(w.blinking());
    QVERIFY(w.stop_alarm_button()->isEnabled());
    QCOMPARE(w.alarm_text()->text(), QString("!!! A L A R M !!!"));
    QTRY_VERIFY(w.indicator_lit());
    QVERIFY(
        same_picture(w.indicator()->pixmap(), zelvik::shell::ui::indicator_picture(true, size)));
    QTRY_VERIFY(!w.indicator_lit());  // and back, every 100 ms
    // A second "on" while blinking restarts the 100 ms period.
    QTest::qWait(60);
    w.show_alarm(true, QStringLiteral("!!! A L A R M !!!"));
    QVERIFY(w.blink_remaining_ms() > 60);
    QTRY_VERIFY(w.indicator_lit());
    w.show_alarm(false, QString());
    QVERIFY(!w.blinking());
    QVERIFY(!w.indicator_lit());
    QVERIFY(!w.stop_alarm_button()->isEnabled());
    QVERIFY(
        same_picture(w.indicator()->pixmap(), zelvik::shell::ui::indicator_picture(false, size)));
    QVERIFY(
        same_picture(w.windowIcon().pixmap(32), zelvik::shell::ui::window_icon(false).pixmap(32)));
    QTest::qWait(250);
    QVERIFY(!w.indicator_lit());
}

void MainWindowTest::engine_thread_updates_arrive_on_the_gui_thread() {
    TempDir dir("zelvik-window");
    dir.write("zelvik.ini", kSettings);
    MainWindow w(setup_for(dir));
    zelvik::shell::ui::QtEngineEvents events(&w, nullptr);
    QThread* seen = nullptr;
    connect(
        w.model(), &QAbstractItemModel::modelReset, this, [&] { seen = QThread::currentThread(); },
        Qt::DirectConnection);
    std::thread engine_thread([&] {
        events.info_changed("duration: 120  silence: 30");
        events.channels_changed(two_channels());
        events.alarm_changed(true, "!!! A L A R M !!!");
    });
    engine_thread.join();
    // Nothing is applied on the calling thread: it all waits for the GUI event loop.
    QCOMPARE(w.model()->rowCount(), 0);
    QTRY_COMPARE(w.model()->rowCount(), 2);
    QCOMPARE(seen, QThread::currentThread());
    QTRY_COMPARE(w.info_text()->text(), QString("duration: 120  silence: 30"));
    QTRY_VERIFY(w.blinking());
}

void MainWindowTest::missing_editor_gives_the_warning_box() {
    TempDir dir("zelvik-window");
    dir.write("zelvik.ini", kSettings);
    dir.write("bin/readme", "no editor here");
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QByteArray::fromStdString(dir.file("bin")));
    MainWindow w(setup_for(dir));
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.editor_action()->trigger();
    qputenv("PATH", path);
    QMessageBox* box = nullptr;
    QTRY_VERIFY((box = w.findChild<QMessageBox*>()) != nullptr && box->isVisible());
    QCOMPARE(box->text(), QString::fromUtf8("Не удалось обнаружить файл zelvikcfg"));
    QCOMPARE(box->icon(), QMessageBox::Warning);
    QVERIFY(!w.editor()->running());
    box->button(QMessageBox::Ok)->click();
    QVERIFY(w.isVisible());
}

void MainWindowTest::editor_gets_the_settings_file() {
    TempDir dir("zelvik-window");
    const std::string ini = dir.write("zelvik.ini", kSettings);
    const std::string args = dir.file("args.txt");
    const std::string script =
        dir.write("bin/zelvikcfg", "#!/bin/sh\nprintf '%s|%s' \"$1\" \"$(pwd)\" > '" + args +
                                       ".tmp'\nmv '" + args + ".tmp' '" + args + "'\n");
    ::chmod(script.c_str(), 0755);
    MainWindow w(setup_for(dir));
    QSignalSpy ended(w.editor(), &zelvik::shell::ui::EditorLauncher::editor_finished);
    QCOMPARE(w.editor()->find_program(), QString::fromStdString(script));
    w.editor_action()->trigger();
    QVERIFY(w.findChild<QMessageBox*>() == nullptr);
    QTRY_COMPARE_WITH_TIMEOUT(QString::fromStdString(zelvik::test::read_file(args)),
                              QString::fromStdString(ini + "|" + dir.path()), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 1, 10000);
    QVERIFY(!w.editor()->running());
}

void MainWindowTest::enter_and_double_click_name_the_channel() {
    TempDir dir("zelvik-window");
    dir.write("zelvik.ini", kSettings);
    MainWindow w(setup_for(dir));
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.show_rows(two_channels());
    w.model()->sort_by_header(ChannelTableModel::kStationColumn);  // AAA (1) now on top
    QSignalSpy activated(&w, &MainWindow::channel_activated);
    w.list()->setFocus();
    w.list()->selectRow(0);
    QTest::keyClick(w.list(), Qt::Key_Return);
    QCOMPARE(activated.count(), 1);
    QCOMPARE(activated.at(0).at(0).toInt(), 1);
    QVERIFY(w.isVisible() && w.question_box() == nullptr);  // Enter is not Exit
    const QRect cell = w.list()->visualRect(w.model()->index(1, 1));
    // The press that precedes every double click names the row it was made on.
    QTest::mouseClick(w.list()->viewport(), Qt::LeftButton, {}, cell.center());
    QTest::mouseDClick(w.list()->viewport(), Qt::LeftButton, {}, cell.center());
    QCOMPARE(activated.count(), 2);
    QCOMPARE(activated.at(1).at(0).toInt(), 0);
}

void MainWindowTest::stalled_rows_show_their_picture_tooltip_and_count() {
    using zelvik::shell::ui::row_state_picture;
    using zelvik::shell::ui::RowState;
    TempDir dir("zelvik-window");
    dir.write("zelvik.ini", kSettings);
    MainWindow w(setup_for(dir));
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.show_info(QStringLiteral("duration: 120  silence: 30"));

    // Three states, three pictures that differ pairwise.
    QVERIFY(
        !same_picture(row_state_picture(RowState::kStalled), row_state_picture(RowState::kNormal)));
    QVERIFY(
        !same_picture(row_state_picture(RowState::kStalled), row_state_picture(RowState::kAlarm)));

    std::vector<ChannelView> rows = two_channels();
    rows[0].last_data_time = 1600000600.0;  // 13/09/2020 12:36:40
    rows[0].stalled = true;
    rows[1].last_data_time = 1600000700.0;
    w.show_rows(rows);
    ChannelTableModel* m = w.model();
    QCOMPARE(m->index(0, 0).data(ChannelTableModel::StateRole).toInt(),
             static_cast<int>(RowState::kStalled));
    QCOMPARE(m->index(1, 0).data(ChannelTableModel::StateRole).toInt(),
             static_cast<int>(RowState::kNormal));
    const QString tip = QString("No new data since ") + m->cell_text(0, 4);
    QCOMPARE(m->index(0, 7).data(Qt::ToolTipRole).toString(), tip);
    QVERIFY(tip.startsWith("No new data since 13/09/2020 12:36:40"));
    QVERIFY(!m->index(1, 0).data(Qt::ToolTipRole).isValid());
    QCOMPARE(w.stalled_count(), 1);
    QCOMPARE(w.info_text()->text(), QString("duration: 120  silence: 30\nstalled: 1"));

    // What the delegate painted at the row's picture place is the stalled picture.
    w.list()->viewport()->repaint();
    const QImage shown = w.list()->viewport()->grab().toImage();
    const QRect cell = w.list()->visualRect(m->index(0, 0));
    const int top = cell.top() + (cell.height() - zelvik::shell::ui::kStatePictureSize) / 2;
    const QImage stalled = row_state_picture(RowState::kStalled).toImage();
    QCOMPARE(QColor(shown.pixel(cell.left() + 8, top + 8)), QColor(stalled.pixel(8, 8)));
    QCOMPARE(QColor(shown.pixel(cell.left() + 6, top + 8)), QColor(stalled.pixel(6, 8)));

    // An alarm outranks the stall in the picture; the tooltip still tells it.
    rows[0].in_alarm = true;
    rows[1].stalled = true;
    w.show_rows(rows);
    QCOMPARE(m->index(0, 0).data(ChannelTableModel::StateRole).toInt(),
             static_cast<int>(RowState::kAlarm));
    QCOMPARE(m->index(0, 1).data(Qt::ToolTipRole).toString(), tip);
    QCOMPARE(w.info_text()->text(), QString("duration: 120  silence: 30\nstalled: 2"));

    // Data again: the count and the second line go.
    rows[0].stalled = false;
    rows[0].in_alarm = false;
    rows[1].stalled = false;
    w.show_rows(rows);
    QCOMPARE(w.stalled_count(), 0);
    QCOMPARE(w.info_text()->text(), QString("duration: 120  silence: 30"));
    QVERIFY(!m->index(0, 0).data(Qt::ToolTipRole).isValid());

    // A settings note shares the second line with the stall count; its reason is in
    // the tooltip.
    const QString refused("settings refused 17:33:23: [THREAD0] Treshold is not read");
    w.show_settings_note(refused);
    QCOMPARE(w.info_text()->text(),
             QString("duration: 120  silence: 30\nsettings refused 17:33:23"));
    QCOMPARE(w.info_text()->toolTip(), refused);
    rows[0].stalled = true;
    w.show_rows(rows);
    QCOMPARE(w.info_text()->text(),
             QString("duration: 120  silence: 30\nstalled: 1, settings refused 17:33:23"));

    // A log that cannot be written is said there too until it is written again.
    const QString full(
        "log lines cannot be written to /var/log/zelvik/10122026.log: No space "
        "left on device; they are lost until writing works again");
    w.show_log_trouble(full);
    QCOMPARE(w.info_text()->text(), QString("duration: 120  silence: 30\nstalled: 1, settings "
                                            "refused 17:33:23, log not written"));
    QCOMPARE(w.info_text()->toolTip(), refused + "\n" + full);
    w.show_log_trouble("log lines are written to /var/log/zelvik/10122026.log again; 3 were lost");
    QCOMPARE(w.info_text()->toolTip(), refused);
}

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
