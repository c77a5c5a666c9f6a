// The channel view's redraw: an hour at 100 samples/s reduced to min/max pixel columns
// (raw, filtered and ratio), and, when built with Qt, the whole picture painted into an
// offscreen image. The target is well under 50 ms per redraw.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "signal/min_max_columns.h"
#ifdef ZELVIK_BENCH_PAINT
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include "shell/ui/trace_painter.h"
#include "shell/ui/trace_plot.h"
#endif

namespace {

using namespace zelvik;

constexpr double kRate = 100.0;
constexpr size_t kHour = 360000;

std::vector<float> noise(size_t n) {
    std::vector<float> v(n);
    uint32_t s = 12345;
    for (float& x : v) {
        s = s * 1664525u + 1013904223u;
        x = static_cast<float>(s >> 8) / 16777216.0f - 0.5f;
    }
    return v;
}

void BM_ReduceHourToColumns(benchmark::State& state) {
    const std::vector<float> v = noise(kHour);
    const detect::MinMaxTree tree(v.data(), v.size());
    std::vector<detect::ColumnRange> columns(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        for (int series = 0; series < 3; ++series) {
            std::fill(columns.begin(), columns.end(), detect::ColumnRange{});
            detect::add_columns(tree, 0.0, kRate, 0.0, 3600.0, columns);
        }
        benchmark::DoNotOptimize(columns.data());
    }
}
BENCHMARK(BM_ReduceHourToColumns)->Arg(1000)->Arg(1920)->Unit(benchmark::kMillisecond);

void BM_BuildTreesForAnHour(benchmark::State& state) {
    const std::vector<float> v = noise(kHour);
    for (auto _ : state) {
        for (int series = 0; series < 3; ++series) {
            detect::MinMaxTree tree(v.data(), v.size());
            benchmark::DoNotOptimize(&tree);
        }
    }
}
BENCHMARK(BM_BuildTreesForAnHour)->Unit(benchmark::kMillisecond);

#ifdef ZELVIK_BENCH_PAINT
void BM_PaintHourPicture(benchmark::State& state) {
    detect::ChannelSnapshot snap;
    snap.trace.sample_rate = kRate;
    snap.trace.span_start = 1600000000.0;
    snap.trace.span_end = snap.trace.span_start + 3600.0;
    detect::TraceStretch s;
    s.start = snap.trace.span_start;
    s.raw = noise(kHour);
    s.filtered = s.raw;
    s.ratio = noise(kHour);
    snap.trace.stretches.push_back(std::move(s));
    snap.span_events.push_back({snap.trace.span_start + 1800.0, 1.0, 0.5});
    detect::ChannelSettings settings;
    const auto plot = shell::make_trace_plot(settings, std::move(snap));
    QImage image(static_cast<int>(state.range(0)), 640, QImage::Format_RGB32);
    for (auto _ : state) {
        QPainter p(&image);
        shell::paint_trace(p, image.rect(), plot.get(), {});
    }
}
BENCHMARK(BM_PaintHourPicture)->Arg(1000)->Arg(1920)->Unit(benchmark::kMillisecond);
#endif

}  // namespace

int main(int argc, char** argv) {
#ifdef ZELVIK_BENCH_PAINT
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);  // fonts for the axis labels
#endif
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
