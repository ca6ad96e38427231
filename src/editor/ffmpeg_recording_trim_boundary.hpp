#pragma once

#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "model/debug_log_boundary.hpp"
#include "model/recording_edit.hpp"
#include "platform/media/media_time.hpp"
#include "session/recording_trim_boundary.hpp"

namespace yux {

// The media pipeline's entry: probes a movie's duration and exports an edited recording, by
// copying the whole file when nothing needs re-encoding, else by decoding the kept sections and
// encoding them again. Heavy work runs on a worker thread of its own per call; the coroutines
// resume on the main thread. A failed or cancelled export leaves no destination file.
class FfmpegRecordingTrimBoundary : public RecordingTrimBoundary {
public:
    explicit FfmpegRecordingTrimBoundary(std::shared_ptr<DebugLogBoundary> debugLog);

    QCoro::Task<double> loadDurationSeconds(std::string filePath) override;
    QCoro::Task<void> exportTrimmedSegment(std::string sourcePath, std::string destinationPath, TrimSelection selection,
                                           RecordingPreset preset, ProgressHandler progress,
                                           platform::CancelToken cancel = {}, std::string temporaryPath = {}) override;

    // The report of a copy at `fraction` of the source after `elapsedSeconds`.
    static RecordingExportProgress copyProgress(double fraction, double elapsedSeconds);
    // The report of an encode at `fraction` of the output length after `elapsedSeconds`.
    static RecordingExportProgress encodingProgress(double fraction, const std::vector<RecordingEdit::Section>& sections,
                                                    double elapsedSeconds);

    // F of a re-encode: the screen track's stored nominal rate when there is one, else one over
    // the smallest interval between its pictures, else (a single picture) 30; never above 120.
    static double exportFrameRate(std::optional<double> storedRate, platform::MediaTime minimumInterval);

    // A failure as users get it, and the library's own words behind it for the log line only:
    // a failed step with one of the export's fixed texts becomes that AppError, another keeps its
    // own sentence, and a destination that appeared after the check is the "already exists" case.
    struct ToldFailure {
        std::exception_ptr error;
        std::string cause;
    };
    static ToldFailure toldFailure(std::exception_ptr error);

private:
    std::shared_ptr<DebugLogBoundary> debugLog_;
};

}  // namespace yux
