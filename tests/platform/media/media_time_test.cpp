#include "platform/media/media_time.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "support/media_time_printer.hpp"

using yux::platform::MediaTime;

TEST(MediaTime, ComparesExactlyAcrossTimescales) {
    EXPECT_EQ(MediaTime(1, 60), MediaTime(1000, 60000));
    EXPECT_LT(MediaTime(1, 3), MediaTime(333334, 1000000));
    EXPECT_GT(MediaTime(1, 3), MediaTime(333333, 1000000));
    EXPECT_LT(MediaTime::invalid(), MediaTime(-5, 1));
    EXPECT_EQ(MediaTime::invalid(), MediaTime::invalid());
    // Large values do not overflow the comparison.
    EXPECT_LT(MediaTime(std::numeric_limits<std::int64_t>::max() - 1, 1'000'000'000),
              MediaTime(std::numeric_limits<std::int64_t>::max(), 1'000'000'000));
}

TEST(MediaTime, AddsAndSubtractsWithoutLosingPrecision) {
    EXPECT_EQ(MediaTime(1, 60) + MediaTime(1, 48000), MediaTime(801, 48000));
    EXPECT_EQ(MediaTime(1, 2) - MediaTime(1, 3), MediaTime(1, 6));
    EXPECT_FALSE((MediaTime(1, 2) + MediaTime::invalid()).isValid());
    auto host = MediaTime(5'000'000'123, MediaTime::kNanosecondScale);
    // No common timescale fits 32 bits: the finer one is kept, rounded to its unit.
    EXPECT_EQ(host - MediaTime(1, 60), MediaTime(5'000'000'123 - 16'666'667, MediaTime::kNanosecondScale));
}

TEST(MediaTime, ConvertsFromSecondsAndRefusesNonFiniteValues) {
    EXPECT_EQ(MediaTime::fromSeconds(0.5, 48000), MediaTime(24000, 48000));
    EXPECT_FALSE(MediaTime::fromSeconds(std::nan(""), 600).isValid());
    EXPECT_FALSE(MediaTime::fromSeconds(INFINITY, 600).isValid());
    EXPECT_FALSE(MediaTime::fromSeconds(1e30, 1'000'000'000).isValid());
    EXPECT_EQ(MediaTime(1, 60).convertedTo(90000), MediaTime(1500, 90000));
    EXPECT_EQ(MediaTime(-1, 3).convertedTo(2), MediaTime(-1, 2));
}

TEST(MediaTime, PrintsSecondsInTheirShortestForm) {
    EXPECT_EQ(MediaTime(1, 2).secondsText(), "0.5");
    EXPECT_EQ(MediaTime(60, 60).secondsText(), "1");
    EXPECT_EQ(MediaTime(1, 10).secondsText(), "0.1");
}

TEST(MediaTime, SumsThatDoNotFitAreRefusedOnEveryPath) {
    constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
    constexpr auto kMin = std::numeric_limits<std::int64_t>::min();
    const MediaTime nearEnd(kMax - 10, MediaTime::kNanosecondScale);
    // Same timescale: a frame stamped near the end of the range plus its duration.
    EXPECT_THROW(nearEnd + MediaTime(20, MediaTime::kNanosecondScale), std::overflow_error);
    EXPECT_EQ(nearEnd + MediaTime(10, MediaTime::kNanosecondScale), MediaTime(kMax, MediaTime::kNanosecondScale));
    // No common timescale fits 32 bits: the sum is taken in the finer one.
    EXPECT_THROW(nearEnd + MediaTime(1, 60), std::overflow_error);
    // Subtracting the most negative value cannot be negated first.
    EXPECT_THROW(MediaTime(0, 1) - MediaTime(kMin, 1), std::overflow_error);
    EXPECT_THROW(MediaTime(kMin, 1) - MediaTime(1, 1), std::overflow_error);
}
