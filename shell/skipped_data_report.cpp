// Lines built first, then written: the log line goes through log_write as every other.
#include "shell/skipped_data_report.h"

#include "common/civil_time.h"
#include "common/log.h"

namespace zelvik::shell {

void report_skipped_data(std::FILE* err, const std::vector<detect::SkippedSegment>& skipped) {
    if (skipped.empty()) return;
    std::fprintf(err, "zelvik: %zu stretches of stored data were skipped:\n", skipped.size());
    for (const detect::SkippedSegment& s : skipped) {
        const char* what = s.fault.kind == db::SegmentFault::kShort       ? "short data file"
                           : s.fault.kind == db::SegmentFault::kMalformed ? "unusable row"
                                                                          : "unreadable data file";
        std::fprintf(err, "  %s %s to %s: %s %s (%s)\n", s.channel.c_str(),
                     common::utc_text(s.fault.from).c_str(), common::utc_text(s.fault.to).c_str(),
                     what, s.fault.path.c_str(), s.fault.reason.c_str());
    }
    common::log_printf("Catch-up run skipped %zu stretches of stored data", skipped.size());
}

}  // namespace zelvik::shell
