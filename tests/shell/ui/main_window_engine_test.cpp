// The main window offscreen over the real engine on real SQLite stores: a run until a
// channel goes into alarm, and one until a channel stalls and resumes.
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

QString hdrsize(const std::string& ini) {
    return QString::fromStdString(
        zelvik::config::ini::read_string(ini, "LISTBOXHEADER", "HDRSIZE", "", 128));
}

}  // namespace

class MainWindowEngineTest : public QObject {
    Q_OBJECT

private slots:
    void cleanup();
    void engine_run_until_alarm();
    void engine_run_until_a_channel_stalls_and_resumes();
};

void MainWindowEngineTest::cleanup() {
    QVERIFY(QApplication::topLevelWidgets().isEmpty());
}

void MainWindowEngineTest::engine_run_until_alarm() {
    using zelvik::test::kT0;
    zelvik::test::EngineFixture fx;
    fx.add_channel("WA1", "HHZ", 100);
    fx.add_channel("WA2", "HHZ", 100);
    fx.add_segment("WA1", "HHZ", kT0, 100, zelvik::test::synthetic_samples(900, 100, {}, 100, 0));
    fx.add_segment("WA2", "HHZ", kT0, 100,
                   zelvik::test::synthetic_samples(900, 100, {600}, 100, 0, 3000, 8, 2));
    fx.add_thread(0, "WA2", "HHZ", 1);
    fx.add_thread(1, "WA1", "HHZ", 1);
    auto store = fx.connect_store();
    zelvik::detect::SupervisorSettings s;
    s.settings_path = fx.ini();
    s.arguments = {"zelvik", "BEGIN='2020-09-13 12:26:40'"};
    s.thread_count = 2;
    s.sleep_seconds = 40;  // once caught up the worker idles; the run goes on
    s.storage_days = 0;
    s.wav_file = "*";
    s.reconnect_pause_ms = 0;

    WindowSetup setup;
    setup.caption = QStringLiteral("Zelvik");
    setup.settings_path = QString::fromStdString(fx.ini());
    MainWindow w(setup);
    zelvik::shell::ui::QtEngineEvents events(&w, nullptr);
    zelvik::shell::Engine engine(s, *store, events);
    w.attach_engine(&engine);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QVERIFY(engine.start());

    ChannelTableModel* m = w.model();
    QTRY_COMPARE_WITH_TIMEOUT(m->rowCount(), 2, 20000);
    // Sorted by station before the detection: WA1 (channel 1) on top, and the alarm of
    // channel 0 must still land on the row of WA2.
    m->sort_by_header(ChannelTableModel::kStationColumn);
    QCOMPARE(m->cell_text(0, 1), QString("WA1"));
    QTRY_VERIFY_WITH_TIMEOUT(m->index(1, 0).data(ChannelTableModel::StateRole).toInt() == 1, 30000);
    QVERIFY(m->cell_text(1, 5).startsWith("13/09/2020 12:3"));
    QCOMPARE(m->cell_text(0, 5), QString("No event yet"));
    QCOMPARE(m->index(0, 0).data(ChannelTableModel::StateRole).toInt(), 0);
    QTRY_VERIFY(w.blinking());
    QCOMPARE(w.alarm_text()->text(), QString("!!! A L A R M !!!"));
    QVERIFY(w.stop_alarm_button()->isEnabled());
    QCOMPARE(w.info_text()->text(), QString("duration: 120  silence: 30"));

    // "No" leaves detection running and the file without HDRSIZE.
    w.exit_button()->click();
    w.question_box()->button(QMessageBox::No)->click();
    QTest::qWait(700);
    QVERIFY(!engine.finished());
    QVERIFY(hdrsize(fx.ini()).isEmpty());

    // Stop alarm: the display goes off at once and the engine's silence keeps it off.
    w.stop_alarm_button()->click();
    QVERIFY(!w.blinking());
    QTest::qWait(700);
    QVERIFY(!w.blinking());
    QVERIFY(engine.supervisor().alarm_board().silence_until() > 0);

    w.exit_button()->click();
    w.question_box()->button(QMessageBox::Yes)->click();
    QVERIFY(engine.finished());
    QVERIFY(!w.isVisible());
    QCOMPARE(hdrsize(fx.ini()).split(',').size(), 12);
}

void MainWindowEngineTest::engine_run_until_a_channel_stalls_and_resumes() {
    using zelvik::test::kT0;
    zelvik::test::EngineFixture fx;
    fx.add_channel("WA1", "HHZ", 100);
    fx.add_segment("WA1", "HHZ", kT0, 100, zelvik::test::synthetic_samples(300, 100, {}, 100, 0));
    fx.add_thread(0, "WA1", "HHZ", 1);
    auto store = fx.connect_store();
    zelvik::detect::SupervisorSettings s;
    s.settings_path = fx.ini();
    s.arguments = {"zelvik", "BEGIN='2020-09-13 12:26:40'"};
    s.thread_count = 1;
    s.sleep_seconds = 1;
    s.storage_days = 0;
    s.wav_file = "*";
    s.no_data_seconds = 2;
    s.reconnect_pause_ms = 0;

    WindowSetup setup;
    setup.caption = QStringLiteral("Zelvik");
    setup.settings_path = QString::fromStdString(fx.ini());
    MainWindow w(setup);
    zelvik::shell::ui::QtEngineEvents events(&w, nullptr);
    zelvik::shell::Engine engine(s, *store, events);
    w.attach_engine(&engine);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QVERIFY(engine.start());

    ChannelTableModel* m = w.model();
    const int stalled = static_cast<int>(zelvik::shell::ui::RowState::kStalled);
    QTRY_COMPARE_WITH_TIMEOUT(m->rowCount(), 1, 20000);
    QTRY_COMPARE_WITH_TIMEOUT(m->index(0, 0).data(ChannelTableModel::StateRole).toInt(), stalled,
                              20000);
    QVERIFY(w.info_text()->text().endsWith("\nstalled: 1"));
    QVERIFY(m->index(0, 0)
                .data(Qt::ToolTipRole)
                .toString()
                .startsWith("No new data since 13/09/2020 12:31:"));

    // The acquisition writes on: the row is normal again and the count goes.
    fx.add_segment("WA1", "HHZ", kT0 + 300, 100,
                   zelvik::test::synthetic_samples(60, 100, {}, 100, 0));
    QTRY_COMPARE_WITH_TIMEOUT(m->index(0, 0).data(ChannelTableModel::StateRole).toInt(), 0, 20000);
    QCOMPARE(w.stalled_count(), 0);
    QVERIFY(!w.info_text()->text().contains("stalled"));
    engine.request_stop();
    QVERIFY(engine.wait(std::chrono::milliseconds(10000)));
}

QTEST_MAIN(MainWindowEngineTest)
#include "main_window_engine_test.moc"
