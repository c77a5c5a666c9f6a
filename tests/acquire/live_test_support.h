// What the acquisition program tests share: the real recordings as records, the real
// zelvik-store / zelvik binaries run as child processes whose output goes to a file the
// test reads while they run, and the comparison of a live store with an imported one.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

#include "acquire/record_decoder.h"
#include "tests/support/store_fixture.h"

namespace zelvik::test {

// One record of the real recordings, in file order.
struct RealRecord {
    std::string bytes;
    acquire::RecordHeader header;
};
std::vector<std::string> real_files();
std::vector<RealRecord> real_records(const std::string& file);

// A child process with stdout and stderr appended to `output_file`; SIGKILLed and reaped
// when the object goes.
class ProgramProcess {
public:
    ProgramProcess(const std::vector<std::string>& args, std::string output_file);
    ~ProgramProcess();
    ProgramProcess(const ProgramProcess&) = delete;
    ProgramProcess& operator=(const ProgramProcess&) = delete;

    bool started() const { return pid_ > 0; }
    void signal(int sig) const;
    // Exit status after a normal exit; -1 after a signal or when it does not end within
    // `limit` (it is then killed).
    int wait_exit(std::chrono::seconds limit);
    std::string output() const;
    // Waits up to `limit` for `text` in the output.
    bool wait_for_output(const std::string& text, std::chrono::seconds limit) const;

private:
    pid_t pid_ = -1;
    std::string output_file_;
};

// zelvik-store with the store's connection values, then `args`.
std::vector<std::string> store_command(const TestStore& store, std::vector<std::string> args);
// Fills `store` with zelvik-store import of every real recording; "" or what went wrong.
std::string import_real_files(const TestStore& store);
// Samples all FILELIST rows of the store hold.
long long stored_samples(TestStore& store);
// Waits up to `limit` until the store holds at least `samples`.
bool wait_for_samples(TestStore& store, long long samples, std::chrono::seconds limit);
// Expects, for every channel of the real recordings, the same samples at the same times
// read through db::WaveStore from both stores over the channel's whole span.
void expect_same_samples(const TestStore& live, const TestStore& imported);
// Channels in the real recordings.
size_t real_channel_count();

}  // namespace zelvik::test
