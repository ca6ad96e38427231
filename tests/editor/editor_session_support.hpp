#pragma once

// Editors over null services: a null player, scripted lane-preview loaders and save handler.

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPainter>
#include <cmath>

#include "editor/export_editor_session.hpp"
#include "platform/async/errors.hpp"
#include "platform/async/sleep.hpp"
#include "support/recording_debug_log.hpp"

namespace yux::testing {

inline std::shared_ptr<platform::MediaTrack> nullTrack(int id, platform::MediaTrackType type) {
    auto track = std::make_shared<platform::MediaTrack>();
    track->trackID = id;
    track->streamIndex = id - 1;
    track->type = type;
    return track;
}

inline RecordingSource nullSource(int id, RecordingSourceKind kind) {
    auto type = isAudio(kind) ? platform::MediaTrackType::audio : platform::MediaTrackType::video;
    return {id, kind, nullTrack(id, type)};
}

inline EditorSourceFacts nullFacts(double duration, std::vector<RecordingSource> sources) {
    EditorSourceFacts facts;
    facts.durationSeconds = duration;
    facts.sources = std::move(sources);
    facts.sourceSize = {1920, 1080};
    facts.sourceFrameRate = 60;
    facts.sourceCodec = RecordingVideoCodec::h264;
    return facts;
}

// A catalog of one preset, kept as given (the validating constructor would replace it).
inline PendingRecordingArtifact artifactWith(RecordingPreset preset, std::int64_t scratchBytes = 5000000,
                                             RecordingPresetID defaultID = "best") {
    return PendingRecordingArtifact::decoded("/tmp/Yux/Scratch/a.mov", Date{800000000.5}, 90, scratchBytes, {},
                                             RecordingPresetCatalog{{std::move(preset)}}, std::move(defaultID));
}

inline RecordingPreset bestH264Preset() {
    return {"best", "Best", 60, 1.0, 1.0, RecordingVideoCodec::h264, 1.0};
}

// Runs the event loop until `done` holds, or a minute passes (only a hang: a loaded sanitizer
// build takes seconds for what is at once elsewhere); `done` runs once per turn.
inline bool runUntil(const std::function<bool()>& done) {
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        if (done()) return true;
        if (timer.elapsed() >= 60'000) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
}

// Lets queued work run for a moment (for things that must not happen).
inline void settle(int milliseconds = 50) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < milliseconds) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

// A small picture a screen or camera lane could show: a desktop with a window that moves, or
// the camera's bubble on a transparent picture.
inline QImage scriptedThumbnail(RecordingSourceKind kind, int index) {
    QImage image(160, 90, QImage::Format_ARGB32);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    if (kind == RecordingSourceKind::camera) {
        image.fill(Qt::transparent);
        painter.setBrush(QColor(220, 40, 220));
        painter.setPen(Qt::NoPen);
        painter.drawEllipse(QPointF(120, 60), 22, 22);
    } else {
        image.fill(QColor(51, 102, 153));
        painter.fillRect(QRectF(12 + index * 8, 10, 90, 60), QColor(236, 236, 236));
        painter.fillRect(QRectF(12 + index * 8, 10, 90, 10), QColor(60, 60, 70));
    }
    return image;
}

// Scripted waveforms and thumbnails: each call answers at once from the script, or throws.
struct ScriptedLoaders {
    std::vector<std::string> calls;
    std::map<int, std::exception_ptr> failures;  // by track id
    // Calls hold until released (to test cancellation by completion).
    bool hold = false;
    bool released = false;

    EditorPreviewLoaders loaders() {
        EditorPreviewLoaders result;
        result.waveform = [this](std::int32_t id, int bins, platform::CancelToken cancel) -> QCoro::Task<std::vector<float>> {
            calls.push_back("waveform " + std::to_string(id) + " bins=" + std::to_string(bins));
            while (hold && !released) {
                auto waiting = platform::sleepFor(std::chrono::milliseconds(2), cancel);
                co_await waiting;
            }
            if (failures.count(id)) std::rethrow_exception(failures[id]);
            // Speech-like: louder and quieter stretches around a level of a tenth of the track id.
            std::vector<float> peaks(static_cast<std::size_t>(bins));
            for (int i = 0; i < bins; ++i) {
                double swell = 0.5 + 0.5 * std::sin(i * 0.11 + id) * std::sin(i * 0.023);
                peaks[static_cast<std::size_t>(i)] = static_cast<float>(std::min(1.0, id / 10.0 + 0.5 * swell));
            }
            co_return peaks;
        };
        result.thumbnails = [this](RecordingSource source, double duration,
                                   platform::CancelToken) -> QCoro::Task<std::vector<QImage>> {
            calls.push_back("thumbnails " + std::to_string(source.id) + " duration=" + std::to_string(duration));
            std::vector<QImage> images;
            for (int i = 0; i < 8; ++i) images.push_back(scriptedThumbnail(source.kind, i));
            co_return images;
        };
        return result;
    }
};

// A save handler whose answer the test gives: it waits until `answer` is set (or the export is
// cancelled), sending the progress reports queued in `reports` first.
class ScriptedSaveHandler : public TrimPreviewSaveHandling {
public:
    struct Call {
        TrimSelection selection;
        RecordingPreset profile;
    };
    std::vector<Call> calls;
    std::vector<ProgressHandler> progressHandlers;
    std::optional<std::function<RecordingExportResult()>> answer;

    QCoro::Task<RecordingExportResult> saveTrimPreview(TrimSelection selection, RecordingPreset profile,
                                                       ProgressHandler progress, platform::CancelToken cancel) override {
        calls.push_back({selection, profile});
        progressHandlers.push_back(progress);
        while (!answer) {
            auto waiting = platform::sleepFor(std::chrono::milliseconds(2), cancel);
            co_await waiting;
        }
        auto respond = *answer;
        answer.reset();
        co_return respond();
    }

    void succeed(std::string path, std::int64_t bytes = 1234) {
        answer = [path, bytes] { return RecordingExportResult{{path, Date{900000000}}, bytes}; };
    }
    void fail(std::exception_ptr error) {
        answer = [error]() -> RecordingExportResult { std::rethrow_exception(error); };
    }
};

// Counts each `...Changed` signal of an editor.
struct SignalCounts {
    std::map<std::string, int> counts;

    void watch(ExportEditorSession& session) {
        auto count = [this](const char* name) { return [this, name] { ++counts[name]; }; };
        QObject::connect(&session, &ExportEditorSession::editChanged, count("edit"));
        QObject::connect(&session, &ExportEditorSession::cropChanged, count("crop"));
        QObject::connect(&session, &ExportEditorSession::cropEditingChanged, count("cropEditing"));
        QObject::connect(&session, &ExportEditorSession::qualityChanged, count("quality"));
        QObject::connect(&session, &ExportEditorSession::scaleChanged, count("scale"));
        QObject::connect(&session, &ExportEditorSession::codecChanged, count("codec"));
        QObject::connect(&session, &ExportEditorSession::playheadChanged, count("playhead"));
        QObject::connect(&session, &ExportEditorSession::playingChanged, count("playing"));
        QObject::connect(&session, &ExportEditorSession::draggingEdgeChanged, count("draggingEdge"));
        QObject::connect(&session, &ExportEditorSession::sourcesExpandedChanged, count("sourcesExpanded"));
        QObject::connect(&session, &ExportEditorSession::audioLevelsChanged, count("audioLevels"));
        QObject::connect(&session, &ExportEditorSession::waveformsChanged, count("waveforms"));
        QObject::connect(&session, &ExportEditorSession::thumbnailsChanged, count("thumbnails"));
        QObject::connect(&session, &ExportEditorSession::waveformErrorChanged, count("waveformError"));
        QObject::connect(&session, &ExportEditorSession::isExportingChanged, count("isExporting"));
        QObject::connect(&session, &ExportEditorSession::progressChanged, count("progress"));
        QObject::connect(&session, &ExportEditorSession::savedChanged, count("saved"));
        QObject::connect(&session, &ExportEditorSession::errorMessageChanged, count("errorMessage"));
    }
    // The signals since the last call, as "name×count" in name order.
    std::string take() {
        std::ostringstream text;
        for (const auto& [name, n] : counts) text << name << "×" << n << " ";
        counts.clear();
        return text.str();
    }
};

}  // namespace yux::testing
