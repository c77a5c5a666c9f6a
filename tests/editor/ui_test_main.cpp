// One program for the ZelvikCfg widget suites, offscreen unless told otherwise.
#include <QApplication>
#include <QtTest>
#include <memory>

QObject* make_channel_page_test();
QObject* make_channel_dialog_test();
QObject* make_pages_test();
QObject* make_settings_dialog_test();

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    int failed = 0;
    for (auto make : {make_channel_page_test, make_channel_dialog_test, make_pages_test,
                      make_settings_dialog_test}) {
        std::unique_ptr<QObject> suite(make());
        failed += QTest::qExec(suite.get(), argc, argv);
    }
    return failed == 0 ? 0 : 1;
}
