// Report lines and the sender thread. The worker only appends to the queue under its
// lock; the sender moves the whole queue out under that lock and does the formatting,
// the outbox files and all network traffic without it.
#include "report/detection_report.h"

#include <cmath>
#include <cstdio>
#include <exception>
#include <utility>

#include "common/civil_time.h"
#include "common/clock.h"
#include "common/log.h"
#include "report/report_json.h"

namespace zelvik::report {
namespace {

constexpr size_t kLineWidth = 128;
constexpr size_t kStationCapacity = 15;

// Copies `text` into `line` at `column`, overwriting what is there; what would run
// past the end of the line is cut.
void put_field(std::string& line, size_t column, const char* text) {
    for (size_t i = 0; text[i] != '\0' && column + i < kLineWidth; ++i) line[column + i] = text[i];
}

}  // namespace

const std::string_view kReportHeader =
    "Net       Sta   BeamID          Date       Time      Phase     Azim  Slow   SNR       "
    "Amp   Per   STA   Dur Author       DetID\n";

std::string format_report_line(const ReportEntry& entry, std::string_view network, int det_id) {
    std::string line(kLineWidth, ' ');
    // A huge value printed with "%5.1f" can be hundreds of characters; all that
    // matters is what fits on the line.
    char field[kLineWidth + 1];
    const std::string net = network.empty() ? std::string("QRS") : std::string(network);
    const std::string station(entry.station.substr(0, kStationCapacity));

    const double onset = std::isfinite(entry.onset) ? entry.onset : 0.0;
    const common::Civil c = common::civil_from_epoch(onset);
    // Seconds of the minute in single precision, as the report has always shown them;
    // float rounding may lift 59.99999 to 60, which is no time of day.
    const float s = static_cast<float>(c.second);
    int whole = static_cast<int>(s);
    int tenth = static_cast<int>((s - std::floor(s)) * 10.0f);
    if (whole >= 60) {
        whole = 59;
        tenth = 9;
    }

    std::snprintf(field, sizeof field, "%-9s", net.c_str());
    put_field(line, 0, field);
    std::snprintf(field, sizeof field, "%-5s", station.c_str());
    put_field(line, 10, field);
    put_field(line, 16, "mb_beam     ");
    std::snprintf(field, sizeof field, "%4d/%02d/%02d", c.year, c.month, c.day);
    put_field(line, 29, field);
    std::snprintf(field, sizeof field, "%02d:%02d:%02d.%1d", c.hour, c.minute, whole, tenth);
    put_field(line, 40, field);
    put_field(line, 53, "N           ");
    put_field(line, 62, "  0.0");
    put_field(line, 68, "  0.0");
    std::snprintf(field, sizeof field, "%5.1f", static_cast<double>(entry.ratio));
    put_field(line, 74, field);
    put_field(line, 80, "      1.0");
    put_field(line, 90, " 1.00");
    std::snprintf(field, sizeof field, "%5.1f", entry.sta_variance);
    put_field(line, 96, field);
    put_field(line, 102, "  1.0");
    put_field(line, 108, "ZELVIK   ");
    std::snprintf(field, sizeof field, "%08d", det_id);
    put_field(line, 118, field);
    line.push_back('\n');
    return line;
}

std::string format_report_body(const std::vector<ReportEntry>& entries, std::string_view network) {
    std::string body(kReportHeader);
    body.reserve(kReportHeader.size() + entries.size() * (kLineWidth + 1));
    for (size_t i = 0; i < entries.size(); ++i) {
        body += format_report_line(entries[i], network, static_cast<int>(i));
    }
    return body;
}

ReportSender::ReportSender(MailSettings mail) : ReportSender(std::move(mail), Timing{}) {}

ReportSender::ReportSender(MailSettings mail, Timing timing)
    : mail_(std::move(mail)),
      timing_(timing),
      delivery_(std::in_place, mail_, timing.retry, timing.smtp_timeout, &abort_) {}

ReportSender::~ReportSender() {
    if (thread_.joinable()) {
        request_stop();
        (void)join(timing_.smtp_timeout);
    }
}

bool ReportSender::start() {
    if (thread_.joinable() || !mail_.any_path()) return false;
    {
        std::lock_guard<std::mutex> lock(wake_mutex_);
        finished_ = false;
    }
    try {
        thread_ = std::thread([this] { run(); });
    } catch (const std::exception& e) {
        (void)common::log_printf("Report sender not started: %s", e.what());
        return false;
    }
    ready_.store(true, std::memory_order_release);
    return true;
}

bool ReportSender::report_detection(std::string_view station, double onset, double sta_variance,
                                    float ratio) {
    ReportEntry entry;
    entry.station = std::string(station);
    entry.onset = onset;
    entry.sta_variance = sta_variance;
    entry.ratio = ratio;
    return report_entry(std::move(entry));
}

bool ReportSender::report_entry(ReportEntry entry) {
    if (!ready()) return false;
    if (entry.station.size() > kStationCapacity) entry.station.resize(kStationCapacity);
    std::lock_guard<std::mutex> lock(queue_mutex_);
    entries_.push_back(std::move(entry));
    return true;
}

void ReportSender::request_stop() {
    {
        // Set under the wake mutex so the sender cannot test the flag, miss it and
        // then sleep a whole period.
        std::lock_guard<std::mutex> lock(wake_mutex_);
        stop_.store(true, std::memory_order_release);
    }
    wake_.notify_all();
}

void ReportSender::clear_stop() {
    std::lock_guard<std::mutex> lock(wake_mutex_);
    stop_.store(false, std::memory_order_release);
}

bool ReportSender::join(std::chrono::milliseconds timeout) {
    if (!thread_.joinable()) return true;
    bool ended = false;
    {
        std::unique_lock<std::mutex> lock(wake_mutex_);
        ended = wake_.wait_for(lock, timeout, [this] { return finished_; });
        if (!ended) abort_.store(true, std::memory_order_release);
    }
    if (!ended) {
        (void)common::log_printf("Report sender did not end within %lld ms; its mail is abandoned",
                                 static_cast<long long>(timeout.count()));
        wake_.notify_all();
    }
    thread_.join();
    return ended;
}

std::vector<ReportEntry> ReportSender::take_entries() {
    std::lock_guard<std::mutex> lock(queue_mutex_);
    return std::exchange(entries_, {});
}

bool ReportSender::queue_mail(std::string subject, std::string body) {
    if (!ready()) return false;
    std::lock_guard<std::mutex> lock(queue_mutex_);
    mails_.push_back({std::move(subject), std::move(body)});
    return true;
}

void ReportSender::failed(const std::string& line) {
    (void)common::log_write(line);
    if (failure_notice_) failure_notice_(line);
}

std::vector<std::string> ReportSender::keep_queued() {
    std::vector<std::string> ids;
    const double now = common::now_utc();
    const std::vector<ReportEntry> entries = take_entries();
    if (!entries.empty()) {
        const std::string id = Outbox::new_id(now);
        delivery_->keep(id, "ALERT", static_cast<int>(entries.size()),
                        format_report_body(entries, mail_.network),
                        report_json(id, entries, mail_.network), now);
        ids.push_back(id);
    }
    std::vector<QueuedMail> mails;
    {
        std::lock_guard<std::mutex> lock(queue_mutex_);
        mails.swap(mails_);
    }
    for (const QueuedMail& m : mails) {
        const std::string id = Outbox::new_id(now);
        delivery_->keep(id, m.subject, 0, m.body, notice_json(id, m.subject, m.body), now);
        ids.push_back(id);
    }
    return ids;
}

void ReportSender::log_attempt(const ReportDelivery::Attempt& a) {
    const Outbox::Item& item = a.item;
    const bool mail = item.path == OutboxPath::kMail;
    const std::string to = mail ? " to " + mail_.recipient : " to the webhook " + mail_.webhook;
    const std::string via = mail ? " via " + mail_.server : "";
    const char* verb = mail ? "mailed" : "posted";
    const std::string count = " (" + std::to_string(item.detections) + " detections)";
    const std::string notice = "Mail \"" + item.subject + "\" ";
    if (a.result.ok) {
        const std::string what = item.detections > 0
                                     ? "Detection report " + std::string(verb) + to + count + via
                                     : notice + (mail ? "sent" : "posted") + to + via;
        (void)common::log_printf("%s: %s", what.c_str(), a.result.answer.c_str());
        return;
    }
    const std::string what = item.detections > 0
                                 ? "Detection report not " + std::string(verb) + count + to + via
                                 : notice + (mail ? "not sent" : "not posted") + to + via;
    char line[common::kLogLineBytes];
    std::snprintf(line, sizeof line, "%s: %s; %zu waiting in the outbox", what.c_str(),
                  a.result.answer.c_str(), delivery_->backlog());
    failed(line);
}

void ReportSender::deliver(const std::vector<std::string>* only_ids) {
    for (const ReportDelivery::Attempt& a :
         delivery_->deliver_due(common::now_utc(), abort_, only_ids)) {
        (a.result.ok ? mails_sent_ : mails_failed_).fetch_add(1);
        log_attempt(a);
    }
    backlog_.store(delivery_->backlog());
}

void ReportSender::wait_for_round() {
    auto wait = mail_.prompt() ? std::min(timing_.period, timing_.prompt_period) : timing_.period;
    const double next = delivery_->next_due();
    if (next >= 0.0) {
        const auto until_due = std::chrono::milliseconds(
            static_cast<long long>(std::max(0.1, next - common::now_utc()) * 1000.0));
        wait = std::min(wait, until_due);
    }
    std::unique_lock<std::mutex> lock(wake_mutex_);
    wake_.wait_for(lock, wait, [this] {
        return stop_.load(std::memory_order_acquire) || abort_.load(std::memory_order_acquire) ||
               mail_changed_.load(std::memory_order_acquire);
    });
}

void ReportSender::change_mail(MailSettings mail) {
    if (!thread_.joinable()) {
        mail_ = std::move(mail);
        delivery_.emplace(mail_, timing_.retry, timing_.smtp_timeout, &abort_);
        if (start()) (void)common::log_write("Detection report sender started");
        return;
    }
    {
        std::lock_guard<std::mutex> lock(queue_mutex_);
        changed_mail_ = std::move(mail);
    }
    {
        std::lock_guard<std::mutex> lock(wake_mutex_);
        mail_changed_.store(true, std::memory_order_release);
    }
    wake_.notify_all();
}

void ReportSender::take_changed_mail() {
    std::optional<MailSettings> mail;
    {
        std::lock_guard<std::mutex> lock(queue_mutex_);
        mail.swap(changed_mail_);
        mail_changed_.store(false, std::memory_order_release);
    }
    if (!mail) return;
    // What the old delivery kept waits in the outbox directory and is read in again;
    // a report kept only in memory (no OUTBOX directory) goes with it.
    mail_ = std::move(*mail);
    delivery_.emplace(mail_, timing_.retry, timing_.smtp_timeout, &abort_);
    (void)delivery_->load(common::now_utc());
}

void ReportSender::run() noexcept {
    try {
        if (delivery_->load(common::now_utc()) > 0) deliver(nullptr);
        for (;;) {
            wait_for_round();
            take_changed_mail();
            const bool stopping =
                stop_.load(std::memory_order_acquire) || abort_.load(std::memory_order_acquire);
            // Also after the stop flag: what is queued then is offered once; older reports
            // that still fail wait in the outbox for the next run.
            const std::vector<std::string> fresh = keep_queued();
            deliver(stopping ? &fresh : nullptr);
            if (stopping) break;
        }
    } catch (const std::exception& e) {
        (void)common::log_printf("Report sender stopped: %s", e.what());
    } catch (...) {
        (void)common::log_write("Report sender stopped: unknown error");
    }
    // Nothing would ever send what is queued from here on.
    ready_.store(false, std::memory_order_release);
    {
        std::lock_guard<std::mutex> lock(wake_mutex_);
        finished_ = true;
    }
    wake_.notify_all();
}

}  // namespace zelvik::report
