// The detection report: the worker queues each new detection, and a sender thread
// wakes once a period, turns everything queued into one "ALERT" report (a mail of
// fixed-column arrival lines, a JSON document for the webhook), keeps it in the outbox
// and offers it until each path took it. The queue lock is never held across I/O.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "report/mail_settings.h"
#include "report/report_delivery.h"

namespace zelvik::report {

// One queued detection, with its measurement when it was made before the report.
struct ReportEntry {
    ReportEntry() = default;
    ReportEntry(std::string station_code, double onset_time, double sta, float sta_lta)
        : station(std::move(station_code)), onset(onset_time), sta_variance(sta), ratio(sta_lta) {}

    std::string station;             // at most 15 characters
    double onset = 0.0;              // seconds since 1970 UTC
    double sta_variance = 0.0;       // trigger STA variance at the detection
    float ratio = 0.0f;              // trigger STA/LTA variance ratio
    std::string channel, location;   // empty when not known
    double period = 0.0;             // dominant period, seconds; 0 = none measured
    double amplitude_counts = -1.0;  // -1 = not measured
    double amplitude_um = -1.0;      // micrometres of displacement; -1 = not converted
    double pick = 0.0;               // refined onset, seconds since 1970; 0 = none made
    int pick_grade = 4;              // 0 clearest .. 4 unusable
    double pick_snr = 0.0;           // 0 = unknown
};

// The column header that starts every report body (127 characters and "\n").
extern const std::string_view kReportHeader;

// One arrival line, 128 columns and "\n". `det_id` is the entry's position in its
// report counted from 0. A field that runs past the line end is cut there.
std::string format_report_line(const ReportEntry& entry, std::string_view network, int det_id);

// The whole body: the header and one line per entry, in order.
std::string format_report_body(const std::vector<ReportEntry>& entries, std::string_view network);

// Owns the report queue and the sender thread.
class ReportSender {
public:
    struct Timing {
        std::chrono::milliseconds period{60000};        // sender wake-up period
        std::chrono::milliseconds smtp_timeout{30000};  // connect and each read
        // Wake-up period when a prompt path (TLS mail, webhook) is configured.
        std::chrono::milliseconds prompt_period{1000};
        Outbox::Backoff retry{};  // waits between attempts at an unsent report
    };

    explicit ReportSender(MailSettings mail);
    ReportSender(MailSettings mail, Timing timing);
    ~ReportSender();  // request_stop() and join(smtp_timeout) when still running
    ReportSender(const ReportSender&) = delete;
    ReportSender& operator=(const ReportSender&) = delete;

    // Called on the sender thread with the log line of every mail that failed (a front
    // end repeats it where the operator looks). Set before start(); must not throw.
    void set_failure_notice(std::function<void(const std::string&)> notice) {
        failure_notice_ = std::move(notice);
    }

    // Starts the sender thread when the server and the recipient, or the webhook, are
    // set and makes the queue ready. False (no thread, detections discarded) otherwise,
    // or when already started. The thread first takes in what an earlier run left in
    // the outbox.
    [[nodiscard]] bool start();

    // True from a successful start() until the sender thread has ended.
    bool ready() const { return ready_.load(std::memory_order_acquire); }

    // Worker thread. Queues a detection (station cut to 15 characters) when ready;
    // never waits for the network. Returns whether the detection was queued.
    bool report_detection(std::string_view station, double onset, double sta_variance, float ratio);
    // The same with everything the entry carries (channel and measurement).
    bool report_entry(ReportEntry entry);

    // Any thread. Queues one more mail with its own subject and body (the data watch's
    // "NO DATA"); the sender thread sends it after its next report, with the same SMTP
    // client and settings, never waiting on the caller's thread. False when not ready.
    bool queue_mail(std::string subject, std::string body);

    // Mail settings changed while running (one thread at a time: the supervisor's). A
    // running sender takes them at once, at the start of its next round, and offers
    // what waits in the outbox by them; a sender that was not started starts with them
    // when they name a path (see ready()).
    void change_mail(MailSettings mail);

    // The report stop flag. Raising it wakes the sender at once; what is queued
    // then is still mailed once before the thread ends. Any thread.
    void request_stop();
    void clear_stop();
    bool stop_requested() const { return stop_.load(std::memory_order_acquire); }

    // Waits at most `timeout` for the sender thread to end. When it runs out, logs,
    // abandons the mail in progress (its network waits end within ~50 ms) and still
    // joins, so the thread is never left behind. True when it ended in time (or was
    // never started).
    [[nodiscard]] bool join(std::chrono::milliseconds timeout);

    // Deliveries (per report and path) that succeeded / failed so far. Any thread.
    int mails_sent() const { return mails_sent_.load(); }
    int mails_failed() const { return mails_failed_.load(); }
    // Reports (per path) waiting in the outbox after the sender's last round. Any thread.
    size_t backlog() const { return backlog_.load(); }

private:
    void run() noexcept;
    void wait_for_round();
    void take_changed_mail();
    // Moves what is queued into the outbox; returns the ids of the reports made.
    std::vector<std::string> keep_queued();
    void deliver(const std::vector<std::string>* only_ids);
    void log_attempt(const ReportDelivery::Attempt& a);
    // Logs a failed mail and hands the line to the front end.
    void failed(const std::string& line);
    std::vector<ReportEntry> take_entries();

    // Sender thread once started (replaced there by a change); before, the owner's.
    MailSettings mail_;
    std::function<void(const std::string&)> failure_notice_;  // set before start()
    const Timing timing_;

    std::atomic<bool> ready_{false};
    std::atomic<bool> stop_{false};
    std::atomic<bool> abort_{false};  // cuts a hanging dialogue short at join timeout
    std::atomic<int> mails_sent_{0};
    std::atomic<int> mails_failed_{0};
    std::atomic<size_t> backlog_{0};
    std::optional<ReportDelivery> delivery_;  // sender thread only, once started

    struct QueuedMail {
        std::string subject, body;
    };
    // Guards entries_ and mails_.
    std::mutex queue_mutex_;
    std::vector<ReportEntry> entries_;
    std::vector<QueuedMail> mails_;
    std::optional<MailSettings> changed_mail_;  // taken by the sender at its next round
    std::atomic<bool> mail_changed_{false};     // ends the sender's wait for a round

    // Guards the wake-up and end-of-thread signalling (stop_ is also set under it so
    // a wake-up cannot be missed).
    std::mutex wake_mutex_;
    std::condition_variable wake_;
    bool finished_ = false;

    std::thread thread_;
};

}  // namespace zelvik::report
