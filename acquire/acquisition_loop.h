// The loops of zelvik-store's live commands: records from a source (a SeedLink server or
// a followed folder) go into the live store, which is committed at most kCommitInterval
// after a record arrived, and each commit is followed by the source's state file. A
// failure of the store drops the uncommitted records and resumes the source from its
// last saved position once the store answers again, so nothing is lost or doubled.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "acquire/seedlink_client.h"
#include "acquire/store_target.h"

namespace zelvik::acquire {

struct DecodedRecord;
struct StoredRecord;

using Logger = std::function<void(const std::string&)>;

// How the loop goes, as its heartbeat reports it.
struct LoopHealth {
    bool storing = false;            // the store answers
    uint64_t records_committed = 0;  // since the loop began
    double data_end = 0.0;           // newest record end committed, seconds since 1970
};

// Called on the loop's thread at every turn of the loop (a few times a second, also
// while the store is waited for). A loop stuck in a store call stops calling it, which
// a service watchdog can see.
using Heartbeat = std::function<void(const LoopHealth& health)>;

// At most this long between a record's arrival and its commit.
inline constexpr double kCommitInterval = 0.25;  // seconds

// The record's samples as the store keeps them: integers as 32-bit, floats as 32-bit
// floats, little-endian.
StoredRecord stored_from_decoded(const DecodedRecord& record);

struct FollowOptions {
    StoreTarget target;
    std::string folder;            // followed recursively
    std::string state_file;        // byte offset and record end time per file
    double summary_seconds = 600;  // between the lines saying what was stored
    Heartbeat heartbeat;           // optional
};

// Runs until `stop`; 0 after a clean stop, 1 when the folder or the state file cannot
// be used at all.
int run_follow(const FollowOptions& options, const std::atomic<bool>& stop, const Logger& log);

struct SeedLinkOptions {
    StoreTarget target;
    ClientOptions client;          // server, streams, time-outs; its log and tick are set here
    std::string state_file;        // next sequence number and record end time per station
    double summary_seconds = 600;  // between the lines saying what was stored
    Heartbeat heartbeat;           // optional
};

// Runs until `stop`; 0 after a clean stop, 1 when the state file cannot be used.
int run_seedlink(const SeedLinkOptions& options, const std::atomic<bool>& stop, const Logger& log);

}  // namespace zelvik::acquire
