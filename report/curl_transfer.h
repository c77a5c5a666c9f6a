// Mail submission with STARTTLS or implicit TLS and SASL AUTH, and the webhook POST,
// both through libcurl: no TLS or SASL code of our own. The certificate chain and the
// host name are always checked (against the system's CAs or MAIL CAFILE). Every call
// owns its own easy handle; any thread may call, and a call never logs.
#pragma once

#include <atomic>
#include <chrono>
#include <string>

#include "report/mail_settings.h"

namespace zelvik::report {

struct TransferLimits {
    std::chrono::milliseconds timeout{30000};   // the whole transfer, connection included
    const std::atomic<bool>* cancel = nullptr;  // raised: the transfer ends at once
};

// What the far end said: `ok` only when it took the message (250 to the end of DATA,
// a 2xx HTTP status). `answer` is the server's last reply line(s), or on failure
// "[operation] what went wrong : server reply"; it never holds the password.
struct TransferResult {
    bool ok = false;
    std::string answer;
};

// The URL of the mail server for `security` (starttls: smtp:// on 587, tls: smtps://
// on 465 unless SERVER or `port` name one). False with `error` for an unusable SERVER.
[[nodiscard]] bool mail_url(const MailSettings& mail, std::string& url, std::string& error);

// Sends `message` (header and body, CR LF line ends) from mail.sender to mail.recipient
// with mail.security other than kNone. libcurl doubles leading dots itself.
TransferResult send_mail_securely(const MailSettings& mail, const std::string& message,
                                  const TransferLimits& limits);

// Greets the server, says EHLO, STARTTLS (or starts with TLS) and AUTH when a user is
// set, and ends with QUIT: no message is sent. mail.security other than kNone.
TransferResult check_mail_session(const MailSettings& mail, const TransferLimits& limits);

// POSTs `json` to `url` with Content-Type application/json and a "Title" header (for
// ntfy-style push services). https URLs are checked against `ca_file` or the system's CAs.
TransferResult post_json(const std::string& url, const std::string& ca_file,
                         const std::string& title, const std::string& json,
                         const TransferLimits& limits);

}  // namespace zelvik::report
