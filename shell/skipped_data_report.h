// The end of a catch-up run that passed over stored data it could not read: one line
// per skipped stretch on stderr, so an archive re-processed with holes is never taken
// for a complete one. Kept apart from the run's other summaries so it joins any of them.
#pragma once

#include <cstdio>
#include <vector>

#include "channel/channel_detector.h"

namespace zelvik::shell {

// Exit status of a catch-up run that skipped stored data (README: exit status 4).
inline constexpr int kExitSkippedData = 4;

// Writes "zelvik: N stretches of stored data were skipped:" and one line per stretch
// (channel, data file, UTC range, reason) to `err`, and the same count to the log.
// Nothing when `skipped` is empty. Main thread.
void report_skipped_data(std::FILE* err, const std::vector<detect::SkippedSegment>& skipped);

}  // namespace zelvik::shell
