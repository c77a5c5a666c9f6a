// The Engine facade: owns the supervisor thread and with it the worker and the report
// sender. A front end starts it, sends the few commands below and watches it through
// EngineEvents; nothing else of the engine is visible to it.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "common/finish_latch.h"
#include "common/mutex.h"
#include "engine/supervisor.h"
#include "shell/engine_events.h"

namespace zelvik::db {
class WaveStore;
}

namespace zelvik::shell {

class Engine {
public:
    static constexpr std::chrono::milliseconds kPassInterval{300};

    // `store` (connected) and `events` are not owned and must outlive the engine.
    Engine(detect::SupervisorSettings settings, db::WaveStore& store, EngineEvents& events);
    ~Engine();  // request_stop() and wait()
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // Starts the supervisor thread. False when already started.
    [[nodiscard]] bool start();

    // Any thread: raises the stop flag; the supervisor shuts down within its bounded waits.
    void request_stop();

    // Waits up to `timeout` for the supervisor thread to finish its shutdown; true when
    // it has (the thread is joined then). Logs when the time runs out.
    [[nodiscard]] bool wait(std::chrono::milliseconds timeout);

    // True once the supervisor thread has shut down: after a stop, or by itself at the
    // end of a catch-up run. Any thread.
    bool finished() const { return finished_.is_set(); }

    // Any thread: front-end commands.
    void silence_for(int seconds);  // negative: the configured silence
    void set_sound_enabled(bool on);

    // Any thread: settings read again and checked. The supervisor thread takes them over
    // before its next pass and logs "Settings applied: <what>"; an offer not yet taken
    // is replaced by a later one.
    void offer_settings(detect::SettingsUpdate update, std::string what);
    // Any thread: settings read again and refused (logged already) because of `why`;
    // front ends hear it from the supervisor thread. An empty `why`: the file is back
    // to the settings in force after a refusal.
    void refuse_settings(std::string why);

    // One supervisor pass (loop body), for tests that drive the engine by hand. Takes
    // over offered settings first.
    void run_pass(int64_t now, double wall);  // run clock and system clock

    detect::Supervisor& supervisor() { return supervisor_; }

private:
    void body() noexcept;
    void take_settings();
    void show_durations();

    struct Offer {
        detect::SettingsUpdate update;
        std::string what;
    };
    // Guards the settings offered or refused by the settings watch.
    common::Mutex offer_mutex_;
    std::optional<Offer> offer_ GUARDED_BY(offer_mutex_);
    std::string note_ GUARDED_BY(offer_mutex_);  // for the front end, stamped when it came

    detect::Supervisor supervisor_;
    EngineEvents& events_;
    bool display_on_ = false;  // supervisor thread
    common::FinishLatch finished_;
    std::thread thread_;
};

}  // namespace zelvik::shell
