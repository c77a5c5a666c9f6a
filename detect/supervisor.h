// The supervisor: works out the detection start time, builds and sets up one detector
// per channel section, then starts the worker and the report sender; every pass it
// turns the detectors' published times into channel rows and alarm states. The thread
// that calls start_up(), run_once() and shut_down() is the supervisor thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "detect/alarm_board.h"
#include "detect/channel_detector.h"
#include "detect/event_store_sink.h"
#include "detect/stop_signal.h"
#include "detect/store_link.h"
#include "detect/worker.h"
#include "report/detection_report.h"

namespace zelvik::db {
class WaveStore;
}

namespace zelvik::detect {

struct SupervisorSettings {
    std::string settings_path;           // zelvik.ini: THREADn sections and BEGIN
    std::vector<std::string> arguments;  // command line, examined for BEGIN
    int thread_count = 0;                // THREADS
    int sleep_seconds = 40;              // SLEEP
    int storage_days = 30;               // STORAGE_TIME
    std::string wav_file;                // ALARM WAVFILE; "*..." = no sound
    int silence_seconds = 30;            // ALARM SILENCE
    int max_duration_seconds = 120;      // ALARM MAXDURATION
    report::MailSettings mail;           // report sender runs when server and recipient are set
    bool stop_when_idle = false;         // catch-up run: end after the first pass without data
    std::chrono::milliseconds shutdown_wait{10000};  // each bounded wait of the shutdown
    int reconnect_pause_ms = 2000;                   // pause of the reconnect protocol
};

// One row of the channel list: a copy, safe to hand to another thread.
struct ChannelRow {
    ChannelSettings settings;
    ChannelState state = ChannelState::kWaitingForStore;
    double last_data_time = 0.0;  // as last shown; 0 = no data yet
    double last_onset = 0.0;      // as last shown; 0 = "No event yet"
    bool in_alarm = false;
    double start_time = 0.0;   // detection start
    double backlog_end = 0.0;  // end of the data found at start-up (catch-up runs), else 0
};

class Supervisor {
public:
    static constexpr int kMaxChannels = 1000;  // THREADS beyond this is refused

    // `store` is not owned, must be connected, and must outlive the supervisor.
    Supervisor(SupervisorSettings settings, db::WaveStore& store);
    virtual ~Supervisor();  // shut_down() when start_up() ran and shut_down() did not
    Supervisor(const Supervisor&) = delete;
    Supervisor& operator=(const Supervisor&) = delete;

    // Start time, report sender, detectors (all set up before the worker starts, so the
    // list never changes while the worker walks it), worker. Returns the start time.
    int64_t start_up();

    // One 300 ms pass at `now` (whole seconds since 1970).
    AlarmPass run_once(int64_t now);

    // Copies of the rows as the last pass showed them. Supervisor thread.
    std::vector<ChannelRow> rows() const;

    // Bounded shutdown: waits for the worker, finishes open measurements, stores
    // waiting rows, stops the report sender and waits for it. Idempotent.
    void shut_down();

    // Any thread.
    void request_stop() { stop_.request(); }
    bool stop_requested() const { return stop_.requested(); }
    StopSignal& stop_signal() { return stop_; }
    void silence(int seconds = -1);
    void set_sound_enabled(bool on) { board_.set_sound_enabled(on); }
    bool sound_enabled() const { return board_.sound_enabled(); }
    bool caught_up() const { return worker_ && worker_->idle(); }

    const SupervisorSettings& settings() const { return settings_; }
    const Worker::DetectorList& detectors() const { return detectors_; }  // fixed after start_up
    const AlarmBoard& alarm_board() const { return board_; }
    EventStoreSink& event_sink() { return sink_; }
    report::ReportSender& report_sender() { return sender_; }

private:
    int clamp_thread_count() const;
    double find_backlog_end(const ChannelDetector& d, double start, double now);

    SupervisorSettings settings_;
    StopSignal stop_;
    StoreLink link_;
    report::ReportSender sender_;
    EventStoreSink sink_;
    // Filled by start_up() before the worker starts; changed again only after it ended.
    Worker::DetectorList detectors_;
    std::vector<double> backlog_end_;  // per detector, supervisor thread
    AlarmBoard board_;                 // supervisor thread, except silence/sound switch
    std::vector<ChannelReading> readings_;
    int64_t start_time_ = 0;
    bool started_ = false;
    bool shut_down_ = false;
    // Declared last: destroyed (and joined) before the detectors it walks.
    std::unique_ptr<Worker> worker_;
};

}  // namespace zelvik::detect
