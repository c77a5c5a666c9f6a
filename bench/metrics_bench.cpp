// The metrics file of a large network: a snapshot of 2000 channels turned into the
// exposition text, and the same text written and renamed into place as the writer
// thread does every few seconds. Both run off the worker; the figure bounds what the
// writer thread spends per file.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "engine/metrics_text.h"
#include "service/metrics_file_writer.h"

namespace {

using zelvik::detect::ChannelMetrics;
using zelvik::detect::MetricsSnapshot;
using zelvik::detect::MetricsState;

MetricsSnapshot snapshot_of(int channels) {
    MetricsSnapshot s;
    s.taken_at = 1796924040.25;
    s.started_at = 1796900000;
    for (int i = 0; i < channels; ++i) {
        ChannelMetrics c;
        c.thread = i;
        c.station = "S" + std::to_string(i);
        c.channel = i % 3 == 0 ? "HHZ" : (i % 3 == 1 ? "HHN" : "HHE");
        c.location = "00";
        c.state = i % 50 == 0 ? MetricsState::kStalled : MetricsState::kRunning;
        c.data_end = s.taken_at - 3.5 - i % 7;
        c.detections = i % 13;
        c.alarms = i % 5;
        s.channels.push_back(c);
    }
    return s;
}

void BM_MetricsText(benchmark::State& state) {
    const MetricsSnapshot s = snapshot_of(static_cast<int>(state.range(0)));
    size_t bytes = 0;
    for (auto _ : state) {
        const std::string text = zelvik::detect::metrics_text(s);
        bytes = text.size();
        benchmark::DoNotOptimize(text.data());
    }
    state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_MetricsText)->Arg(2000)->Unit(benchmark::kMillisecond);

// Formatting, then the temporary file, its fsync and the rename, into a directory of
// the build's temp area (the disk a real METRICS directory would be on, not tmpfs).
void BM_MetricsFile(benchmark::State& state) {
    const MetricsSnapshot s = snapshot_of(static_cast<int>(state.range(0)));
    const std::filesystem::path dir =
        std::filesystem::current_path() / ("zelvik-metrics-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "zelvik.prom").string();
    for (auto _ : state) {
        if (zelvik::service::replace_metrics_file(path, zelvik::detect::metrics_text(s)) != 0)
            state.SkipWithError("metrics file not written");
    }
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_MetricsFile)->Arg(2000)->Unit(benchmark::kMillisecond);

}  // namespace
