// The MAIL section as the report sender uses it: where reports go (the mail server with
// its security and credentials, a webhook URL) and how long an unsent one is kept.
// SECURITY "none" keeps the plain dialogue of the old mail client; "starttls" and "tls"
// go through libcurl with the certificate and host name checked.
#pragma once

#include <string>
#include <string_view>

namespace zelvik::report {

enum class MailSecurity { kNone, kStartTls, kTls };

// "none" (or empty), "starttls", "tls", in any case; false for anything else.
[[nodiscard]] bool parse_mail_security(std::string_view text, MailSecurity& out);
const char* to_string(MailSecurity security);

struct MailSettings {
    std::string server;     // "host", "host:port", "[v6]:port"; empty = no mail
    std::string recipient;  // one address, used as given
    std::string sender;     // envelope sender and From address
    std::string network;    // first column of each line; "QRS" when empty
    int port = 0;           // used when `server` names none; 0 = the default of the security
    MailSecurity security = MailSecurity::kNone;
    std::string user = "";        // AUTH user; empty = no AUTH (starttls and tls only)
    std::string password = "";    // never logged or shown
    std::string ca_file = "";     // PEM file of trusted CAs; empty = the system's
    std::string webhook = "";     // http(s) URL that gets a JSON document per report; empty = none
    std::string outbox_dir = "";  // where unsent reports wait; empty = in memory for this run only
    int outbox_hours = 24;        // an unsent report older than this is dropped

    bool operator==(const MailSettings&) const = default;

    bool mail_enabled() const { return !server.empty() && !recipient.empty(); }
    bool any_path() const { return mail_enabled() || !webhook.empty(); }
    // Paths that should leave within seconds rather than with the minute of the old mail.
    bool prompt() const { return security != MailSecurity::kNone || !webhook.empty(); }
};

}  // namespace zelvik::report
