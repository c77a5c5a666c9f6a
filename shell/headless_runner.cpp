// Headless main job. The main thread only waits: the engine's supervisor thread does the
// work, and the stop request (raised by the signal watcher) ends it.
#include "shell/headless_runner.h"

#include <chrono>
#include <exception>
#include <memory>

#include "common/channel_id.h"
#include "common/log.h"
#include "config/program_settings.h"
#include "report/alarm_sound.h"
#include "shell/alert_settings.h"
#include "shell/catch_up_summary.h"
#include "shell/engine.h"
#include "shell/headless_events.h"
#include "shell/settings_reload.h"
#include "shell/skipped_data_report.h"
#include "shell/stop_request.h"

namespace zelvik::shell {

namespace {
// The supervisor's own shutdown waits at most 10 s for the worker and 10 s for the
// report sender; this bounds the main thread's wait beyond both.
constexpr std::chrono::milliseconds kShutdownWait{25000};
constexpr std::chrono::milliseconds kPoll{50};
}  // namespace

detect::SupervisorSettings engine_settings(const config::ProgramSettings& settings,
                                           bool until_caught_up) {
    detect::SupervisorSettings s;
    s.settings_path = settings.settings_path();
    s.arguments = settings.arguments();
    s.thread_count = settings.thread_count();
    s.sleep_seconds = settings.sleep_time();
    s.storage_days = settings.storage_time();
    s.wav_file = settings.alarm_wav_file();
    s.silence_seconds = settings.alarm_silence();
    s.max_duration_seconds = settings.alarm_max_duration();
    s.no_data_seconds = settings.alarm_no_data();
    s.coincidence = settings.alarm_coincidence();
    s.window_seconds = settings.alarm_window();
    std::string problem;
    s.mail = alert_settings(settings, problem);
    if (!problem.empty()) common::log_write(problem);
    s.stop_when_idle = until_caught_up;
    s.metrics_directory = settings.metrics_directory();
    return s;
}

int run_engine_headless(const config::ProgramSettings& settings, db::WaveStore& store,
                        const StopRequest& stop, bool until_caught_up, std::FILE* err) {
    try {
        report::AlarmSound sound;
        HeadlessEvents events(err, &sound, until_caught_up);
        Engine engine(engine_settings(settings, until_caught_up), store, events);
        if (!engine.start()) return 1;
        // A catch-up run reads an archive through once: its settings stay as they were.
        std::unique_ptr<LiveSettings> live;
        if (!until_caught_up) {
            live = std::make_unique<LiveSettings>(settings, engine, err);
            (void)live->start();
        }
        while (!engine.finished() && !stop.wait_for(kPoll)) {
        }
        live.reset();
        engine.request_stop();
        const bool ended = engine.wait(kShutdownWait);
        if (!ended) return 1;  // the supervisor still runs: nothing of it may be read
        const detect::Supervisor& supervisor = engine.supervisor();
        if (until_caught_up && !supervisor.watch_summary().can_watch()) {
            if (err != nullptr)
                std::fprintf(err, "zelvik: nothing to catch up: no channel could run\n");
            return kNothingWatched;
        }
        events.final_progress();
        if (until_caught_up && err != nullptr) {
            std::vector<CatchUpFigures> figures;
            for (const detect::ChannelOutcome& o : supervisor.outcomes()) {
                figures.push_back({common::channel_id(o.settings.station, o.settings.channel,
                                                      o.settings.location),
                                   o.state == detect::ChannelState::kRunning, o.last_data_time,
                                   o.detections, o.rows_stored, o.grades});
            }
            std::fputs(catch_up_summary(figures).c_str(), err);
        }
        // A mail or a worker that could not finish within the bounded waits is an
        // overrun like the supervisor's own.
        if (supervisor.shutdown_overran()) return 1;
        const auto& skipped = supervisor.skipped_segments();
        report_skipped_data(err, skipped);
        return until_caught_up && !skipped.empty() ? kExitSkippedData : 0;
    } catch (const std::exception& e) {
        common::log_printf("Engine could not run: %s", e.what());
    }
    return 1;
}

}  // namespace zelvik::shell
