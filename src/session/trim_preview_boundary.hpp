#pragma once

#include <functional>
#include <variant>

#include <QCoroTask>

#include "model/app_error.hpp"
#include "model/pending_recording_artifact.hpp"
#include "model/recording_file.hpp"
#include "model/recording_preset.hpp"
#include "model/trim_selection.hpp"
#include "platform/async/cancel_token.hpp"

namespace yux {

// How a trim window session ended.
struct TrimPreviewOutcome {
    struct Failed {
        AppError error;
        bool operator==(const Failed&) const = default;
    };
    struct Saved {
        bool operator==(const Saved&) const = default;
    };
    struct Discarded {
        bool operator==(const Discarded&) const = default;
    };

    std::variant<Failed, Saved, Discarded> value;

    static TrimPreviewOutcome failed(AppError error) { return {Failed{std::move(error)}}; }
    static TrimPreviewOutcome saved() { return {Saved{}}; }
    static TrimPreviewOutcome discarded() { return {Discarded{}}; }

    bool operator==(const TrimPreviewOutcome&) const = default;
};

// Where the trim window sends each export the user asks for.
class TrimPreviewSaveHandling {
public:
    // Called from any thread.
    using ProgressHandler = std::function<void(const RecordingExportProgress&)>;

    virtual ~TrimPreviewSaveHandling() = default;
    // Throws CancelledError when `cancel` stopped the export.
    virtual QCoro::Task<RecordingExportResult> saveTrimPreview(TrimSelection selection, RecordingPreset profile,
                                                               ProgressHandler progress,
                                                               platform::CancelToken cancel = {}) = 0;
};

// The trim and export window: shows the artifact until the window closes.
class TrimPreviewBoundary {
public:
    virtual ~TrimPreviewBoundary() = default;
    virtual QCoro::Task<TrimPreviewOutcome> presentTrimPreview(PendingRecordingArtifact artifact,
                                                               TrimPreviewSaveHandling* saveHandler) = 0;
};

}  // namespace yux
