// The supervisor: works out the detection start time, builds and sets up one detector
// per channel section, then starts the worker and the report sender; every pass it
// turns the detectors' published times into channel rows and alarm states. The thread
// that calls start_up(), run_once() and shut_down() is the supervisor thread.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "channel/channel_detector.h"
#include "channel/stop_signal.h"
#include "channel/store_link.h"
#include "engine/alarm_board.h"
#include "engine/alert_gate.h"
#include "engine/coincidence_rule.h"
#include "engine/data_watchdog.h"
#include "engine/event_store_sink.h"
#include "engine/metrics_text.h"
#include "engine/no_data_mail.h"
#include "engine/watch_summary.h"
#include "engine/worker.h"
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
    int no_data_seconds = 600;           // ALARM NODATA; 0 = no data watch
    int coincidence = 1;                 // ALARM COINCIDENCE: stations needed for an alarm
    double window_seconds = 10.0;        // ALARM WINDOW: span their onsets must fit in
    report::MailSettings mail;           // report sender runs when server and recipient are set
    bool stop_when_idle = false;         // catch-up run: end after the first pass without data
    std::chrono::milliseconds shutdown_wait{10000};  // each bounded wait of the shutdown
    int reconnect_pause_ms = 2000;                   // pause of the reconnect protocol
    std::string metrics_directory;  // [SYSTEM] METRICS, for the shell's service health; "" = none
};

// Settings read again while running, already validated: what a running supervisor
// takes over from them.
struct SettingsUpdate {
    SupervisorSettings settings;            // the new values (path and arguments kept)
    std::vector<ChannelSettings> channels;  // THREAD0.. as the file now describes them
    // ODBC, USER, PASSWORD, DATA and USE_TEND when one of them changed: the store is
    // given them and reconnects. Empty: the connection stays.
    std::vector<std::pair<std::string, std::string>> connection;
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
    // No new data for NODATA seconds, or the store has not answered that long; the
    // last data time above is then the time the data stopped at.
    bool stalled = false;
    long detections = 0;  // made since start-up
    // Why the channel is in its state ("no SITECHAN row", a refused setting, ...), so a
    // skipped or waiting channel can say so where it is listed.
    std::string reason;
};

// What one channel achieved in a run, taken at shutdown once every measurement is
// finished and every row that could be stored is stored.
struct ChannelOutcome {
    ChannelSettings settings;
    ChannelState state = ChannelState::kNotSetUp;
    double last_data_time = 0.0;  // end of the data processed; 0 = none
    long detections = 0;
    long rows_stored = 0;          // event rows inserted for this channel
    std::array<long, 5> grades{};  // detections by pick grade, 0 clearest .. 4 unusable
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
    // list never changes while the worker walks it), the watch summary (logged), worker.
    // A catch-up run that can watch nothing starts no worker and raises the stop.
    // Returns the start time.
    int64_t start_up();

    // What this run watches, as found by start_up(). Supervisor thread, or any thread
    // once that thread has been joined.
    const WatchSummary& watch_summary() const { return watch_; }

    // True when shut_down() gave up waiting for the worker or the report sender (a mail
    // that could not finish, for instance).
    bool shutdown_overran() const { return overran_.load(); }

    // Per channel, as shut_down() found it; empty before. Any thread once the supervisor
    // thread has been joined.
    const std::vector<ChannelOutcome>& outcomes() const { return outcomes_; }

    // One 300 ms pass: data watch, coincidence rule (when COINCIDENCE is above 1), alarm
    // states. `now` is the run clock (common::now_run_seconds()), on which alarms,
    // silences, NODATA and waits are timed; `wall` the system clock (seconds since 1970),
    // against which data times are judged; 0 takes `now` for it.
    AlarmPass run_once(int64_t now, double wall = 0.0);

    // The data watch's log lines of the last pass (stalls, resumptions, the store outage,
    // data times in the future), for front ends that show them. Supervisor thread.
    const std::vector<std::string>& watch_lines() const { return watch_lines_; }

    // Copies of the rows as the last pass showed them. Supervisor thread.
    std::vector<ChannelRow> rows() const;

    // Supervisor thread, between passes: takes over `update` with the least disturbance.
    // Channels whose settings did not change keep their detectors (filters, trigger,
    // open measurements) and alarm states; a changed one restarts at its read position,
    // a new one as far back as the run started; those that go finish their open
    // measurements. The worker makes the change between two passes while this thread
    // waits (at most `wait`); false when it did not get there (nothing changed then).
    [[nodiscard]] bool apply_settings(const SettingsUpdate& update,
                                      std::chrono::milliseconds wait = std::chrono::seconds(30));

    // The channels and the process as the last pass found them, for the metrics file
    // and the service status; `now` in seconds since 1970. Supervisor thread.
    MetricsSnapshot metrics_snapshot(double now) const;

    // The worker's last sign of progress (Worker::last_progress); `now` when no worker
    // runs, as nothing can hang then. Supervisor thread.
    std::chrono::steady_clock::time_point worker_progress(
        std::chrono::steady_clock::time_point now) const;

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
    // Stored data the channels passed over as unreadable, gathered by shut_down() (the
    // detectors go with it). Read once the supervisor thread has ended.
    const std::vector<SkippedSegment>& skipped_segments() const { return skipped_; }

    const SupervisorSettings& settings() const { return settings_; }
    // Supervisor thread; changed only by apply_settings().
    const Worker::DetectorList& detectors() const { return detectors_; }
    const AlarmBoard& alarm_board() const { return board_; }
    EventStoreSink& event_sink() { return sink_; }
    report::ReportSender& report_sender() { return sender_; }

private:
    int clamp_thread_count() const;
    static void check_alarm_settings(SupervisorSettings& s);
    // The hook reads the channel's index from `index`, which a change of the channel
    // set renumbers (worker thread, between passes).
    DetectionHook detection_hook(std::shared_ptr<int> index);
    std::vector<std::string> channel_names() const;
    std::vector<std::string> watch_labels() const;
    void take_over_values(const SupervisorSettings& s);
    void build_watch();
    void watch_pass(int64_t now, double wall, bool& rows_changed);
    void coincidence_pass(int64_t now, bool final);
    // Reports a raise the rule made, unless an earlier run stored its detection; false
    // while that is not known yet.
    bool report_raise(const CoincidenceOutcome::Raised& r, bool final);
    void summarise();
    // A running channel's identity and sample rate, for the look-up of its data end.
    struct BacklogProbe {
        size_t index;  // into detectors_
        std::string station, channel, location;
        double sample_rate;
    };
    std::vector<BacklogProbe> backlog_probes() const;  // before the worker starts

    SupervisorSettings settings_;
    StopSignal stop_;
    StoreLink link_;
    report::ReportSender sender_;
    EventStoreSink sink_;
    AlertGate gate_;  // the detectors' measurement sink: reports, then sink_
    // Filled by start_up() before the worker starts; changed again only after it ended.
    Worker::DetectorList detectors_;
    std::vector<std::shared_ptr<int>> hook_index_;  // per detector, its index for its hook
    // Per detector, supervisor thread: filled by start_up() once the worker runs.
    std::vector<double> backlog_end_;
    AlarmBoard board_;  // supervisor thread, except silence/sound switch
    std::vector<ChannelReading> readings_;
    // Supervisor thread; built by start_up(). The rule exists only for COINCIDENCE > 1,
    // the mail only when the report sender runs.
    std::unique_ptr<DataWatchdog> watchdog_;
    std::unique_ptr<NoDataMail> no_data_mail_;
    std::unique_ptr<CoincidenceRule> coincidence_;
    std::vector<std::string> watch_lines_;
    std::vector<SkippedSegment> skipped_;  // filled by shut_down()
    int64_t start_time_ = 0;
    int64_t started_at_ = 0;    // clock time of start_up(): channels added later look as far back
    int64_t run_started_ = 0;   // wall time of start_up(), seconds since 1970
    std::vector<long> alarms_;  // per detector: times it went into alarm; supervisor thread
    // Under the coincidence rule, supervisor thread: per detector, the latest onset whose
    // raise was reported (the alarm shows it); raises of replayed detections whose rows
    // wait for the store's verdict.
    std::vector<double> raised_onset_;
    std::vector<CoincidenceOutcome::Raised> held_raises_;
    WatchSummary watch_;
    std::vector<ChannelOutcome> outcomes_;
    std::atomic<bool> overran_{false};
    bool started_ = false;
    bool shut_down_ = false;
    // Declared last: destroyed (and joined) before the detectors it walks.
    std::unique_ptr<Worker> worker_;
};

}  // namespace zelvik::detect
