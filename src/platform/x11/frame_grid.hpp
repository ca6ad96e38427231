#pragma once

#include <cstdint>

#include "platform/media/media_time.hpp"

namespace yux::platform {

// The picture times of one screen stream: the first picture's time plus whole intervals, so
// that every picture of a recording sits on one fixed rate however unevenly the screen
// changes. A picture taken late moves to a later slot; two pictures never share one.
class FrameGrid {
public:
    // `interval` must be positive. The start is kept to a thousandth of the interval's own
    // unit, which makes every slot an exact sum of the start and whole intervals.
    FrameGrid(MediaTime start, MediaTime interval);

    MediaTime start() const { return start_; }
    MediaTime interval() const { return interval_; }
    MediaTime slot(std::int64_t index) const;
    // The last slot at or before `time` (slot 0 for times before the start).
    std::int64_t slotAtOrBefore(MediaTime time) const;

    // The slot of a picture taken at `taken`: the nearest one, or the first free one after
    // the last picture's when the nearest is not free. Marks it used.
    std::int64_t stamp(MediaTime taken);
    // The first slot after the last picture's (0 before any picture).
    std::int64_t nextFree() const { return last_ + 1; }

private:
    MediaTime start_;
    MediaTime interval_;
    std::int64_t last_ = -1;
};

}  // namespace yux::platform
