// The channel list model and its cell texts: header-click sorting (byte-wise, Sta with
// Chan, direction flags per column), the renumbering of column 0, updates reaching the
// row of their own channel after a sort, and the "..." shortening of a cell.
#include <QAbstractItemModelTester>
#include <QFont>
#include <QFontMetrics>
#include <QSignalSpy>
#include <QTest>

#include "shell/ui/cell_text.h"
#include "shell/ui/channel_table_model.h"
#include "shell/ui/row_state.h"

using zelvik::shell::ChannelView;
using zelvik::shell::ui::ChannelTableModel;
using zelvik::shell::ui::RowState;

namespace {

ChannelView channel(int index, const char* sta, const char* chan, double onset = 0.0) {
    ChannelView v;
    v.settings.index = index;
    v.settings.station = sta;
    v.settings.channel = chan;
    v.settings.order = 3;
    v.state = zelvik::detect::ChannelState::kRunning;
    v.last_onset = onset;
    return v;
}

QStringList column(const ChannelTableModel& m, int c) {
    QStringList out;
    for (int r = 0; r < m.rowCount(); ++r) out << m.cell_text(r, c);
    return out;
}

QStringList stations_and_channels(const ChannelTableModel& m) {
    QStringList out;
    for (int r = 0; r < m.rowCount(); ++r) out << m.cell_text(r, 1) + "." + m.cell_text(r, 2);
    return out;
}

}  // namespace

class ChannelListTest : public QObject {
    Q_OBJECT

private slots:
    void two_station_clicks_sort_up_then_down();
    void event_time_sorts_by_displayed_text();
    void other_columns_renumber_without_reordering();
    void updates_reach_their_own_channel_after_a_sort();
    void long_texts_end_in_dots();
    void time_texts();
};

void ChannelListTest::two_station_clicks_sort_up_then_down() {
    ChannelTableModel m;
    QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::QtTest);
    // "a1" after "Z9": byte order, not a locale's.
    m.set_rows({channel(0, "BKS", "HHZ"), channel(1, "a1", "EHZ"), channel(2, "BKS", "EHZ"),
                channel(3, "Z9", "SHZ"), channel(4, "BKS", "BHZ")});
    m.sort_by_header(ChannelTableModel::kStationColumn);
    QCOMPARE(stations_and_channels(m),
             QStringList({"BKS.BHZ", "BKS.EHZ", "BKS.HHZ", "Z9.SHZ", "a1.EHZ"}));
    QCOMPARE(column(m, 0), QStringList({"0", "1", "2", "3", "4"}));
    QCOMPARE(m.channel_at(0), 4);
    m.sort_by_header(ChannelTableModel::kStationColumn);
    QCOMPARE(stations_and_channels(m),
             QStringList({"a1.EHZ", "Z9.SHZ", "BKS.HHZ", "BKS.EHZ", "BKS.BHZ"}));
    QCOMPARE(column(m, 0), QStringList({"0", "1", "2", "3", "4"}));
    QCOMPARE(m.channel_at(0), 1);
}

void ChannelListTest::event_time_sorts_by_displayed_text() {
    ChannelTableModel m;
    // 2014-03-06 12:00:05.25 and 2014-04-01 00:00:00 UTC (date -u -d @...): the April
    // time shows day 01 first and so sorts before the March one; no event sorts last.
    m.set_rows({channel(0, "A", "Z"), channel(1, "B", "Z", 1394107205.25),
                channel(2, "C", "Z", 1396310400.0)});
    m.sort_by_header(ChannelTableModel::kEventTimeColumn);
    QCOMPARE(column(m, 5),
             QStringList({"01/04/2014 00:00:0.00", "06/03/2014 12:00:5.25", "No event yet"}));
    m.sort_by_header(ChannelTableModel::kEventTimeColumn);
    QCOMPARE(column(m, 1), QStringList({"A", "B", "C"}));
}

void ChannelListTest::other_columns_renumber_without_reordering() {
    ChannelTableModel m;
    m.set_rows({channel(0, "C", "Z"), channel(1, "A", "Z"), channel(2, "B", "Z")});
    m.sort_by_header(ChannelTableModel::kStationColumn);
    QSignalSpy changed(&m, &QAbstractItemModel::dataChanged);
    QSignalSpy moved(&m, &QAbstractItemModel::layoutChanged);
    m.sort_by_header(6);  // "Flt"
    QCOMPARE(column(m, 1), QStringList({"A", "B", "C"}));
    QCOMPARE(column(m, 0), QStringList({"0", "1", "2"}));
    QCOMPARE(moved.count(), 0);
    QCOMPARE(changed.count(), 1);  // column 0 told to redraw
    // The click on Flt did not touch the direction flag of Sta: the next Sta click
    // is its second one and sorts descending.
    m.sort_by_header(ChannelTableModel::kStationColumn);
    QCOMPARE(column(m, 1), QStringList({"C", "B", "A"}));
    QVERIFY(!m.update_paused());
}

void ChannelListTest::updates_reach_their_own_channel_after_a_sort() {
    ChannelTableModel m;
    std::vector<ChannelView> rows = {channel(0, "C", "Z"), channel(1, "A", "Z"),
                                     channel(2, "B", "Z")};
    m.set_rows(rows);
    m.sort_by_header(ChannelTableModel::kStationColumn);  // A B C: channel 1, 2, 0
    rows[0].in_alarm = true;
    rows[0].last_onset = 1394107205.25;
    rows[2].last_data_time = 1396310400.0;
    QSignalSpy changed(&m, &QAbstractItemModel::dataChanged);
    m.set_rows(rows);
    QCOMPARE(column(m, 1), QStringList({"A", "B", "C"}));
    QCOMPARE(column(m, 5), QStringList({"No event yet", "No event yet", "06/03/2014 12:00:5.25"}));
    QCOMPARE(m.cell_text(1, 4), QString("01/04/2014 00:00:0.00"));
    QCOMPARE(m.cell_text(0, 4), QString("no data yet"));  // not the time 0 (1970)
    QCOMPARE(m.index(2, 0).data(ChannelTableModel::StateRole).toInt(), int(RowState::kAlarm));
    QCOMPARE(m.index(0, 0).data(ChannelTableModel::StateRole).toInt(), int(RowState::kNormal));
    QCOMPARE(m.index(2, 3).data(ChannelTableModel::ChannelIndexRole).toInt(), 0);
    QCOMPARE(changed.count(), 2);  // the rows of channels 0 and 2, not of channel 1
}

void ChannelListTest::long_texts_end_in_dots() {
    QFont font(QStringLiteral("Arial"));
    font.setPointSize(8);
    const QFontMetrics fm(font);
    const QString text = QStringLiteral("26/11/2017 01:51:53.00");
    const int full = fm.horizontalAdvance(text);
    const int dots = fm.horizontalAdvance(QStringLiteral("..."));
    using zelvik::shell::ui::elide_cell_text;
    // Fits in the cell less 4 px: unchanged.
    QCOMPARE(elide_cell_text(text, fm, full + 4), text);
    // One pixel short: shortened, the head of the text and "...", within width - 4.
    for (int width : {full + 3, full / 2, dots + 4 + fm.horizontalAdvance("2")}) {
        const QString shown = elide_cell_text(text, fm, width);
        QVERIFY2(shown.endsWith("...") && shown.size() > 3, qPrintable(shown));
        QVERIFY(text.startsWith(shown.chopped(3)));
        QVERIFY(fm.horizontalAdvance(shown) <= width - 4);
        QVERIFY(fm.horizontalAdvance(text.left(shown.size() - 2) + "...") > width - 4);
    }
    // Exactly "..." fits: nothing of the text is kept.
    QCOMPARE(elide_cell_text(text, fm, dots + 4), QString("..."));
    // Not even "..." fits: the whole text, for the painter to clip.
    QCOMPARE(elide_cell_text(text, fm, dots + 3), text);
    // The list hands out at most 127 characters of a cell.
    const QString long_text(300, QChar('x'));
    QCOMPARE(elide_cell_text(long_text, fm, 100000), long_text.left(127));
}

void ChannelListTest::time_texts() {
    using zelvik::shell::ui::event_time_text;
    using zelvik::shell::ui::list_time_text;
    QCOMPARE(list_time_text(1394107205.25), QString("06/03/2014 12:00:5.25"));
    QCOMPARE(list_time_text(1396310459.5), QString("01/04/2014 00:00:59.50"));
    QCOMPARE(event_time_text(0.0), QString("No event yet"));
}

QTEST_MAIN(ChannelListTest)
#include "channel_list_test.moc"
