// The channel view window under the offscreen platform, on a real SQLite store: it opens
// on the latest data with the default span, follows the span control, lists stored
// detections newest first and centres on the one chosen, saves its picture, and says
// when the store cannot be reached.
#include <QImage>
#include <QSpinBox>
#include <QTableView>
#include <QTest>
#include <cmath>

#include "db/wave_store.h"
#include "shell/ui/channel_view_window.h"
#include "shell/ui/trace_plot.h"
#include "tests/support/store_fixture.h"
#include "tests/support/temp_dir.h"

using namespace zelvik;

namespace {

constexpr double kT0 = 1600000000.0;  // 2020-09-13 12:26:40 UTC

// Ten minutes of a 100 sps channel with a 5 Hz burst at 400 s.
std::vector<int32_t> samples() {
    std::vector<int32_t> v(60000);
    for (size_t i = 0; i < v.size(); ++i) {
        const double t = static_cast<double>(i) / 100;
        v[i] = static_cast<int32_t>(50 * std::sin(i * 0.7) + 30 * std::cos(i * 1.3) +
                                    (t > 400 && t < 406 ? 3000 * std::sin(2 * M_PI * 5 * t) : 0));
    }
    return v;
}

}  // namespace

class ChannelViewWindowTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        store_.add_channel("VIEW", "HHZ", std::nullopt, 100);
        store_.write_int32("view.i32", samples());
        test::TestSegment seg{"VIEW", "HHZ", std::nullopt, kT0, 600, 100, 2, 0, "view.i32", {}};
        store_.add_segment(seg);
        db::WaveStore ws;
        store_.configure(ws);
        QVERIFY(ws.connect());
        QVERIFY(ws.insert_data("VIEW", kT0 + 100.25, 1.5, 0.4));
        QVERIFY(ws.insert_data("VIEW", kT0 + 400.5, 12.0, 0.2));
        settings_.station = "VIEW";
        settings_.channel = "HHZ";
        settings_.fr1 = 1.0f;
        settings_.fr2 = 8.0f;
    }

    void cleanup() {
        for (QWidget* w : QApplication::topLevelWidgets()) w->close();
        QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty());
    }

    void opensOnTheLatestDataAndFollowsTheSpanControl() {
        auto* view = shell::ChannelViewWindow::open(settings_, access(), nullptr);
        QCOMPARE(view->windowTitle(), QString("VIEW.HHZ.??"));
        QCOMPARE(view->span_minutes(), 5);
        QTRY_VERIFY_WITH_TIMEOUT(view->plot() != nullptr, 10000);
        const auto& t = view->plot()->snapshot.trace;
        QCOMPARE(t.span_end, kT0 + 600);
        QCOMPARE(t.span_end - t.span_start, 300.0);
        QCOMPARE(view->plot()->snapshot.span_events.size(), size_t{1});  // the one at 400 s
        auto* span = view->findChild<QSpinBox*>("span");
        QVERIFY(span != nullptr);
        span->setFocus();
        span->selectAll();
        QTest::keyClicks(span, "1");
        QTest::keyClick(span, Qt::Key_Enter);
        QTRY_COMPARE_WITH_TIMEOUT(
            view->plot()->snapshot.trace.span_end - view->plot()->snapshot.trace.span_start, 60.0,
            10000);
        span->setValue(90);  // clamped by the control to an hour
        QCOMPARE(view->span_minutes(), 60);
    }

    void listsDetectionsNewestFirstAndCentresOnTheChosenOne() {
        auto* view = shell::ChannelViewWindow::open(settings_, access(), nullptr);
        QTRY_VERIFY_WITH_TIMEOUT(view->plot() != nullptr, 10000);
        auto* list = view->findChild<QTableView*>("detections");
        QVERIFY(list != nullptr);
        QCOMPARE(list->model()->rowCount(), 2);
        QVERIFY(list->model()->index(0, 0).data().toString().startsWith("2020-09-13 12:33:20.500"));
        QCOMPARE(list->model()->index(1, 1).data().toString(), QString("0.400"));
        const QRect row = list->visualRect(list->model()->index(1, 0));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, row.center());
        QCOMPARE(view->requested_end(), kT0 + 100.25 + 150);
        QTRY_COMPARE_WITH_TIMEOUT(view->plot()->snapshot.trace.span_end, kT0 + 250.25, 10000);
        const auto& t = view->plot()->snapshot.trace;
        QCOMPARE((t.span_start + t.span_end) / 2, kT0 + 100.25);
        const QString png = QString::fromStdString(dir_.file("view.png"));
        QVERIFY(view->save_picture(png));
        const QImage saved(png);
        QVERIFY(!saved.isNull());
        QVERIFY(saved.width() >= 420 && saved.height() >= 260);  // the whole drawing area
    }

    void saysWhenTheStoreCannotBeReached() {
        detect::StoreAccess gone = access();
        gone.data_source = "no_such_source";
        auto* view = shell::ChannelViewWindow::open(settings_, gone, nullptr);
        QTRY_VERIFY_WITH_TIMEOUT(!view->message().isEmpty(), 10000);
        QVERIFY(view->message().contains("cannot be reached"));
        QVERIFY(view->plot() == nullptr);
    }

private:
    detect::StoreAccess access() const {
        return {store_.dsn(), store_.user(), store_.password(), store_.data_dir(), false};
    }

    test::SqliteTestStore store_;
    test::TempDir dir_{"zelvik-view"};
    detect::ChannelSettings settings_;
};

QTEST_MAIN(ChannelViewWindowTest)
#include "channel_view_window_test.moc"
