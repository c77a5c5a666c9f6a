// What no real server sends on purpose: a small SeedLink server inside the test answers
// the handshake and then sends garbage, an endless line, packets that must be skipped,
// or nothing. The client names each fault, hands nothing wrong on and reconnects.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <thread>

#include "acquire/seedlink_client.h"

namespace zelvik::acquire {
namespace {

using namespace std::chrono_literals;

// Reads one command line (up to LF) within 5 s; empty when the client went away.
std::string read_command(int fd) {
    std::string line;
    char c = 0;
    while (line.size() < 4096) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 5000) <= 0 || ::recv(fd, &c, 1, 0) != 1) return {};
        if (c == '\n') break;
        if (c != '\r') line += c;
    }
    return line;
}

bool send_text(int fd, const std::string& bytes) {
    return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(bytes.size());
}

// Answers HELLO with `hello` and every other command with OK until END; the commands
// seen go to `seen`. false when the client left first.
bool handshake(int fd, const std::string& hello, std::vector<std::string>* seen = nullptr) {
    for (std::string line; !(line = read_command(fd)).empty();) {
        if (seen != nullptr) seen->push_back(line);
        if (line == "END") return true;
        if (!send_text(fd, line == "HELLO" ? hello : "OK\r\n")) return false;
    }
    return false;
}

const std::string kHelloV3 = "SeedLink v3.1 (test server) :: \r\nloopback\r\n";
const std::string kHelloV4 =
    "SeedLink v4.0 (test server) :: SLPROTO:4.0 SLPROTO:3.1\r\nloopback\r\n";

// Serves each connection with `script` on its own thread until destroyed.
class LoopbackServer {
public:
    explicit LoopbackServer(std::function<void(int)> script) : script_(std::move(script)) {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        EXPECT_EQ(::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        ::listen(listener_, 8);
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~LoopbackServer() {
        stop_ = true;
        thread_.join();
        ::close(listener_);
    }
    uint16_t port() const { return port_; }
    int connections() const { return connections_; }

private:
    void serve() {
        while (!stop_) {
            pollfd p{listener_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            const int fd = ::accept(listener_, nullptr, nullptr);
            if (fd < 0) continue;
            ++connections_;
            script_(fd);
            ::close(fd);
        }
    }
    std::function<void(int)> script_;
    int listener_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    std::thread thread_;
};

ClientOptions quick_options(uint16_t port, std::vector<std::string>* log) {
    ClientOptions o;
    o.server = {"127.0.0.1", port};
    StreamSelector s;
    std::string error;
    EXPECT_TRUE(parse_stream_selector("NC_PHC:.SHZ", s, error));
    o.streams = {s};
    o.command_timeout_s = 1;
    o.keepalive_s = 0.3;
    o.network_timeout_s = 1;
    o.reconnect_min_s = 0.05;
    o.reconnect_max_s = 0.2;
    o.log = [log](const std::string& line) { log->push_back(line); };
    return o;
}

std::string first_real_record() {
    std::ifstream in(std::string(ZELVIK_REAL_DATA_DIR) + "/NC_PHC_2004011816230722.mseed",
                     std::ios::binary);
    std::string record(4096, '\0');
    in.read(record.data(), 4096);
    return record;
}

std::string v4_packet(char format, char subformat, uint64_t sequence, const std::string& payload) {
    std::string p = std::string("SE") + format + subformat;
    for (int i = 0; i < 4; ++i) p += static_cast<char>((payload.size() >> (8 * i)) & 0xFF);
    for (int i = 0; i < 8; ++i) p += static_cast<char>((sequence >> (8 * i)) & 0xFF);
    p += static_cast<char>(6);
    return p + "NC_PHC" + payload;
}

TEST(SeedLinkBadServer, NamesEachFaultAndEndsTheSession) {
    struct Case {
        const char* name;
        std::function<void(int)> script;
        int status;
        const char* says;
    };
    const Case cases[] = {
        {"garbage after END",
         [](int fd) {
             if (handshake(fd, kHelloV3)) send_text(fd, "HTTP/1.1 400 Bad\r\n\r\n");
         },
         kProtocolError, "no SeedLink 3 packet header: 'HTTP/1.1"},
        {"endless HELLO line",
         [](int fd) {
             read_command(fd);
             for (int i = 0; i < 64 && send_text(fd, std::string(1024, 'x')); ++i) {
             }
         },
         kProtocolError, "no line end within 1024 bytes"},
        {"not a SeedLink server",
         [](int fd) {
             read_command(fd);
             send_text(fd, "SSH-2.0-OpenSSH\r\nx\r\n");
         },
         kHandshakeFailed, "not a SeedLink server"},
        {"stall in the handshake",
         [](int fd) {
             read_command(fd);
             send_text(fd, kHelloV3);
             read_command(fd);
             std::this_thread::sleep_for(1500ms);
         },
         kServerSilent, "waiting for the answer to STATION PHC NC"},
        {"record length lies (3.1)",
         [](int fd) {
             std::string record = first_real_record();
             record[48 + 6] = 9;  // blockette 1000: 512 bytes, but 4096 follow
             if (handshake(fd, kHelloV3)) send_text(fd, "SL000001" + record);
         },
         kProtocolError, "no SeedLink 3 packet header"},
    };
    for (const auto& c : cases) {
        LoopbackServer server(c.script);
        std::vector<std::string> log;
        int records = 0;
        SeedLinkClient client(
            quick_options(server.port(), &log), [&](const ReceivedRecord&) { ++records; }, nullptr);
        const auto t0 = std::chrono::steady_clock::now();
        EXPECT_EQ(client.run_session(), c.status) << c.name << ": " << client.last_error();
        EXPECT_NE(client.last_error().find(c.says), std::string::npos)
            << c.name << ": " << client.last_error();
        EXPECT_LT(std::chrono::steady_clock::now() - t0, 4s) << c.name;
        EXPECT_EQ(records, 0) << c.name;
    }
}

// 4.0 packets that must not reach the caller, a good record, a repeat of it under a
// later number (gap and time going back, both reported), then silence after a keep-alive.
TEST(SeedLinkBadServer, SkipsWhatIsNotARecordAndReportsGapsAndTimeGoingBack) {
    std::vector<std::string> seen;  // the server thread's until the server is gone
    auto server = std::make_unique<LoopbackServer>([&seen](int fd) {
        if (!handshake(fd, kHelloV4, &seen)) return;
        const std::string record = first_real_record();
        send_text(fd, v4_packet('J', 'I', 0, "{\"software\":\"test\"}") +
                          v4_packet('2', 'D', 6, record.substr(0, 512)) +
                          v4_packet('3', 'D', 7, std::string(100, '\0')) +
                          v4_packet('2', 'D', 8, record) + v4_packet('2', 'D', 10, record));
        seen.push_back(read_command(fd));  // the keep-alive
        std::this_thread::sleep_for(1500ms);
    });
    std::vector<std::string> log;
    std::vector<uint64_t> sequences;
    std::vector<StreamNotice> notices;
    SeedLinkClient client(
        quick_options(server->port(), &log),
        [&](const ReceivedRecord& r) { sequences.push_back(r.sequence); },
        [&](const StreamNotice& n) { notices.push_back(n); });
    EXPECT_EQ(client.run_session(), kServerSilent) << client.last_error();
    server.reset();
    EXPECT_EQ(sequences, (std::vector<uint64_t>{8, 10}));
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_EQ(notices[0].kind, NoticeKind::kSequenceGap);
    EXPECT_EQ(notices[0].expected, 9);
    EXPECT_EQ(notices[1].kind, NoticeKind::kTimeBackwards);
    std::string all;
    for (const auto& l : log) all += l + "\n";
    for (const char* says : {"JSON info", "4096 bytes, 512 given", "miniSEED 3 is not miniSEED 2"})
        EXPECT_NE(all.find(says), std::string::npos) << says << " in:\n" << all;
    EXPECT_EQ(seen, (std::vector<std::string>{"HELLO", "SLPROTO 4.0", "USERAGENT zelvik/0.1",
                                              "STATION NC_PHC", "SELECT _S_H_Z", "DATA", "END",
                                              "INFO ID"}));
}

TEST(SeedLinkBadServer, ReconnectsWithADoublingWaitAndStopsAtOnce) {
    LoopbackServer server([](int fd) {
        if (handshake(fd, kHelloV3)) send_text(fd, "garbage!");
    });
    std::vector<std::string> log;
    SeedLinkClient client(quick_options(server.port(), &log), nullptr, nullptr);
    std::thread runner([&] { client.run(); });
    for (int i = 0; i < 100 && server.connections() < 4; ++i) std::this_thread::sleep_for(20ms);
    const auto t0 = std::chrono::steady_clock::now();
    client.request_stop();
    runner.join();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 500ms);
    ASSERT_GE(server.connections(), 4);
    std::string waits;
    for (const auto& l : log)
        if (const size_t at = l.find("reconnecting in "); at != std::string::npos)
            waits += l.substr(at + 16) + ";";
    EXPECT_EQ(waits.rfind("0.05 s;0.1 s;0.2 s;0.2 s;", 0), 0u) << waits;
}

}  // namespace
}  // namespace zelvik::acquire
