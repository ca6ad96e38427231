#pragma once

// Turns a preset into export numbers: video bit rate, output size and placement, size estimate.

#include <cstdint>
#include <string>

#include "model/geometry.hpp"
#include "model/recording_preset.hpp"

namespace yux {

struct RecordingEncodingPolicy {
    // Average video bit rate, in bits per second, handed to the encoder.
    std::int64_t targetVideoBitsPerSecond(const RecordingPreset& preset) const;
};

struct RecordingOutputGeometry {
    // Even and at least 2.
    int width = 2;
    int height = 2;
    // Maps the source frame into width × height.
    AffineTransform transform;

    // The exported size of a source track of that natural size and orientation at that scale.
    // A geometry that cannot be computed (a non-finite transform or scale) is the smallest one.
    static RecordingOutputGeometry scaled(int sourceWidth, int sourceHeight, const AffineTransform& preferredTransform,
                                          double scale);

    bool operator==(const RecordingOutputGeometry&) const = default;
};

struct RecordingSizeEstimate {
    std::int64_t bytes = 0;
    std::string displayText;

    bool operator==(const RecordingSizeEstimate&) const = default;
};

struct RecordingPresetEstimatePolicy {
    // Megabytes (1,000,000 bytes) per minute; 0 without a positive, finite duration.
    double actualMegabytesPerMinute(std::int64_t scratchBytes, double durationSeconds) const;

    // An upper bound for the exported size of the selected part. Durations that are not
    // positive and finite give 0 bytes; sizes beyond the 64-bit range are held at its end.
    RecordingSizeEstimate selectedEstimate(std::int64_t scratchBytes, double artifactDurationSeconds,
                                           double selectedDurationSeconds, const RecordingPreset& preset) const;
};

}  // namespace yux
