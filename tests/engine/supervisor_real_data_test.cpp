// The five real recordings through the whole engine (supervisor, worker thread, store,
// log, alarm board) in a catch-up run, compared with a reference run recorded once from
// the engine before the network coincidence rule existed: the single-station rule
// (COINCIDENCE 1, the default) must give the same event rows, log lines and alarms.
// Set ZELVIK_WRITE_GOLDEN=1 to record the reference again (only after a deliberate
// change of the detections themselves).
#include <gtest/gtest.h>

#include <bit>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "common/clock.h"
#include "config/program_settings.h"
#include "engine/supervisor.h"
#include "tests/support/engine_fixture.h"
#include "tests/support/mseed_trace.h"

namespace zelvik::detect {
namespace {

constexpr const char* kGolden = ZELVIK_REAL_DATA_DIR "/catch_up_reference.txt";

struct Recording {
    const char* file;
    const char* station;
    const char* channel;
};

// The demo's channel list (scripts/demo.sh), in the same order.
const Recording kRecordings[] = {
    {"NN_MGN_1987020206461132_N1.mseed", "MGN", "EHZ"},
    {"NC_PHC_2004011816230722.mseed", "PHC", "SHZ"},
    {"BK_BKS_2017071510492061.mseed", "BKS", "HHZ"},
    {"PB_B072_2017092719561779.mseed", "B072", "EHZ"},
    {"NC_CLCB_2017112601505303.mseed", "CLCB", "HNZ"},
};

// Stores a recording as float32 samples, the way the importer keeps non-integer data.
bool store_recording(test::EngineFixture& fx, const Recording& r) {
    testing::Trace trace;
    if (!testing::read_vertical(std::string(ZELVIK_REAL_DATA_DIR "/") + r.file, trace))
        return false;
    std::vector<int32_t> bits(trace.samples.size());
    for (size_t i = 0; i < bits.size(); ++i)
        bits[i] = std::bit_cast<int32_t>(static_cast<float>(trace.samples[i]));
    const std::string rel = std::string(r.station) + ".f32";
    fx.store().write_int32(rel, bits);
    fx.add_channel(r.station, r.channel, trace.sample_rate);
    test::TestSegment s;
    s.sta = r.station;
    s.chan = r.channel;
    s.tbegin = trace.start;
    s.tqty = static_cast<double>(bits.size()) / trace.sample_rate;
    s.sps = trace.sample_rate;
    s.datatype = 3;
    s.cpath = rel;
    s.tend = s.tbegin + s.tqty;
    fx.store().add_segment(s);
    return true;
}

void add_demo_thread(test::EngineFixture& fx, int n, const Recording& r) {
    const std::string section = "THREAD" + std::to_string(n);
    const std::pair<const char*, std::string> keys[] = {
        {"STATION", r.station}, {"CHANNEL", r.channel}, {"LCODE", "??"}, {"ORDER", "3"},
        {"FR1", "1.0"},         {"FR2", "5.0"},         {"STA", "1"},    {"LTA", "10"},
        {"Threshold", "5"},     {"SOUND", "1"},
    };
    for (const auto& [key, value] : keys) fx.set(section, key, value);
}

// The log without its time stamps and CR, one message per line.
std::string log_messages(const std::string& text) {
    std::istringstream in(text);
    std::string line, out;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const size_t tag = line.find("#[ZELVIK]");
        if (tag == std::string::npos) continue;
        out += line.substr(tag) + "\n";
    }
    return out;
}

// One catch-up run over the recordings with the extra ALARM keys given; the outcome as
// text: event rows, log messages, channels that entered alarm, final rows.
std::string catch_up_outcome(const std::vector<std::pair<std::string, std::string>>& alarm_keys) {
    test::EngineFixture fx;
    for (int n = 0; n < 5; ++n) {
        if (!store_recording(fx, kRecordings[n])) return "recording not read";
        add_demo_thread(fx, n, kRecordings[n]);
    }
    for (const auto& [key, value] : alarm_keys) fx.set("ALARM", key, value);
    config::ProgramSettings settings({"zelvik"}, fx.ini());
    settings.load_alarm();
    auto ws = fx.connect_store();
    SupervisorSettings s;
    s.settings_path = fx.ini();
    s.arguments = {"zelvik", "BEGIN='1987-02-02 06:43:00'"};
    s.thread_count = 5;
    s.sleep_seconds = 0;
    s.storage_days = 0;
    s.wav_file = "*";
    s.max_duration_seconds = 120;
    s.stop_when_idle = true;
    s.reconnect_pause_ms = 0;
    s.no_data_seconds = settings.alarm_no_data();
    s.coincidence = settings.alarm_coincidence();
    s.window_seconds = settings.alarm_window();
    Supervisor sup(s, *ws);
    (void)sup.start_up();
    std::set<int> entered;
    for (int i = 0; i < 6000; ++i) {
        const bool done = sup.caught_up();
        for (int c : sup.run_once(common::now_utc_seconds()).entered) entered.insert(c);
        if (done) break;
        (void)sup.stop_signal().wait_for(std::chrono::milliseconds(10));
    }
    const std::vector<ChannelRow> rows = sup.rows();
    sup.shut_down();

    std::ostringstream out;
    out << "event rows\n"
        << fx.store().scalar(
               "select group_concat(line, char(10)) from (select printf('%s %s %.4f %s %.6g %.6g', "
               "NINDEX, STA, TBEGIN, EVENT_TYPE, AMP, PER) as line from EVENTLIST "
               "order by TBEGIN, STA)")
        << "\nlog\n"
        << log_messages(fx.log_text()) << "alarms entered\n";
    for (int c : entered) out << c << "\n";
    out << "rows\n";
    char line[160];
    for (const ChannelRow& r : rows) {
        std::snprintf(line, sizeof line, "%s %.4f %.4f %d\n", r.settings.station.c_str(),
                      r.last_data_time, r.last_onset, r.in_alarm ? 1 : 0);
        out << line;
    }
    return out.str();
}

TEST(SupervisorRealData, SingleStationRuleGivesTheReferenceRowsLinesAndAlarms) {
    // Local times in the log and the measurement lines: fixed, so the reference holds
    // on any machine.
    setenv("TZ", "UTC", 1);
    tzset();
    const std::string by_default = catch_up_outcome({});
    if (std::getenv("ZELVIK_WRITE_GOLDEN") != nullptr) {
        std::ofstream(kGolden, std::ios::binary) << by_default;
        GTEST_SKIP() << "reference written to " << kGolden;
    }
    const std::string reference = test::read_file(kGolden);
    ASSERT_FALSE(reference.empty()) << kGolden;
    EXPECT_EQ(by_default, reference);
    // The rule's keys given explicitly with one station: the same run.
    EXPECT_EQ(catch_up_outcome({{"COINCIDENCE", "1"}, {"WINDOW", "10"}}), reference);
    // Five stations years apart never coincide: with two required no alarm is raised and
    // each detection is logged as staying below the rule, yet the event rows and the
    // measurement lines are exactly those of the reference.
    const std::string two = catch_up_outcome({{"COINCIDENCE", "2"}, {"WINDOW", "10"}});
    const auto section = [](const std::string& text, const char* from, const char* to) {
        const size_t a = text.find(from), b = text.find(to);
        return a == std::string::npos || b == std::string::npos ? std::string()
                                                                : text.substr(a, b - a);
    };
    EXPECT_EQ(section(two, "event rows\n", "log\n"), section(reference, "event rows\n", "log\n"));
    const auto measurement_lines = [](const std::string& text) {
        std::istringstream in(text);
        std::string line, out;
        while (std::getline(in, line))
            if (line.find("Ch: ") != std::string::npos) out += line + "\n";
        return out;
    };
    EXPECT_EQ(measurement_lines(two), measurement_lines(reference));
    EXPECT_NE(two.find("alarms entered\nrows\n"), std::string::npos) << two;
    size_t below = 0;
    for (size_t at = two.find("stays below the alarm rule"); at != std::string::npos;
         at = two.find("stays below the alarm rule", at + 1))
        ++below;
    EXPECT_EQ(below, 5u) << two;
    EXPECT_EQ(two.find("raises the alarm"), std::string::npos) << two;
}

}  // namespace
}  // namespace zelvik::detect
