// The start-of-run summary. One line, so that the log and stderr say the same and an
// operator grepping for "watching" finds every start.
#include "engine/watch_summary.h"

namespace zelvik::detect {

WatchSummary summarise_watch(const std::vector<SetUpChannel>& channels, const std::string& data_dir,
                             bool data_dir_exists) {
    WatchSummary out;
    out.configured = static_cast<int>(channels.size());
    out.data_directory_ok = data_dir_exists;
    std::string skipped, waiting, no_data_yet;
    for (const SetUpChannel& c : channels) {
        if (c.state == ChannelState::kRunning) {
            ++out.running;
            continue;
        }
        std::string& list = c.state == ChannelState::kWaitingForStore  ? waiting
                            : c.state == ChannelState::kWaitingForData ? no_data_yet
                                                                       : skipped;
        if (!list.empty()) list += ", ";
        list += "THREAD" + std::to_string(c.index) + " " + c.name + " (" + c.reason + ")";
    }
    out.text = "watching " + std::to_string(out.running) + " of " + std::to_string(out.configured) +
               " channels";
    if (channels.empty()) out.text += ": no channel sections (SYSTEM THREADS is 0 or missing)";
    if (!skipped.empty()) out.text += "; skipped: " + skipped;
    if (!waiting.empty()) out.text += "; waiting for the store: " + waiting;
    if (!no_data_yet.empty()) out.text += "; waiting for first data: " + no_data_yet;
    if (!data_dir_exists) {
        out.text += "; data directory \"" + data_dir + "\" does not exist, no samples can be read";
    }
    return out;
}

}  // namespace zelvik::detect
