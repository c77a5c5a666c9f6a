// The output file is opened by the child itself (posix_spawn's open action), so the
// test reads what the program wrote so far without a pipe that could fill up.
#include "tests/acquire/live_test_support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstring>
#include <map>
#include <thread>
#include <tuple>

#include "acquire/mseed_record_check.h"
#include "db/store_status.h"
#include "db/wave_store.h"
#include "tests/support/temp_dir.h"

extern char** environ;

namespace zelvik::test {

using namespace std::chrono_literals;

std::vector<std::string> real_files() {
    std::vector<std::string> out;
    for (const char* name :
         {"BK_BKS_2017071510492061", "NC_CLCB_2017112601505303", "NC_PHC_2004011816230722",
          "NN_MGN_1987020206461132_N1", "PB_B072_2017092719561779"})
        out.push_back(std::string(ZELVIK_REAL_DATA_DIR) + "/" + name + ".mseed");
    return out;
}

std::vector<RealRecord> real_records(const std::string& file) {
    const std::string bytes = read_file(file);
    std::vector<size_t> lengths;
    std::string error;
    EXPECT_TRUE(acquire::check_miniseed_records(bytes, lengths, error)) << file << ": " << error;
    std::vector<RealRecord> out;
    for (size_t at = 0, i = 0; i < lengths.size(); at += lengths[i++]) {
        RealRecord r{bytes.substr(at, lengths[i]), {}};
        EXPECT_TRUE(acquire::read_record_header(r.bytes, r.header, error)) << error;
        out.push_back(std::move(r));
    }
    return out;
}

ProgramProcess::ProgramProcess(const std::vector<std::string>& args, std::string output_file)
    : output_file_(std::move(output_file)) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, output_file_.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
}

ProgramProcess::~ProgramProcess() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
}

void ProgramProcess::signal(int sig) const {
    if (pid_ > 0) ::kill(pid_, sig);
}

int ProgramProcess::wait_exit(std::chrono::seconds limit) {
    const auto give_up = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (pid_ > 0) {
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        if (std::chrono::steady_clock::now() > give_up) ::kill(pid_, SIGKILL);
        std::this_thread::sleep_for(20ms);
    }
    return -1;
}

std::string ProgramProcess::output() const {
    return read_file(output_file_);
}

bool ProgramProcess::wait_for_output(const std::string& text, std::chrono::seconds limit) const {
    const auto give_up = std::chrono::steady_clock::now() + limit;
    while (output().find(text) == std::string::npos) {
        if (std::chrono::steady_clock::now() > give_up) return false;
        std::this_thread::sleep_for(50ms);
    }
    return true;
}

std::vector<std::string> store_command(const TestStore& store, std::vector<std::string> args) {
    std::vector<std::string> out = {ZELVIK_STORE_BINARY, "ODBC=" + store.dsn(),
                                    "USER=" + store.user(), "PASSWORD=" + store.password(),
                                    "DATA=" + store.data_dir()};
    out.insert(out.end(), args.begin(), args.end());
    return out;
}

std::string import_real_files(const TestStore& store) {
    std::vector<std::string> args = {"import"};
    for (const std::string& f : real_files()) args.push_back(f);
    const TempDir dir("zelvik-import");
    const std::string output = dir.file("import.out");
    ProgramProcess import(store_command(store, args), output);
    const int status = import.wait_exit(60s);
    return status == 0 ? ""
                       : "import ended with " + std::to_string(status) + ": " + read_file(output);
}

long long stored_samples(TestStore& store) {
    const std::string text =
        store.scalar("select sum(cast(round(TQTY*SPS) as integer)) from FILELIST");
    return text.empty() ? 0 : std::stoll(text);
}

bool wait_for_samples(TestStore& store, long long samples, std::chrono::seconds limit) {
    const auto give_up = std::chrono::steady_clock::now() + limit;
    while (stored_samples(store) < samples) {
        if (std::chrono::steady_clock::now() > give_up) return false;
        std::this_thread::sleep_for(100ms);
    }
    return true;
}

namespace {

struct ChannelSpan {
    double start = 1e300, end = 0, sps = 0;
    int64_t samples = 0;
};

std::map<std::tuple<std::string, std::string, std::string>, ChannelSpan> real_channels() {
    std::map<std::tuple<std::string, std::string, std::string>, ChannelSpan> out;
    for (const std::string& file : real_files()) {
        for (const RealRecord& r : real_records(file)) {
            const auto& h = r.header;
            ChannelSpan& c = out[{h.station, h.channel, h.location}];
            c.start = std::min(c.start, h.start_time);
            c.end = std::max(c.end, h.end_time());
            c.sps = h.sample_rate;
            c.samples += h.sample_count;
        }
    }
    return out;
}

}  // namespace

size_t real_channel_count() {
    return real_channels().size();
}

void expect_same_samples(const TestStore& live, const TestStore& imported) {
    db::WaveStore a, b;
    live.configure(a);
    imported.configure(b);
    ASSERT_TRUE(a.connect()) << a.last_error();
    ASSERT_TRUE(b.connect()) << b.last_error();
    for (const auto& [id, span] : real_channels()) {
        const auto& [sta, chan, loc] = id;
        SCOPED_TRACE(sta + "." + chan);
        // From the first sample to a second past the last: the whole channel.
        const auto capacity =
            static_cast<size_t>(std::ceil((span.end + 1 - span.start) * span.sps));
        std::vector<float> got(capacity, -1e30f), want(capacity, -1e30f);
        std::vector<db::FilledRange> got_filled, want_filled;
        double got_t0 = span.start, got_t1 = span.end + 1, want_t0 = got_t0, want_t1 = got_t1;
        ASSERT_EQ(
            b.read_samples(want.data(), capacity, sta, chan, loc, want_t0, want_t1, &want_filled),
            db::kOk);
        ASSERT_EQ(a.read_samples(got.data(), capacity, sta, chan, loc, got_t0, got_t1, &got_filled),
                  db::kOk);
        EXPECT_EQ(got_t1, want_t1);
        size_t filled = 0;
        for (const auto& f : want_filled) filled += f.count;
        EXPECT_EQ(filled, static_cast<size_t>(span.samples));  // the reference is whole
        ASSERT_EQ(got_filled.size(), want_filled.size());
        for (size_t i = 0; i < got_filled.size(); ++i) {
            EXPECT_EQ(got_filled[i].first, want_filled[i].first);
            EXPECT_EQ(got_filled[i].count, want_filled[i].count);
        }
        size_t differ = 0, first_differ = 0;
        for (size_t i = 0; i < capacity; ++i) {
            if (std::memcmp(&got[i], &want[i], sizeof(float)) == 0) continue;
            if (differ++ == 0) first_differ = i;
        }
        EXPECT_EQ(differ, 0u) << "first at sample " << first_differ;
    }
}

}  // namespace zelvik::test
