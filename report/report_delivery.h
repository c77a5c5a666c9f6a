// Delivery of kept reports to every configured path: the mail server (the plain
// dialogue of SmtpClient for SECURITY none, libcurl with TLS otherwise) and the webhook.
// A report is written to the outbox for each path before its first attempt and leaves it
// only when that path's far end took it. Used by the report sender thread only.
#pragma once

#include <atomic>
#include <chrono>
#include <string>
#include <vector>

#include "report/curl_transfer.h"
#include "report/mail_settings.h"
#include "report/outbox.h"

namespace zelvik::report {

class ReportDelivery {
public:
    struct Attempt {
        Outbox::Item item;
        TransferResult result;
    };

    // `cancel`, when given, must outlive the delivery; raising it cuts a transfer short.
    ReportDelivery(MailSettings mail, Outbox::Backoff backoff, std::chrono::milliseconds timeout,
                   const std::atomic<bool>* cancel);

    size_t load(double now) { return outbox_.load(now); }  // reports an earlier run kept

    // Keeps one report for every configured path: `mail_body` for the mail server,
    // `json` for the webhook; `id` from Outbox::new_id.
    void keep(const std::string& id, const std::string& subject, int detections,
              const std::string& mail_body, const std::string& json, double now);

    // Offers every due report once, oldest first; with `only_ids`, only those reports.
    // Drops reports past the outbox age first. Stops early when `cut_short` is raised.
    std::vector<Attempt> deliver_due(double now, const std::atomic<bool>& cut_short,
                                     const std::vector<std::string>* only_ids = nullptr);

    // One attempt on one path, outside the outbox (the test alert).
    TransferResult offer(OutboxPath path, const std::string& id, const std::string& subject,
                         const std::string& payload);

    size_t backlog() const { return outbox_.size(); }
    double next_due() const { return outbox_.next_due(); }
    const MailSettings& mail() const { return mail_; }

private:
    TransferResult plain_mail(const std::string& subject, const std::string& body);
    TransferResult secure_mail(const std::string& id, const std::string& subject,
                               const std::string& body);

    const MailSettings mail_;
    const std::chrono::milliseconds timeout_;
    const std::atomic<bool>* cancel_;
    Outbox outbox_;
};

}  // namespace zelvik::report
