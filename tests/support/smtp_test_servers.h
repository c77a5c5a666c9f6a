// The far ends of the SMTP tests: a real aiosmtpd server process on loopback, and a
// small scripted server thread for the misbehaving kinds (closes at once, never
// answers, refuses a command). Both listen on a free port of 127.0.0.1 (the scripted
// one on ::1 when asked).
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zelvik::testing {

// tests/support/smtp_sink.py run by the system Python, which has aiosmtpd.
class SmtpSinkProcess {
public:
    struct Mail {
        std::string envelope;  // "HELO ...\nFROM ...\nTO ...\n"
        std::string content;   // header and body as received, CR LF line ends
    };

    // port() is 0 when it did not start. `options` as smtp_sink.py takes them
    // ("--starttls", cert, key, "--auth", user, password, ...); `script` replaces
    // smtp_sink.py (the webhook receiver uses the same process handling).
    explicit SmtpSinkProcess(std::string out_dir, std::vector<std::string> options = {},
                             const char* script = nullptr);
    ~SmtpSinkProcess();
    SmtpSinkProcess(const SmtpSinkProcess&) = delete;
    SmtpSinkProcess& operator=(const SmtpSinkProcess&) = delete;

    int port() const { return port_; }
    const std::string& error() const { return error_; }

    // Polls the mail directory until it holds at least `count` mails or `timeout`
    // runs out; returns how many it holds.
    size_t wait_for_mails(size_t count, std::chrono::milliseconds timeout) const;
    std::vector<Mail> mails() const;  // in order of arrival

private:
    std::string out_dir_;
    pid_t pid_ = -1;
    int stdin_fd_ = -1;  // closing it also ends the server
    int port_ = 0;
    std::string error_;
};

class ScriptedSmtpServer {
public:
    enum class Behaviour { kDialogue, kCloseAtOnce, kNeverAnswer };
    // Gets each command line without CR LF ("<end of data>" after the message) and
    // returns the reply to send, CR LF included (several lines for a multi-line one).
    using ReplyFn = std::function<std::string(const std::string& command)>;

    // `ipv6`: listen on ::1 instead of 127.0.0.1 (port() is 0 when the host has no ::1).
    ScriptedSmtpServer(Behaviour behaviour, std::string greeting, ReplyFn reply, bool ipv6 = false);
    ~ScriptedSmtpServer();
    ScriptedSmtpServer(const ScriptedSmtpServer&) = delete;
    ScriptedSmtpServer& operator=(const ScriptedSmtpServer&) = delete;

    int port() const { return port_; }

    // Waits until the client has closed the connection (or the server gave up on it).
    bool wait_until_done(std::chrono::milliseconds timeout);
    std::string transcript() const;   // every byte the client sent
    bool client_spoke_first() const;  // bytes arrived before the greeting was sent

private:
    void run();
    void converse(int fd);
    bool read_more(int fd, std::string& buffer);

    Behaviour behaviour_;
    std::string greeting_;
    ReplyFn reply_;
    int listen_fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};

    // Guards transcript_, spoke_first_ and done_.
    mutable std::mutex mutex_;
    std::condition_variable done_cv_;
    std::string transcript_;
    bool spoke_first_ = false;
    bool done_ = false;

    std::thread thread_;
};

// A loopback port with nothing listening on it (bound once, then released).
int unused_loopback_port();

// tests/support/webhook_sink.py: Python's http.server storing each POST body.
class WebhookSinkProcess {
public:
    // `fail_first`: that many posts are answered 503 before any is taken.
    explicit WebhookSinkProcess(std::string out_dir, int fail_first = 0);
    int port() const { return process_.port(); }
    const std::string& error() const { return process_.error(); }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port()) + "/alerts"; }
    std::vector<std::string> posts() const;  // bodies, in order of arrival
    size_t wait_for_posts(size_t count, std::chrono::milliseconds timeout) const;

private:
    std::string out_dir_;
    SmtpSinkProcess process_;
};

// A self-signed certificate and its key made by the openssl program, valid for the
// subjectAltName `san` (e.g. "DNS:localhost,IP:127.0.0.1"). False when openssl failed.
bool make_test_certificate(const std::string& dir, const std::string& san, std::string& cert,
                           std::string& key);

}  // namespace zelvik::testing
