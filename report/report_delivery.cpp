// One attempt per due report and path. The plain path keeps the old client and its
// dialogue; the secure path hands the same header and body to libcurl, with a
// Message-ID made from the report id so a receiver can recognise a repeat.
#include "report/report_delivery.h"

#include <algorithm>

#include "report/smtp_client.h"

namespace zelvik::report {
namespace {

// Lines ending in "\n" alone get "\r\n"; libcurl itself doubles leading dots.
std::string crlf_lines(const std::string& text) {
    std::string out;
    out.reserve(text.size() + text.size() / 64);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
        out += text[i];
    }
    return out;
}

}  // namespace

ReportDelivery::ReportDelivery(MailSettings mail, Outbox::Backoff backoff,
                               std::chrono::milliseconds timeout, const std::atomic<bool>* cancel)
    : mail_(std::move(mail)),
      timeout_(timeout),
      cancel_(cancel),
      outbox_(mail_.outbox_dir, Outbox::kDefaultCapacity, mail_.outbox_hours * 3600.0, backoff) {}

void ReportDelivery::keep(const std::string& id, const std::string& subject, int detections,
                          const std::string& mail_body, const std::string& json, double now) {
    if (mail_.mail_enabled())
        (void)outbox_.add(id, OutboxPath::kMail, subject, detections, mail_body, now);
    if (!mail_.webhook.empty())
        (void)outbox_.add(id, OutboxPath::kWebhook, subject, detections, json, now);
}

std::vector<ReportDelivery::Attempt> ReportDelivery::deliver_due(
    double now, const std::atomic<bool>& cut_short, const std::vector<std::string>* only_ids) {
    (void)outbox_.expire(now);
    std::vector<Attempt> attempts;
    for (const Outbox::Item& item : outbox_.due(now)) {
        if (cut_short.load(std::memory_order_acquire)) break;
        if (only_ids != nullptr &&
            std::find(only_ids->begin(), only_ids->end(), item.id) == only_ids->end())
            continue;
        std::string payload;
        if (!outbox_.payload(item, payload)) continue;
        Attempt a{item, offer(item.path, item.id, item.subject, payload)};
        if (a.result.ok) {
            outbox_.sent(item);
        } else {
            outbox_.failed(item, a.result.answer, now);
        }
        attempts.push_back(std::move(a));
    }
    return attempts;
}

TransferResult ReportDelivery::offer(OutboxPath path, const std::string& id,
                                     const std::string& subject, const std::string& payload) {
    if (path == OutboxPath::kWebhook) {
        return post_json(mail_.webhook, mail_.ca_file, "Zelvik " + subject, payload,
                         {timeout_, cancel_});
    }
    if (mail_.security == MailSecurity::kNone) return plain_mail(subject, payload);
    return secure_mail(id, subject, payload);
}

TransferResult ReportDelivery::plain_mail(const std::string& subject, const std::string& body) {
    std::string host, error;
    int port = 0;
    if (!split_mail_server(mail_.server, host, port, error)) return {false, error};
    SmtpClient client(timeout_, cancel_);
    if (!client.open(host, port != 0 ? port : mail_.port)) return {false, client.last_error()};
    client.set_sender(mail_.sender);
    client.set_subject(subject);
    client.set_body(body);
    TransferResult r;
    if (!client.add_recipient(mail_.recipient, "")) {
        r.answer = "[add_recipient] unusable address \"" + mail_.recipient + "\"";
    } else {
        r.ok = client.send_mail();
        r.answer = r.ok ? client.last_reply() : client.last_error();
    }
    (void)client.quit();
    return r;
}

TransferResult ReportDelivery::secure_mail(const std::string& id, const std::string& subject,
                                           const std::string& body) {
    SmtpClient header_maker;  // never connected: only its header composition is used
    header_maker.set_sender(mail_.sender);
    header_maker.set_subject(subject);
    if (!header_maker.add_recipient(mail_.recipient, ""))
        return {false, "[add_recipient] unusable address \"" + mail_.recipient + "\""};
    std::string header = header_maker.compose_header();
    header.insert(header.size() - 2, "Message-ID: <" + id + "@zelvik>\r\n");
    return send_mail_securely(mail_, header + crlf_lines(body), {timeout_, cancel_});
}

}  // namespace zelvik::report
