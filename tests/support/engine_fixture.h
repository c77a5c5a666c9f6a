// A real SQLite waveform store with synthetic channels, a settings file and a real log
// directory, shared by the engine tests of detect/ and shell/. Samples are written as
// int32 data files with FILELIST rows, exactly as the import tool stores them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "channel/stop_signal.h"
#include "channel/store_link.h"
#include "db/wave_store.h"
#include "engine/event_store_sink.h"
#include "tests/support/store_fixture.h"
#include "tests/support/temp_dir.h"

namespace zelvik::test {

// 2020-09-13 12:26:40 UTC: a round instant for synthetic data.
inline constexpr double kT0 = 1600000000.0;

// Deterministic noise of about `amplitude` counts plus `offset`, with a 5 Hz burst of
// `burst_amplitude` counts lasting `burst_seconds` from each second in `bursts`.
std::vector<int32_t> synthetic_samples(double seconds, double sps,
                                       const std::vector<double>& bursts, double amplitude = 100.0,
                                       double offset = 0.0, double burst_amplitude = 3000.0,
                                       double burst_seconds = 8.0, uint32_t seed = 1);

class EngineFixture {
public:
    EngineFixture();
    // The same over another store (a PostgreSQL database, for instance).
    explicit EngineFixture(std::unique_ptr<TestStore> store);
    ~EngineFixture();

    // A SITECHAN row for the channel (location "??").
    void add_channel(const std::string& sta, const std::string& chan, double sps);
    // A data file and FILELIST row: `samples` from `start` at `sps`.
    void add_segment(const std::string& sta, const std::string& chan, double start, double sps,
                     const std::vector<int32_t>& samples);
    // Writes "key=value" lines into [section] of the settings file.
    void set(const std::string& section, const std::string& key, const std::string& value);
    // A THREADn section for a channel with detection settings suited to 100 sps noise.
    void add_thread(int n, const std::string& sta, const std::string& chan, int sound = 1);

    // Points a fresh WaveStore at the store and connects it.
    std::unique_ptr<db::WaveStore> connect_store();

    long event_rows(const std::string& sta = {});
    std::string log_text() const;  // today's log file
    size_t log_count(const std::string& needle) const;

    SqliteTestStore& store() { return dynamic_cast<SqliteTestStore&>(*store_); }  // default one
    const std::string& ini() const { return ini_; }

private:
    TempDir dir_{"zelvik-engine"};
    std::unique_ptr<TestStore> store_;
    std::string ini_;
    int files_ = 0;
};

// The engine's wiring around one store connection, as the supervisor makes it: a
// WaveStore configured for `store` (the test connects it), the stop signal, the store
// link and an event store sink that never purges and reconnects without a pause.
struct EngineLink {
    explicit EngineLink(const TestStore& store) { store.configure(ws); }

    db::WaveStore ws;
    detect::StopSignal stop;
    detect::StoreLink link{ws, stop};
    detect::EventStoreSink sink{link, 0, 0};
};

}  // namespace zelvik::test
