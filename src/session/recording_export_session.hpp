#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include <QCoroTask>

#include "model/clock_boundary.hpp"
#include "model/date.hpp"
#include "model/debug_log_boundary.hpp"
#include "model/local_file_system.hpp"
#include "model/output_library_boundary.hpp"
#include "model/pending_recording_artifact.hpp"
#include "model/recording_encoding_policy.hpp"
#include "model/save_folder_authority_boundary.hpp"
#include "model/scratch_storage_boundary.hpp"
#include "model/settings_boundary.hpp"
#include "session/pending_recording_keeping.hpp"
#include "session/recording_trim_boundary.hpp"
#include "session/trim_preview_boundary.hpp"

namespace yux {

// Owns one stopped recording from the stop until its trim window closes: describes the scratch
// movie once, publishes trimmed copies into the save folder as often as asked (one at a time),
// and deletes the scratch movie when the recording is saved or thrown away. Main thread.
class RecordingExportSession : public TrimPreviewSaveHandling {
public:
    struct Collaborators {
        std::shared_ptr<SettingsBoundary> settings;
        std::shared_ptr<OutputLibraryBoundary> outputLibrary;
        std::shared_ptr<SaveFolderAuthorityBoundary> saveFolderAuthority;
        std::shared_ptr<ScratchStorageBoundary> scratchStorage;
        std::shared_ptr<RecordingTrimBoundary> trimBoundary;
        std::shared_ptr<RecordingScratchFileSizeReading> scratchFileSizeReader;
        std::shared_ptr<DebugLogBoundary> debugLog;
        // Optional: notes each export's temporary with the take. Without it an export is written
        // under its own name.
        std::shared_ptr<PendingRecordingKeeping> pendingRecordings = {};
    };

    // The preset a new pending recording offers first.
    static inline const RecordingPresetID kDefaultPresetID{"high"};

    // Measures the scratch movie (duration, then size); throws what those steps throw.
    static QCoro::Task<std::shared_ptr<RecordingExportSession>> open(std::string scratchPath, Date createdAt,
                                                                     Collaborators collaborators,
                                                                     RecordingPresetEstimatePolicy estimatePolicy = {});

    RecordingExportSession(PendingRecordingArtifact artifact, Collaborators collaborators);

    const PendingRecordingArtifact& artifact() const { return artifact_; }
    // True from the checks of a save until it ends.
    bool isExporting() const { return exportInProgress_; }
    bool isClosed() const { return closed_; }

    // Shows the recording until the window closes. After `failed` the scratch movie stays, so
    // the recording can be opened again; after saved or discarded it is deleted.
    QCoro::Task<TrimPreviewOutcome> presentPreview(TrimPreviewBoundary* trimPreview, TrimPreviewSaveHandling* saveHandler);
    QCoro::Task<RecordingExportResult> saveTrimPreview(TrimSelection selection, RecordingPreset profile,
                                                       ProgressHandler progress,
                                                       platform::CancelToken cancel = {}) override;
    // Deletes the scratch movie once; refused while an export runs.
    QCoro::Task<void> finish();

private:
    QCoro::Task<RecordingExportResult> publish(TrimSelection selection, RecordingPreset profile,
                                               ProgressHandler progress, platform::CancelToken cancel);

    PendingRecordingArtifact artifact_;
    Collaborators collaborators_;
    bool exportInProgress_ = false;
    bool closed_ = false;
};

// Opens the export session of each stopped recording.
class RecordingExportSessionOpening {
public:
    virtual ~RecordingExportSessionOpening() = default;
    virtual QCoro::Task<std::shared_ptr<RecordingExportSession>> open(std::string scratchPath, Date createdAt) = 0;
};

// Builds export sessions over the live storage: the recent list in the support folder, names
// stamped with the local time, the save folder and scratch folder of the running user. Anything
// given replaces its live counterpart (tests pass in-memory ones).
class RecordingExportSessionFactory : public RecordingExportSessionOpening {
public:
    struct Replacements {
        std::shared_ptr<SaveFolderAuthorityBoundary> saveFolderAuthority;
        std::shared_ptr<ScratchStorageBoundary> scratchStorage;
        std::shared_ptr<RecentRecordingStoreBoundary> recentStore;
        std::optional<LocalFileSystem> fileSystem;
        std::shared_ptr<RecordingScratchFileSizeReading> scratchFileSizeReader;
        std::shared_ptr<PendingRecordingKeeping> pendingRecordings;
    };

    // The trim boundary is given: the media pipeline sits above the session.
    RecordingExportSessionFactory(std::shared_ptr<SettingsBoundary> settings, std::filesystem::path supportDirectory,
                                  std::shared_ptr<DebugLogBoundary> debugLog, std::shared_ptr<ClockBoundary> clock,
                                  std::shared_ptr<RecordingTrimBoundary> trimBoundary, Replacements replacements = {});

    QCoro::Task<std::shared_ptr<RecordingExportSession>> open(std::string scratchPath, Date createdAt) override;

    const std::shared_ptr<OutputLibraryBoundary>& outputLibrary() const { return collaborators_.outputLibrary; }
    const std::shared_ptr<ScratchStorageBoundary>& scratchStorage() const { return collaborators_.scratchStorage; }

private:
    RecordingExportSession::Collaborators collaborators_;
};

}  // namespace yux
