#pragma once

#include <functional>
#include <string>

#include <QCoroTask>

#include "model/recording_file.hpp"
#include "model/recording_preset.hpp"
#include "model/trim_selection.hpp"
#include "platform/async/cancel_token.hpp"

namespace yux {

// What the session needs of the media pipeline: the duration of a scratch movie, and the export
// of an edited recording into a destination that does not exist yet.
class RecordingTrimBoundary {
public:
    // Called from any thread, any number of times.
    using ProgressHandler = std::function<void(const RecordingExportProgress&)>;

    virtual ~RecordingTrimBoundary() = default;

    virtual QCoro::Task<double> loadDurationSeconds(std::string filePath) = 0;
    // Cancelling `cancel` stops the export, removes what it wrote and throws CancelledError.
    // With `temporaryPath` (in the destination's folder, already noted with the take), the movie
    // is written there and takes the destination's name only once whole.
    virtual QCoro::Task<void> exportTrimmedSegment(std::string sourcePath, std::string destinationPath,
                                                   TrimSelection selection, RecordingPreset preset,
                                                   ProgressHandler progress, platform::CancelToken cancel = {},
                                                   std::string temporaryPath = {}) = 0;
};

}  // namespace yux
