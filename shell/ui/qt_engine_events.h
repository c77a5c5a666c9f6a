// EngineEvents for the window: every call from the engine's supervisor thread is turned
// into a queued invocation on the window's (GUI) thread, with the data copied into it;
// no widget is touched on the engine thread and the engine never waits for the GUI.
#pragma once

#include <QPointer>

#include "shell/engine_events.h"

namespace zelvik::report {
class AlarmSound;
}

namespace zelvik::shell::ui {

class MainWindow;

class QtEngineEvents : public EngineEvents {
public:
    // `window` receives the updates; invocations still queued when it is destroyed are
    // dropped. `sound` (not owned, may be null) plays the alarm file on the engine
    // thread, which is the one the supervisor expects to wait for it.
    QtEngineEvents(MainWindow* window, report::AlarmSound* sound);

    void channels_changed(std::vector<ChannelView> rows) override;
    void alarm_changed(bool on, const std::string& text) override;
    void info_changed(const std::string& text) override;
    void settings_changed(const std::string& text) override;
    void log_trouble(const std::string& text) override;
    void play_alarm(const std::string& wav_path) override;

private:
    MainWindow* window_;  // used only as the invocations' context and target
    report::AlarmSound* sound_;
};

}  // namespace zelvik::shell::ui
