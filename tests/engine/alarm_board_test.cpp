// Alarm states over a scripted sequence of passes: raise, extend, clear after the
// maximum duration, silence deferring a detection, and channels without sound.
#include "engine/alarm_board.h"

#include <gtest/gtest.h>

namespace zelvik::detect {
namespace {

TEST(AlarmBoard, FollowsDetectionsThroughDurationAndSilence) {
    AlarmBoard board(120, 30);
    board.resize(2);
    std::vector<ChannelReading> r = {{0, 0, true}, {0, 0, false}};
    struct Step {
        int64_t now;
        double onset0, onset1;
        bool silence_now;
        std::vector<int> entered, left;
        bool display, display_changed;
    };
    const Step steps[] = {
        {1000, 0, 0, false, {}, {}, false, false},         // nothing yet
        {1001, 990, 0, false, {0}, {}, true, true},        // detection on a sounding channel
        {1002, 990, 0, false, {}, {}, true, false},        // unchanged: no transition reported
        {1060, 1050, 0, false, {}, {}, true, false},       // newer detection extends to 1180
        {1121, 1050, 0, false, {}, {}, true, false},       // first end (1121) no longer counts
        {1180, 1050, 0, false, {}, {0}, false, true},      // 120 s after the latest: clears
        {1181, 1050, 1170, false, {1}, {}, false, false},  // channel without sound: no display
        {1200, 1195, 1170, true, {}, {}, false, false},    // silenced at 1200 until 1230
        {1230, 1195, 1170, false, {}, {}, false, false},   // silence still runs at its last second
        {1231, 1195, 1170, false, {0}, {}, true, true},  // deferred detection raises the alarm now
    };
    for (const Step& s : steps) {
        if (s.silence_now) board.silence(s.now);
        r[0].last_onset = s.onset0;
        r[1].last_onset = s.onset1;
        const AlarmPass p = board.pass(r, s.now);
        EXPECT_EQ(p.entered, s.entered) << "at " << s.now;
        EXPECT_EQ(p.left, s.left) << "at " << s.now;
        EXPECT_EQ(p.display_on, s.display) << "at " << s.now;
        EXPECT_EQ(p.display_changed, s.display_changed) << "at " << s.now;
    }
    EXPECT_DOUBLE_EQ(board.states()[0].alarm_end, 1231.0 + 120.0);
}

TEST(AlarmBoard, SoundSwitchStopsPlayingButNotTheDisplay) {
    AlarmBoard board(60, 30);
    board.resize(1);
    const std::vector<ChannelReading> r = {{0, 500, true}};
    EXPECT_TRUE(board.pass(r, 1000).play_sound);
    board.set_sound_enabled(false);
    const AlarmPass p = board.pass(r, 1001);
    EXPECT_TRUE(p.display_on);
    EXPECT_FALSE(p.play_sound);
}

}  // namespace
}  // namespace zelvik::detect
