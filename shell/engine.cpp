// The supervisor thread. Front ends hear only of changes: rows after a pass that changed
// them, the alarm display when it turns on or off; the sound plays at every pass of a
// sounding alarm, as the alarm file is meant to repeat.
#include "shell/engine.h"

#include <cstdio>
#include <exception>
#include <memory>

#include "common/civil_time.h"
#include "common/clock.h"
#include "common/log.h"
#include "shell/service_health.h"

namespace zelvik::shell {

namespace {
constexpr const char* kAlarmText = "!!! A L A R M !!!";
}

Engine::Engine(detect::SupervisorSettings settings, db::WaveStore& store, EngineEvents& events)
    : supervisor_(std::move(settings), store), events_(events) {
    supervisor_.report_sender().set_failure_notice(
        [this](const std::string& text) { events_.mail_failed(text); });
    common::log_set_trouble_notice([this](const std::string& text) { events_.log_trouble(text); });
}

Engine::~Engine() {
    request_stop();
    if (thread_.joinable()) thread_.join();
    common::log_set_trouble_notice(nullptr);
}

bool Engine::start() {
    if (thread_.joinable()) return false;
    thread_ = std::thread([this] { body(); });
    return true;
}

void Engine::request_stop() {
    supervisor_.request_stop();
}

void Engine::silence_for(int seconds) {
    supervisor_.silence(seconds);
}

void Engine::set_sound_enabled(bool on) {
    supervisor_.set_sound_enabled(on);
}

void Engine::offer_settings(detect::SettingsUpdate update, std::string what) {
    const common::MutexLock lock(offer_mutex_);
    offer_ = Offer{std::move(update), std::move(what)};
}

void Engine::refuse_settings(std::string why) {
    const std::string at = common::format_local(common::now_utc_seconds(), "%H:%M:%S");
    std::string note = why.empty() ? "settings file back to the settings in force " + at
                                   : "settings refused " + at + ": " + why;
    const common::MutexLock lock(offer_mutex_);
    note_ = std::move(note);
}

void Engine::show_durations() {
    const detect::SupervisorSettings& s = supervisor_.settings();
    char info[64];
    std::snprintf(info, sizeof info, "duration: %d  silence: %d", s.max_duration_seconds,
                  s.silence_seconds);
    events_.info_changed(info);
}

void Engine::take_settings() {
    std::optional<Offer> offer;
    std::string note;
    {
        const common::MutexLock lock(offer_mutex_);
        offer.swap(offer_);
        note.swap(note_);
    }
    if (!note.empty()) events_.settings_changed(note);
    if (!offer) return;
    if (!supervisor_.apply_settings(offer->update)) {
        // A pass of the worker outlasted the wait: the offer is tried again at the next
        // pass, unless a newer one came meanwhile.
        common::log_write("Settings not applied yet: the worker is busy with a long pass");
        const common::MutexLock lock(offer_mutex_);
        if (!offer_) offer_ = std::move(offer);
        return;
    }
    common::log_write("Settings applied: " + offer->what);
    show_durations();
    events_.settings_changed("settings applied " +
                             common::format_local(common::now_utc_seconds(), "%H:%M:%S"));
    events_.channels_changed(supervisor_.rows());
}

void Engine::run_pass(int64_t now, double wall) {
    take_settings();
    // An empty message only makes sure today's log file exists, so a quiet station still
    // gets its new file, with the day header, soon after midnight.
    (void)common::log_write("");
    const detect::AlarmPass pass = supervisor_.run_once(now, wall);
    for (const std::string& line : supervisor_.watch_lines()) events_.data_watch(line);
    if (pass.rows_changed) events_.channels_changed(supervisor_.rows());
    if (pass.display_changed) {
        display_on_ = pass.display_on;
        events_.alarm_changed(pass.display_on, pass.display_on ? kAlarmText : "");
    }
    const std::string& wav = supervisor_.settings().wav_file;
    if (pass.play_sound && !wav.empty() && wav.front() != '*') events_.play_alarm(wav);
}

void Engine::body() noexcept {
    std::unique_ptr<ServiceHealth> health;
    try {
        health = std::make_unique<ServiceHealth>(supervisor_.settings().metrics_directory);
        supervisor_.start_up();
        health->started(supervisor_);
        events_.watch_summary(supervisor_.watch_summary().text);
        show_durations();
        events_.channels_changed(supervisor_.rows());
        for (;;) {
            // A catch-up run shows its final state in one more pass, then ends.
            const bool done = supervisor_.caught_up();
            run_pass(common::now_run_seconds(), common::now_utc());
            health->pass(supervisor_, common::now_utc(), std::chrono::steady_clock::now());
            if (done) {
                common::log_write("All channels caught up: no new data in the last pass");
                break;
            }
            // A worker that has caught up raises the stop itself; that ends the run
            // after the final pass above.
            if (supervisor_.stop_signal().wait_for(kPassInterval) && !supervisor_.caught_up())
                break;
        }
    } catch (const std::exception& e) {
        common::log_printf("Supervisor stopped by an error: %s", e.what());
    } catch (...) {
        common::log_write("Supervisor stopped by an unknown error");
    }
    try {
        if (health) health->stopping(supervisor_);
        supervisor_.shut_down();
        if (display_on_) events_.alarm_changed(false, "");
    } catch (...) {
        common::log_write("Supervisor shutdown failed");
    }
    // The last metrics file is written while the thread still counts as running.
    try {
        health.reset();
    } catch (...) {
        common::log_write("Metrics writer did not end cleanly");
    }
    finished_.mark();
}

bool Engine::wait(std::chrono::milliseconds timeout) {
    if (!thread_.joinable()) return true;
    if (!finished_.wait_for(timeout)) {
        common::log_printf("Supervisor did not end within %lld ms",
                           static_cast<long long>(timeout.count()));
        return false;
    }
    thread_.join();
    return true;
}

}  // namespace zelvik::shell
