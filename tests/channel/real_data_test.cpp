// Real earthquakes through the whole per-sample path: both filters, the trigger with its
// detection rule, and the measurement of each detection.
//
// Settings: trigger filter order 3, 1-5 Hz (the band of local P energy at 100 samples/s);
// STA 1 s, LTA 10 s, threshold 5 (the channel defaults); measurement filter order 2,
// 0.6-1.9 Hz. Tolerance on the onset: +-1 s around the analyst P pick. The onset is the
// triggering sample minus STA/2, and an impulsive P raises the STA variance within the
// first fraction of the STA window, so a correct detection lies within about STA/2
// (0.5 s) either side of the pick; the other 0.5 s allows for the filter's group delay
// and the uncertainty of a catalogue pick. A detection in the noise before P, or one
// seconds late, falls outside it.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "channel/detection_record.h"
#include "common/log.h"
#include "signal/detection_rule.h"
#include "signal/iir_filter.h"
#include "signal/instrument_response.h"
#include "tests/support/mseed_trace.h"

namespace zelvik::detect {
namespace {

constexpr double kOnsetTolerance = 1.0;  // seconds, see above

struct CollectingSink : MeasurementSink {
    std::vector<Measurement> stored;
    void store(const Measurement& m) override { stored.push_back(m); }
};

TEST(RealData, EachEarthquakeIsDetectedOnceNearItsPickAndMeasured) {
    common::log_reset_for_testing();  // measurement lines go nowhere here
    const std::vector<testing::Pick> picks = testing::read_picks(ZELVIK_REAL_DATA_DIR "/picks.csv");
    ASSERT_GE(picks.size(), 5u);
    for (const testing::Pick& pick : picks) {
        SCOPED_TRACE(pick.file);
        testing::Trace trace;
        ASSERT_TRUE(
            testing::read_vertical(std::string(ZELVIK_REAL_DATA_DIR "/") + pick.file, trace));
        ASSERT_EQ(trace.sample_rate, 100.0);
        const float dt = static_cast<float>(1.0 / trace.sample_rate);
        IirFilter trigger_filter, measurement_filter;
        ASSERT_TRUE(trigger_filter.design(3, "BP", 1.0f, 5.0f, dt));
        ASSERT_TRUE(measurement_filter.design(2, "BP", 0.6f, 1.9f, dt));
        DetectionRule rule;
        ASSERT_TRUE(rule.init(trace.sample_rate, 10.0, 1.0, 5.0));

        const InstrumentResponse none;
        CollectingSink sink;
        std::vector<std::unique_ptr<DetectionRecord>> open;
        std::vector<double> onsets;
        for (size_t i = 0; i < trace.samples.size(); ++i) {
            const double m = measurement_filter.apply(trace.samples[i]);
            const double y = trigger_filter.apply(trace.samples[i]);
            const double t = trace.start + static_cast<double>(i) / trace.sample_rate;
            for (auto& record : open) record->add(m, t);
            if (rule.process(y, t)) {
                onsets.push_back(rule.onset());
                open.push_back(std::make_unique<DetectionRecord>(trace.station, trace.channel, "",
                                                                 rule.onset(), none, &sink));
                ASSERT_TRUE(open.back()->set_window(trace.sample_rate, 5.0));
                open.back()->add(m, t);
            }
        }
        ASSERT_EQ(onsets.size(), 1u) << "detections: " << onsets.size();
        EXPECT_NEAR(onsets[0], pick.p_arrival, kOnsetTolerance);
        // The 5 s after P hold the P coda of a local event: periods of a few tenths of a
        // second to about 2 s. The order-2 measurement band-pass is gentle, so a strong
        // 3 Hz arrival on an accelerometer may still give the largest spectral line.
        ASSERT_EQ(sink.stored.size(), 1u);
        EXPECT_GT(sink.stored[0].period, 0.2f);
        EXPECT_LT(sink.stored[0].period, 2.0f);
        EXPECT_GT(sink.stored[0].amplitude_counts, 0.0f);
        std::printf("%-36s onset - P = %+.2f s, T = %.3f s, amplitude %.1f counts\n",
                    pick.file.c_str(), onsets[0] - pick.p_arrival, sink.stored[0].period,
                    sink.stored[0].amplitude_counts);
    }
}

}  // namespace
}  // namespace zelvik::detect
