// The SMTP client's reply reading against a server that answers with the fuzzer's
// bytes: a loopback listener of this process sends them all and closes. Whatever the
// bytes, the dialogue ends (accepted, refused or broken) well within its time bound.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>

#include "report/smtp_client.h"

namespace {

// One listening socket on 127.0.0.1 for the whole run.
struct Listener {
    int fd = -1;
    int port = 0;
    Listener() {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            ::listen(fd, 4) != 0 || ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            std::abort();
        port = ntohs(a.sin_port);
    }
};

// Sends `reply` to the one client, then reads what it says until it closes.
void serve(int listen_fd, const std::string& reply) {
    const int c = ::accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC);
    if (c < 0) return;
    size_t sent = 0;
    while (sent < reply.size()) {
        const ssize_t n = ::send(c, reply.data() + sent, reply.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += static_cast<size_t>(n);
    }
    ::shutdown(c, SHUT_WR);
    char buf[4096];
    while (::recv(c, buf, sizeof buf, 0) > 0) {
    }
    ::close(c);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const Listener listener;
    const std::string reply(reinterpret_cast<const char*>(data), size);
    std::thread server(serve, listener.fd, reply);
    const auto t0 = std::chrono::steady_clock::now();
    {
        zelvik::report::SmtpClient client(std::chrono::milliseconds(3000));
        if (client.open("127.0.0.1", listener.port)) {
            client.set_sender("zelvik@localhost");
            client.set_subject("ALERT");
            client.set_body("line\r\n.\r\nline");
            (void)client.add_recipient("ops@localhost", "Ops");
            (void)client.send_mail();
            (void)client.quit();
        }
    }
    server.join();
    // Every reply has come in or the peer has closed: no wait may run to its bound.
    if (std::chrono::steady_clock::now() - t0 > std::chrono::milliseconds(2500)) std::abort();
    return 0;
}
