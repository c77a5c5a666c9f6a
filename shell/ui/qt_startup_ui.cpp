// QMessageBox versions of the two start-up boxes. The texts carry "\r\n" between their
// sentences; Qt shows that as one line break.
#include "shell/ui/qt_startup_ui.h"

#include <QApplication>
#include <QMessageBox>
#include <QString>

#include <cstdlib>

namespace zelvik::shell {

namespace {

class QtStartupUi : public StartupUi {
public:
    QtStartupUi(int& argc, char** argv) : app_(argc, argv) {}

    bool ask_yes_no(const std::string& text, const std::string& caption) override {
        return QMessageBox::warning(nullptr, QString::fromLocal8Bit(caption.c_str()),
                                    QString::fromLocal8Bit(text.c_str()),
                                    QMessageBox::Yes | QMessageBox::No,
                                    QMessageBox::No) == QMessageBox::Yes;
    }

    void show_error(const std::string& text, const std::string& caption) override {
        QMessageBox::critical(nullptr, QString::fromLocal8Bit(caption.c_str()),
                              QString::fromLocal8Bit(text.c_str()), QMessageBox::Ok);
    }

private:
    QApplication app_;
};

bool display_available() {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform != nullptr && *platform != '\0') return true;
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x11 != nullptr && *x11 != '\0') || (wayland != nullptr && *wayland != '\0');
}

}  // namespace

std::unique_ptr<StartupUi> make_qt_startup_ui(int& argc, char** argv) {
    // QApplication ends the process when it cannot reach a display; ask first.
    if (!display_available()) return nullptr;
    return std::make_unique<QtStartupUi>(argc, argv);
}

}  // namespace zelvik::shell
