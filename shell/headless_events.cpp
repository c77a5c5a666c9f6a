// Headless front end. Alarm changes go to the log and to stderr; progress only to stderr,
// since the log keeps decisions, not a running counter.
#include "shell/headless_events.h"

#include <algorithm>
#include <cstdint>

#include "common/channel_id.h"
#include "common/civil_time.h"
#include "common/clock.h"
#include "common/log.h"
#include "report/alarm_sound.h"

namespace zelvik::shell {

namespace {

std::string channel_name(const detect::ChannelSettings& s) {
    return common::channel_id(s.station, s.channel, s.location);
}

}  // namespace

HeadlessEvents::HeadlessEvents(std::FILE* err, report::AlarmSound* sound, bool show_progress)
    : err_(err), sound_(sound), show_progress_(show_progress) {}

void HeadlessEvents::say(const std::string& line) {
    common::log_write(line);
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

namespace {

// Share of the channel's backlog done, in [0, 1]; negative when it is not known.
double done_share(const ChannelView& r) {
    const double span = r.backlog_end - r.start_time;
    if (r.state != detect::ChannelState::kRunning || r.last_data_time <= 0.0 || !(span > 0.0))
        return -1.0;
    return std::clamp((r.last_data_time - r.start_time) / span, 0.0, 1.0);
}

std::string channel_progress(const ChannelView& r) {
    std::string out = channel_name(r.settings);
    if (r.state != detect::ChannelState::kRunning) return out + " not running";
    if (r.last_data_time <= 0.0) return out + " no data yet";
    out += ' ';
    out += common::utc_text(r.last_data_time);
    if (const double done = done_share(r); done >= 0.0) {
        char share[32];
        std::snprintf(share, sizeof share, " %.0f%%", 100.0 * done);
        out += share;
    }
    return out;
}

// Totals and the channel furthest behind: a line that stays short with any number of
// channels.
std::string totals_progress(const std::vector<ChannelView>& rows) {
    size_t running = 0, known = 0;
    double share_sum = 0.0;
    const ChannelView* slowest = nullptr;
    double slowest_share = 2.0;
    for (const ChannelView& r : rows) {
        if (r.state != detect::ChannelState::kRunning) continue;
        ++running;
        const double done = done_share(r);
        // A running channel without data yet is the slowest of all.
        const double rank = r.last_data_time <= 0.0 ? -1.0 : done;
        if (done >= 0.0) {
            ++known;
            share_sum += done;
        }
        if (slowest == nullptr || rank < slowest_share) {
            slowest = &r;
            slowest_share = rank;
        }
    }
    char head[96];
    std::snprintf(head, sizeof head, "%zu channels, %zu running", rows.size(), running);
    std::string out = head;
    if (known > 0) {
        std::snprintf(head, sizeof head, ", %.0f%% done", 100.0 * share_sum / known);
        out += head;
    }
    if (slowest != nullptr) out += "; slowest " + channel_progress(*slowest);
    return out;
}

}  // namespace

std::string HeadlessEvents::progress_line(const std::vector<ChannelView>& rows) {
    if (rows.empty()) return "no channels";
    if (rows.size() > kListedChannels) return totals_progress(rows);
    std::string out;
    for (const ChannelView& r : rows) {
        if (!out.empty()) out += "; ";
        out += channel_progress(r);
    }
    return out;
}

void HeadlessEvents::watch_summary(const std::string& text) {
    if (err_ != nullptr) std::fprintf(err_, "zelvik: %s\n", text.c_str());
}

void HeadlessEvents::mail_failed(const std::string& text) {
    if (err_ != nullptr) std::fprintf(err_, "zelvik: %s\n", text.c_str());
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
