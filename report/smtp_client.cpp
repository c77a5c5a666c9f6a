// SmtpClient: one reply per command, read whole (continuation lines "250-..." up to
// the final "250 ..."), its class checked before the next command goes out. Replies
// are bounded in size and time, so a broken server costs at most one timeout.
#include "report/smtp_client.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>

#include "common/civil_time.h"
#include "common/clock.h"

namespace zelvik::report {
namespace {

constexpr size_t kMaxReplyText = 4096;   // reply text kept for the error message
constexpr size_t kMaxLineBytes = 16384;  // a longer reply line is a broken server
constexpr size_t kReceiveChunk = 4096;

// Control characters from the server must not reach the log line.
void append_printable(std::string& out, std::string_view text) {
    for (char c : text) {
        if (out.size() >= kMaxReplyText) return;
        const auto u = static_cast<unsigned char>(c);
        out.push_back(u >= 0x20 && u < 0x7f ? c : '?');
    }
}

bool is_reply_code(std::string_view line) {
    return line.size() >= 3 && line[0] >= '1' && line[0] <= '5' && line[1] >= '0' &&
           line[1] <= '9' && line[2] >= '0' && line[2] <= '9';
}

// An address goes into a command line and a header as it is; these characters would
// let it end the line or the angle brackets early.
bool is_safe_address(std::string_view address) {
    return address.find_first_of("\r\n<>") == std::string_view::npos;
}

int service_port(const char* name) {
    servent entry{};
    servent* found = nullptr;
    char buffer[1024];
    if (getservbyname_r(name, "tcp", &entry, buffer, sizeof buffer, &found) == 0 &&
        found != nullptr) {
        return ntohs(static_cast<uint16_t>(found->s_port));
    }
    return 0;
}

}  // namespace

int default_smtp_port() {
    if (const int port = service_port("mail"); port > 0) return port;
    if (const int port = service_port("smtp"); port > 0) return port;
    return 25;
}

bool split_mail_server(std::string_view text, std::string& host, int& port, std::string& error) {
    host.clear();
    port = 0;
    std::string_view port_text;
    if (!text.empty() && text.front() == '[') {
        const size_t close = text.find(']');
        if (close == std::string_view::npos) {
            error = "mail server \"" + std::string(text) + "\": \"[\" without \"]\"";
            return false;
        }
        host = text.substr(1, close - 1);
        const std::string_view after = text.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':') {
                error = "mail server \"" + std::string(text) + "\": text after \"]\"";
                return false;
            }
            port_text = after.substr(1);
            if (port_text.empty()) port_text = "x";  // "[::1]:" names no port
        }
    } else if (const size_t colon = text.find(':');
               colon != std::string_view::npos &&
               text.find(':', colon + 1) == std::string_view::npos) {
        host = text.substr(0, colon);
        port_text = text.substr(colon + 1);
        if (port_text.empty()) port_text = "x";
    } else {
        host = text;  // no colon, or a bare IPv6 address with several
    }
    if (host.empty()) {
        error = "mail server \"" + std::string(text) + "\" names no host";
        return false;
    }
    if (!port_text.empty()) {
        long value = 0;
        for (char c : port_text) {
            if (c < '0' || c > '9' || value > 65535) {
                value = -1;
                break;
            }
            value = value * 10 + (c - '0');
        }
        if (value < 1 || value > 65535) {
            error = "mail server \"" + std::string(text) + "\": port \"" +
                    std::string(port_text == "x" ? "" : port_text) + "\" is not in 1..65535";
            return false;
        }
        port = static_cast<int>(value);
    }
    return true;
}

std::string helo_host_name() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
    return name;
}

std::string rfc5322_date(double epoch_seconds) {
    static const char* const kDays[] = {"Thu", "Fri", "Sat", "Sun", "Mon", "Tue", "Wed"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const common::Civil c = common::civil_from_epoch(std::floor(epoch_seconds));
    const int64_t days = common::days_from_civil(c.year, c.month, c.day);
    const int64_t weekday = ((days % 7) + 7) % 7;  // day 0, 1970-01-01, was a Thursday
    char text[64];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d +0000", kDays[weekday], c.day,
                  kMonths[c.month - 1], c.year, c.hour, c.minute, static_cast<int>(c.second));
    return text;
}

std::string smtp_encode_body(std::string_view body) {
    std::string out;
    out.reserve(body.size() + body.size() / 16 + 4);
    bool line_start = true;
    for (size_t i = 0; i < body.size(); ++i) {
        const char c = body[i];
        if (line_start && c == '.') out.push_back('.');
        line_start = false;
        if (c == '\r' || c == '\n') {
            // Bare CR or LF is not a line end in SMTP, and servers now reject it.
            if (c == '\r' && i + 1 < body.size() && body[i + 1] == '\n') ++i;
            out.append("\r\n");
            line_start = true;
        } else {
            out.push_back(c);
        }
    }
    return out;
}

SmtpClient::SmtpClient(std::chrono::milliseconds timeout, const std::atomic<bool>* cancel)
    : timeout_(timeout) {
    socket_.set_cancel_flag(cancel);
}

SmtpClient::~SmtpClient() {
    if (connected_) (void)quit();
}

void SmtpClient::close_connection() {
    socket_.close();
    connected_ = false;
    inbox_.clear();
}

bool SmtpClient::take_reply_line(std::string& line) {
    const size_t end = inbox_.find('\n');
    if (end == std::string::npos) return false;
    line.assign(inbox_, 0, end);
    inbox_.erase(0, end + 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

bool SmtpClient::read_reply(const char* operation, char expected_class) {
    last_reply_.clear();
    refused_ = false;
    const auto deadline = std::chrono::steady_clock::now() + timeout_;
    std::string line;
    for (;;) {
        while (!take_reply_line(line)) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            IoStatus status = IoStatus::kTimeout;
            if (inbox_.size() > kMaxLineBytes) {
                last_error_ = std::string("[") + operation + "] reply line too long";
                close_connection();
                return false;
            }
            if (left.count() > 0) status = socket_.receive_some(inbox_, kReceiveChunk, left);
            if (status != IoStatus::kOk) {
                last_error_ = std::string("[") + operation + "] no reply from the server: " +
                              (status == IoStatus::kTimeout ? "timed out" : socket_.last_error());
                close_connection();
                return false;
            }
        }
        if (!last_reply_.empty()) last_reply_.push_back(' ');
        append_printable(last_reply_, line);
        if (!is_reply_code(line)) {
            last_error_ = std::string("[") + operation + "] unreadable reply : " + last_reply_;
            close_connection();
            return false;
        }
        if (line.size() > 3 && line[3] == '-') continue;  // more lines of the same reply
        if (line[0] != expected_class) {
            last_error_ = std::string("[") + operation + "] refused : " + last_reply_;
            refused_ = true;
            return false;
        }
        return true;
    }
}

bool SmtpClient::command(const char* operation, std::string_view text, char expected_class) {
    const IoStatus status = socket_.send_all(text, timeout_);
    if (status != IoStatus::kOk) {
        last_error_ =
            std::string("[") + operation + "] cannot send to the server: " + socket_.last_error();
        close_connection();
        return false;
    }
    return read_reply(operation, expected_class);
}

bool SmtpClient::open(const std::string& server, int port) {
    if (connected_) (void)quit();
    close_connection();
    if (port < 0 || port > 65535) {
        last_error_ = "[open] invalid port " + std::to_string(port);
        return false;
    }
    const int use_port = port == 0 ? default_smtp_port() : port;
    if (socket_.connect(server, use_port, timeout_) != IoStatus::kOk) {
        last_error_ = socket_.last_error() + " (" + server + ":" + std::to_string(use_port) + ")";
        return false;
    }
    // Servers such as Exim drop a client that talks before the 220 greeting.
    connected_ = true;
    if (read_reply("open", '2') && command("open", "HELO " + helo_host_name() + "\r\n", '2')) {
        last_error_.clear();
        return true;
    }
    if (refused_) (void)quit();  // a polite end; the link itself still works
    close_connection();
    return false;
}

bool SmtpClient::add_recipient(std::string_view address, std::string_view name) {
    if (address.empty() || !is_safe_address(address)) return false;
    std::string text(name);
    text.append("<").append(address).append(">");
    recipients_.push_back(std::move(text));
    return true;
}

std::string SmtpClient::compose_header() const {
    std::string header = "Date: " + rfc5322_date(common::now_utc()) + "\r\n";
    if (has_sender_ && !sender_.empty()) header += "From: <" + sender_ + ">\r\n";
    header += "To: ";
    for (size_t i = 0; i < recipients_.size(); ++i) {
        if (i > 0) header += ",";
        header += recipients_[i];
    }
    header += "\r\nCc: \r\n";
    if (has_subject_) header += "Subject: " + subject_ + "\r\n";
    header += "MIME-Version: 1.0\r\nContent-type: text/plain; charset=US-ASCII\r\n\r\n";
    return header;
}

bool SmtpClient::probe_sender(std::string_view address) {
    if (!connected_) {
        last_error_ = "[probe_sender] not connected";
        return false;
    }
    if (!command("probe_sender", "MAIL FROM: <" + std::string(address) + ">\r\n", '2'))
        return false;
    (void)command("probe_sender", "RSET\r\n", '2');
    last_error_.clear();
    return true;
}

bool SmtpClient::send_mail() {
    if (!connected_) {
        last_error_ = "[send_mail] not connected";
        return false;
    }
    if (!has_sender_ || !is_safe_address(sender_)) {
        last_error_ = has_sender_ ? "[send_mail] unusable sender address" : "[send_mail] no sender";
        return false;
    }
    if (recipients_.empty()) {
        last_error_ = "[send_mail] no recipient";
        return false;
    }
    const std::string header = compose_header();
    if (!command("send_mail", "MAIL FROM: <" + sender_ + ">\r\n", '2')) return false;
    for (const std::string& recipient : recipients_) {
        // The address part keeps its closing ">".
        const std::string address = recipient.substr(recipient.find('<') + 1);
        if (!command("send_mail", "RCPT TO: <" + address + "\r\n", '2')) return false;
    }
    if (!command("send_mail", "DATA\r\n", '3')) return false;
    std::string message = header + smtp_encode_body(body_);
    if (message.size() < 2 || message.compare(message.size() - 2, 2, "\r\n") != 0) {
        message += "\r\n";
    }
    message += ".\r\n";
    if (!command("send_mail", message, '2')) return false;
    last_error_.clear();
    return true;
}

bool SmtpClient::quit() {
    if (!connected_) return false;
    // The reply to QUIT changes nothing; keep the error of the dialogue for the caller.
    const std::string saved_error = last_error_;
    const bool sent = socket_.send_all("QUIT\r\n", timeout_) == IoStatus::kOk;
    if (sent) (void)read_reply("quit", '2');
    close_connection();
    last_error_ = saved_error;
    return sent;
}

}  // namespace zelvik::report
