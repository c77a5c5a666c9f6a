// The window's honest channel states, offscreen: one picture per state (running, alarm,
// stalled, waiting, skipped), the reason in the row's tooltip and in the info count, how
// late the data are on the "Last count time" cell; the keyboard (a focused button
// answers Enter and Space, Enter on a list without a selection chooses the top row); and
// one channel view per channel, placed clear of the alarm lamp, closed by Escape.
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>

#include "common/clock.h"
#include "shell/ui/channel_table_model.h"
#include "shell/ui/channel_view_window.h"
#include "shell/ui/channel_views.h"
#include "shell/ui/main_window.h"
#include "shell/ui/row_health.h"
#include "shell/ui/state_pictures.h"
#include "shell/ui/view_placement.h"
#include "tests/support/temp_dir.h"

using zelvik::detect::ChannelState;
using zelvik::shell::ChannelView;
using zelvik::shell::ui::ChannelTableModel;
using zelvik::shell::ui::MainWindow;
using zelvik::shell::ui::RowState;
using zelvik::test::TempDir;

namespace {

constexpr double kNow = 1600001000.0;  // 2020-09-13 12:43:20 UTC

ChannelView row(int index, ChannelState state, double last_data, const char* reason = "") {
    ChannelView v;
    v.settings.index = index;
    v.settings.station = "ST" + std::to_string(index);
    v.state = state;
    v.last_data_time = last_data;
    v.reason = reason;
    return v;
}

// One channel of each state, NODATA 600: running 30 s behind, in alarm, stalled 900 s
// behind, waiting for its first data, skipped; and a running one 400 s behind.
std::vector<ChannelView> every_state() {
    std::vector<ChannelView> rows = {
        row(0, ChannelState::kRunning, kNow - 30),
        row(1, ChannelState::kRunning, kNow - 5),
        row(2, ChannelState::kRunning, kNow - 900),
        row(3, ChannelState::kWaitingForData, 0,
            "not in the store yet (no SITECHAN row); starts when its first data arrive"),
        row(4, ChannelState::kUnusable, 0, "FR2 5.000 Hz is not below half the sample rate"),
        row(5, ChannelState::kRunning, kNow - 400)};
    rows[1].in_alarm = true;
    rows[1].last_onset = kNow - 60;
    rows[2].stalled = true;
    return rows;
}

zelvik::shell::ui::WindowSetup setup_for(const TempDir& dir) {
    zelvik::shell::ui::WindowSetup s;
    s.caption = QStringLiteral("Zelvik");
    s.settings_path = QString::fromStdString(dir.write("zelvik.ini", "[SYSTEM]\nTHREADS=0\n"));
    s.no_data_seconds = 600;
    return s;
}

QImage image_of(RowState s) {
    return zelvik::shell::ui::row_state_picture(s).toImage().convertToFormat(QImage::Format_ARGB32);
}

}  // namespace

class ChannelStatesTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        zelvik::common::set_clock_for_testing([] { return kNow; });
    }
    void cleanup();
    void every_state_has_its_picture_texts_and_tooltip();
    void lateness_is_coloured_against_nodata();
    void focused_buttons_answer_enter_and_space();
    void enter_on_a_list_without_selection_chooses_the_top_row();
    void one_view_per_channel_clear_of_the_lamp();
    void placement_keeps_to_the_screen_and_off_the_lamp();
};

void ChannelStatesTest::cleanup() {
    zelvik::common::set_clock_for_testing({});
    for (QWidget* w : QApplication::topLevelWidgets()) w->close();
    QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty());
}

void ChannelStatesTest::every_state_has_its_picture_texts_and_tooltip() {
    // Five pictures, pairwise different; and different by shape, not only colour: their
    // opaque pixels (the outline) differ too.
    const RowState all[] = {RowState::kNormal, RowState::kAlarm, RowState::kStalled,
                            RowState::kWaiting, RowState::kSkipped};
    const auto outline = [](const QImage& i) {
        QImage mask = i.createAlphaMask();
        return mask.convertToFormat(QImage::Format_Mono);
    };
    for (RowState a : all)
        for (RowState b : all)
            if (a < b) QVERIFY(outline(image_of(a)) != outline(image_of(b)));

    TempDir dir("zelvik-states");
    MainWindow w(setup_for(dir));
    w.show_info(QStringLiteral("duration: 120  silence: 30"));
    w.show_rows(every_state());
    const ChannelTableModel& m = *w.model();
    const auto state = [&](int r) { return RowState(m.index(r, 0).data(m.StateRole).toInt()); };
    QCOMPARE(state(0), RowState::kNormal);
    QCOMPARE(state(1), RowState::kAlarm);
    QCOMPARE(state(2), RowState::kStalled);
    QCOMPARE(state(3), RowState::kWaiting);
    QCOMPARE(state(4), RowState::kSkipped);

    // Neither the skipped nor the waiting channel pretends to have data from 1970, and the
    // skipped one does not claim a quiet "No event yet".
    QCOMPARE(m.cell_text(3, 4), QString("waiting for data"));
    QCOMPARE(m.cell_text(3, 5), QString("No event yet"));
    QCOMPARE(m.cell_text(4, 4), QString("skipped"));
    QCOMPARE(m.cell_text(4, 5), QString("skipped: FR2 5.000 Hz is not below half the sample rate"));
    QCOMPARE(m.index(4, 9).data(Qt::ToolTipRole).toString(),
             QString("Skipped, detects nothing: FR2 5.000 Hz is not below half the sample rate"));
    QVERIFY(m.index(3, 1)
                .data(Qt::ToolTipRole)
                .toString()
                .startsWith("Waiting for its first data: not in the store yet"));
    QVERIFY(!m.index(0, 1).data(Qt::ToolTipRole).isValid());
    QCOMPARE(w.skipped_count(), 1);
    QCOMPARE(w.info_text()->text(), QString("duration: 120  silence: 30\nstalled: 1  skipped: 1"));

    // The delegate paints each row's own picture.
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.list()->viewport()->repaint();
    const QImage shown = w.list()->viewport()->grab().toImage();
    for (int r = 0; r < 5; ++r) {
        const QRect cell = w.list()->visualRect(m.index(r, 0));
        const int top = cell.top() + (cell.height() - zelvik::shell::ui::kStatePictureSize) / 2;
        const QImage want = image_of(state(r));
        // (8, 5) lies inside every picture, away from its anti-aliased edges.
        QCOMPARE(qAlpha(want.pixel(8, 5)), 255);
        QCOMPARE(QColor(shown.pixel(cell.left() + 8, top + 5)), QColor(want.pixel(8, 5)));
    }
}

void ChannelStatesTest::lateness_is_coloured_against_nodata() {
    ChannelTableModel m;
    m.set_no_data_seconds(600);
    m.set_rows(every_state());
    const auto colour = [&](int r) { return m.index(r, 4).data(Qt::BackgroundRole); };
    QVERIFY(!colour(0).isValid());  // 30 s: fresh
    QCOMPARE(colour(5).value<QColor>(),
             zelvik::shell::ui::lateness_colour(zelvik::shell::ui::Lateness::kLate));
    QCOMPARE(colour(2).value<QColor>(),
             zelvik::shell::ui::lateness_colour(zelvik::shell::ui::Lateness::kBeyond));
    QVERIFY(!colour(3).isValid() && !colour(4).isValid());       // no data to be late with
    QVERIFY(!m.index(5, 3).data(Qt::BackgroundRole).isValid());  // only that one cell
    QCOMPARE(m.index(5, 4).data(Qt::ToolTipRole).toString(),
             QString("Latest data 6 min 40 s ago (NODATA 10 min)"));
    QCOMPARE(m.index(2, 4).data(Qt::ToolTipRole).toString(),
             "No new data since " + m.cell_text(2, 4) + "\nLatest data 15 min ago (NODATA 10 min)");

    // Time passes with no new row from the engine: the next update recolours the cell.
    zelvik::common::set_clock_for_testing([] { return kNow + 300; });
    QSignalSpy changed(&m, &QAbstractItemModel::dataChanged);
    m.set_rows(every_state());
    QCOMPARE(colour(0).value<QColor>(),
             zelvik::shell::ui::lateness_colour(zelvik::shell::ui::Lateness::kLate));
    QCOMPARE(changed.count(), 3);  // rows 0 and 1 turned late, row 5 beyond
}

void ChannelStatesTest::focused_buttons_answer_enter_and_space() {
    TempDir dir("zelvik-states");
    MainWindow w(setup_for(dir));
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.show_alarm(true, QStringLiteral("!!! A L A R M !!!"));
    QSignalSpy stop(w.stop_alarm_button(), &QPushButton::clicked);
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space}) {
        w.stop_alarm_button()->setFocus();
        QTest::keyClick(w.stop_alarm_button(), key);
        QTRY_VERIFY(!stop.isEmpty());
        stop.clear();
    }
    QVERIFY(w.question_box() == nullptr);
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Space}) {
        w.exit_button()->setFocus();
        QTest::keyClick(w.exit_button(), key);
        QTRY_VERIFY(w.question_box() != nullptr);
        w.question_box()->button(QMessageBox::No)->click();
        QTRY_VERIFY(w.question_box() == nullptr);
    }
    QVERIFY(w.isVisible());
}

void ChannelStatesTest::enter_on_a_list_without_selection_chooses_the_top_row() {
    TempDir dir("zelvik-states");
    MainWindow w(setup_for(dir));
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.show_rows(every_state());
    w.model()->sort_by_header(ChannelTableModel::kStationColumn);
    w.model()->sort_by_header(ChannelTableModel::kStationColumn);  // ST5 on top
    QSignalSpy activated(&w, &MainWindow::channel_activated);
    w.list()->setFocus();
    w.list()->clearSelection();
    QTest::keyClick(w.list(), Qt::Key_Return);
    QCOMPARE(activated.count(), 0);
    QCOMPARE(w.list()->selectionModel()->selectedRows().value(0).row(), 0);
    QTest::keyClick(w.list(), Qt::Key_Enter);
    QCOMPARE(activated.count(), 1);
    QCOMPARE(activated.at(0).at(0).toInt(), 5);
}

void ChannelStatesTest::one_view_per_channel_clear_of_the_lamp() {
    TempDir dir("zelvik-states");
    MainWindow w(setup_for(dir));
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    zelvik::shell::ui::ChannelViews views(&w, w.indicator());
    // Nothing answers on this data source: the views open and say so.
    const zelvik::detect::StoreAccess access{"zelvik_no_such_source", "", "", "/nonexistent",
                                             false};
    const std::vector<ChannelView> rows = every_state();
    auto* first = views.show(rows[0].settings, access);
    auto* other = views.show(rows[2].settings, access);
    QVERIFY(first != other);
    QCOMPARE(views.show(rows[0].settings, access), first);  // raised, not copied
    QCOMPARE(views.open_count(), 2);
    const QRect lamp(w.indicator()->mapToGlobal(QPoint(0, 0)), w.indicator()->size());
    QVERIFY(!first->frameGeometry().intersects(lamp));
    QVERIFY(w.screen()->availableGeometry().contains(first->frameGeometry()));

    QVERIFY(QTest::qWaitForWindowExposed(first));
    first->activateWindow();
    QTest::keyClick(first, Qt::Key_Escape);
    QTRY_COMPARE(views.open_count(), 1);
    auto* again = views.show(rows[0].settings, access);  // a fresh view after the close
    QVERIFY(again != nullptr && again->isVisible());
    QCOMPARE(views.open_count(), 2);
}

void ChannelStatesTest::placement_keeps_to_the_screen_and_off_the_lamp() {
    using zelvik::shell::view_placement;
    struct Case {
        QRect screen, main, lamp;
        QRect want;  // null: only the general rules are checked
    };
    // Main windows as the demo shows them (about 700 x 240) centred on each screen.
    const QSize preferred(1240, 680), minimum(560, 300);
    const Case cases[] = {
        // 1280 x 900: no side holds the preferred size; below the window holds 1240 x 330.
        {{0, 0, 1280, 900}, {290, 330, 700, 240}, {500, 500, 30, 30}, {290 - 250, 574, 1240, 326}},
        // 3000 x 1200: room on the right for all of it, level with the window's top.
        {{0, 0, 3000, 1200}, {100, 300, 700, 240}, {310, 470, 30, 30}, {804, 300, 1240, 680}},
        // 1024 x 600 with the window almost filling it: only beside the lamp.
        {{0, 0, 1024, 600}, {100, 150, 900, 420}, {400, 420, 30, 30}, {}},
    };
    for (const Case& c : cases) {
        const QRect r = view_placement(c.screen, c.main, c.lamp, preferred, minimum);
        QVERIFY(c.screen.contains(r));
        QVERIFY(!r.intersects(c.lamp));
        QVERIFY(r.width() >= minimum.width() && r.height() >= minimum.height());
        if (!c.want.isNull()) QCOMPARE(r, c.want);
    }
}

QTEST_MAIN(ChannelStatesTest)
#include "channel_states_test.moc"
