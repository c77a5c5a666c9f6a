// Report lines and the sender thread. The worker only appends to the queue under its
// lock; the sender moves the whole queue out under that lock and does the formatting
// and all network traffic without it.
#include "report/detection_report.h"

#include <cmath>
#include <cstdio>
#include <exception>
#include <utility>

#include "common/civil_time.h"
#include "common/log.h"
#include "report/smtp_client.h"

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
    : mail_(std::move(mail)), timing_(timing) {}

ReportSender::~ReportSender() {
    if (thread_.joinable()) {
        request_stop();
        (void)join(timing_.smtp_timeout);
    }
}

bool ReportSender::start() {
    if (thread_.joinable() || mail_.server.empty() || mail_.recipient.empty()) return false;
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
    if (!ready()) return false;
    ReportEntry entry{std::string(station.substr(0, kStationCapacity)), onset, sta_variance, ratio};
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

bool ReportSender::deliver(const std::string& subject, const std::string& body,
                           std::string& error) {
    std::string host;
    int port = 0;
    bool sent = split_mail_server(mail_.server, host, port, error);
    if (sent) sent = dialogue(host, port != 0 ? port : mail_.port, subject, body, error);
    if (sent) {
        mails_sent_.fetch_add(1);
    } else {
        mails_failed_.fetch_add(1);
    }
    return sent;
}

bool ReportSender::dialogue(const std::string& host, int port, const std::string& subject,
                            const std::string& body, std::string& error) {
    SmtpClient client(timing_.smtp_timeout, &abort_);
    bool sent = client.open(host, port);
    error = client.last_error();
    if (!sent) return false;
    client.set_sender(mail_.sender);
    client.set_subject(subject);
    client.set_body(body);
    sent = client.add_recipient(mail_.recipient, "");
    error = sent ? std::string() : "[add_recipient] unusable address \"" + mail_.recipient + "\"";
    if (sent) {
        sent = client.send_mail();
        error = client.last_error();
    }
    (void)client.quit();
    return sent;
}

void ReportSender::failed(const std::string& line) {
    (void)common::log_write(line);
    if (failure_notice_) failure_notice_(line);
}

void ReportSender::send_report() {
    // The entries leave the queue here, whether or not the mail goes out: a report
    // is never retried, the next one carries only newer detections.
    const std::vector<ReportEntry> entries = take_entries();
    if (entries.empty()) return;
    const std::string body = format_report_body(entries, mail_.network);
    std::string error;
    if (deliver("ALERT", body, error)) {
        (void)common::log_printf("Detection report mailed to %s (%zu detections) via %s",
                                 mail_.recipient.c_str(), entries.size(), mail_.server.c_str());
        return;
    }
    char line[common::kLogLineBytes];
    std::snprintf(line, sizeof line,
                  "Detection report not mailed (%zu detections) to %s via %s: %s", entries.size(),
                  mail_.recipient.c_str(), mail_.server.c_str(), error.c_str());
    failed(line);
}

void ReportSender::send_queued_mails() {
    std::vector<QueuedMail> mails;
    {
        std::lock_guard<std::mutex> lock(queue_mutex_);
        mails.swap(mails_);
    }
    for (const QueuedMail& m : mails) {
        std::string error;
        if (deliver(m.subject, m.body, error)) {
            (void)common::log_printf("Mail \"%s\" sent to %s via %s", m.subject.c_str(),
                                     mail_.recipient.c_str(), mail_.server.c_str());
            continue;
        }
        char line[common::kLogLineBytes];
        std::snprintf(line, sizeof line, "Mail \"%s\" not sent to %s via %s: %s", m.subject.c_str(),
                      mail_.recipient.c_str(), mail_.server.c_str(), error.c_str());
        failed(line);
    }
}

void ReportSender::run() noexcept {
    try {
        for (;;) {
            {
                std::unique_lock<std::mutex> lock(wake_mutex_);
                wake_.wait_for(lock, timing_.period, [this] {
                    return stop_.load(std::memory_order_acquire) ||
                           abort_.load(std::memory_order_acquire);
                });
            }
            // Also after the stop flag: what is queued then goes out once.
            send_report();
            send_queued_mails();
            if (stop_.load(std::memory_order_acquire) || abort_.load(std::memory_order_acquire)) {
                break;
            }
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
