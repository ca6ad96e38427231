#include <gtest/gtest.h>

#include "platform/x11/frame_grid.hpp"
#include "support/media_time_printer.hpp"

using namespace yux::platform;

namespace {

const MediaTime kSixtieth(1, 60);

MediaTime ns(std::int64_t value) { return {value, MediaTime::kNanosecondScale}; }

}  // namespace

TEST(FrameGrid, PicturesOnTimeLateOrEarlyLandExactlyOnWholeIntervalsFromTheStart) {
    const MediaTime start = ns(5'000'000'000);
    FrameGrid grid(start, kSixtieth);
    EXPECT_EQ(grid.stamp(start), 0);
    // A little after its slot (the time a look and a paint take): that slot.
    EXPECT_EQ(grid.stamp(start + kSixtieth + ns(900'000)), 1);
    // Taken 1.7 intervals after slot 1, which was the last: slot 3 is nearest, never 2.5.
    EXPECT_EQ(grid.stamp(grid.slot(1) + MediaTime(17, 600)), 3);
    // Nearest would be 3 again, which is used: the next free one.
    EXPECT_EQ(grid.stamp(grid.slot(3) + ns(1'000'000)), 4);
    // Idle for a while, then a picture: the slot nearest its time.
    EXPECT_EQ(grid.stamp(start + MediaTime(10, 1) + ns(8'000'000)), 600);
    EXPECT_EQ(grid.nextFree(), 601);

    for (std::int64_t index : {1, 3, 4, 600, 123'457}) {
        EXPECT_EQ(grid.slot(index) - grid.slot(0), MediaTime(index, 60)) << index;  // exact, no rounding
    }
    // The start moves by less than a thousandth of an interval to sit on the grid's scale.
    EXPECT_LT(std::abs((grid.start() - start).seconds()), 1.0 / 60 / 1000);
}

TEST(FrameGrid, LooksSkipTheSlotsThatPassedAndTimesBeforeTheStartAreSlotZero) {
    FrameGrid grid(ns(1'000'000'000), MediaTime(1, 30));
    EXPECT_EQ(grid.slotAtOrBefore(ns(900'000'000)), 0);
    EXPECT_EQ(grid.slotAtOrBefore(grid.slot(7)), 7);
    EXPECT_EQ(grid.slotAtOrBefore(grid.slot(8) - ns(1)), 7);
    EXPECT_EQ(grid.stamp(ns(100)), 0);  // before the start: the first slot, never a negative one
    EXPECT_THROW(FrameGrid(ns(0), MediaTime::zero()), std::invalid_argument);
}

TEST(FrameGrid, AnIntervalInNanosecondsKeepsItsScale) {
    FrameGrid grid(ns(10), ns(33'333'333));
    EXPECT_EQ(grid.slot(3), ns(10 + 99'999'999));
}
