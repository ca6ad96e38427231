#include "editor/editor_timeline_canvas.hpp"

#include <cmath>
#include <cstdio>

namespace yux {

std::vector<EditorTimelineLayout::Lane> EditorTimelineLayout::lanes(const std::vector<RecordingSource>& sources,
                                                                    bool expanded) {
    if (!expanded) return {{kRulerHeight, kCombinedLaneHeight}};
    std::vector<Lane> result;
    double top = kRulerHeight;
    for (const auto& source : sources) {
        double height = isAudio(source.kind) ? kAudioLaneHeight : kVideoLaneHeight;
        result.push_back({top, height});
        top += height + kLaneGap;
    }
    return result;
}

double EditorTimelineLayout::rulerStep(double duration, double width) {
    double raw = duration * kRulerLabelSpacing / width;
    if (!std::isfinite(raw) || raw <= 0) return 1;
    double magnitude = std::pow(10.0, std::floor(std::log10(std::max(raw, 0.1))));
    if (magnitude < 0.1) magnitude = 0.1;
    double n = raw / magnitude;
    double multiplier = n > 5 ? 10 : n > 2 ? 5 : 2;
    return multiplier * magnitude;
}

static std::string tickLabel(double seconds, bool wholeSeconds) {
    char text[32];
    if (wholeSeconds) {
        auto whole = static_cast<long long>(std::llround(seconds));
        std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
    } else {
        auto tenths = static_cast<long long>(std::llround(seconds * 10));
        std::snprintf(text, sizeof text, "%lld:%02lld.%lld", tenths / 600, (tenths % 600) / 10, tenths % 10);
    }
    return text;
}

std::vector<EditorTimelineLayout::Tick> EditorTimelineLayout::rulerTicks(double duration, double width) {
    std::vector<Tick> ticks;
    if (!std::isfinite(duration) || duration < 0 || !(width > 0)) return ticks;
    double step = rulerStep(duration, width);
    bool whole = step >= 1;
    // Ticks are multiples of the step (no accumulated error); a tiny slack keeps an end that is
    // an exact multiple.
    for (long long k = 0;; ++k) {
        double t = static_cast<double>(k) * step;
        if (t > duration + step * 1e-9) break;
        ticks.push_back({t, tickLabel(whole ? t : std::round(t * 10) / 10, whole)});
    }
    return ticks;
}

}  // namespace yux
