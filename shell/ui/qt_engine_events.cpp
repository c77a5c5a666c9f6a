// The functor form of invokeMethod with a context object: Qt queues the call to the
// context's thread and drops it if the context is gone by then.
#include "shell/ui/qt_engine_events.h"

#include <QMetaObject>
#include <QString>

#include "report/alarm_sound.h"
#include "shell/ui/main_window.h"

namespace zelvik::shell::ui {

QtEngineEvents::QtEngineEvents(MainWindow* window, report::AlarmSound* sound)
    : window_(window), sound_(sound) {}

void QtEngineEvents::channels_changed(std::vector<ChannelView> rows) {
    MainWindow* window = window_;
    QMetaObject::invokeMethod(
        window, [window, rows = std::move(rows)]() mutable { window->show_rows(std::move(rows)); },
        Qt::QueuedConnection);
}

void QtEngineEvents::alarm_changed(bool on, const std::string& text) {
    MainWindow* window = window_;
    const QString shown = QString::fromLatin1(text.c_str());
    QMetaObject::invokeMethod(
        window, [window, on, shown] { window->show_alarm(on, shown); }, Qt::QueuedConnection);
}

void QtEngineEvents::info_changed(const std::string& text) {
    MainWindow* window = window_;
    const QString shown = QString::fromLatin1(text.c_str());
    QMetaObject::invokeMethod(
        window, [window, shown] { window->show_info(shown); }, Qt::QueuedConnection);
}

void QtEngineEvents::log_trouble(const std::string& text) {
    MainWindow* window = window_;
    const QString shown = QString::fromStdString(text);
    QMetaObject::invokeMethod(
        window, [window, shown] { window->show_log_trouble(shown); }, Qt::QueuedConnection);
}

void QtEngineEvents::settings_changed(const std::string& text) {
    MainWindow* window = window_;
    const QString shown = QString::fromLocal8Bit(text.c_str());
    QMetaObject::invokeMethod(
        window, [window, shown] { window->show_settings_note(shown); }, Qt::QueuedConnection);
}

void QtEngineEvents::play_alarm(const std::string& wav_path) {
    if (sound_ != nullptr) (void)sound_->play(wav_path);
}

}  // namespace zelvik::shell::ui
