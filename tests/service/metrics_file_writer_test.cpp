// The metrics file is replaced whole: a reader polling it while the writer replaces it
// hundreds of times sees only complete files; a directory that appears late is used.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "service/metrics_file_writer.h"
#include "tests/support/temp_dir.h"

namespace zelvik::service {
namespace {

// About 200 kB, as 2000 channels make: a header and a trailer naming the same round.
std::string content(int round) {
    std::string text = "# round " + std::to_string(round) + "\n";
    for (int i = 0; i < 4000; ++i)
        text += "zelvik_channel_detections_total{station=\"S" + std::to_string(i) +
                "\",channel=\"HHZ\",location=\"\"} " + std::to_string(round) + "\n";
    return text + "# end " + std::to_string(round) + "\n";
}

std::string read(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(MetricsFileWriter, ReaderNeverSeesHalfAFile) {
    test::TempDir dir("zelvik-metrics");
    const std::string path = dir.path() + "/zelvik.prom";
    MetricsFileWriter writer(path);
    ASSERT_TRUE(writer.start());
    std::atomic<bool> done{false};
    std::atomic<int> reads{0}, torn{0};
    std::thread reader([&] {
        while (!done.load()) {
            const std::string text = read(path);
            if (text.empty()) continue;  // not written yet
            ++reads;
            const size_t nl = text.find('\n');
            if (nl == std::string::npos || nl < 8) {
                ++torn;
                continue;
            }
            const std::string round = text.substr(8, nl - 8);
            if (text.size() < 20 || text.compare(text.size() - round.size() - 7, std::string::npos,
                                                 "# end " + round + "\n") != 0)
                ++torn;
        }
    });
    for (int round = 1; round <= 150; ++round) {
        writer.offer([round] { return content(round); });
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    writer.stop();
    done = true;
    reader.join();
    EXPECT_GT(reads.load(), 20);
    EXPECT_EQ(torn.load(), 0);
    EXPECT_GT(writer.files_written(), 0);
    EXPECT_EQ(read(path), content(150));  // the last offer is written before stop returns
    // Only the file itself: no temporary copy left behind for the exporter to find.
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        EXPECT_EQ(entry.path().filename(), "zelvik.prom");
        ++files;
    }
    EXPECT_EQ(files, 1);
    EXPECT_EQ(std::filesystem::status(path).permissions() & std::filesystem::perms::others_read,
              std::filesystem::perms::others_read);
}

TEST(MetricsFileWriter, MissingDirectoryIsWaitedOut) {
    test::TempDir dir("zelvik-metrics");
    const std::string sub = dir.path() + "/later";
    MetricsFileWriter writer(sub + "/zelvik.prom");
    ASSERT_TRUE(writer.start());
    writer.offer([] { return std::string("zelvik_store_up 1\n"); });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(writer.files_written(), 0);
    std::filesystem::create_directory(sub);
    writer.offer([] { return std::string("zelvik_store_up 0\n"); });
    writer.stop();
    EXPECT_EQ(writer.files_written(), 1);
    EXPECT_EQ(read(sub + "/zelvik.prom"), "zelvik_store_up 0\n");
}

}  // namespace
}  // namespace zelvik::service
