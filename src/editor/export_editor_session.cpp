#include "editor/export_editor_session.hpp"

#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>

#include <QPointer>

#include "editor/editor_time_text.hpp"
#include "editor/ffmpeg_recording_trim_boundary.hpp"
#include "editor/recording_sources.hpp"
#include "editor/recording_waveform.hpp"
#include "editor/worker_task.hpp"
#include "model/log_text.hpp"
#include "model/recording_encoding_policy.hpp"
#include "model/user_facing_error_message_policy.hpp"
#include "platform/async/errors.hpp"
#include "platform/audio/pulse_playback_stream.hpp"
#include "platform/desktop/file_manager_reveal.hpp"
#include "platform/async/main_thread.hpp"
#include "platform/media/media_asset.hpp"
#include "platform/media/stored_frame_rate.hpp"
#include "platform/media/track_decoder.hpp"
#include "session/recording_export_policy.hpp"

namespace yux {

namespace {

// The audio bit rate the re-encoding writer uses, added to the video's for the size estimate.
constexpr std::int64_t kExportAudioBitsPerSecond = 128000;
// Seeks land on the ticks the edit composition counts in.
constexpr double kSeekTimescale = 60000;

double onSeekGrid(double seconds) { return std::round(seconds * kSeekTimescale) / kSeekTimescale; }

bool sameProgress(const RecordingExportProgress& a, const RecordingExportProgress& b) {
    return a.fraction == b.fraction && a.section == b.section && a.sectionCount == b.sectionCount &&
           a.remainingSeconds == b.remainingSeconds;
}

const char* boolText(bool value) { return value ? "true" : "false"; }

QImage imageOf(const platform::PixelBuffer& picture) {
    if (!picture.isValid()) return {};
    // BGRA bytes are ARGB32 words on the little-endian machines we run on; alpha is kept.
    QImage image(picture.width(), picture.height(), QImage::Format_ARGB32);
    for (int y = 0; y < picture.height(); ++y) {
        std::memcpy(image.scanLine(y), picture.row(y), static_cast<std::size_t>(picture.width()) * 4);
    }
    return image;
}

bool isCancellation(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const platform::CancelledError&) {
        return true;
    } catch (...) {
        return false;
    }
}

}  // namespace

EditorPreviewLoaders EditorPreviewLoaders::forMovie(std::string path) {
    EditorPreviewLoaders loaders;
    loaders.waveform = [path](std::int32_t trackID, int bins, platform::CancelToken cancel) {
        return RecordingWaveform::peaks(path, trackID, bins, cancel);
    };
    loaders.thumbnails = [](RecordingSource source, double duration,
                            platform::CancelToken cancel) -> QCoro::Task<std::vector<QImage>> {
        auto loading = RecordingSources::thumbnails(std::move(source), duration, cancel);
        auto pictures = co_await loading;
        std::vector<QImage> images;
        images.reserve(pictures.size());
        for (const auto& picture : pictures) images.push_back(imageOf(picture));
        co_return images;
    };
    return loaders;
}

EditorSourceFacts ExportEditorSession::readFacts(const std::string& path) {
    auto asset = platform::MediaAsset::open(path);
    auto videos = asset.tracksOf(platform::MediaTrackType::video);
    if (videos.empty()) throw AppError::outputFinalizationFailed("Recording has no video track");
    const auto& video = videos.front();
    if (!(video.width > 0) || !(video.height > 0)) throw AppError::outputFinalizationFailed("Recording metadata unavailable");

    EditorSourceFacts facts;
    facts.durationSeconds = asset.durationSeconds;
    facts.sourceSize = {static_cast<double>(video.width), static_cast<double>(video.height)};
    // The scratch tracks carry no transform; the export draws them upright too.
    facts.sourceTransform = AffineTransform::identity();
    facts.sourceFrameRate =
        FfmpegRecordingTrimBoundary::exportFrameRate(platform::storedScreenFrameRate(path), asset.minFrameDuration(video));
    auto tag = asset.codecTag(video);
    if (tag == "avc1") facts.sourceCodec = RecordingVideoCodec::h264;
    if (tag == "hvc1") facts.sourceCodec = RecordingVideoCodec::hevc;
    facts.sources = RecordingSources::sources(asset.tracks);
    // The preview plays the file's own tracks: each must open for decoding.
    for (const auto& source : facts.sources) {
        try {
            platform::TrackDecoder decoder(path, *source.track, false);
        } catch (const std::exception&) {
            throw AppError::outputFinalizationFailed("Cannot prepare source preview");
        }
    }
    return facts;
}

QCoro::Task<std::shared_ptr<ExportEditorSession>> ExportEditorSession::open(std::string path, PendingRecordingArtifact artifact,
                                                                            TrimPreviewSaveHandling* saveHandler,
                                                                            std::shared_ptr<DebugLogBoundary> debugLog,
                                                                            OutcomeHandler onOutcome) {
    EditorServices services;
    services.player = platform::PreviewPlayer::create(platform::PulsePlaybackStream::output(platform::PulsePlaybackStream::create()));
    services.loaders = EditorPreviewLoaders::forMovie(path);
    services.revealFile = [reveal = platform::FileManagerReveal::create()](const std::string& file, auto failed) {
        reveal->reveal(file, std::move(failed));
    };
    auto opening = open(std::move(path), std::move(artifact), saveHandler, std::move(debugLog), std::move(onOutcome),
                        std::move(services));
    co_return co_await opening;
}

QCoro::Task<std::shared_ptr<ExportEditorSession>> ExportEditorSession::open(std::string path, PendingRecordingArtifact artifact,
                                                                            TrimPreviewSaveHandling* saveHandler,
                                                                            std::shared_ptr<DebugLogBoundary> debugLog,
                                                                            OutcomeHandler onOutcome,
                                                                            EditorServices services) {
    auto read = [path] { return readFacts(path); };
    auto reading = onWorkerThread(std::move(read));
    auto facts = co_await reading;
    co_return create(std::move(facts), std::move(artifact), saveHandler, std::move(debugLog), std::move(onOutcome),
                     std::move(services));
}

std::shared_ptr<ExportEditorSession> ExportEditorSession::create(EditorSourceFacts facts, PendingRecordingArtifact artifact,
                                                                 TrimPreviewSaveHandling* saveHandler,
                                                                 std::shared_ptr<DebugLogBoundary> debugLog,
                                                                 OutcomeHandler onOutcome, EditorServices services) {
    if (saveHandler == nullptr || !debugLog || !services.player) {
        throw std::invalid_argument("An editor needs a save handler, a debug log and a player");
    }
    bool hasPicture = false;
    for (const auto& source : facts.sources) hasPicture = hasPicture || !isAudio(source.kind);
    if (!hasPicture) throw AppError::outputFinalizationFailed("Recording has no video track");
    if (!(facts.sourceSize.width > 0) || !(facts.sourceSize.height > 0) || !std::isfinite(facts.sourceSize.width) ||
        !std::isfinite(facts.sourceSize.height) || !(facts.sourceFrameRate > 0) || !std::isfinite(facts.sourceFrameRate)) {
        throw AppError::outputFinalizationFailed("Recording metadata unavailable");
    }
    RecordingEdit edit(facts.durationSeconds);
    // A stored artifact may name a preset its catalog lost; there is nothing to export with.
    auto preset = artifact.exportPresetCatalog().preset(artifact.defaultExportPresetID());
    if (!preset) throw AppError::outputFinalizationFailed("Default export preset unavailable");
    return std::make_shared<ExportEditorSession>(Private{}, std::move(facts), std::move(artifact), std::move(edit),
                                                 std::move(*preset), saveHandler, std::move(debugLog),
                                                 std::move(onOutcome), std::move(services));
}

ExportEditorSession::ExportEditorSession(Private, EditorSourceFacts facts, PendingRecordingArtifact artifact,
                                         RecordingEdit edit, RecordingPreset defaultPreset,
                                         TrimPreviewSaveHandling* saveHandler, std::shared_ptr<DebugLogBoundary> debugLog,
                                         OutcomeHandler onOutcome, EditorServices services)
    : facts_(std::move(facts)),
      artifact_(std::move(artifact)),
      defaultPreset_(std::move(defaultPreset)),
      saveHandler_(saveHandler),
      debugLog_(std::move(debugLog)),
      onOutcome_(std::move(onOutcome)),
      services_(std::move(services)),
      edit_(std::move(edit)),
      quality_(std::max(defaultPreset_.sharpness, 0.1)),
      codec_(defaultPreset_.codec) {}

ExportEditorSession::~ExportEditorSession() = default;

// Publishing.

template <class T, class Equal>
void ExportEditorSession::publish(T& field, T value, void (ExportEditorSession::*changed)(), Equal equal) {
    bool differs = !equal(field, value);
    field = std::move(value);
    if (differs) (this->*changed)();
}

void ExportEditorSession::setEdit(RecordingEdit value) { publish(edit_, std::move(value), &ExportEditorSession::editChanged); }
void ExportEditorSession::setPlayhead(double value) { publish(playhead_, value, &ExportEditorSession::playheadChanged); }
void ExportEditorSession::setPlaying(bool value) { publish(playing_, value, &ExportEditorSession::playingChanged); }
void ExportEditorSession::setProgress(const RecordingExportProgress& value) {
    publish(progress_, value, &ExportEditorSession::progressChanged, sameProgress);
}
void ExportEditorSession::setCrop(const RecordingCrop& value) { publish(crop_, value, &ExportEditorSession::cropChanged); }
void ExportEditorSession::setCropEditing(bool value) {
    publish(cropEditing_, value, &ExportEditorSession::cropEditingChanged);
}
void ExportEditorSession::setQuality(double value) { publish(quality_, value, &ExportEditorSession::qualityChanged); }
void ExportEditorSession::setScale(double value) { publish(scale_, value, &ExportEditorSession::scaleChanged); }
void ExportEditorSession::setCodec(RecordingVideoCodec value) { publish(codec_, value, &ExportEditorSession::codecChanged); }
void ExportEditorSession::setSourcesExpanded(bool value) {
    publish(sourcesExpanded_, value, &ExportEditorSession::sourcesExpandedChanged);
}

// Derived values.

std::vector<RecordingSource> ExportEditorSession::audioSources() const {
    std::vector<RecordingSource> result;
    for (const auto& source : facts_.sources) {
        if (isAudio(source.kind)) result.push_back(source);
    }
    return result;
}

double ExportEditorSession::timelineHeight() const {
    // Collapsed: one combined lane of 72 with its gap under the 18-point ruler; expanded: one
    // lane per source, 52 for audio and 44 for pictures, each with a 4-point gap.
    if (!sourcesExpanded_) return 90;
    double height = 18;
    for (const auto& source : facts_.sources) height += isAudio(source.kind) ? 56 : 48;
    return height;
}

Size ExportEditorSession::frameSize() const {
    auto geometry = RecordingOutputGeometry::scaled(static_cast<int>(facts_.sourceSize.width),
                                                    static_cast<int>(facts_.sourceSize.height), facts_.sourceTransform,
                                                    scale_);
    return {static_cast<double>(geometry.width), static_cast<double>(geometry.height)};
}

RecordingEdit::Section ExportEditorSession::selectedSection() const {
    double t = std::min(playhead_, std::nextafter(edit_.range().upper, -std::numeric_limits<double>::infinity()));
    return edit_.sections()[edit_.index(t)];
}

std::vector<std::string> ExportEditorSession::reasons() const {
    int pictures = 0;
    for (const auto& source : facts_.sources) pictures += isAudio(source.kind) ? 0 : 1;
    bool matchesCodec = facts_.sourceCodec && *facts_.sourceCodec == codec_;
    return RecordingExportPolicy::reencodeReasons(edit_.selection(crop_, audioLevels_), edit_.duration(), quality_, scale_,
                                                  matchesCodec, pictures >= 2, audioSources().size() >= 2);
}

RecordingPreset ExportEditorSession::preset() const {
    return {artifact_.defaultExportPresetID(), "Export", facts_.sourceFrameRate, quality_, quality_, codec_, scale_};
}

std::int64_t ExportEditorSession::estimatedBytes() const {
    if (reasons().empty()) return artifact_.scratchByteSize();
    double bitsPerSecond =
        static_cast<double>(RecordingEncodingPolicy{}.targetVideoBitsPerSecond(preset()) + kExportAudioBitsPerSecond);
    double outputSeconds = 0;
    for (const auto& section : edit_.keptSections()) outputSeconds += (section.end - section.start) / section.speed;
    return static_cast<std::int64_t>(outputSeconds * bitsPerSecond * 0.125);
}

std::string ExportEditorSession::previewBadge() const {
    if (edit_.keptSections().empty()) return "No kept sections in range";
    const char* label = !draggingEdge_ ? "SRC" : *draggingEdge_ == RecordingEdit::Edge::start ? "START" : "END";
    return std::string(label) + " " + editorTimeText(playhead_);
}

// Edits.

void ExportEditorSession::stopPlayback() {
    services_.player->setRate(0);
    setPlaying(false);
}

void ExportEditorSession::seekPlayer(double time) { services_.player->seek(onSeekGrid(time)); }

void ExportEditorSession::seek(double time) {
    auto range = edit_.range();
    if (!(range.lower <= time && time <= range.upper)) return;
    stopPlayback();
    setPlayhead(time);
    seekPlayer(time);
}

void ExportEditorSession::setEdge(RecordingEdit::Edge edge, double time) {
    stopPlayback();
    auto next = edit_;
    next.moveEdge(edge, time);
    setEdit(std::move(next));
    previewEdge(edge);
}

void ExportEditorSession::beginTrim(RecordingEdit::Edge edge) {
    stopPlayback();
    publish(draggingEdge_, std::optional(edge), &ExportEditorSession::draggingEdgeChanged);
    auto next = edit_;
    next.beginRangeGesture();
    setEdit(std::move(next));
    previewEdge(edge);
}

void ExportEditorSession::dragTrim(double time) {
    if (!draggingEdge_) return;
    auto next = edit_;
    next.moveEdge(*draggingEdge_, time);
    setEdit(std::move(next));
    previewEdge(*draggingEdge_);
}

void ExportEditorSession::endTrim() {
    auto next = edit_;
    next.endRangeGesture();
    setEdit(std::move(next));
    publish(draggingEdge_, std::optional<RecordingEdit::Edge>(), &ExportEditorSession::draggingEdgeChanged);
}

void ExportEditorSession::split() {
    stopPlayback();
    auto next = edit_;
    next.split(playhead_);
    setEdit(std::move(next));
}

void ExportEditorSession::toggleRemoval() {
    stopPlayback();
    auto next = edit_;
    next.toggleRemoval(playhead_);
    setEdit(std::move(next));
}

void ExportEditorSession::speed(double value) {
    stopPlayback();
    bool allowed = false;
    for (double allowedSpeed : RecordingEdit::speeds) allowed = allowed || allowedSpeed == value;
    if (!allowed) return;
    auto next = edit_;
    next.setSpeed(value, playhead_);
    setEdit(std::move(next));
}

void ExportEditorSession::undo() {
    stopPlayback();
    auto next = edit_;
    next.undo();
    setEdit(std::move(next));
    auto range = edit_.range();
    seek(std::max(range.lower, std::min(range.upper, playhead_)));
}

bool ExportEditorSession::isAudioSource(std::int32_t id) const {
    for (const auto& source : facts_.sources) {
        if (source.id == id && isAudio(source.kind)) return true;
    }
    return false;
}

void ExportEditorSession::toggleMute(std::int32_t sourceID) {
    if (!isAudioSource(sourceID)) return;
    auto levels = audioLevels_;
    auto& level = levels[sourceID];
    level.toggleMute();
    publish(audioLevels_, std::move(levels), &ExportEditorSession::audioLevelsChanged);
    applyAudioMix();
}

void ExportEditorSession::setGain(float gain, std::int32_t sourceID) {
    if (!isAudioSource(sourceID)) return;
    auto levels = audioLevels_;
    levels[sourceID].setGain(gain);
    publish(audioLevels_, std::move(levels), &ExportEditorSession::audioLevelsChanged);
    applyAudioMix();
}

// Life and playback.

void ExportEditorSession::previewEdge(RecordingEdit::Edge edge) {
    auto range = edit_.range();
    if (edge == RecordingEdit::Edge::start) {
        setPlayhead(range.lower);
        seekPlayer(range.lower);
    } else {
        setPlayhead(range.upper);
        // The last picture inside the range, not the first one after it.
        seekPlayer(std::max(range.upper - 1.0 / kSeekTimescale, range.lower));
    }
}

void ExportEditorSession::applyAudioMix() {
    if (!started_) return;
    std::vector<platform::MediaTrack> tracks;
    for (const auto& source : facts_.sources) {
        if (isAudio(source.kind) && source.track) tracks.push_back(*source.track);
    }
    std::map<int, float> volumes;
    for (const auto& input : RecordingSources::audioMix(tracks, audioLevels_)) volumes[input.trackID] = input.volume;
    services_.player->setAudioMix(volumes);
}

void ExportEditorSession::start() {
    if (started_ || didComplete_) return;
    started_ = true;
    std::vector<platform::MediaTrack> tracks;
    for (const auto& source : facts_.sources) {
        if (source.track) tracks.push_back(*source.track);
    }
    try {
        // Paced at the rate the export uses: a still screen's own pictures come far apart.
        services_.player->prepare(tracks, facts_.sourceFrameRate);
    } catch (const std::exception&) {
        // Opening checked every track; a file changed since then plays what it can.
    }
    applyAudioMix();
    seekPlayer(0);
    std::weak_ptr<ExportEditorSession> weak = weak_from_this();
    services_.player->setObserver([weak](double time) {
        if (auto self = weak.lock()) self->tick(time);
    });
    platform::CancelToken cancel;
    previewCancel_ = cancel;
    auto loading = loadPreviews(shared_from_this(), cancel);
}

QCoro::Task<void> ExportEditorSession::loadPreviews(std::shared_ptr<ExportEditorSession> self, platform::CancelToken cancel) {
    std::exception_ptr failure;
    try {
        for (const auto& source : self->facts_.sources) {
            if (!isAudio(source.kind)) continue;
            auto loading = self->services_.loaders.waveform(source.id, kWaveformBins, cancel);
            auto peaks = co_await loading;
            if (cancel.isCancelled()) co_return;
            auto waveforms = self->waveforms_;
            waveforms[source.id] = std::move(peaks);
            self->publish(self->waveforms_, std::move(waveforms), &ExportEditorSession::waveformsChanged);
        }
        for (const auto& source : self->facts_.sources) {
            if (isAudio(source.kind)) continue;
            auto loading = self->services_.loaders.thumbnails(source, self->edit_.duration(), cancel);
            auto images = co_await loading;
            if (cancel.isCancelled()) co_return;
            auto thumbnails = self->thumbnails_;
            thumbnails[source.id] = std::move(images);
            self->publish(self->thumbnails_, std::move(thumbnails), &ExportEditorSession::thumbnailsChanged);
        }
    } catch (...) {
        failure = std::current_exception();
    }
    if (!failure || cancel.isCancelled() || isCancellation(failure)) co_return;
    self->publish(self->waveformError_, std::optional<std::string>("Source previews unavailable"),
                  &ExportEditorSession::waveformErrorChanged);
    self->log("export_waveform_failed error=" + logErrorText(failure));
}

void ExportEditorSession::tick(double time) {
    if (!playing_) return;
    auto t = edit_.playbackTime(time);
    if (t) {
        if (time + kJumpTolerance < *t) seekPlayer(*t);
        setPlayhead(*t);
        applyRate(*t);
        return;
    }
    // Past the last kept material: stop at the trim start, no loop.
    services_.player->setRate(0);
    setPlaying(false);
    double start = edit_.range().lower;
    setPlayhead(start);
    seekPlayer(start);
}

void ExportEditorSession::applyRate(double time) {
    const auto& section = edit_.sections()[edit_.index(time)];
    services_.player->setRate(static_cast<float>(section.speed));
}

void ExportEditorSession::togglePlayback() {
    if (playing_) {
        services_.player->setRate(0);
        setPlaying(false);
        return;
    }
    auto t = edit_.playbackTime(playhead_);
    if (!t) t = edit_.playbackTime(0);
    if (!t) return;
    setPlayhead(*t);
    seekPlayer(*t);
    setPlaying(true);
    applyRate(*t);
}

void ExportEditorSession::completeWithDiscardIfNeeded() {
    if (didComplete_ || isExporting_) return;
    didComplete_ = true;
    services_.player->setRate(0);
    setPlaying(false);
    if (previewCancel_) previewCancel_->cancel();
    services_.player->removeObserver();
    // The handler may close the window that holds the last reference to this editor.
    auto onOutcome = onOutcome_;
    if (onOutcome) onOutcome(hasSaved_ ? TrimPreviewOutcome::saved() : TrimPreviewOutcome::discarded());
}

void ExportEditorSession::log(std::string line) {
    auto writing = debugLog_->append(std::move(line));  // not awaited: the line goes out on its own
}

void ExportEditorSession::logKeyboard(int keyCode, std::uint64_t modifiers, const std::string& responderClass) {
    log("export_editor_key key_code=" + std::to_string(keyCode) + " playing=" + boolText(playing_) +
        " responder=" + (responderClass.empty() ? std::string("none") : responderClass) +
        " modifiers=" + std::to_string(modifiers));
}

void ExportEditorSession::logCloseRequest(bool hasSheet) {
    std::weak_ptr<ExportEditorSession> weak = weak_from_this();
    auto debugLog = debugLog_;
    bool exportingNow = isExporting_;
    platform::postToMain([weak, debugLog, hasSheet, exportingNow] {
        auto self = weak.lock();
        bool exporting = self ? self->isExporting_ : exportingNow;
        auto writing = debugLog->append(std::string("export_editor_close_requested sheet=") + boolText(hasSheet) +
                                        " exporting=" + boolText(exporting));
    });
}

// Export.

void ExportEditorSession::exportRecording() {
    if (isExporting_) return;
    auto kept = edit_.keptSections();
    if (kept.empty()) return;
    stopPlayback();
    publish(saved_, std::optional<RecordingExportResult>(), &ExportEditorSession::savedChanged);
    publish(errorMessage_, std::optional<std::string>(), &ExportEditorSession::errorMessageChanged);
    publish(isExporting_, true, &ExportEditorSession::isExportingChanged);
    setProgress({0, 1, static_cast<int>(kept.size()), std::nullopt});
    auto selection = edit_.selection(crop_, audioLevels_);
    auto profile = preset();
    platform::CancelToken cancel;
    exportCancel_ = cancel;
    auto running = runExport(shared_from_this(), ++exportGeneration_, std::move(selection), std::move(profile), cancel);
}

void ExportEditorSession::cancelExport() {
    if (isExporting_ && exportCancel_) exportCancel_->cancel();
}

QCoro::Task<void> ExportEditorSession::runExport(std::shared_ptr<ExportEditorSession> self, std::uint64_t generation,
                                                 TrimSelection selection, RecordingPreset profile,
                                                 platform::CancelToken cancel) {
    auto pixels = self->crop_.pixels(self->frameSize());
    std::string requested = "export_editor_export_requested start=" + logNumber(selection.sections.front().start) +
                            " end=" + logNumber(selection.sections.back().end) + " width=" + logNumber(pixels.width) +
                            " height=" + logNumber(pixels.height);
    auto writingRequest = self->debugLog_->append(std::move(requested));
    co_await writingRequest;

    std::weak_ptr<ExportEditorSession> weak = self;
    auto onProgress = [weak, generation](const RecordingExportProgress& value) {
        platform::postToMain([weak, generation, value] {
            auto session = weak.lock();
            if (!session || !session->isExporting_ || session->exportGeneration_ != generation) return;
            session->setProgress(value);
        });
    };
    std::optional<RecordingExportResult> result;
    std::exception_ptr failure;
    try {
        auto saving = self->saveHandler_->saveTrimPreview(std::move(selection), std::move(profile), onProgress, cancel);
        result = co_await saving;
    } catch (...) {
        failure = std::current_exception();
    }

    if (result) {
        auto writing = self->debugLog_->append("export_editor_export_completed destination=" + result->file.path);
        co_await writing;
        self->publish(self->saved_, std::optional(*result), &ExportEditorSession::savedChanged);
        self->hasSaved_ = true;
    } else if (isCancellation(failure)) {
        self->publish(self->errorMessage_, std::optional<std::string>(), &ExportEditorSession::errorMessageChanged);
    } else {
        std::string text;
        try {
            std::rethrow_exception(failure);
        } catch (const AppError& error) {
            text = UserFacingErrorMessagePolicy{}.message(error);
        } catch (const std::exception& error) {
            text = error.what();
        } catch (...) {
            text = "The export failed.";
        }
        self->publish(self->errorMessage_, std::optional(text), &ExportEditorSession::errorMessageChanged);
        auto writing = self->debugLog_->append("export_editor_failed error=" + logErrorText(failure));
        co_await writing;
    }
    self->exportCancel_.reset();
    self->publish(self->isExporting_, false, &ExportEditorSession::isExportingChanged);
}

void ExportEditorSession::reveal() {
    if (!saved_ || !services_.revealFile) return;
    publish(revealError_, std::optional<std::string>(), &ExportEditorSession::revealErrorChanged);
    QPointer<ExportEditorSession> self(this);
    services_.revealFile(saved_->file.path, [self](const std::string& folder) {
        if (!self) return;
        self->publish(self->revealError_, std::optional(platform::FileManagerReveal::failureMessage(folder)),
                      &ExportEditorSession::revealErrorChanged);
    });
}

void ExportEditorSession::clearSaved() {
    publish(revealError_, std::optional<std::string>(), &ExportEditorSession::revealErrorChanged);
    publish(saved_, std::optional<RecordingExportResult>(), &ExportEditorSession::savedChanged);
}

void ExportEditorSession::clearErrorMessage() {
    publish(errorMessage_, std::optional<std::string>(), &ExportEditorSession::errorMessageChanged);
}

}  // namespace yux
