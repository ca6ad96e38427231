#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "model/checked_integer.hpp"

namespace yux {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();

TEST(CheckedIntegerTest, RefusesWhatNoIntegerHolds) {
    EXPECT_EQ(truncatedInteger<int>(kNaN), std::nullopt);
    EXPECT_EQ(truncatedInteger<int>(kInfinity), std::nullopt);
    EXPECT_EQ(truncatedInteger<int>(-kInfinity), std::nullopt);
    EXPECT_EQ(truncatedInteger<int>(2147483648.0), std::nullopt);
    EXPECT_EQ(truncatedInteger<std::int64_t>(9223372036854775808.0), std::nullopt);
    EXPECT_EQ(truncatedInteger<std::uint8_t>(256.0), std::nullopt);
    EXPECT_EQ(truncatedInteger<std::uint8_t>(-1.0), std::nullopt);
}

TEST(CheckedIntegerTest, TruncatesTowardZeroAtTheEdgesOfTheRange) {
    EXPECT_EQ(truncatedInteger<int>(2147483647.9), 2147483647);
    EXPECT_EQ(truncatedInteger<int>(-2147483648.9), -2147483648);
    EXPECT_EQ(truncatedInteger<int>(-1.5), -1);
    EXPECT_EQ(truncatedInteger<std::uint8_t>(-0.5), 0);
    EXPECT_EQ(truncatedInteger<std::int64_t>(9223372036854774784.0), 9223372036854774784);
}

TEST(CheckedIntegerTest, SaturatesInsteadOfOverflowing) {
    EXPECT_EQ(saturatedInteger<int>(kNaN, 7), 7);
    EXPECT_EQ(saturatedInteger<int>(kInfinity, 7), std::numeric_limits<int>::max());
    EXPECT_EQ(saturatedInteger<int>(-1e300, 7), std::numeric_limits<int>::min());
    EXPECT_EQ(saturatedInteger<std::int64_t>(1e19, 0), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(saturatedInteger<int>(41.99, 0), 41);
}

}  // namespace
}  // namespace yux
