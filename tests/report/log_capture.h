// Turns the daily log on into a fresh temporary directory for one test, so the test
// can read back the lines a component wrote; turns it off again afterwards.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "common/log.h"
#include "config/connection_config.h"
#include "report/log_open.h"
#include "tests/support/temp_dir.h"

namespace zelvik::testing {

class LogCapture {
public:
    LogCapture() {
        common::log_reset_for_testing();
        const std::string ini = dir_.write("zelvik.ini", "[LOG]\nDIR=" + dir_.file("log") + "\n");
        config::ConnectionConfig settings({"zelvik"}, ini);
        enabled_ = report::log_open(settings);
    }
    ~LogCapture() { common::log_reset_for_testing(); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    bool enabled() const { return enabled_; }

    // Every stored line (all day files) that contains `text`.
    std::vector<std::string> lines_with(const std::string& text) const {
        std::vector<std::string> found;
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(dir_.file("log"), ec)) {
            const std::string bytes = test::read_file(entry.path().string());
            size_t start = 0;
            while (start < bytes.size()) {
                size_t end = bytes.find('\n', start);
                if (end == std::string::npos) end = bytes.size();
                const std::string line = bytes.substr(start, end - start);
                if (line.find(text) != std::string::npos) found.push_back(line);
                start = end + 1;
            }
        }
        return found;
    }

private:
    test::TempDir dir_;
    bool enabled_ = false;
};

}  // namespace zelvik::testing
