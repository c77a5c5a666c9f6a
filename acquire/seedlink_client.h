// A SeedLink client that keeps a set of streams coming: it connects, negotiates protocol
// 4.0 where the server offers it (else 3.1), asks each station to resume after the last
// sequence number its caller holds, hands every miniSEED 2 record to a callback and, when
// the session fails, reconnects with a back-off that doubles up to a bound.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "acquire/record_decoder.h"
#include "acquire/stream_selector.h"

namespace zelvik::acquire {

class TcpConnection;
struct Packet;

enum SessionStatus : int {
    kSessionStopped = 0,     // request_stop() ended it
    kConnectFailed = -10,    // no connection to the server
    kHandshakeFailed = -11,  // HELLO unanswered or a command refused
    kProtocolError = -12,    // garbage for a packet header, an endless line
    kServerSilent = -13,     // nothing received for network_timeout_s
    kConnectionLost = -14,   // the server closed the connection or a network error
};
const char* to_string(SessionStatus status);

struct ClientOptions {
    ServerAddress server;
    std::vector<StreamSelector> streams;  // one STATION per distinct NET_STA, in order
    bool force_v3 = false;                // speak 3.1 even to a 4.0 server
    double connect_timeout_s = 10;
    double command_timeout_s = 30;   // for each answer during the handshake
    double keepalive_s = 30;         // idle this long: send INFO ID
    double network_timeout_s = 120;  // idle this long: the server is gone, reconnect
    double reconnect_min_s = 1;      // first back-off; doubles after each failure
    double reconnect_max_s = 60;
    // Decisions and faults, one line each, on the thread running run(). May be empty.
    std::function<void(const std::string&)> log;
    // Called on the thread running run() at least every tick_s, also while no packet
    // arrives and between sessions: the caller's chance to commit what it received.
    std::function<void()> tick;
    double tick_s = 0.25;
};

// Where a station's data should resume; given by the caller, updated with each record.
struct ResumePoint {
    bool has_sequence = false;
    uint64_t sequence = 0;  // last sequence number received (24 bits in 3.1)
    double end_time = std::numeric_limits<double>::quiet_NaN();  // epoch s after the last sample
};

// One record as received. The views are valid only during the callback.
struct ReceivedRecord {
    std::string_view station_id;  // NET_STA
    uint64_t sequence = 0;
    std::string_view bytes;  // the whole miniSEED 2 record, checked
    const RecordHeader* header = nullptr;
};

enum class NoticeKind { kSequenceGap, kTimeBackwards };
// Something the caller may want to act on; the record in question is still handed on.
struct StreamNotice {
    NoticeKind kind;
    std::string station_id;  // NET_STA
    std::string stream;      // LOC.CHA for kTimeBackwards
    double expected = 0;     // next sequence number, or epoch s the stream had reached
    double got = 0;          // sequence number, or start time of the record
    std::string text;        // one line with the values
};

class SeedLinkClient {
public:
    using RecordHandler = std::function<void(const ReceivedRecord&)>;
    using NoticeHandler = std::function<void(const StreamNotice&)>;

    // Both handlers are called on the thread running run(), must not throw, and may call
    // request_stop(). `on_notice` may be empty.
    SeedLinkClient(ClientOptions options, RecordHandler on_record, NoticeHandler on_notice);
    ~SeedLinkClient();

    // Before run(): the last sequence number and end time the caller holds for a station.
    void set_resume_point(const std::string& station_id, const ResumePoint& point);
    // The resume points as they stand; call from a handler or after run() returned.
    const std::map<std::string, ResumePoint>& resume_points() const { return resume_; }

    // Runs sessions until request_stop(), waiting between failed ones (logged with the
    // status and the wait). Returns kSessionStopped.
    int run();
    // One session: connect, handshake, receive until a failure or a stop.
    // @retval a SessionStatus; last_error() says more.
    [[nodiscard]] int run_session();
    // Any thread: ends run() or run_session() within about 0.1 s.
    void request_stop();

    const std::string& last_error() const { return error_; }
    int protocol_major() const { return major_; }  // of the last handshake: 3 or 4
    int sessions_started() const { return sessions_; }

private:
    static constexpr int kStepDone = 1;  // a handshake step went through (statuses are <= 0)

    int fail(int status, std::string text);
    std::chrono::steady_clock::duration tick_span() const;
    void log(const std::string& line) const;
    int handshake(TcpConnection& c);
    int hello(TcpConnection& c, std::vector<std::string>& capabilities);
    int command(TcpConnection& c, const std::string& line, bool expect_reply);
    int request_stations(TcpConnection& c, bool batch);
    std::string data_command(const ResumePoint& point) const;
    int from_io(int io_status, const TcpConnection& c, const std::string& doing);
    int receive(TcpConnection& c);
    void handle(const Packet& packet);
    void check_sequence(const std::string& station_id, uint64_t sequence);
    void check_time(const std::string& station_id, const RecordHeader& header);

    ClientOptions options_;
    RecordHandler on_record_;
    NoticeHandler on_notice_;
    std::map<std::string, ResumePoint> resume_;  // by NET_STA; the run() thread's alone
    std::map<std::string, double> stream_end_;   // by NET_STA:LOC.CHA, epoch s
    std::string error_;
    int major_ = 0;
    int sessions_ = 0;
    bool received_data_ = false;      // in the current session
    bool keepalive_pending_ = false;  // INFO ID sent, its answer not yet seen

    std::atomic<bool> stop_{false};
    std::mutex wait_mutex_;  // guards nothing but the back-off wait below
    std::condition_variable wake_;
};

}  // namespace zelvik::acquire
