#include "model/recording_encoding_policy.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "model/checked_integer.hpp"

namespace yux {

namespace {

// Bit-rate rule: quality weights of detail and motion, and the rate range they span.
constexpr double kSharpnessWeight = 0.25;
constexpr double kBaseQuality = 0.2;
constexpr double kMotionWeight = 0.55;
constexpr double kBitsPerQuality = 3'650'000;
constexpr double kBaseBitsPerSecond = 350'000;
// Below this no preset looks acceptable at any size.
constexpr std::int64_t kMinimumVideoBitsPerSecond = 100'000;
// HEVC reaches the same quality with about two thirds of the H.264 rate.
constexpr double kHevcRateFactor = 0.65;

// What the export's AAC track adds to the video rate.
constexpr double kAudioAllowanceBitsPerSecond = 128'000;
// Head room over the rate-based figure: encoders overshoot their average on busy scenes.
constexpr double kEstimateSafetyFactor = 1.6;
constexpr std::int64_t kBytesPerMegabyte = 1'000'000;
constexpr double kBytesPerBit = 0.125;

// The largest even int: pixel sizes that would not fit are held here.
constexpr int kMaximumEvenInt = std::numeric_limits<int>::max() - 1;

// Rounded (halves away from zero), made even, at least 2; a value that cannot be represented
// is held to the nearest end of the range.
int evenPixelSize(double value) {
    int rounded = saturatedInteger<int>(std::round(value), 2);
    if (rounded > kMaximumEvenInt) rounded = kMaximumEvenInt;
    rounded &= ~1;
    return rounded < 2 ? 2 : rounded;
}

std::string formatMegabytes(std::int64_t bytes) {
    std::int64_t megabytes = bytes / kBytesPerMegabyte;
    if (bytes > 0 && bytes % kBytesPerMegabyte != 0) ++megabytes;
    return std::to_string(megabytes) + " MB";
}

const std::string kEstimatePrefix = "Selected: estimated up to ";

}  // namespace

std::int64_t RecordingEncodingPolicy::targetVideoBitsPerSecond(const RecordingPreset& preset) const {
    double quality = preset.sharpness * kSharpnessWeight + kBaseQuality + preset.motionDetail * kMotionWeight;
    double raw = preset.resolutionScale * preset.resolutionScale * (quality * kBitsPerQuality + kBaseBitsPerSecond);
    std::int64_t bits = saturatedInteger<std::int64_t>(raw, kMinimumVideoBitsPerSecond);
    if (bits < kMinimumVideoBitsPerSecond) bits = kMinimumVideoBitsPerSecond;
    if (preset.codec == RecordingVideoCodec::hevc) {
        bits = saturatedInteger<std::int64_t>(static_cast<double>(bits) * kHevcRateFactor, kMinimumVideoBitsPerSecond);
    }
    return bits;
}

RecordingOutputGeometry RecordingOutputGeometry::scaled(int sourceWidth, int sourceHeight,
                                                        const AffineTransform& preferredTransform, double scale) {
    if (std::isnan(scale)) return {};
    double s = scale;
    if (s <= RecordingPresetCatalog::minimumResolutionScale) s = RecordingPresetCatalog::minimumResolutionScale;
    if (s > RecordingPresetCatalog::maximumResolutionScale) s = RecordingPresetCatalog::maximumResolutionScale;

    Rect bounds = preferredTransform.boundingRect({0, 0, static_cast<double>(sourceWidth), static_cast<double>(sourceHeight)});
    if (!std::isfinite(bounds.x) || !std::isfinite(bounds.y) || !std::isfinite(bounds.width) ||
        !std::isfinite(bounds.height)) {
        return {};
    }
    RecordingOutputGeometry geometry;
    geometry.width = evenPixelSize(std::fabs(bounds.width) * s);
    geometry.height = evenPixelSize(std::fabs(bounds.height) * s);
    geometry.transform = preferredTransform.then(AffineTransform::translation(-bounds.minX(), -bounds.minY()))
                             .then(AffineTransform::scale(s, s));
    return geometry;
}

double RecordingPresetEstimatePolicy::actualMegabytesPerMinute(std::int64_t scratchBytes, double durationSeconds) const {
    if (!(durationSeconds > 0) || !std::isfinite(durationSeconds)) return 0;
    return (static_cast<double>(scratchBytes) / static_cast<double>(kBytesPerMegabyte)) / (durationSeconds / 60);
}

RecordingSizeEstimate RecordingPresetEstimatePolicy::selectedEstimate(std::int64_t scratchBytes,
                                                                      double artifactDurationSeconds,
                                                                      double selectedDurationSeconds,
                                                                      const RecordingPreset& preset) const {
    std::int64_t bytes = 0;
    if (artifactDurationSeconds > 0 && selectedDurationSeconds > 0 && std::isfinite(artifactDurationSeconds) &&
        std::isfinite(selectedDurationSeconds)) {
        double rate =
            static_cast<double>(RecordingEncodingPolicy().targetVideoBitsPerSecond(preset)) + kAudioAllowanceBitsPerSecond;
        double byRate = rate * selectedDurationSeconds * kBytesPerBit;
        double byShare = selectedDurationSeconds / artifactDurationSeconds * static_cast<double>(scratchBytes);
        double estimate = std::ceil(std::min(byRate, byShare) * kEstimateSafetyFactor);
        // An estimate is never negative; NaN cannot arise from finite inputs but counts as nothing.
        bytes = std::max<std::int64_t>(0, saturatedInteger<std::int64_t>(estimate, 0));
    }
    return {bytes, kEstimatePrefix + formatMegabytes(bytes)};
}

}  // namespace yux
