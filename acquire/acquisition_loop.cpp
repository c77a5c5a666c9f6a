// Store failures are retried with a back-off of 1 s doubling to 30 s; a record the
// decoder refuses is named and passed over (its position still moves on, or the
// source would offer it for ever).
#include "acquire/acquisition_loop.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

#include "acquire/archive_follower.h"
#include "acquire/commit_pacer.h"
#include "acquire/live_store.h"
#include "acquire/record_decoder.h"
#include "acquire/source_state.h"

namespace zelvik::acquire {

namespace {

constexpr double kFirstBackoff = 1.0, kLastBackoff = 30.0;  // seconds

using Beat = std::function<void(bool storing)>;

// Sleeps `seconds` in steps, returning early on a stop; the heartbeat goes on, as
// waiting for the store is no hang.
void pause(double seconds, const std::atomic<bool>& stop, const Beat& beat) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    int steps = 0;
    while (!stop.load() && std::chrono::steady_clock::now() < until) {
        if (steps++ % 5 == 0) beat(false);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

// The loop's heartbeat over its state file and pacer (both must outlive it).
Beat make_beat(const Heartbeat& heartbeat, const SourceState& state, const CommitPacer& pacer) {
    return [&heartbeat, &state, &pacer](bool storing) {
        if (!heartbeat) return;
        LoopHealth health;
        health.storing = storing;
        health.records_committed = pacer.records_committed();
        for (const auto& [key, position] : state.positions())
            health.data_end = std::max(health.data_end, position.end_time);
        heartbeat(health);
    };
}

}  // namespace

StoredRecord stored_from_decoded(const DecodedRecord& record) {
    StoredRecord out;
    const RecordHeader& h = record.header;
    out.network = h.network;
    out.station = h.station;
    out.location = h.location;
    out.channel = h.channel;
    out.start = h.start_time;
    out.sps = h.sample_rate;
    if (!record.reals.empty()) {
        out.datatype = 3;  // 32-bit float
        out.count = static_cast<int64_t>(record.reals.size());
        out.bytes.resize(record.reals.size() * 4);
        for (size_t i = 0; i < record.reals.size(); ++i) {
            const auto f = static_cast<float>(record.reals[i]);
            std::memcpy(out.bytes.data() + 4 * i, &f, 4);
        }
    } else {
        out.datatype = 2;  // 32-bit integer
        out.count = static_cast<int64_t>(record.ints.size());
        out.bytes.resize(record.ints.size() * 4);
        std::memcpy(out.bytes.data(), record.ints.data(), out.bytes.size());
    }
    return out;
}

int run_follow(const FollowOptions& options, const std::atomic<bool>& stop, const Logger& log) {
    SourceState state(options.state_file);
    if (!state.load()) {
        log(state.last_error());
        return 1;
    }
    ArchiveFollower follower(options.folder, log);
    if (!follower.start()) {
        log(follower.last_error());
        return 1;
    }
    auto rewind = [&] {
        for (const auto& [file, position] : state.positions())
            follower.set_position(file, position.next);
    };
    rewind();
    StoreWriterLink link(options.target);
    std::unique_ptr<LiveStore> store;
    CommitPacer pacer(state, kCommitInterval);
    pacer.set_summary_seconds(options.summary_seconds);
    const Beat beat = make_beat(options.heartbeat, state, pacer);
    double backoff = kFirstBackoff;
    std::string error;

    auto fail = [&](const std::string& what) {
        log(what + "; records since the last commit are read again in " +
            std::to_string(static_cast<int>(backoff)) + " s");
        store.reset();
        link.drop();
        pacer.drop();
        rewind();
        pause(backoff, stop, beat);
        backoff = std::min(backoff * 2, kLastBackoff);
    };

    while (!stop.load()) {
        if (!store) {
            if (!link.ensure()) {
                fail(link.last_error());
                continue;
            }
            store = std::make_unique<LiveStore>(link.writer(), options.target.data_dir, log);
        }
        beat(true);
        bool failed = false;
        follower.poll(kCommitInterval, [&](const std::string& file, int64_t offset,
                                           const unsigned char* bytes, size_t length) {
            const DecodedRecord record =
                decode_record({reinterpret_cast<const char*>(bytes), length});
            const int64_t next = offset + static_cast<int64_t>(length);
            if (!record.ok()) {
                log("file " + file + " at offset " + std::to_string(offset) + ": " + record.error +
                    ": record passed over");
                pacer.note(file, {next, 0.0});
                return true;
            }
            if (store->add(stored_from_decoded(record)) == LiveStore::Outcome::kFailed) {
                failed = true;
                return false;
            }
            pacer.note(file, {next, record.header.end_time()});
            return true;
        });
        if (!failed && pacer.due()) {
            const auto result = pacer.commit(*store, error);
            if (result == CommitPacer::Result::kStoreFailed) failed = true;
            if (result == CommitPacer::Result::kStateNotSaved) log(error);
            if (result == CommitPacer::Result::kCommitted) backoff = kFirstBackoff;
        }
        if (failed) fail(store->last_error().empty() ? error : store->last_error());
        if (const std::string line = pacer.summary(); !line.empty()) log(line);
    }
    if (store && pacer.pending()) {
        const auto result = pacer.commit(*store, error);
        if (result != CommitPacer::Result::kCommitted) log(error);
    }
    if (const std::string line = pacer.summary(true); !line.empty()) log(line);
    return 0;
}

namespace {

// One client per store connection: after a store failure the client is made again from
// the state file, so it asks for exactly what was not committed.
std::unique_ptr<SeedLinkClient> make_client(const SeedLinkOptions& options,
                                            const SourceState& state, const Logger& log,
                                            SeedLinkClient::RecordHandler on_record,
                                            std::function<void()> tick) {
    ClientOptions client = options.client;
    client.log = log;
    client.tick = std::move(tick);
    client.tick_s = kCommitInterval / 2;
    auto on_notice = [log](const StreamNotice& notice) { log(notice.text); };
    auto c = std::make_unique<SeedLinkClient>(client, std::move(on_record), on_notice);
    for (const auto& [station, position] : state.positions()) {
        ResumePoint point;
        point.has_sequence = position.next > 0;
        point.sequence = position.next > 0 ? static_cast<uint64_t>(position.next - 1) : 0;
        point.end_time = position.end_time;
        c->set_resume_point(station, point);
    }
    return c;
}

}  // namespace

int run_seedlink(const SeedLinkOptions& options, const std::atomic<bool>& stop, const Logger& log) {
    SourceState state(options.state_file);
    if (!state.load()) {
        log(state.last_error());
        return 1;
    }
    StoreWriterLink link(options.target);
    CommitPacer pacer(state, kCommitInterval);
    pacer.set_summary_seconds(options.summary_seconds);
    const Beat beat = make_beat(options.heartbeat, state, pacer);
    double backoff = kFirstBackoff;
    while (!stop.load()) {
        if (!link.ensure()) {
            log(link.last_error() + "; trying again in " +
                std::to_string(static_cast<int>(backoff)) + " s");
            pause(backoff, stop, beat);
            backoff = std::min(backoff * 2, kLastBackoff);
            continue;
        }
        std::string failure;
        {
            LiveStore store(link.writer(), options.target.data_dir, log);
            SeedLinkClient* client = nullptr;
            auto commit = [&] {
                std::string error;
                const auto result = pacer.commit(store, error);
                if (result == CommitPacer::Result::kStoreFailed) failure = error;
                if (result == CommitPacer::Result::kStateNotSaved) log(error);
                if (result == CommitPacer::Result::kCommitted) backoff = kFirstBackoff;
            };
            auto on_record = [&](const ReceivedRecord& r) {
                if (!failure.empty()) return;
                const DecodedRecord record = decode_record(r.bytes);
                const std::string station(r.station_id);
                if (!record.ok()) {
                    log("packet " + std::to_string(r.sequence) + " of " + station + ": " +
                        record.error + ": passed over");
                } else if (store.add(stored_from_decoded(record)) == LiveStore::Outcome::kFailed) {
                    failure = store.last_error();
                    client->request_stop();
                    return;
                }
                pacer.note(station,
                           {static_cast<int64_t>(r.sequence) + 1,
                            record.ok() ? record.header.end_time() : r.header->end_time()});
                if (pacer.due()) commit();
                if (!failure.empty()) client->request_stop();
            };
            auto tick = [&] {
                beat(failure.empty());
                if (stop.load() || !failure.empty()) client->request_stop();
                if (failure.empty() && pacer.due()) commit();
                if (!failure.empty()) client->request_stop();
                if (const std::string line = pacer.summary(); !line.empty()) log(line);
            };
            auto owned = make_client(options, state, log, on_record, tick);
            client = owned.get();
            (void)client->run();
            if (failure.empty() && pacer.pending()) commit();
        }
        if (failure.empty()) break;  // stopped
        log(failure + "; records since the last commit are asked for again in " +
            std::to_string(static_cast<int>(backoff)) + " s");
        pacer.drop();
        link.drop();
        pause(backoff, stop, beat);
        backoff = std::min(backoff * 2, kLastBackoff);
    }
    if (const std::string line = pacer.summary(true); !line.empty()) log(line);
    return 0;
}

}  // namespace zelvik::acquire
