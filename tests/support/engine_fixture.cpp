// Engine fixture: store, settings file and log in temp dirs; the log clock is the
// fake one of the test when it sets one.
#include "tests/support/engine_fixture.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "common/log.h"
#include "config/connection_config.h"
#include "config/ini_file.h"
#include "report/log_open.h"

namespace zelvik::test {

std::vector<int32_t> synthetic_samples(double seconds, double sps,
                                       const std::vector<double>& bursts, double amplitude,
                                       double offset, double burst_amplitude, double burst_seconds,
                                       uint32_t seed) {
    const auto n = static_cast<size_t>(seconds * sps);
    std::vector<int32_t> out(n);
    uint32_t state = seed * 2654435761u + 12345u;
    for (size_t i = 0; i < n; ++i) {
        // Sum of two uniform draws: a cheap, bell-shaped noise.
        state = state * 1664525u + 1013904223u;
        const double a = static_cast<double>(state >> 8) / 16777216.0;
        state = state * 1664525u + 1013904223u;
        const double b = static_cast<double>(state >> 8) / 16777216.0;
        double v = offset + amplitude * (a + b - 1.0) * 2.0;
        const double t = static_cast<double>(i) / sps;
        for (double start : bursts) {
            if (t >= start && t < start + burst_seconds)
                v += burst_amplitude * std::sin(2 * M_PI * 5.0 * (t - start));
        }
        out[i] = static_cast<int32_t>(std::lround(v));
    }
    return out;
}

EngineFixture::EngineFixture() : EngineFixture(std::make_unique<SqliteTestStore>()) {}

EngineFixture::EngineFixture(std::unique_ptr<TestStore> store) : store_(std::move(store)) {
    ini_ = dir_.file("zelvik.ini");
    set("LOG", "DIR", dir_.file("log"));
    set("LOG", "LEVEL", "ERROR");
    common::log_reset_for_testing();
    config::ConnectionConfig cfg({"zelvik"}, ini_);
    (void)report::log_open(cfg);
}

EngineFixture::~EngineFixture() {
    common::log_reset_for_testing();
}

void EngineFixture::add_channel(const std::string& sta, const std::string& chan, double sps) {
    store_->add_channel(sta, chan, std::nullopt, sps);
}

void EngineFixture::add_segment(const std::string& sta, const std::string& chan, double start,
                                double sps, const std::vector<int32_t>& samples) {
    const std::string rel = sta + "_" + chan + "_" + std::to_string(files_++) + ".i32";
    store_->write_int32(rel, samples);
    TestSegment s;
    s.sta = sta;
    s.chan = chan;
    s.tbegin = start;
    s.tqty = static_cast<double>(samples.size()) / sps;
    s.sps = sps;
    s.datatype = 2;
    s.cpath = rel;
    s.tend = start + s.tqty;
    store_->add_segment(s);
}

void EngineFixture::set(const std::string& section, const std::string& key,
                        const std::string& value) {
    (void)config::ini::write_string(ini_, section, key, value);
}

void EngineFixture::add_thread(int n, const std::string& sta, const std::string& chan, int sound) {
    const std::string section = "THREAD" + std::to_string(n);
    set(section, "STATION", sta);
    set(section, "CHANNEL", chan);
    set(section, "LTA", "10");
    set(section, "STA", "1");
    set(section, "Threshold", "4");
    set(section, "FR1", "2");
    set(section, "FR2", "8");
    set(section, "ORDER", "3");
    set(section, "SOUND", std::to_string(sound));
}

std::unique_ptr<db::WaveStore> EngineFixture::connect_store() {
    auto ws = std::make_unique<db::WaveStore>();
    store_->configure(*ws);
    if (!ws->connect()) std::fprintf(stderr, "connect failed: %s\n", ws->last_error().c_str());
    return ws;
}

long EngineFixture::event_rows(const std::string& sta) {
    std::string sql = "select STA from EVENTLIST where EVENT_TYPE=1";
    if (!sta.empty()) sql += " and STA='" + sta + "'";
    return store_->count(sql);
}

std::string EngineFixture::log_text() const {
    const std::string dir = common::log_directory();
    std::string text;
    std::error_code ec;
    if (dir.empty()) return text;
    // One file per local day; a fake clock may put lines into another day's file.
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec))
        text += read_file(entry.path().string());
    return text;
}

size_t EngineFixture::log_count(const std::string& needle) const {
    const std::string text = log_text();
    size_t count = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
        ++count;
    return count;
}

}  // namespace zelvik::test
