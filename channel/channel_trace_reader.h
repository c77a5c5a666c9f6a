// Reads what a channel view shows from the waveform store on a connection of its own:
// the span's samples with a warm-up before it, run through TraceComputer, and the
// station's stored detections. Never touches the engine's connection or detectors.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "channel/channel_settings.h"
#include "channel/channel_trace.h"
#include "db/wave_store.h"

namespace zelvik::detect {

// The values a connection is made from (as resolved at start-up).
struct StoreAccess {
    std::string data_source, user, password, data_dir;
    bool use_tend = false;
};

struct TraceRequest {
    double span_seconds = 300;  // clamped to 60..3600
    double end = 0;             // span end, seconds since 1970; 0 = the channel's latest data
};

struct ChannelSnapshot {
    ChannelTrace trace;
    double latest_data = 0;                      // end of the channel's latest segment
    std::vector<db::StoredEvent> span_events;    // detections inside the span, newest first
    std::vector<db::StoredEvent> recent_events;  // newest first, at most kListLimit
    double um_per_count = 0;  // micrometres of displacement per count at response_hz; 0 = none
    float response_hz = 0;    // where the response is read: the trigger band's centre
};

class ChannelTraceReader {
public:
    static constexpr int kListLimit = 500;
    static constexpr double kMinSpan = 60.0, kMaxSpan = 3600.0;  // seconds

    ChannelTraceReader(StoreAccess access, ChannelSettings settings);
    ~ChannelTraceReader();
    ChannelTraceReader(const ChannelTraceReader&) = delete;
    ChannelTraceReader& operator=(const ChannelTraceReader&) = delete;

    // Connects when there is no live connection (again after an outage), then fills
    // `out`. One thread at a time; blocks for the reads, so never on a GUI thread.
    // @retval false the store cannot serve the channel now; last_error() is a sentence
    //         for the operator. A later call tries again from the start.
    [[nodiscard]] bool read(const TraceRequest& request, ChannelSnapshot& out);

    const std::string& last_error() const { return last_error_; }

private:
    bool ensure_connected();
    bool read_span(TraceComputer& computer, double from, double to, ChannelTrace& out);
    void choose_response();

    StoreAccess access_;
    ChannelSettings settings_;
    std::unique_ptr<db::WaveStore> store_;
    bool response_known_ = false;  // chosen once per connection, as a detector does at setup
    double um_per_count_ = 0;
    float response_hz_ = 0;
    std::vector<float> buffer_;  // one reading window
    std::vector<db::FilledRange> filled_;
    std::string last_error_;
};

}  // namespace zelvik::detect
