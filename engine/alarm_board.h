// The per-channel alarm states and the alarm display of the supervisor. One pass
// compares each channel's latest data and detection times with what was shown and
// reports only what changed, so front ends never have to act on unchanged passes.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

namespace zelvik::detect {

struct ChannelAlarmState {
    double shown_event_time = 0.0;  // onset last shown; 0 = none yet
    double alarm_end = 0.0;         // instant at which the alarm ends; 0 = none
    double shown_data_time = 0.0;   // data time last shown
    bool alarm = false;             // the channel is in alarm
};

// What the worker has published for one channel, read at the start of a pass.
struct ChannelReading {
    double last_data_time = 0.0;  // seconds since 1970
    double last_onset = 0.0;      // seconds since 1970; 0 = no detection yet
    bool sound = false;           // the channel's SOUND flag
};

// The outcome of one pass: indices of channels whose alarm began or ended, and the
// state of the alarm display.
struct AlarmPass {
    bool rows_changed = false;     // some shown time or alarm state changed
    std::vector<int> entered;      // channels that went into alarm in this pass
    std::vector<int> left;         // channels that left the alarm in this pass
    bool display_on = false;       // a sounding channel is in alarm and no silence runs
    bool display_changed = false;  // display_on differs from the previous pass
    bool play_sound = false;       // display on and the sound switch on
};

// The pass runs on the supervisor thread only; silence and the sound switch may be set
// from any thread (they are atomics).
class AlarmBoard {
public:
    // max_duration_s: how long an alarm lasts after the latest detection shown;
    // silence_s: length of a silence started by silence().
    AlarmBoard(int max_duration_s, int silence_s);

    // Supervisor thread. Grows or shrinks the states to `count` channels (before passes).
    void resize(size_t count);

    // Supervisor thread, between passes: the states in the order of a changed channel
    // set (old_of_new[i]: the channel that row i continues, -1 = a new one).
    void remap(const std::vector<int>& old_of_new);
    // Supervisor thread: MAXDURATION and SILENCE changed while running; an alarm on
    // keeps its end, the next detection gets the new duration.
    void set_durations(int max_duration_s, int silence_s);

    // Supervisor thread. One pass at `now` (whole seconds since 1970) over `readings`,
    // which must have one entry per state.
    AlarmPass pass(const std::vector<ChannelReading>& readings, int64_t now);

    // Any thread. No channel enters alarm before now + seconds (the configured silence
    // when `seconds` is negative).
    void silence(int64_t now, int seconds = -1);
    void set_sound_enabled(bool on) { sound_enabled_.store(on); }
    bool sound_enabled() const { return sound_enabled_.load(); }
    int64_t silence_until() const { return silence_until_.load(); }

    // Supervisor thread.
    const std::vector<ChannelAlarmState>& states() const { return states_; }
    int max_duration() const { return max_duration_; }
    int silence_length() const { return silence_.load(); }

private:
    int max_duration_;                       // supervisor thread only
    std::atomic<int> silence_;               // set by the supervisor, read by silence()
    std::atomic<int64_t> silence_until_{0};  // written by any thread, read by the pass
    std::atomic<bool> sound_enabled_{true};  // the front end's sound switch
    std::vector<ChannelAlarmState> states_;  // supervisor thread only
    bool display_on_ = false;                // supervisor thread only
};

}  // namespace zelvik::detect
