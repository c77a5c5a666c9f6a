// Speed of the detection arithmetic: the per-sample path (measurement filter, trigger
// filter and trigger with its detection rule), the ring-buffer trigger against the
// shifting form at a long LTA, and one 5 s measurement. Items are samples.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "channel/channel_chain.h"
#include "channel/detection_record.h"
#include "common/log.h"
#include "signal/aic_picker.h"
#include "signal/detection_rule.h"
#include "signal/iir_filter.h"
#include "signal/instrument_response.h"
#include "signal/shifting_sta_lta_trigger.h"
#include "signal/sta_lta_trigger.h"

namespace zelvik::detect {
namespace {

constexpr double kPi = 3.14159265358979323846;

// One hour at 100 samples/s of noise in counts, with a strong 2 Hz burst every 5 minutes
// so the trigger also walks its detection and hold-over branches.
const std::vector<double>& hour_of_samples() {
    static const std::vector<double> samples = [] {
        std::mt19937 random(7);
        std::normal_distribution<double> noise(0.0, 100.0);
        std::vector<double> x(360000);
        for (size_t i = 0; i < x.size(); ++i) {
            x[i] = noise(random);
            if (i % 30000 >= 20000 && i % 30000 < 20500)
                x[i] += 5000.0 * std::sin(2 * kPi * 2.0 * i / 100.0);
        }
        return x;
    }();
    return samples;
}

void BM_PerSamplePath(benchmark::State& state) {
    const std::vector<double>& x = hour_of_samples();
    IirFilter measurement, trigger_filter;
    DetectionRule rule;
    if (!measurement.design(2, "BP", 0.6f, 1.9f, 0.01f) ||
        !trigger_filter.design(3, "BP", 1.0f, 5.0f, 0.01f) || !rule.init(100.0, 10.0, 1.0, 5.0)) {
        state.SkipWithError("set-up refused");
        return;
    }
    const double t0 = 1.7e9;
    int detections = 0;
    for (auto _ : state) {
        for (size_t i = 0; i < x.size(); ++i) {
            const double m = measurement.apply(x[i]);
            benchmark::DoNotOptimize(m);
            detections +=
                rule.process(trigger_filter.apply(x[i]), t0 + static_cast<double>(i) * 0.01);
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(x.size()));
    state.counters["detections"] = detections;
}
BENCHMARK(BM_PerSamplePath)->Unit(benchmark::kMillisecond);

// The per-sample path as the channel detector runs it: blocks of 512 samples through
// both filters, one loop per filter, then the detection rule over the block.
void BM_BlockPath(benchmark::State& state) {
    const std::vector<double>& x = hour_of_samples();
    const std::vector<float> in(x.begin(), x.end());
    IirFilter measurement, trigger_filter;
    DetectionRule rule;
    if (!measurement.design(2, "BP", 0.6f, 1.9f, 0.01f) ||
        !trigger_filter.design(3, "BP", 1.0f, 5.0f, 0.01f) || !rule.init(100.0, 10.0, 1.0, 5.0)) {
        state.SkipWithError("set-up refused");
        return;
    }
    constexpr size_t kBlock = 512;
    double m[kBlock], y[kBlock];
    int detections = 0;
    for (auto _ : state) {
        for (size_t block = 0; block < in.size(); block += kBlock) {
            const size_t n = std::min(kBlock, in.size() - block);
            measurement.apply_block(in.data() + block, m, n);
            trigger_filter.apply_block(in.data() + block, y, n);
            benchmark::DoNotOptimize(m[0]);
            const BlockClock clock{1.7e9, 100.0, block};
            for (size_t k = 0; k < n; ++k) {
                k = rule.scan(y, k, n, clock);
                detections += k < n;
            }
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(in.size()));
    state.counters["detections"] = detections;
}
BENCHMARK(BM_BlockPath)->Unit(benchmark::kMillisecond);

// The same work written as one plain loop with every length fixed at compile time: the
// yardstick for BM_PerSamplePath (coefficients taken from the designed filters).
void BM_PlainLoopYardstick(benchmark::State& state) {
    const std::vector<double>& x = hour_of_samples();
    IirFilter measurement, trigger_filter;
    if (!measurement.design(2, "BP", 0.6f, 1.9f, 0.01f) ||
        !trigger_filter.design(3, "BP", 1.0f, 5.0f, 0.01f)) {
        state.SkipWithError("design refused");
        return;
    }
    double b[5][3], a[5][3], s[5][4] = {};
    for (int j = 0; j < 5; ++j) {
        const IirFilter& f = j < 2 ? measurement : trigger_filter;
        for (int i = 0; i < 3; ++i)
            b[j][i] = f.numerator(j < 2 ? j : j - 2, i),
            a[j][i] = f.denominator(j < 2 ? j : j - 2, i);
    }
    constexpr int kLta = 1000, kSta = 100, kN = kLta + kSta;
    std::vector<double> ring(kN, 0.0);
    int oldest = 0, mid = kLta, on = 0;
    double sm = 0, ss = 0, lm = 0, ls = 0;
    for (auto _ : state) {
        for (size_t i = 0; i < x.size(); ++i) {
            double v[2] = {x[i], x[i]};
            for (int j = 0; j < 5; ++j) {
                double& in = v[j < 2 ? 0 : 1];
                const double y = b[j][0] * in + b[j][1] * s[j][0] + b[j][2] * s[j][1] -
                                 (a[j][1] * s[j][2] + a[j][2] * s[j][3]);
                s[j][3] = s[j][2], s[j][2] = y, s[j][1] = s[j][0], s[j][0] = in, in = y;
            }
            benchmark::DoNotOptimize(v[0]);
            const double y = v[1], o = ring[oldest], m = ring[mid];
            ring[oldest] = y;
            oldest = oldest + 1 == kN ? 0 : oldest + 1;
            mid = mid + 1 == kN ? 0 : mid + 1;
            sm += (y - m) / kSta, ss += (y * y - m * m) / kSta;
            lm += (m - o) / kLta, ls += (m * m - o * o) / kLta;
            on += (ss - sm * sm) > 5.0 * (ls - lm * lm);
        }
    }
    benchmark::DoNotOptimize(on);
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(x.size()));
}
BENCHMARK(BM_PlainLoopYardstick)->Unit(benchmark::kMillisecond);

// The trigger alone at 100 samples/s, LTA 100 s, STA 1 s (n = 10100).
template <typename Trigger>
void BM_Trigger(benchmark::State& state) {
    const std::vector<double>& x = hour_of_samples();
    const size_t count = static_cast<size_t>(state.range(0));
    Trigger trigger;
    if (!trigger.init(100.0, 10000, 100, 5.0)) {
        state.SkipWithError("init refused");
        return;
    }
    int on = 0;
    for (auto _ : state) {
        for (size_t i = 0; i < count; ++i) on += trigger.process(x[i]);
    }
    benchmark::DoNotOptimize(on);
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(count));
}
BENCHMARK(BM_Trigger<StaLtaTrigger>)
    ->Name("BM_TriggerLta100s/ring")
    ->Arg(360000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Trigger<ShiftingStaLtaTrigger>)
    ->Name("BM_TriggerLta100s/shifting")
    ->Arg(36000)
    ->Unit(benchmark::kMillisecond);

// One measurement of a 5 s window at state.range(0) samples/s (the log is closed, so the
// measurement line costs only its formatting).
void BM_Measurement(benchmark::State& state) {
    common::log_reset_for_testing();
    const double rate = static_cast<double>(state.range(0));
    const int n = static_cast<int>(rate * 5.0);
    std::vector<double> x(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        x[i] = 300.0 * std::sin(2 * kPi * 1.3 * i / rate) + hour_of_samples()[i];
    const InstrumentResponse none;
    for (auto _ : state) {
        DetectionRecord record("BENCH", "BHZ", "??", 1.7e9, none, nullptr);
        if (!record.set_window(rate, 5.0)) state.SkipWithError("window refused");
        for (int i = 0; i < n; ++i) record.add(x[i], 1.7e9 + i / rate);
        benchmark::DoNotOptimize(record.result().period);
    }
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_Measurement)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);

// The refinement of one detection's onset at state.range(0) samples/s, STA 1 s: the
// channel chain picks on two histories (first differences and the trigger band), so one
// detection costs two picks. The history holds noise with an arrival 0.3 s before the
// crossing.
void BM_PickPerDetection(benchmark::State& state) {
    const double rate = static_cast<double>(state.range(0));
    AicPicker broad, band;
    if (!broad.configure(rate, 1.0) || !band.configure(rate, 1.0)) {
        state.SkipWithError("configure refused");
        return;
    }
    const auto n = static_cast<size_t>(10.0 * rate);
    std::vector<double> x(hour_of_samples().begin(), hour_of_samples().begin() + n);
    for (size_t i = n - static_cast<size_t>(0.3 * rate); i < n; ++i) x[i] *= 20.0;
    broad.push(x.data(), n);
    band.push(x.data(), n);
    for (auto _ : state) {
        const OnsetPick a = broad.pick(1.7e9, 1.7e9 - 0.5);
        const OnsetPick b = band.pick(1.7e9, 1.7e9 - 0.5);
        benchmark::DoNotOptimize(a.time + b.time);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PickPerDetection)->Arg(20)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);

// The channel chain over the hour as the worker runs it (filters, rule, pick histories,
// measurements, picks): the catch-up rate of one channel, items are samples.
void BM_ChainHour(benchmark::State& state) {
    common::log_reset_for_testing();
    struct Drop : MeasurementSink {
        void store(const Measurement&) override {}
    } sink;
    ChannelSettings settings;
    settings.order = 3, settings.fr1 = 1.0f, settings.fr2 = 5.0f;
    const std::vector<double>& x = hour_of_samples();
    StepBuffers buffers;
    buffers.samples.assign(x.begin(), x.end());
    buffers.capacity = x.size();
    buffers.filled.push_back({0, x.size()});
    double start = 1.7e9;
    for (auto _ : state) {
        ChannelChain chain(
            settings, sink, [](double, double, float) {}, [](const std::string&) {});
        if (!chain.build(100.0)) state.SkipWithError("build refused");
        buffers.window_start = start;
        chain.process_window(buffers);
        chain.finish_open_measurements();
        benchmark::DoNotOptimize(chain.detections());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(x.size()));
}
BENCHMARK(BM_ChainHour)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace zelvik::detect
