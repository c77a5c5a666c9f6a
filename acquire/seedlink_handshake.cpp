// The handshake of a session: HELLO, then protocol 4.0 (SLPROTO, STATION NET_STA,
// SELECT LOC_B_S_SS, DATA seq|-1 time) or 3.1 multi-station (STATION STA NET, SELECT
// LLCCC, DATA hex-seq or TIME), then END. Commands wait for their OK/ERROR unless 3.1
// BATCH mode was granted.
#include <cstdio>
#include <ctime>
#include <sstream>

#include "acquire/seedlink_client.h"
#include "acquire/tcp_connection.h"

namespace zelvik::acquire {
namespace {

constexpr size_t kMaxLine = 1024;
// What command() answers besides a SessionStatus (which is 0 or below).
constexpr int kRefused = 1;
constexpr int kAccepted = 2;

std::vector<std::string> words(std::string_view text) {
    std::vector<std::string> out;
    std::istringstream in{std::string(text)};
    for (std::string w; in >> w;) out.push_back(w);
    return out;
}

bool has(const std::vector<std::string>& list, std::string_view item) {
    for (const auto& w : list)
        if (w == item) return true;
    return false;
}

// "2024-01-02T03:04:05.250000Z" (4.0) or "2024,1,2,3,4,5" (3.1) in UTC.
std::string time_argument(double epoch, bool v4) {
    const auto whole = static_cast<time_t>(epoch);
    std::tm t{};
    gmtime_r(&whole, &t);
    char text[64];
    if (v4) {
        const int micros = static_cast<int>((epoch - static_cast<double>(whole)) * 1e6);
        std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%06dZ", t.tm_year + 1900,
                      t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, micros);
    } else {
        std::snprintf(text, sizeof text, "%d,%d,%d,%d,%d,%d", t.tm_year + 1900, t.tm_mon + 1,
                      t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    }
    return text;
}

}  // namespace

int SeedLinkClient::command(TcpConnection& c, const std::string& line, bool expect_reply) {
    if (const int r = c.send_all(line + "\r\n", options_.command_timeout_s); r != kIoOk)
        return from_io(r, c, "sending " + line);
    if (!expect_reply) return kAccepted;
    std::string reply;
    if (const int r = c.read_line(reply, kMaxLine, options_.command_timeout_s); r != kIoOk)
        return from_io(r, c, "waiting for the answer to " + line);
    if (reply == "OK") return kAccepted;
    if (reply.rfind("ERROR", 0) == 0) {
        error_ = "[" + line + "] refused: " + reply;
        return kRefused;
    }
    return fail(kProtocolError, "[" + line + "] answered '" + reply.substr(0, 80) + "'");
}

int SeedLinkClient::hello(TcpConnection& c, std::vector<std::string>& capabilities) {
    if (const int r = c.send_all("HELLO\r\n", options_.command_timeout_s); r != kIoOk)
        return from_io(r, c, "sending HELLO");
    std::string id, organisation;
    int r = c.read_line(id, kMaxLine, options_.command_timeout_s);
    if (r == kIoOk) r = c.read_line(organisation, kMaxLine, options_.command_timeout_s);
    if (r != kIoOk) return from_io(r, c, "waiting for the answer to HELLO");
    const size_t split = id.find("::");
    capabilities =
        split == std::string::npos ? std::vector<std::string>{} : words(id.substr(split + 2));
    const std::string software = id.substr(0, split);
    if (software.find("SeedLink") == std::string::npos)
        return fail(kHandshakeFailed,
                    "HELLO answered '" + software.substr(0, 80) + "', not a SeedLink server");
    major_ = has(capabilities, "SLPROTO:4.0") && !options_.force_v3 ? 4 : 3;
    log("server '" + software + "' (" + organisation + "), capabilities '" +
        (split == std::string::npos ? std::string() : id.substr(split + 2)) + "': protocol " +
        (major_ == 4 ? "4.0" : "3.1") + (options_.force_v3 ? " (3.1 forced)" : ""));
    return kStepDone;
}

std::string SeedLinkClient::data_command(const ResumePoint& point) const {
    if (point.has_sequence) {
        if (major_ == 4) return "DATA " + std::to_string(point.sequence + 1);
        char hex[16];
        std::snprintf(hex, sizeof hex, "DATA %06X",
                      static_cast<unsigned>((point.sequence + 1) & 0xFFFFFF));
        return hex;
    }
    if (point.end_time == point.end_time)  // not NaN: resume by time
        return major_ == 4 ? "DATA -1 " + time_argument(point.end_time, true)
                           : "TIME " + time_argument(point.end_time, false);
    return "DATA";
}

int SeedLinkClient::request_stations(TcpConnection& c, bool batch) {
    std::vector<std::string> order;  // NET_STA in the order first named
    for (const auto& s : options_.streams)
        if (!has(order, s.station_id())) order.push_back(s.station_id());
    int accepted = 0;
    for (const auto& id : order) {
        std::vector<std::string> patterns;
        bool whole_station = false;
        const StreamSelector* first = nullptr;
        for (const auto& s : options_.streams) {
            if (s.station_id() != id) continue;
            if (first == nullptr) first = &s;
            const std::string p = major_ == 4 ? v4_select_pattern(s) : v3_select_pattern(s);
            whole_station = whole_station || p.empty();
            if (!p.empty() && !has(patterns, p)) patterns.push_back(p);
        }
        if (whole_station) patterns.clear();
        const std::string station =
            major_ == 4 ? "STATION " + id : "STATION " + first->station + " " + first->network;
        int r = command(c, station, !batch);
        if (r <= 0) return r;
        if (r == kRefused) {
            log("station " + id + " not served: " + error_);
            continue;
        }
        for (const auto& p : patterns) {
            if ((r = command(c, "SELECT " + p, !batch)) <= 0) return r;
            if (r == kRefused) return fail(kHandshakeFailed, error_);
        }
        const auto point = resume_.count(id) != 0 ? resume_.at(id) : ResumePoint{};
        const std::string data = data_command(point);
        if ((r = command(c, data, !batch)) <= 0) return r;
        if (r == kRefused && data != "DATA") {
            log("station " + id + ": " + error_ + "; asking for new data instead");
            if ((r = command(c, "DATA", !batch)) <= 0) return r;
        }
        if (r == kRefused) return fail(kHandshakeFailed, error_);
        log("station " + id + ": " + data +
            (patterns.empty() ? "" : " for " + std::to_string(patterns.size()) + " selector(s)"));
        ++accepted;
    }
    if (accepted == 0) return fail(kHandshakeFailed, "no station accepted by the server");
    return kStepDone;
}

int SeedLinkClient::handshake(TcpConnection& c) {
    std::vector<std::string> capabilities;
    if (const int r = hello(c, capabilities); r != kStepDone) return r;
    bool batch = false;
    if (major_ == 4) {
        int r = command(c, "SLPROTO 4.0", true);
        if (r <= 0) return r;
        if (r == kRefused) return fail(kHandshakeFailed, error_);
        if ((r = command(c, "USERAGENT zelvik/0.1", true)) <= 0) return r;
    } else if (has(capabilities, "BATCH")) {
        const int r = command(c, "BATCH", true);
        if (r <= 0) return r;
        batch = r == kAccepted;
    }
    if (const int r = request_stations(c, batch); r != kStepDone) return r;
    if (const int r = c.send_all("END\r\n", options_.command_timeout_s); r != kIoOk)
        return from_io(r, c, "sending END");
    return kStepDone;
}

}  // namespace zelvik::acquire
