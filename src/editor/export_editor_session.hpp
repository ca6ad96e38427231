#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QImage>
#include <QObject>
#include <QCoroTask>

#include "model/debug_log_boundary.hpp"
#include "model/geometry.hpp"
#include "model/pending_recording_artifact.hpp"
#include "model/recording_crop.hpp"
#include "model/recording_edit.hpp"
#include "model/recording_file.hpp"
#include "model/recording_preset.hpp"
#include "model/recording_source.hpp"
#include "platform/async/cancel_token.hpp"
#include "platform/media/preview_player.hpp"
#include "session/trim_preview_boundary.hpp"

namespace yux {

// What opening reads from the scratch movie.
struct EditorSourceFacts {
    double durationSeconds = 0;
    std::vector<RecordingSource> sources;  // lane order
    Size sourceSize;                       // of the first video track, unoriented
    AffineTransform sourceTransform;
    double sourceFrameRate = 30;
    std::optional<RecordingVideoCodec> sourceCodec;
};

// The lane previews, each loaded off the main thread; cancelling stops them with CancelledError.
struct EditorPreviewLoaders {
    std::function<QCoro::Task<std::vector<float>>(std::int32_t trackID, int bins, platform::CancelToken)> waveform;
    std::function<QCoro::Task<std::vector<QImage>>(RecordingSource, double duration, platform::CancelToken)> thumbnails;

    // Waveforms and thumbnails of the movie at `path`.
    static EditorPreviewLoaders forMovie(std::string path);
};

// The services an editor talks to besides its save handler and log.
struct EditorServices {
    std::shared_ptr<platform::PreviewPlayer> player;
    EditorPreviewLoaders loaders;
    // Shows a saved file in the desktop's file manager; `failed` gets the folder it could not show.
    std::function<void(const std::string& path, std::function<void(const std::string& folder)> failed)> revealFile;
};

// The model of the trim and export window: the edit, crop, levels and export settings of one
// recording, its preview playback, lane previews and exports. Main thread only. Each published
// field signals its own change, and only when the new value differs.
class ExportEditorSession : public QObject, public std::enable_shared_from_this<ExportEditorSession> {
    Q_OBJECT

public:
    using OutcomeHandler = std::function<void(TrimPreviewOutcome)>;

    static constexpr int kWaveformBins = 400;
    // Tick tolerance before a jump: the player is seeked forward only when it lags the kept
    // material by more than this.
    static constexpr double kJumpTolerance = 0.01;

    // Reads the movie off the main thread and builds an editor over the live player. Throws
    // AppError::outputFinalizationFailed ("Recording has no video track", "Recording metadata
    // unavailable", "Cannot prepare source preview", "Invalid recording duration", "Default
    // export preset unavailable") or the reader's error.
    static QCoro::Task<std::shared_ptr<ExportEditorSession>> open(std::string path, PendingRecordingArtifact artifact,
                                                                  TrimPreviewSaveHandling* saveHandler,
                                                                  std::shared_ptr<DebugLogBoundary> debugLog,
                                                                  OutcomeHandler onOutcome);
    // The same over given services (tests pass null ones).
    static QCoro::Task<std::shared_ptr<ExportEditorSession>> open(std::string path, PendingRecordingArtifact artifact,
                                                                  TrimPreviewSaveHandling* saveHandler,
                                                                  std::shared_ptr<DebugLogBoundary> debugLog,
                                                                  OutcomeHandler onOutcome, EditorServices services);
    // What `open` reads, from an opened movie. Throws as `open` does.
    static EditorSourceFacts readFacts(const std::string& path);
    // Builds the editor from facts already read. Throws the same sentences as `open`.
    static std::shared_ptr<ExportEditorSession> create(EditorSourceFacts facts, PendingRecordingArtifact artifact,
                                                       TrimPreviewSaveHandling* saveHandler,
                                                       std::shared_ptr<DebugLogBoundary> debugLog,
                                                       OutcomeHandler onOutcome, EditorServices services);

    ~ExportEditorSession() override;

    // Facts of the source.
    const PendingRecordingArtifact& artifact() const { return artifact_; }
    platform::PreviewPlayer& player() const { return *services_.player; }
    Size sourceSize() const { return facts_.sourceSize; }
    AffineTransform sourceTransform() const { return facts_.sourceTransform; }
    double sourceFrameRate() const { return facts_.sourceFrameRate; }
    std::optional<RecordingVideoCodec> sourceCodec() const { return facts_.sourceCodec; }
    const std::vector<RecordingSource>& sources() const { return facts_.sources; }

    // Published fields.
    const RecordingEdit& edit() const { return edit_; }
    const RecordingCrop& crop() const { return crop_; }
    bool cropEditing() const { return cropEditing_; }
    double quality() const { return quality_; }
    double scale() const { return scale_; }
    RecordingVideoCodec codec() const { return codec_; }
    double playhead() const { return playhead_; }
    bool playing() const { return playing_; }
    std::optional<RecordingEdit::Edge> draggingEdge() const { return draggingEdge_; }
    bool sourcesExpanded() const { return sourcesExpanded_; }
    const std::map<std::int32_t, RecordingAudioLevel>& audioLevels() const { return audioLevels_; }
    const std::map<std::int32_t, std::vector<float>>& waveforms() const { return waveforms_; }
    const std::map<std::int32_t, std::vector<QImage>>& thumbnails() const { return thumbnails_; }
    const std::optional<std::string>& waveformError() const { return waveformError_; }
    bool isExporting() const { return isExporting_; }
    const RecordingExportProgress& progress() const { return progress_; }
    const std::optional<RecordingExportResult>& saved() const { return saved_; }
    // Whether an export succeeded since the editor opened ("Edit again" does not undo that).
    bool hasSaved() const { return hasSaved_; }
    const std::optional<std::string>& errorMessage() const { return errorMessage_; }
    // Set when "Show in Files" could not show the saved file's folder.
    const std::optional<std::string>& revealError() const { return revealError_; }

    // Written by the views; no checks beyond the publishing rule.
    void setCrop(const RecordingCrop& value);
    void setCropEditing(bool value);
    void setQuality(double value);
    void setScale(double value);
    void setCodec(RecordingVideoCodec value);
    void setSourcesExpanded(bool value);

    // Derived values.
    std::vector<RecordingSource> audioSources() const;
    double timelineHeight() const;
    Size frameSize() const;
    RecordingEdit::Section selectedSection() const;
    std::vector<std::string> reasons() const;
    RecordingPreset preset() const;
    std::int64_t estimatedBytes() const;
    std::string previewBadge() const;

    // Edits. Each pauses first (dragTrim, endTrim and the level changes excepted).
    void seek(double time);
    void setEdge(RecordingEdit::Edge edge, double time);
    void beginTrim(RecordingEdit::Edge edge);
    void dragTrim(double time);
    void endTrim();
    void split();
    void toggleRemoval();
    void speed(double value);
    void undo();
    void toggleMute(std::int32_t sourceID);
    void setGain(float gain, std::int32_t sourceID);

    // Life and playback.
    void start();
    bool isStarted() const { return started_; }
    void togglePlayback();
    void completeWithDiscardIfNeeded();
    // `keyCode` and `modifiers` as stored shortcuts write them; `responderClass` empty for none.
    void logKeyboard(int keyCode, std::uint64_t modifiers, const std::string& responderClass);
    void logCloseRequest(bool hasSheet);

    // Export.
    void exportRecording();
    // Stops the running export (the progress sheet's cancel).
    void cancelExport();
    void reveal();
    // The sheet's "Edit again" and "Close", and the alert's dismissal.
    void clearSaved();
    void clearErrorMessage();

signals:
    void editChanged();
    void cropChanged();
    void cropEditingChanged();
    void qualityChanged();
    void scaleChanged();
    void codecChanged();
    void playheadChanged();
    void playingChanged();
    void draggingEdgeChanged();
    void sourcesExpandedChanged();
    void audioLevelsChanged();
    void waveformsChanged();
    void thumbnailsChanged();
    void waveformErrorChanged();
    void isExportingChanged();
    void progressChanged();
    void savedChanged();
    void errorMessageChanged();
    void revealErrorChanged();

private:
    struct Private {};

public:
    ExportEditorSession(Private, EditorSourceFacts facts, PendingRecordingArtifact artifact, RecordingEdit edit,
                        RecordingPreset defaultPreset, TrimPreviewSaveHandling* saveHandler,
                        std::shared_ptr<DebugLogBoundary> debugLog, OutcomeHandler onOutcome, EditorServices services);

private:
    template <class T, class Equal = std::equal_to<T>>
    void publish(T& field, T value, void (ExportEditorSession::*changed)(), Equal equal = {});
    void setEdit(RecordingEdit value);
    void setPlayhead(double value);
    void setPlaying(bool value);
    void setProgress(const RecordingExportProgress& value);

    void stopPlayback();
    void seekPlayer(double time);
    void previewEdge(RecordingEdit::Edge edge);
    void applyAudioMix();
    void tick(double time);
    void applyRate(double time);
    bool isAudioSource(std::int32_t id) const;
    void log(std::string line);

    QCoro::Task<void> loadPreviews(std::shared_ptr<ExportEditorSession> self, platform::CancelToken cancel);
    QCoro::Task<void> runExport(std::shared_ptr<ExportEditorSession> self, std::uint64_t generation,
                                TrimSelection selection, RecordingPreset profile, platform::CancelToken cancel);

    EditorSourceFacts facts_;
    PendingRecordingArtifact artifact_;
    RecordingPreset defaultPreset_;
    TrimPreviewSaveHandling* saveHandler_;
    std::shared_ptr<DebugLogBoundary> debugLog_;
    OutcomeHandler onOutcome_;
    EditorServices services_;

    RecordingEdit edit_;
    RecordingCrop crop_;
    bool cropEditing_ = false;
    double quality_ = 1;
    double scale_ = 1;
    RecordingVideoCodec codec_ = RecordingVideoCodec::h264;
    double playhead_ = 0;
    bool playing_ = false;
    std::optional<RecordingEdit::Edge> draggingEdge_;
    bool sourcesExpanded_ = false;
    std::map<std::int32_t, RecordingAudioLevel> audioLevels_;
    std::map<std::int32_t, std::vector<float>> waveforms_;
    std::map<std::int32_t, std::vector<QImage>> thumbnails_;
    std::optional<std::string> waveformError_;
    bool isExporting_ = false;
    RecordingExportProgress progress_{0, 1, 1, std::nullopt};
    std::optional<RecordingExportResult> saved_;
    std::optional<std::string> errorMessage_;
    std::optional<std::string> revealError_;

    bool started_ = false;
    std::optional<platform::CancelToken> previewCancel_;
    std::optional<platform::CancelToken> exportCancel_;
    // Each export's number: a progress post applies only while its own export runs.
    std::uint64_t exportGeneration_ = 0;
    bool didComplete_ = false;
    bool hasSaved_ = false;
};

}  // namespace yux
