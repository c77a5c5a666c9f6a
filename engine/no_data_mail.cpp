// NO DATA mail text: a line per channel, stalled ones first as the watchdog found them.
#include "engine/no_data_mail.h"

#include <cstdio>

#include "common/civil_time.h"
#include "engine/channel_set_change.h"

namespace zelvik::detect {
namespace {

std::string data_time_text(double t) {
    return t > 0.0 ? common::utc_text(t) + " UTC" : std::string("none yet");
}

}  // namespace

NoDataMail::NoDataMail(std::vector<std::string> names, int no_data_s)
    : names_(std::move(names)), no_data_(no_data_s), mailed_(names_.size()) {}

void NoDataMail::remap(const std::vector<int>& old_of_new, std::vector<std::string> names) {
    names_ = std::move(names);
    mailed_ = remap_rows(mailed_, old_of_new);
}

std::string NoDataMail::due(const std::vector<WatchState>& states, int64_t now) {
    const auto t = static_cast<double>(now);
    std::string stalled, resumed;
    char line[400];
    for (size_t i = 0; i < states.size() && i < mailed_.size(); ++i) {
        const WatchState& s = states[i];
        Mailed& m = mailed_[i];
        if (s.stalled == m.stalled || t - m.at < kPerChannelInterval) continue;
        m.stalled = s.stalled;
        m.at = t;
        if (s.stalled) {
            std::snprintf(line, sizeof line, "%-20s no data since   %s%s\n", names_[i].c_str(),
                          data_time_text(s.last_data_time).c_str(),
                          s.by_outage ? " (the store does not answer)" : "");
            stalled += line;
        } else {
            std::snprintf(line, sizeof line, "%-20s data again, now %s\n", names_[i].c_str(),
                          data_time_text(s.last_data_time).c_str());
            resumed += line;
        }
    }
    if (stalled.empty() && resumed.empty()) return {};
    std::snprintf(line, sizeof line, "Zelvik data watch at %s UTC (NODATA %d s)\n\n",
                  common::utc_text(t).c_str(), no_data_);
    return line + stalled + resumed;
}

}  // namespace zelvik::detect
