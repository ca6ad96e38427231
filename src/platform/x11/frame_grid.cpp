#include "platform/x11/frame_grid.hpp"

#include <algorithm>
#include <limits>
#include <stdexcept>

namespace yux::platform {

namespace {

// A time scale in which both the start and the interval are whole numbers: the interval's
// own scale made a thousand times finer where it fits, so the start moves by far less than a
// pixel row's worth of time (17 µs at 60 fps).
std::int32_t gridScale(MediaTime interval) {
    const std::int64_t finer = static_cast<std::int64_t>(interval.timescale) * 1000;
    return finer <= std::numeric_limits<std::int32_t>::max() ? static_cast<std::int32_t>(finer) : interval.timescale;
}

}  // namespace

FrameGrid::FrameGrid(MediaTime start, MediaTime interval) {
    if (!interval.isValid() || interval.value <= 0 || !start.isValid()) {
        throw std::invalid_argument("A frame grid needs a start and a positive interval.");
    }
    const std::int32_t scale = gridScale(interval);
    start_ = start.convertedTo(scale);
    interval_ = interval.convertedTo(scale);
}

MediaTime FrameGrid::slot(std::int64_t index) const {
    return {start_.value + index * interval_.value, start_.timescale};
}

namespace {

using Wide = __int128;

Wide floorDivide(Wide numerator, Wide denominator) {
    Wide quotient = numerator / denominator;
    if ((numerator % denominator != 0) && ((numerator < 0) != (denominator < 0))) quotient -= 1;
    return quotient;
}

}  // namespace

// Exact: (time - start) in seconds is numerator / (scale of time × grid scale), and a slot is
// the interval's units of the grid scale.
std::int64_t FrameGrid::slotAtOrBefore(MediaTime time) const {
    const Wide numerator = static_cast<Wide>(time.value) * start_.timescale - static_cast<Wide>(start_.value) * time.timescale;
    const Wide slotLength = static_cast<Wide>(time.timescale) * interval_.value;
    return static_cast<std::int64_t>(std::max<Wide>(0, floorDivide(numerator, slotLength)));
}

std::int64_t FrameGrid::stamp(MediaTime taken) {
    const Wide numerator = static_cast<Wide>(taken.value) * start_.timescale - static_cast<Wide>(start_.value) * taken.timescale;
    const Wide slotLength = static_cast<Wide>(taken.timescale) * interval_.value;
    // Nearest slot, halves going to the later one.
    const auto nearest = static_cast<std::int64_t>(std::max<Wide>(0, floorDivide(2 * numerator + slotLength, 2 * slotLength)));
    last_ = std::max(nearest, last_ + 1);
    return last_;
}

}  // namespace yux::platform
