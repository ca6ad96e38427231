#pragma once

#include <string>
#include <vector>

#include "model/recording_source.hpp"

namespace yux {

// Layout and ruler rules of the timeline canvas.
struct EditorTimelineLayout {
    static constexpr double kRulerHeight = 18;
    static constexpr double kCombinedLaneHeight = 72;
    static constexpr double kAudioLaneHeight = 52;
    static constexpr double kVideoLaneHeight = 44;
    static constexpr double kLaneGap = 4;
    // A ruler label roughly every 70 points.
    static constexpr double kRulerLabelSpacing = 70;

    struct Lane {
        double top = 0;
        double height = 0;
    };
    // One combined lane when collapsed, else one per source in order.
    static std::vector<Lane> lanes(const std::vector<RecordingSource>& sources, bool expanded);

    struct Tick {
        double seconds = 0;
        std::string label;
    };
    static double rulerStep(double duration, double width);
    // Ticks k × step up to the duration; sub-second labels are rounded to tenths before
    // minutes and seconds are split, so no label reads ":60.0".
    static std::vector<Tick> rulerTicks(double duration, double width);
};

}  // namespace yux
