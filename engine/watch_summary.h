// What a run can watch, said once at its start: how many of the configured channels
// run, which were skipped and why, and whether the data directory is there. A run that
// can watch nothing must never look like one that watches everything.
#pragma once

#include <string>
#include <vector>

#include "channel/channel_detector.h"

namespace zelvik::detect {

struct SetUpChannel {
    int index = 0;     // n of THREADn
    std::string name;  // "STA.CHA.LOC"
    ChannelState state = ChannelState::kNotSetUp;
    std::string reason;  // why it does not run; ignored when it runs
};

struct WatchSummary {
    int configured = 0;             // channel sections set up (THREADS, clamped)
    int running = 0;                // channels that can run now
    bool data_directory_ok = true;  // the data directory exists
    std::string text;               // "watching 3 of 4 channels; skipped: ..."

    // False when not a single channel can deliver samples: none runs, or the data
    // directory that holds every sample is missing.
    bool can_watch() const { return running > 0 && data_directory_ok; }
};

// The summary of `channels`, as set up, with the data directory `data_dir`
// (`data_dir_exists` tells whether it is a directory).
WatchSummary summarise_watch(const std::vector<SetUpChannel>& channels, const std::string& data_dir,
                             bool data_dir_exists);

}  // namespace zelvik::detect
