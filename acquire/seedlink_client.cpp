// The session loop of the client: receive packets, answer silence first with a
// keep-alive (INFO ID) and then, past the network timeout, by giving the session up.
// Each failed session is followed by a wait that doubles up to a bound; a session that
// delivered data starts the back-off over.
#include "acquire/seedlink_client.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

#include "acquire/seedlink_packet.h"
#include "acquire/tcp_connection.h"

namespace zelvik::acquire {
namespace {

double seconds_since(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

std::string seconds_text(double s) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3g s", s);
    return text;
}

std::string format_name(char format, char subformat) {
    if (format == 'J') return subformat == 'E' ? "JSON error" : "JSON info";
    if (format == '3') return "miniSEED 3";
    if (format == 'X') return "XML";
    return std::string("format ") + format + subformat;
}

}  // namespace

const char* to_string(SessionStatus status) {
    switch (status) {
        case kSessionStopped:
            return "stopped";
        case kConnectFailed:
            return "connection failed";
        case kHandshakeFailed:
            return "handshake failed";
        case kProtocolError:
            return "protocol error";
        case kServerSilent:
            return "server silent";
        case kConnectionLost:
            return "connection lost";
    }
    return "unknown";
}

SeedLinkClient::SeedLinkClient(ClientOptions options, RecordHandler on_record,
                               NoticeHandler on_notice)
    : options_(std::move(options)),
      on_record_(std::move(on_record)),
      on_notice_(std::move(on_notice)) {}

SeedLinkClient::~SeedLinkClient() = default;

void SeedLinkClient::set_resume_point(const std::string& station_id, const ResumePoint& point) {
    resume_[station_id] = point;
}

void SeedLinkClient::request_stop() {
    stop_ = true;
    std::lock_guard<std::mutex> lock(wait_mutex_);
    wake_.notify_all();
}

void SeedLinkClient::log(const std::string& line) const {
    if (options_.log) options_.log(line);
}

int SeedLinkClient::fail(int status, std::string text) {
    error_ = std::move(text);
    return status;
}

int SeedLinkClient::from_io(int io_status, const TcpConnection& c, const std::string& doing) {
    const std::string text = "[" + doing + "] " + c.last_error();
    switch (io_status) {
        case kIoStopped:
            return fail(kSessionStopped, text);
        case kIoTimeout:
            return fail(kServerSilent, text);
        case kIoLineTooLong:
            return fail(kProtocolError, text);
        default:
            return fail(kConnectionLost, text);
    }
}

std::chrono::steady_clock::duration SeedLinkClient::tick_span() const {
    const double s = options_.tick ? options_.tick_s : 3600.0;
    return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(s));
}

int SeedLinkClient::run() {
    double wait_s = options_.reconnect_min_s;
    while (!stop_) {
        const int status = run_session();
        if (status == kSessionStopped || stop_) break;
        if (received_data_) wait_s = options_.reconnect_min_s;
        log(std::string(to_string(static_cast<SessionStatus>(status))) + ": " + error_ +
            "; reconnecting in " + seconds_text(wait_s));
        const auto until = std::chrono::steady_clock::now() +
                           std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                               std::chrono::duration<double>(wait_s));
        while (!stop_ && std::chrono::steady_clock::now() < until) {
            if (options_.tick) options_.tick();
            std::unique_lock<std::mutex> lock(wait_mutex_);
            wake_.wait_until(lock, std::min(until, std::chrono::steady_clock::now() + tick_span()),
                             [this] { return stop_.load(); });
        }
        wait_s = std::min(wait_s * 2, options_.reconnect_max_s);
    }
    return kSessionStopped;
}

int SeedLinkClient::run_session() {
    ++sessions_;
    received_data_ = false;
    keepalive_pending_ = false;
    error_.clear();
    if (stop_) return kSessionStopped;
    if (options_.streams.empty()) return fail(kHandshakeFailed, "no stream requested");
    TcpConnection c(&stop_);
    const std::string where = options_.server.host + ":" + std::to_string(options_.server.port);
    if (const int r =
            c.connect(options_.server.host, options_.server.port, options_.connect_timeout_s);
        r != kIoOk)
        return r == kIoStopped ? kSessionStopped
                               : fail(kConnectFailed, c.last_error() + " (" + where + ")");
    if (const int r = handshake(c); r != kStepDone) return stop_ ? kSessionStopped : r;
    return receive(c);
}

int SeedLinkClient::receive(TcpConnection& c) {
    auto last_heard = std::chrono::steady_clock::now();
    Packet packet;
    for (;;) {
        if (options_.tick) options_.tick();
        if (stop_) return kSessionStopped;
        const double idle = seconds_since(last_heard);
        const double due = keepalive_pending_ ? options_.network_timeout_s : options_.keepalive_s;
        double wait_s = std::max(0.0, due - idle);
        if (options_.tick) wait_s = std::min(wait_s, options_.tick_s);
        if (int r = c.wait_readable(wait_s); r == kIoTimeout) {
            if (seconds_since(last_heard) >= options_.network_timeout_s)
                return fail(kServerSilent,
                            "nothing received for " + seconds_text(options_.network_timeout_s));
            if (!keepalive_pending_ && seconds_since(last_heard) >= options_.keepalive_s) {
                if ((r = c.send_all("INFO ID\r\n", options_.command_timeout_s)) != kIoOk)
                    return from_io(r, c, "sending INFO ID");
                keepalive_pending_ = true;
            }
            continue;
        } else if (r != kIoOk) {
            return from_io(r, c, "waiting for data");
        }
        std::string why;
        const int r = read_packet(c, major_, options_.network_timeout_s, packet, why);
        if (r == kPacketGarbage) return fail(kProtocolError, why);
        if (r == kPacketEnd) return fail(kConnectionLost, why);
        if (r != kIoOk) return from_io(r, c, "reading a packet");
        last_heard = std::chrono::steady_clock::now();
        handle(packet);
        if (stop_) return kSessionStopped;
    }
}

void SeedLinkClient::handle(const Packet& packet) {
    if (packet.info) {
        if (!keepalive_pending_ || packet.subformat == 'E')
            log("skipped " + format_name(packet.format, packet.subformat) + " packet of " +
                std::to_string(packet.payload.size()) + " bytes: '" +
                printable_prefix(packet.payload, 80) + "'");
        keepalive_pending_ = false;
        return;
    }
    const std::string sequence_text = "packet " + std::to_string(packet.sequence);
    if (packet.format != '2') {
        log("skipped " + sequence_text + " of " + packet.station_id + ": " +
            format_name(packet.format, packet.subformat) + " is not miniSEED 2");
        return;
    }
    RecordHeader header;
    std::string why;
    if (!read_record_header(packet.payload, header, why)) {
        log("skipped " + sequence_text + " of " +
            (packet.station_id.empty() ? "?" : packet.station_id) + ": " + why);
        return;
    }
    const std::string station_id =
        packet.station_id.empty() ? header.network + "_" + header.station : packet.station_id;
    if (header.sample_count <= 0 || header.sample_rate <= 0) {
        log("skipped " + sequence_text + " of " + station_id + ": " + header.channel +
            " record without samples");
        return;
    }
    received_data_ = true;
    check_sequence(station_id, packet.sequence);
    check_time(station_id, header);
    ResumePoint& point = resume_[station_id];
    point.has_sequence = true;
    point.sequence = packet.sequence;
    point.end_time = header.end_time();
    if (on_record_)
        on_record_(ReceivedRecord{station_id, packet.sequence, packet.payload, &header});
}

void SeedLinkClient::check_sequence(const std::string& station_id, uint64_t sequence) {
    const auto found = resume_.find(station_id);
    if (found == resume_.end() || !found->second.has_sequence) return;
    const uint64_t mask = major_ == 4 ? ~uint64_t{0} : 0xFFFFFF;
    const uint64_t expected = (found->second.sequence + 1) & mask;
    if ((sequence & mask) == expected) return;
    StreamNotice n{NoticeKind::kSequenceGap,      station_id, "", static_cast<double>(expected),
                   static_cast<double>(sequence), ""};
    n.text = station_id + ": sequence number " + std::to_string(sequence) + " where " +
             std::to_string(expected) + " was next";
    if (on_notice_)
        on_notice_(n);
    else
        log(n.text);
}

void SeedLinkClient::check_time(const std::string& station_id, const RecordHeader& header) {
    const std::string stream = header.location + "." + header.channel;
    double& reached =
        stream_end_.try_emplace(station_id + ":" + stream, header.start_time).first->second;
    // Half a sample of slack: clocks of digitisers round the start time of records.
    if (header.start_time < reached - 0.5 / header.sample_rate) {
        StreamNotice n{NoticeKind::kTimeBackwards, station_id, stream, reached,
                       header.start_time,          ""};
        n.text = station_id + " " + stream + ": record starts at " +
                 std::to_string(header.start_time) + ", " +
                 std::to_string(reached - header.start_time) +
                 " s before the end of the previous one";
        if (on_notice_)
            on_notice_(n);
        else
            log(n.text);
    }
    reached = header.end_time();
}

}  // namespace zelvik::acquire
