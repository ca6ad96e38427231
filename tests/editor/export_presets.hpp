#pragma once

#include "model/recording_preset.hpp"

namespace yux::testing {

// A preset that forces nothing: full quality, full size, the scratch movie's codec.
inline RecordingPreset untouchedPreset() {
    RecordingPreset preset;
    preset.id = "best";
    preset.sharpness = 1.0;
    preset.motionDetail = 1.0;
    preset.resolutionScale = 1.0;
    preset.codec = RecordingVideoCodec::h264;
    return preset;
}

}  // namespace yux::testing
