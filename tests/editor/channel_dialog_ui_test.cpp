// The channel dialog over real stores: code lists from SITECHAN on SQLite and on a
// PostgreSQL server on loopback, the prefix matching and its messages, exact numbers,
// and a store that never answers.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QComboBox>
#include <QLineEdit>
#include <QProgressDialog>
#include <QRadioButton>
#include <QSpinBox>
#include <QtTest>

#include "editor/ui/background_call.h"
#include "tests/editor/ui_test_support.h"
#include "tests/support/store_fixture.h"

namespace zelvik::editor::ui::test {

// A loopback port that takes connections and never says a word: the kernel completes
// the handshake into the backlog, nobody accepts. Closing it resets the waiting clients.
class SilentServer {
public:
    SilentServer() {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            ::listen(fd_, 8) != 0 || ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            qFatal("silent server");
        port_ = ntohs(a.sin_port);
    }
    ~SilentServer() { close(); }
    void close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    int port() const { return port_; }

private:
    int fd_ = -1;
    int port_ = 0;
};

class ChannelDialogTest : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<zelvik::test::SqliteTestStore> store_;
    EditorSettings settings_;

    ConnectionParams sqlite_params() const { return {store_->dsn(), "", "", ""}; }
    std::unique_ptr<ChannelDialog> open_edit(const ChannelEntry& e, const ConnectionParams& p) {
        settings_ = {};
        settings_.channels = {e};
        settings_.channel_count = 1;
        auto d = std::make_unique<ChannelDialog>(settings_, p, 0, -1);
        d->show();
        return d;
    }
    static QStringList items(QComboBox* box) {
        QStringList out;
        for (int i = 0; i < box->count(); ++i) out << box->itemText(i);
        return out;
    }

private slots:
    void initTestCase() {
        store_ = std::make_unique<zelvik::test::SqliteTestStore>();
        for (const auto& [sta, chan] : std::vector<std::pair<const char*, const char*>>{
                 {"ABC", "BHZ"}, {"ABC", "BHN"}, {"ABD", "SHZ"}, {"O'B", "HHZ"}, {"O", "LHZ"}})
            store_->add_channel(sta, chan, std::nullopt, 20);
        QVERIFY(store_->exec("insert into SITECHAN (STA, CHAN) values ('LONGSTATN', 'BHE')"));
    }
    void cleanup() {
        close_all_boxes();
        QTRY_COMPARE(BackgroundCall::running(), 0);
    }

    void prefix_match_selects_without_message() {
        auto d = open_edit({"AB", "BH", 1, 10, 3.14159, 0.5, 4, 3, false}, sqlite_params());
        QTRY_VERIFY(!d->busy());
        auto* station = field<QComboBox>(d.get(), "station");
        QCOMPARE(items(station), (QStringList{"ABC", "ABD", "LONGSTA", "O", "O'B"}));
        QCOMPARE(station->currentText(), QStringLiteral("ABC"));
        // BH matches BHN first in sorted order.
        QCOMPARE(field<QComboBox>(d.get(), "channel")->currentText(), QStringLiteral("BHN"));
        QVERIFY2(boxes_with(QString()).isEmpty(), qPrintable(all_box_texts()));
        QCOMPARE(d->windowTitle(), QStringLiteral("Изменение канала..."));
        // Untouched fields give back the stored numbers exactly.
        QCOMPARE(field<QLineEdit>(d.get(), "threshold")->text(), QStringLiteral("3.14159"));
        d->accept();
        QCOMPARE(settings_.channels[0].threshold, 3.14159);
        QCOMPARE(settings_.channels[0].station, std::string("ABC"));
    }

    void missing_station_and_channel_are_told() {
        auto d = open_edit({"ZZZ", "BHZ", 1, 10, 2, 0.5, 4, 9, true}, sqlite_params());
        QTRY_VERIFY(!d->busy());
        QTRY_COMPARE(boxes_with(QStringLiteral("Станция не найдена в базе данных")).size(), 1);
        QCOMPARE(field<QComboBox>(d.get(), "station")->currentText(), QStringLiteral("ABC"));
        QCOMPARE(field<QComboBox>(d.get(), "channel")->currentText(), QStringLiteral("BHZ"));
        close_all_boxes();
        // A station without BHZ: the message, and that station's first channel.
        auto* station = field<QComboBox>(d.get(), "station");
        const int abd = station->findText(QStringLiteral("ABD"));
        station->setCurrentIndex(abd);
        emit station->activated(abd);
        QTRY_VERIFY(!d->busy());
        QTRY_COMPARE(boxes_with(QStringLiteral("Канал не найден в базе данных")).size(), 1);
        QCOMPARE(items(field<QComboBox>(d.get(), "channel")), QStringList{"SHZ"});
        close_all_boxes();
        // The stored order 9 is shown as the limit 6; left untouched it keeps its value.
        QCOMPARE(field<QSpinBox>(d.get(), "order")->value(), 6);
        d->accept();
        QCOMPARE(settings_.channels[0].order, 9);
        QCOMPARE(settings_.channels[0].channel, std::string("SHZ"));
    }

    void quoted_station_lists_its_channels() {
        auto d = open_edit({"O'B", "HHZ", 1, 10, 2, 0.5, 4, 3, true}, sqlite_params());
        QTRY_VERIFY(!d->busy());
        auto* station = field<QComboBox>(d.get(), "station");
        QCOMPARE(station->currentText(), QStringLiteral("O'B"));
        QCOMPARE(items(field<QComboBox>(d.get(), "channel")), QStringList{"HHZ"});
        QVERIFY2(boxes_with(QString()).isEmpty(), qPrintable(all_box_texts()));
        const int o = station->findText(QStringLiteral("O"));
        station->setCurrentIndex(o);
        emit station->activated(o);
        QTRY_VERIFY(!d->busy());
        QCOMPARE(items(field<QComboBox>(d.get(), "channel")), QStringList{"LHZ"});
        QTRY_COMPARE(boxes_with(QStringLiteral("Канал не найден в базе данных")).size(), 1);
    }

    void empty_field_keeps_the_dialog_open() {
        auto d = open_edit({"ABC", "BHZ", 1, 10, 2, 0.5, 4, 3, true}, sqlite_params());
        QTRY_VERIFY(!d->busy());
        field<QLineEdit>(d.get(), "lta")->clear();
        d->accept();
        QTRY_COMPARE(boxes_with(QStringLiteral("Необходимо заполнить все поля!")).size(), 1);
        QVERIFY(d->isVisible());
        QCOMPARE(settings_.channels[0].lta, 10);
    }

    void postgres_code_lists() {
        std::string reason;
        auto pg = zelvik::test::make_test_store("postgres", reason);
        if (!pg) QSKIP(reason.c_str());
        pg->add_channel("AB", "BHZ", std::nullopt, 20);
        pg->add_channel("ABC", "SHZ", std::nullopt, 20);
        pg->add_channel("X'Y", "LHZ", std::nullopt, 1);
        auto d = open_edit({"AB", "BHZ", 1, 10, 2, 0.5, 4, 3, true},
                           {pg->dsn(), pg->user(), pg->password(), ""});
        QTRY_VERIFY_WITH_TIMEOUT(!d->busy(), 20000);
        QVERIFY2(boxes_with(QString()).isEmpty(), qPrintable(all_box_texts()));
        auto* station = field<QComboBox>(d.get(), "station");
        QCOMPARE(items(station), (QStringList{"AB", "ABC", "X'Y"}));
        QCOMPARE(station->currentText(), QStringLiteral("AB"));
        QCOMPARE(field<QComboBox>(d.get(), "channel")->currentText(), QStringLiteral("BHZ"));
        station->setCurrentIndex(2);
        emit station->activated(2);
        QTRY_VERIFY_WITH_TIMEOUT(!d->busy(), 20000);
        QCOMPARE(items(field<QComboBox>(d.get(), "channel")), QStringList{"LHZ"});
    }

    void no_store_shows_the_error_and_typed_codes_count() {
        auto d = open_edit({"KIV", "SHZ", 1, 10, 2, 0.5, 4, 3, true},
                           {"NoSuchSource", "u", "Hidden-Pw", ""});
        QTRY_VERIFY(!d->busy());
        QTRY_COMPARE(
            boxes_with(QStringLiteral("При попытке подключения к базе данных произошла ошибка:"))
                .size(),
            1);
        QCOMPARE(boxes_with(QString()).front()->windowTitle(),
                 QStringLiteral("Ошибка при подключении к базе данных"));
        QVERIFY(!all_box_texts().contains(QStringLiteral("Hidden-Pw")));
        close_all_boxes();
        QCOMPARE(field<QComboBox>(d.get(), "station")->count(), 0);
        d->accept();
        QCOMPARE(settings_.channels[0].station, std::string("KIV"));
        QCOMPARE(settings_.channels[0].channel, std::string("SHZ"));
    }

    // Each refusal names its field and keeps the dialog open with the entry unchanged;
    // the upper corner is checked against half of SITECHAN's 20 samples per second.
    void inconsistent_numbers_refused_naming_the_field() {
        const ChannelEntry stored{"ABC", "BHZ", 1, 10, 2, 0.5, 4, 3, true};
        auto d = open_edit(stored, sqlite_params());
        QTRY_VERIFY(!d->busy());
        struct Case {
            const char* sta;
            const char* fr1;
            const char* fr2;
            QString named;  // empty: accepted
        };
        const Case cases[] = {
            {"10", "0.5", "4", QStringLiteral("«Размер короткого окна, сек.» (10)")},
            {"1", "4", "4", QStringLiteral("«Нижняя частота фильтра, Гц» (4)")},
            {"1", "0.5", "10", QStringLiteral("частоты дискретизации канала BHZ (20 Гц")},
            {"1", "0.5", "9.5", QString()},
        };
        for (const Case& c : cases) {
            field<QLineEdit>(d.get(), "sta")->setText(QString::fromLatin1(c.sta));
            field<QLineEdit>(d.get(), "fr1")->setText(QString::fromLatin1(c.fr1));
            field<QLineEdit>(d.get(), "fr2")->setText(QString::fromLatin1(c.fr2));
            d->accept();
            if (c.named.isEmpty()) break;
            QTRY_COMPARE(boxes_with(c.named).size(), 1);
            QVERIFY(d->isVisible());
            QCOMPARE(settings_.channels[0], stored);
            close_all_boxes();
        }
        QVERIFY2(boxes_with(QString()).isEmpty(), qPrintable(all_box_texts()));
        QVERIFY(!d->isVisible());
        QCOMPARE(settings_.channels[0].fr2, 9.5);
    }

    // Codes the store does not list are kept as typed, with a warning.
    void typed_codes_not_in_the_store_are_kept() {
        auto d = open_edit({"ABC", "BHZ", 1, 10, 2, 0.5, 4, 3, true}, sqlite_params());
        QTRY_VERIFY(!d->busy());
        QCOMPARE(field<QComboBox>(d.get(), "station")->currentText(), QStringLiteral("ABC"));
        field<QComboBox>(d.get(), "station")->setEditText(QStringLiteral("NEWST"));
        field<QComboBox>(d.get(), "channel")->setEditText(QStringLiteral("HHZ"));
        d->accept();
        QVERIFY(!d->isVisible());
        QCOMPARE(settings_.channels[0].station, std::string("NEWST"));
        QCOMPARE(settings_.channels[0].channel, std::string("HHZ"));
        QTRY_COMPARE(boxes_with(QStringLiteral("код станции «NEWST», код канала «HHZ»")).size(), 1);
    }

    // A PostgreSQL data source whose server never answers: the dialog stays responsive,
    // shows that it is working, and the operator gives up.
    void silent_server_can_be_given_up() {
        SilentServer silent;
        zelvik::test::add_odbc_data_source("zsilent", {{"Driver", zelvik::test::kPostgresDriver},
                                                       {"Servername", "127.0.0.1"},
                                                       {"Port", std::to_string(silent.port())},
                                                       {"Database", "none"}});
        auto d = open_edit({"KIV", "SHZ", 1, 10, 2, 0.5, 4, 3, true}, {"zsilent", "u", "p", ""});
        QVERIFY(d->busy());
        QProgressDialog* busy = nullptr;
        QTRY_VERIFY((busy = d->findChild<QProgressDialog*>()) && busy->isVisible());
        bool ticked = false;
        QTimer::singleShot(50, this, [&] { ticked = true; });
        QTRY_VERIFY(ticked);  // the GUI thread runs its events meanwhile
        QVERIFY(d->busy());
        QTest::mouseClick(busy->findChild<QPushButton*>(), Qt::LeftButton);
        QTRY_VERIFY(!d->busy());
        QCOMPARE(BackgroundCall::running(), 1);  // the driver call is still under way
        d->accept();
        QCOMPARE(settings_.channels[0].station, std::string("KIV"));
        d.reset();
        silent.close();  // the driver's read fails, the call ends and its result is dropped
        QTRY_COMPARE_WITH_TIMEOUT(BackgroundCall::running(), 0, 20000);
        QVERIFY(boxes_with(QString()).isEmpty());
    }
};

}  // namespace zelvik::editor::ui::test

QObject* make_channel_dialog_test() {
    return new zelvik::editor::ui::test::ChannelDialogTest;
}

#include "channel_dialog_ui_test.moc"
