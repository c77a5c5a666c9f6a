// Window mode. Declaration order is the shutdown order: the engine goes first (its
// destructor joins the supervisor), then the events bridge it calls, then the window
// the bridge posts to.
#include "shell/ui/window_job.h"

#include <QCoreApplication>
#include <QLabel>
#include <QTimer>

#include <exception>

#include "common/log.h"
#include "config/program_settings.h"
#include "report/alarm_sound.h"
#include "shell/engine.h"
#include "shell/headless_runner.h"
#include "shell/settings_reload.h"
#include "shell/stop_request.h"
#include "shell/ui/channel_table_model.h"
#include "shell/ui/channel_view_window.h"
#include "shell/ui/channel_views.h"
#include "shell/ui/main_window.h"
#include "shell/ui/qt_engine_events.h"

namespace zelvik::shell {

namespace {

constexpr int kStopPollMs = 100;

QString caption_of(config::ProgramSettings& settings) {
    settings.resolve_connection();
    return QStringLiteral("Zelvik (v.20140306) DSN:%1/%2 Data:%3")
        .arg(QString::fromLocal8Bit(settings.data_source_name().c_str()),
             QString::fromLocal8Bit(settings.user_name().c_str()),
             QString::fromLocal8Bit(settings.data_directory().c_str()));
}

}  // namespace

int run_window_job(config::ProgramSettings& settings, db::WaveStore& store,
                   const StopRequest& stop) {
    try {
        ui::WindowSetup setup;
        setup.caption = caption_of(settings);
        setup.settings_path = QString::fromLocal8Bit(settings.settings_path().c_str());
        setup.editor_dirs = {QCoreApplication::applicationDirPath()};
        setup.no_data_seconds = settings.alarm_no_data();
        ui::MainWindow window(setup);
        report::AlarmSound sound;
        ui::QtEngineEvents events(&window, &sound);
        Engine engine(engine_settings(settings, false), store, events);
        window.attach_engine(&engine);

        // A channel view reads on a connection of its own; the engine is not touched.
        const detect::StoreAccess access = ChannelViewWindow::access_from(settings);
        auto* views = new ui::ChannelViews(&window, window.indicator());
        QObject::connect(&window, &ui::MainWindow::channel_activated, &window,
                         [&window, views, access](int channel_index) {
                             if (const ChannelView* c = window.model()->channel(channel_index))
                                 views->show(c->settings, access);
                         });
        if (!engine.start()) return 1;
        LiveSettings live(settings, engine, stderr);
        (void)live.start();

        // The signal watcher raises `stop` on its own thread; the GUI thread looks at it
        // between events, so the window ends the run in its own thread.
        QTimer stop_poll;
        QObject::connect(&stop_poll, &QTimer::timeout, &window, [&] {
            if (stop.requested()) window.exit_without_question();
        });
        stop_poll.start(kStopPollMs);
        window.exec();
        stop_poll.stop();
        engine.request_stop();
        return 0;
    } catch (const std::exception& e) {
        common::log_printf("Main window could not run: %s", e.what());
    }
    return 1;
}

}  // namespace zelvik::shell
