// The store side of one channel: the window it reads next from the waveform store, the
// data files that cannot be read (waited for, then passed over as gaps), the jumps
// over stretches without data, and the store's answers setup needs (the response).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "channel/channel_settings.h"
#include "db/wave_store.h"
#include "signal/instrument_response.h"

namespace zelvik::detect {

class StoreLink;

// What a channel without a usable response stores, for the lines that say so.
inline constexpr const char* kUnconvertedAmplitudes =
    "amplitudes are not converted (rows store AMP 0 and PER 0)";

// Scratch space of the worker, reused by every step so that a step allocates nothing.
struct StepBuffers {
    std::vector<float> samples;
    std::vector<db::FilledRange> filled;
    std::vector<db::SegmentFault> faults;
    double window_start = 0.0;  // time of samples[0] of the window read last
    size_t capacity = 0;        // samples that window can hold
};

// What ChannelDetector::read_window() did.
enum class WindowRead {
    kStalled,  // the read position stayed (see needs_retry())
    kMoved,    // it moved on without samples to process (a jump, or segments without any)
    kSamples,  // it moved on; the samples read wait for process_window()
};

class ChannelReader {
public:
    static constexpr double kWindowSeconds = 3600.0;  // longest stretch one read covers
    // Most samples one window may hold (16 MB of floats): fast channels read shorter
    // windows rather than larger buffers.
    static constexpr double kMaxWindowSamples = 4194304.0;

    // Seconds one read covers at `sample_rate`: kWindowSeconds, less for fast channels.
    static double window_seconds(double sample_rate);
    // How long a data file may stay unreadable before its segment is skipped as a gap.
    static constexpr double kUnreadableGraceSeconds = 5.0;

    // Neither `link` nor `settings` is owned; both must outlive the reader.
    ChannelReader(StoreLink& link, const ChannelSettings& settings);

    // Sets `response` to the one valid now: from the PAZ table, else the FAP table, else
    // none. Logs which one it is (or why its text cannot serve), and the store's error
    // when a query fails.
    void choose_response(InstrumentResponse& response);

    // Reads [position, position + window_seconds()) at `sample_rate` into `buffers` and moves the
    // position on. Worker thread.
    WindowRead read(StepBuffers& buffers, double sample_rate);

    // Reads [t0, t1) at `sample_rate` into `buffers` without moving the position or
    // passing over anything: true when samples were delivered. Worker thread.
    bool read_span(StepBuffers& buffers, double sample_rate, double t0, double t1);

    void set_position(double t) { position_ = t; }
    double position() const { return position_; }  // seconds since 1970
    // Whether the last read failed for a reason that may pass; see ChannelDetector.
    bool needs_retry() const { return retry_; }
    void set_retry(bool on) { retry_ = on; }
    const std::vector<db::SegmentFault>& skipped() const { return skipped_; }
    void set_unreadable_grace(double seconds) { unreadable_grace_ = seconds; }

private:
    std::string name() const;  // "STA.CHA.LOC"
    // Asks the store for [t0, t1) at `sample_rate` (t1 comes back as the end delivered);
    // `capacity`: the samples that span holds. The store's status; a lost connection is
    // marked on the link.
    int fetch(StepBuffers& buffers, double sample_rate, double& t0, double& t1, size_t& capacity);
    // Whether the last fetch placed any sample within `capacity`.
    static bool delivered(const StepBuffers& buffers, size_t capacity);
    void log_read_failure(int status, double t0, const std::vector<db::SegmentFault>& faults);
    bool accept_faults(const std::vector<db::SegmentFault>& faults);
    void log_skipped(const db::SegmentFault& fault);
    bool jump_to_next_data(double window_end);

    StoreLink& link_;
    const ChannelSettings& settings_;
    double position_ = 0.0;
    int last_read_status_ = 0;       // last read failure logged, to log each kind once
    bool retry_ = false;             // the last read failed for a reason that may pass
    std::string unreadable_path_;    // data file waited for; "" = none
    double unreadable_since_ = 0.0;  // steady-clock seconds when it first failed
    double unreadable_grace_ = kUnreadableGraceSeconds;
    std::vector<db::SegmentFault> skipped_;
};

}  // namespace zelvik::detect
