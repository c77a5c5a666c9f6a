// Alarm rules: a detection newer than the one shown raises the channel's alarm for
// max_duration seconds unless a silence runs; a detection made during a silence stays
// "newer than shown" and so raises the alarm in the first pass after the silence.
#include "engine/alarm_board.h"

#include "engine/channel_set_change.h"

#include <algorithm>

namespace zelvik::detect {

AlarmBoard::AlarmBoard(int max_duration_s, int silence_s)
    : max_duration_(std::max(0, max_duration_s)), silence_(std::max(0, silence_s)) {}

void AlarmBoard::remap(const std::vector<int>& old_of_new) {
    states_ = remap_rows(states_, old_of_new);
}

void AlarmBoard::set_durations(int max_duration_s, int silence_s) {
    max_duration_ = std::max(0, max_duration_s);
    silence_.store(std::max(0, silence_s));
}

void AlarmBoard::resize(size_t count) {
    states_.resize(count);
}

void AlarmBoard::silence(int64_t now, int seconds) {
    silence_until_.store(now + (seconds < 0 ? silence_.load() : seconds));
}

AlarmPass AlarmBoard::pass(const std::vector<ChannelReading>& readings, int64_t now) {
    AlarmPass out;
    const auto t = static_cast<double>(now);
    const bool silenced = silence_until_.load() >= now;
    bool sounding = false;
    const size_t n = std::min(readings.size(), states_.size());
    for (size_t i = 0; i < n; ++i) {
        ChannelAlarmState& s = states_[i];
        const ChannelReading& r = readings[i];
        if (s.shown_data_time < r.last_data_time) {
            s.shown_data_time = r.last_data_time;
            out.rows_changed = true;
        }
        if (r.last_onset > s.shown_event_time && !silenced) {
            if (!s.alarm) out.entered.push_back(static_cast<int>(i));
            s.alarm = true;
            s.alarm_end = t + max_duration_;
            s.shown_event_time = r.last_onset;
            out.rows_changed = true;
        }
        if (s.alarm && t >= s.alarm_end) {
            s.alarm = false;
            s.alarm_end = 0.0;
            out.left.push_back(static_cast<int>(i));
            out.rows_changed = true;
        }
        sounding = sounding || (s.alarm && r.sound);
    }
    out.display_on = sounding && !silenced;
    out.display_changed = out.display_on != display_on_;
    display_on_ = out.display_on;
    out.play_sound = out.display_on && sound_enabled_.load();
    return out;
}

}  // namespace zelvik::detect
