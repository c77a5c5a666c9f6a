// Headless front end. Alarm changes go to the log and to stderr; progress only to stderr,
// since the log keeps decisions, not a running counter.
#include "shell/headless_events.h"

#include <algorithm>
#include <cstdint>

#include "common/civil_time.h"
#include "common/clock.h"
#include "report/alarm_sound.h"
#include "report/log.h"

namespace zelvik::shell {

namespace {

std::string channel_name(const detect::ChannelSettings& s) {
    std::string name = s.station;
    name.append(".").append(s.channel).append(".").append(s.location);
    return name;
}

}  // namespace

HeadlessEvents::HeadlessEvents(std::FILE* err, report::AlarmSound* sound, bool show_progress)
    : err_(err), sound_(sound), show_progress_(show_progress) {}

void HeadlessEvents::say(const std::string& line) {
    report::log_write(line);
    if (err_ != nullptr) std::fprintf(err_, "zelvik: %s\n", line.c_str());
}

void HeadlessEvents::channels_changed(std::vector<ChannelView> rows) {
    char line[256];
    for (size_t i = 0; i < rows.size(); ++i) {
        const bool was = i < last_rows_.size() && last_rows_[i].in_alarm;
        if (rows[i].in_alarm == was) continue;
        const std::string name = channel_name(rows[i].settings);
        if (rows[i].in_alarm) {
            std::snprintf(line, sizeof line, "Channel %d (%s) in alarm: event at %s UTC",
                          rows[i].settings.index, name.c_str(),
                          common::utc_text(rows[i].last_onset).c_str());
        } else {
            std::snprintf(line, sizeof line, "Channel %d (%s) alarm ended", rows[i].settings.index,
                          name.c_str());
        }
        say(line);
    }
    last_rows_ = std::move(rows);
    const double now = common::now_utc();
    if (show_progress_ && (last_progress_ < 0 || now - last_progress_ >= 1.0)) {
        last_progress_ = now;
        if (err_ != nullptr)
            std::fprintf(err_, "zelvik: progress %s\n", progress_line(last_rows_).c_str());
    }
}

void HeadlessEvents::final_progress() {
    if (show_progress_ && err_ != nullptr) {
        std::fprintf(err_, "zelvik: progress %s\n", progress_line(last_rows_).c_str());
    }
}

std::string HeadlessEvents::progress_line(const std::vector<ChannelView>& rows) {
    std::string out;
    char share[32];
    for (const ChannelView& r : rows) {
        if (!out.empty()) out += "; ";
        out += channel_name(r.settings);
        if (r.state != detect::ChannelState::kRunning) {
            out += " not running";
            continue;
        }
        if (r.last_data_time <= 0.0) {
            out += " no data yet";
            continue;
        }
        out += ' ';
        out += common::utc_text(r.last_data_time);
        const double span = r.backlog_end - r.start_time;
        if (span > 0.0) {
            const double done = std::clamp((r.last_data_time - r.start_time) / span, 0.0, 1.0);
            std::snprintf(share, sizeof share, " %.0f%%", 100.0 * done);
            out += share;
        }
    }
    return out.empty() ? std::string("no channels") : out;
}

void HeadlessEvents::alarm_changed(bool on, const std::string& text) {
    say(on ? "Alarm display on: " + text : std::string("Alarm display off"));
}

void HeadlessEvents::info_changed(const std::string& /*text*/) {
    // The duration and silence line is a label of the window; an unattended run has
    // them in its settings file and does not repeat them.
}

void HeadlessEvents::data_watch(const std::string& line) {
    if (err_ != nullptr) std::fprintf(err_, "zelvik: %s\n", line.c_str());
}

void HeadlessEvents::play_alarm(const std::string& wav_path) {
    if (sound_ != nullptr) (void)sound_->play(wav_path);
}

}  // namespace zelvik::shell
