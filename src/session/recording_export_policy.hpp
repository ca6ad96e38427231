#pragma once

#include <string>
#include <vector>

#include "model/trim_selection.hpp"

namespace yux {

// Why an export cannot simply copy the recording. The editor and the pipeline both ask it.
struct RecordingExportPolicy {
    // Each word at most once, in this order: "camera", "audio", "quality", "size", "crop",
    // "format", "speed", "cuts". Empty: the recording can be copied unchanged.
    static std::vector<std::string> reencodeReasons(const TrimSelection& selection, double sourceDuration, double quality,
                                                    double scale, bool matchesCodec, bool compositesVideo, bool mixesAudio);
};

}  // namespace yux
