// The channel page with real widgets: add, delete, moves, sort and the Ctrl gestures,
// with the channel dialog over a real SQLite store.
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QtTest>

#include "editor/ui/channel_page.h"
#include "editor/ui/channel_table_view.h"
#include "tests/editor/ui_test_support.h"
#include "tests/support/store_fixture.h"

namespace zelvik::editor::ui::test {

class ChannelPageTest : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<zelvik::test::SqliteTestStore> store_;
    EditorSettings settings_;
    ConnectionParams params_;
    std::unique_ptr<ChannelPage> page_;

    std::vector<std::string> stations() const {
        std::vector<std::string> out;
        for (const ChannelEntry& e : settings_.channels) out.push_back(e.station);
        return out;
    }
    QString cell(int row, int column) const {
        return page_->table()->model()->index(row, column).data().toString();
    }
    void click_row(int row, Qt::MouseButton button = Qt::LeftButton,
                   Qt::KeyboardModifiers mods = {}) {
        ChannelTableView* view = page_->table();
        const QPoint at = row < 0 ? QPoint(10, view->viewport()->height() - 5)
                                  : view->visualRect(view->model()->index(row, 1)).center();
        QTest::mouseClick(view->viewport(), button, mods, at);
    }
    void click_header(int section) {
        QHeaderView* header = page_->table()->horizontalHeader();
        QTest::mouseClick(
            header->viewport(), Qt::LeftButton, {},
            QPoint(header->sectionViewportPosition(section) + 5, header->height() / 2));
    }
    QPushButton* button(const char* text) {
        for (QPushButton* b : page_->findChildren<QPushButton*>())
            if (b->text() == QString::fromUtf8(text)) return b;
        qFatal("no button %s", text);
    }

private slots:
    void initTestCase() {
        store_ = std::make_unique<zelvik::test::SqliteTestStore>();
        store_->add_channel("KIV", "SHZ", std::nullopt, 20);
        store_->add_channel("KIV", "SHN", std::nullopt, 20);
        store_->add_channel("ARU", "BHZ", std::nullopt, 40);
        params_ = {store_->dsn(), "", "", store_->data_dir()};
    }
    void init() {
        settings_ = {};
        const char* names[] = {"D", "B", "A", "C"};
        for (int i = 0; i < 4; ++i)
            settings_.channels.push_back(
                {names[i], "BHZ", 1, 10, 3.14159 + i, 0.123456, 4.5678, 3, i % 2 == 0});
        settings_.channel_count = 4;
        page_ = std::make_unique<ChannelPage>(settings_, params_);
        page_->resize(700, 400);
        page_->show();
        QVERIFY(QTest::qWaitForWindowExposed(page_.get()));
    }
    void cleanup() {
        close_all_boxes();
        page_.reset();
        QTRY_COMPARE(BackgroundCall::running(), 0);
    }

    void shows_texts_and_widths() {
        QCOMPARE(cell(0, 0), QStringLiteral("1"));
        QCOMPARE(cell(0, 5), QStringLiteral("3.14"));
        QCOMPARE(cell(0, 9), QStringLiteral("есть"));
        QCOMPARE(cell(1, 9), QStringLiteral("нет"));
        // Every column in view at once; a value cut short shows whole in its tooltip.
        const int w = page_->table()->viewport()->width();
        int total = 0;
        for (int c = 0; c < 10; ++c) {
            QVERIFY(page_->table()->columnWidth(c) > 0);
            total += page_->table()->columnWidth(c);
        }
        QVERIFY2(total <= w, qPrintable(QString("%1 > %2").arg(total).arg(w)));
        const QModelIndex threshold = page_->table()->model()->index(0, 5);
        QCOMPARE(threshold.data(Qt::ToolTipRole).toString(),
                 QStringLiteral("Порог срабатывания: 3.14159"));
    }

    void add_at_selected_row_and_with_none() {
        page_->select_row(2);
        on_next_dialog(page_.get(), [](ChannelDialog* d) {
            QTRY_VERIFY(!d->busy());
            QCOMPARE(d->windowTitle(), QStringLiteral("Добавление канала..."));
            // Add mode: first station and its first channel, order 3, sound on.
            QCOMPARE(field<QComboBox>(d, "station")->currentText(), QStringLiteral("ARU"));
            QCOMPARE(field<QComboBox>(d, "channel")->currentText(), QStringLiteral("BHZ"));
            QCOMPARE(field<QSpinBox>(d, "order")->value(), 3);
            QVERIFY(field<QRadioButton>(d, "sound_on")->isChecked());
            for (const auto& [f, v] : {std::pair{"sta", "2"},
                                       {"lta", "20"},
                                       {"threshold", "2"},
                                       {"fr1", "1"},
                                       {"fr2", "2"}})
                QTest::keyClicks(field<QLineEdit>(d, f), v);
            QTest::keyClick(field<QLineEdit>(d, "fr2"), Qt::Key_Return);  // Enter confirms
        });
        button("Добавить")->click();
        QCOMPARE(settings_.channel_count, 5);
        QCOMPARE(settings_.channels[2].station, std::string("ARU"));
        QCOMPARE(settings_.channels[3].station, std::string("A"));
        QCOMPARE(page_->selected_row(), -1);

        on_next_dialog(page_.get(), [](ChannelDialog* d) {
            QTRY_VERIFY(!d->busy());
            for (const auto& [f, v] : {std::pair{"sta", "1"},
                                       {"lta", "10"},
                                       {"threshold", "1"},
                                       {"fr1", "0.5"},
                                       {"fr2", "1"}})
                QTest::keyClicks(field<QLineEdit>(d, f), v);
            d->accept();
        });
        button("Добавить")->click();
        QCOMPARE(settings_.channel_count, 6);
        QCOMPARE(settings_.channels[0].station, std::string("ARU"));
    }

    void delete_asks_and_no_selection_does_nothing() {
        button("Удалить")->click();  // no selection: no question, no change
        QCOMPARE(settings_.channel_count, 4);
        page_->select_row(1);
        answer_next_question(QMessageBox::No);
        page_->table()->setFocus();
        QTest::keyClick(page_->table(), Qt::Key_Delete);
        QCOMPARE(settings_.channel_count, 4);
        answer_next_question(QMessageBox::Yes);
        QTest::keyClick(page_->table(), Qt::Key_Delete);
        QCOMPARE(stations(), (std::vector<std::string>{"D", "A", "C"}));
        QCOMPARE(cell(1, 0), QStringLiteral("2"));
        // Down to the only channel, then none.
        settings_.channels.resize(1);
        settings_.channel_count = 1;
        page_->sort_clicked(1);  // rebuilds the list
        page_->select_row(0);
        answer_next_question(QMessageBox::Yes);
        button("Удалить")->click();
        QCOMPARE(settings_.channel_count, 0);
        QCOMPARE(page_->table()->model()->rowCount(), 0);
    }

    void edit_without_selection_opens_nothing() {
        bool opened = false;
        connect(page_.get(), &ChannelPage::dialog_opened, this, [&] { opened = true; });
        button("Изменить")->click();
        QVERIFY(!opened);
    }

    void moves_at_the_edges_change_nothing() {
        page_->select_row(0);
        page_->move_up();
        page_->select_row(3);
        page_->move_down();
        QCOMPARE(stations(), (std::vector<std::string>{"D", "B", "A", "C"}));
        page_->select_row(3);
        page_->move_up();
        QCOMPARE(stations(), (std::vector<std::string>{"D", "B", "C", "A"}));
        QCOMPARE(page_->selected_row(), 2);
        QCOMPARE(page_->anchor_row(), 2);
        QCOMPARE(settings_.channels[3].threshold, 3.14159 + 2);
    }

    void sort_alternates_three_times() {
        const std::vector<std::string> up{"A", "B", "C", "D"}, down{"D", "C", "B", "A"};
        page_->select_row(0);  // D
        click_header(1);
        QCOMPARE(stations(), up);
        QCOMPARE(page_->selected_row(), 3);  // the selection follows D
        QCOMPARE(page_->anchor_row(), 3);
        click_header(1);
        QCOMPARE(stations(), down);
        click_header(2);  // only the station column sorts
        QCOMPARE(stations(), down);
        click_header(1);
        QCOMPARE(stations(), up);
        // Values travel with their entries, to the last decimal.
        QCOMPARE(settings_.channels[0].threshold, 3.14159 + 2);
        QCOMPARE(settings_.channels[0].fr1, 0.123456);
        QCOMPARE(cell(0, 0), QStringLiteral("1"));
    }

    void ctrl_click_swaps_with_the_anchor() {
        click_row(0);
        QCOMPARE(page_->anchor_row(), 0);
        click_row(0, Qt::LeftButton, Qt::ControlModifier);  // the anchored row: nothing
        QCOMPARE(stations(), (std::vector<std::string>{"D", "B", "A", "C"}));
        click_row(2, Qt::LeftButton, Qt::ControlModifier);
        QCOMPARE(stations(), (std::vector<std::string>{"A", "B", "D", "C"}));
        QCOMPARE(settings_.channels[2].threshold, 3.14159);
        QCOMPARE(cell(2, 1), QStringLiteral("D"));
        QCOMPARE(page_->anchor_row(), 2);
        QCOMPARE(page_->selected_row(), 2);
        click_row(1);  // a plain click only moves the anchor
        QCOMPARE(page_->anchor_row(), 1);
        QCOMPARE(stations(), (std::vector<std::string>{"A", "B", "D", "C"}));
        // A Ctrl+click on no row swaps nothing and clears the anchor.
        click_row(-1, Qt::LeftButton, Qt::ControlModifier);
        QCOMPARE(page_->anchor_row(), -1);
        QCOMPARE(stations(), (std::vector<std::string>{"A", "B", "D", "C"}));
    }

    void ctrl_right_click_moves_the_anchor_row() {
        click_row(0);
        click_row(3, Qt::RightButton);  // without Ctrl: nothing
        QCOMPARE(stations(), (std::vector<std::string>{"D", "B", "A", "C"}));
        click_row(3, Qt::RightButton, Qt::ControlModifier);
        QCOMPARE(stations(), (std::vector<std::string>{"B", "A", "C", "D"}));
        QCOMPARE(settings_.channels[3].threshold, 3.14159);
        QCOMPARE(page_->anchor_row(), 0);  // unchanged by the move
        QCOMPARE(settings_.channel_count, 4);
        click_row(-1, Qt::RightButton, Qt::ControlModifier);  // no row: nothing
        QCOMPARE(stations(), (std::vector<std::string>{"B", "A", "C", "D"}));
    }

    void stale_anchor_swaps_nothing() {
        click_row(3);
        QCOMPARE(page_->anchor_row(), 3);
        page_->select_row(0);
        answer_next_question(QMessageBox::Yes);
        button("Удалить")->click();  // row 3 no longer exists
        QCOMPARE(settings_.channel_count, 3);
        click_row(0, Qt::LeftButton, Qt::ControlModifier);
        QCOMPARE(stations(), (std::vector<std::string>{"B", "A", "C"}));
        click_row(2);
        page_->select_row(0);
        answer_next_question(QMessageBox::Yes);
        button("Удалить")->click();
        click_row(0, Qt::RightButton, Qt::ControlModifier);  // anchor 2 is gone
        QCOMPARE(stations(), (std::vector<std::string>{"A", "C"}));
    }
};

}  // namespace zelvik::editor::ui::test

QObject* make_channel_page_test() {
    return new zelvik::editor::ui::test::ChannelPageTest;
}

#include "channel_page_ui_test.moc"
