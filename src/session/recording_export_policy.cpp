#include "session/recording_export_policy.hpp"

#include <cmath>

namespace yux {

namespace {
// Sliders stop just short of 1; anything this close counts as untouched.
constexpr double kFullSetting = 0.999;
// Seconds by which the kept sections may differ from the recording and still be "all of it".
constexpr double kWholeDurationTolerance = 0.001;
}  // namespace

std::vector<std::string> RecordingExportPolicy::reencodeReasons(const TrimSelection& selection, double sourceDuration,
                                                                double quality, double scale, bool matchesCodec,
                                                                bool compositesVideo, bool mixesAudio) {
    std::vector<std::string> reasons;
    if (compositesVideo) reasons.emplace_back("camera");
    bool levelsChanged = false;
    for (const auto& [id, level] : selection.audioLevels) {
        if (level.muted || level.gain != 1.0f) levelsChanged = true;
    }
    if (mixesAudio || levelsChanged) reasons.emplace_back("audio");
    if (quality < kFullSetting) reasons.emplace_back("quality");
    if (scale < kFullSetting) reasons.emplace_back("size");
    const Rect& crop = selection.crop.rect();
    if (!(crop.x == 0 && crop.y == 0 && crop.width == 1 && crop.height == 1)) reasons.emplace_back("crop");
    if (!matchesCodec) reasons.emplace_back("format");
    double used = 0;
    bool speedChanged = false;
    for (const auto& section : selection.sections) {
        if (section.speed != 1.0) speedChanged = true;
        used += section.end - section.start;
    }
    if (speedChanged) reasons.emplace_back("speed");
    if (std::abs(used - sourceDuration) > kWholeDurationTolerance) reasons.emplace_back("cuts");
    return reasons;
}

}  // namespace yux
