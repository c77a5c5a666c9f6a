// Zelvik's own small SMTP client: HELO, MAIL FROM, RCPT TO, DATA, QUIT over a plain
// TCP connection. Every reply is read whole and its code checked; the dialogue stops
// at the first refusal, and last_error() then carries the server's reply.
#pragma once

#include <atomic>
#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "report/tcp_socket.h"

namespace zelvik::report {

// The port of the "mail" service (or "smtp") in the services database, else 25.
int default_smtp_port();

// Splits the MAIL SERVER value: "host", "host:port", "[v6 address]" or
// "[v6 address]:port"; a bare IPv6 address ("::1") is a host without port. `port` is 0
// (the default port) when none is given. False, with `error` set, for an empty host, an
// unclosed "[", or a port that is not a number in 1..65535.
[[nodiscard]] bool split_mail_server(std::string_view text, std::string& host, int& port,
                                     std::string& error);

// The name this machine gives in HELO: its own host name (gethostname), "localhost"
// when it has none. Servers refuse a client that greets them with their own name.
std::string helo_host_name();

// One client per mail, used by one thread. Not copyable.
class SmtpClient {
public:
    static constexpr std::chrono::milliseconds kDefaultTimeout{30000};

    // `timeout` bounds connecting and every single read or write. `cancel`, when
    // given, must outlive the client; raising it ends any wait at once.
    explicit SmtpClient(std::chrono::milliseconds timeout = kDefaultTimeout,
                        const std::atomic<bool>* cancel = nullptr);
    ~SmtpClient();  // sends QUIT when still connected
    SmtpClient(const SmtpClient&) = delete;
    SmtpClient& operator=(const SmtpClient&) = delete;

    // Connects to `server` (a host name, IPv4 or IPv6 address; port 0 =
    // default_smtp_port()), waits for the 220 greeting and says "HELO " with
    // helo_host_name(). Quits a previous connection first.
    // Returns false on any failure (resolution, connect, timeout, refusal).
    [[nodiscard]] bool open(const std::string& server, int port);

    // An empty address gives the null reverse path "<>" and no From header.
    void set_sender(std::string_view address) {
        sender_ = address;
        has_sender_ = true;
    }
    void set_subject(std::string_view subject) {
        subject_ = subject;
        has_subject_ = true;
    }
    void set_body(std::string_view body) { body_ = body; }

    // Appends "<name><<address>>"; false (nothing appended) when address is empty.
    [[nodiscard]] bool add_recipient(std::string_view address, std::string_view name);

    // MAIL FROM, RCPT TO for each recipient, DATA, header and body. True only when
    // the server accepted the message (250 after the final "."). A refused command
    // ends the dialogue with false; the connection stays open for quit().
    [[nodiscard]] bool send_mail();

    // For a configuration check: offers MAIL FROM with `address` and takes it back with
    // RSET, so no message is ever started. True when the server accepted the sender;
    // last_error() then names a refusal such as "530 ... STARTTLS".
    [[nodiscard]] bool probe_sender(std::string_view address);

    // Sends QUIT, reads the reply and closes. False when not connected or the send
    // failed; the socket is closed either way.
    bool quit();

    bool connected() const { return connected_; }

    // "[operation] what went wrong : server reply", empty after success.
    const std::string& last_error() const { return last_error_; }
    // The whole text of the server's last reply (after send_mail(): its answer to DATA).
    const std::string& last_reply() const { return last_reply_; }

    // The header block sent before the body (Date, From, To, Cc, Subject, MIME).
    // Public so the exact header can be checked without a server.
    std::string compose_header() const;

private:
    bool command(const char* operation, std::string_view text, char expected_class);
    bool read_reply(const char* operation, char expected_class);
    bool take_reply_line(std::string& line);
    void close_connection();

    std::chrono::milliseconds timeout_;
    TcpSocket socket_;
    bool connected_ = false;
    std::string sender_;
    bool has_sender_ = false;
    std::string subject_;
    bool has_subject_ = false;
    std::string body_;
    std::vector<std::string> recipients_;  // "name<address>"
    std::string inbox_;                    // received bytes not yet read as a reply
    std::string last_reply_;               // whole text of the last reply
    bool refused_ = false;                 // the last reply was a refusal, link still up
    std::string last_error_;
};

// The body as it goes on the wire: every line end made "\r\n" and every line that
// begins with "." given a second one, so no line can end the DATA phase early.
std::string smtp_encode_body(std::string_view body);

// "Wed, 09 Dec 2026 10:00:00 +0000" for a UTC instant, with English names whatever
// the process locale is (mail programs parse only these).
std::string rfc5322_date(double epoch_seconds);

}  // namespace zelvik::report
