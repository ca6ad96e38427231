#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "platform/audio/pulse_source_directory.hpp"

using yux::platform::channelDecibels;
using yux::platform::PulseLevelMeter;

TEST(PulseLevelMeter, DecibelsAreEachChannelsRmsInDbfsWithAFloorForSilence) {
    // Left: a full-scale sine (RMS 1/sqrt 2, -3 dB); right: silence.
    std::vector<float> samples;
    for (int i = 0; i < 1600; ++i) {
        samples.push_back(static_cast<float>(std::sin(2 * M_PI * i / 16.0)));
        samples.push_back(0.0f);
    }
    auto levels = channelDecibels(samples, 2);
    ASSERT_EQ(levels.size(), 2u);
    EXPECT_NEAR(levels[0], -3.01, 0.05);
    EXPECT_EQ(levels[1], PulseLevelMeter::kSilenceDecibels);

    EXPECT_NEAR(channelDecibels(std::vector<float>(100, 0.1f), 1).at(0), -20, 0.01);
    EXPECT_EQ(channelDecibels({}, 2), (std::vector<float>{-160, -160})) << "no sound yet reads as silence";
    EXPECT_EQ(channelDecibels(std::vector<float>(10, 1e-12f), 1).at(0), -160) << "never below the floor";
}
