// EngineEvents for unattended runs: log lines and stderr, one line per change (a channel
// entering or leaving alarm, the alarm display turning on or off, a data watch line),
// never one per pass; with progress on, the data time and share of backlog of every
// channel once a second.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "shell/engine_events.h"

namespace zelvik::report {
class AlarmSound;
}

namespace zelvik::shell {

class HeadlessEvents : public EngineEvents {
public:
    // `err` (not owned) receives the stderr lines; `sound` (not owned, may be null) plays
    // the alarm file. Progress lines appear only when `show_progress`.
    HeadlessEvents(std::FILE* err, report::AlarmSound* sound, bool show_progress);

    void channels_changed(std::vector<ChannelView> rows) override;
    void alarm_changed(bool on, const std::string& text) override;
    void info_changed(const std::string& text) override;
    void play_alarm(const std::string& wav_path) override;
    void data_watch(const std::string& line) override;     // stderr only: the log has it
    void watch_summary(const std::string& text) override;  // stderr; the engine logged it
    void mail_failed(const std::string& text) override;    // stderr; logged already

    // Writes the progress line once more, whatever the time (end of a run).
    void final_progress();

    // Up to kListedChannels channels: "STA.CHA.LOC 2012-08-25 05:15:00 45%" for each,
    // "; " between them. With more: the totals and the slowest channel, e.g.
    // "12 channels, 11 running, 45% done; slowest ABC.BHZ.?? 2012-08-25 05:15:00 12%".
    static std::string progress_line(const std::vector<ChannelView>& rows);
    static constexpr size_t kListedChannels = 4;

private:
    void say(const std::string& line);

    std::FILE* err_;
    report::AlarmSound* sound_;
    const bool show_progress_;
    std::vector<ChannelView> last_rows_;  // supervisor thread only
    double last_progress_ = -1.0;         // clock time of the last progress line
};

}  // namespace zelvik::shell
