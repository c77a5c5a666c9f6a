// The reader reads in windows of at most an hour, as the worker does, and places each
// filled stretch at its own time. A failed read drops the connection when the store
// said it was lost, so that the next call connects anew.
#include "channel/channel_trace_reader.h"

#include <algorithm>
#include <cmath>

#include "channel/channel_detector.h"
#include "common/clock.h"
#include "db/store_status.h"
#include "signal/instrument_response.h"

namespace zelvik::detect {

ChannelTraceReader::ChannelTraceReader(StoreAccess access, ChannelSettings settings)
    : access_(std::move(access)), settings_(std::move(settings)) {}

ChannelTraceReader::~ChannelTraceReader() = default;

bool ChannelTraceReader::ensure_connected() {
    if (store_ && store_->is_alive()) return true;
    store_ = std::make_unique<db::WaveStore>();
    const bool params = store_->set_param("odbc", access_.data_source) == 0 &&
                        store_->set_param("user", access_.user) == 0 &&
                        store_->set_param("password", access_.password) == 0 &&
                        store_->set_param("data", access_.data_dir) == 0 &&
                        store_->set_param("use_tend", access_.use_tend ? "1" : "0") == 0;
    if (!params || !store_->connect()) {
        last_error_ = "The waveform store " + access_.data_source +
                      " cannot be reached: " + store_->last_error();
        store_.reset();
        return false;
    }
    response_known_ = false;
    return true;
}

void ChannelTraceReader::choose_response() {
    // The detector's choice: a pole-zero text valid now, else a frequency table. The
    // scale is read at the centre of the trigger band, where the filtered trace lives.
    response_known_ = true;
    um_per_count_ = 0;
    const float f1 = settings_.fr1, f2 = settings_.fr2;
    response_hz_ = f1 > 0 ? std::sqrt(f1 * f2) : f2 / 2;
    const db::StoreTimestamp now = db::store_timestamp_utc(common::now_utc());
    const char* sta = settings_.station.c_str();
    const char* cha = settings_.channel.c_str();
    const char* loc = settings_.location.c_str();
    std::string text;
    InstrumentResponse response;
    if (store_->select_sac(sta, cha, loc, "", now, text) > 0) {
        (void)response.parse_paz(text);
    } else {
        text.clear();
        if (store_->select_fap(sta, cha, loc, "", now, text) <= 0) return;
        (void)response.parse_fap(text);
    }
    const double counts_per_metre = response.evaluate(response_hz_);
    if (counts_per_metre > 0 && std::isfinite(counts_per_metre))
        um_per_count_ = 1000000.0 / counts_per_metre;
}

bool ChannelTraceReader::read(const TraceRequest& request, ChannelSnapshot& out) {
    out = ChannelSnapshot{};
    if (!ensure_connected()) return false;
    const std::string& sta = settings_.station;
    const double rate = store_->get_sps(sta, settings_.channel, settings_.location);
    if (rate < 0) {
        last_error_ = "The sample rate could not be read: " + store_->last_error();
        store_.reset();
        return false;
    }
    if (rate == 0) {
        last_error_ = "The store has no sample rate for this channel (no SITECHAN row).";
        return false;
    }
    const int found =
        store_->last_data_end(sta, settings_.channel, settings_.location, out.latest_data);
    if (found < 0) {
        last_error_ = "The channel's data could not be looked up: " + store_->last_error();
        store_.reset();
        return false;
    }
    if (found == 0) {
        last_error_ = "The store holds no samples for this channel yet.";
        return false;
    }
    const double span = std::clamp(request.span_seconds, kMinSpan, kMaxSpan);
    const double end = request.end > 0 ? request.end : out.latest_data;
    TraceComputer computer;
    if (!computer.init(settings_, rate, end - span, end, out.trace)) {
        last_error_ = "The channel's settings cannot be computed: " + computer.last_error();
        return false;
    }
    if (!read_span(computer, end - span - TraceComputer::warmup_seconds(settings_, rate), end,
                   out.trace))
        return false;
    if (store_->select_events(sta, end - span, end, kListLimit, out.span_events) < 0 ||
        store_->select_events(sta, 0, 1e300, kListLimit, out.recent_events) < 0) {
        last_error_ = "The event list could not be read: " + store_->last_error();
        return false;
    }
    if (!response_known_) choose_response();
    out.um_per_count = um_per_count_;
    out.response_hz = response_hz_;
    return true;
}

bool ChannelTraceReader::read_span(TraceComputer& computer, double from, double to,
                                   ChannelTrace& out) {
    const double window = ChannelReader::window_seconds(out.sample_rate);
    const size_t capacity = static_cast<size_t>(out.sample_rate * window) + 2;
    if (buffer_.size() < capacity) buffer_.resize(capacity);
    double t = from;
    while (t < to) {
        double t0 = t, t1 = std::min(t + window, to);
        const int r = store_->read_samples(buffer_.data(), capacity, settings_.station,
                                           settings_.channel, settings_.location, t0, t1, &filled_);
        // Like the worker, the next window starts where the delivered data ended, so a
        // sample cut off at a window's end comes with the next one.
        t = r == 0 && t1 > t0 ? t1 : t0 + window;
        if (r == db::kNoSegment) continue;
        if (r != 0) {
            last_error_ = std::string("Reading the samples failed: ") + db::to_string(r);
            if (r == db::kConnectionLost) store_.reset();
            return false;
        }
        for (const db::FilledRange& f : filled_) {
            if (f.first >= capacity) continue;
            computer.feed(buffer_.data() + f.first, std::min(f.count, capacity - f.first),
                          t0 + static_cast<double>(f.first) / out.sample_rate, out);
        }
    }
    return true;
}

}  // namespace zelvik::detect
