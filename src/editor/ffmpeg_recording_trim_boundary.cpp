#include "editor/ffmpeg_recording_trim_boundary.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <map>

#include "model/log_text.hpp"
#include "editor/recording_sources.hpp"
#include "editor/worker_task.hpp"
#include "model/app_error.hpp"
#include "model/recording_encoding_policy.hpp"
#include "platform/async/main_thread.hpp"
#include "platform/media/composition_encoder.hpp"
#include "platform/media/edit_composition.hpp"
#include "platform/media/exclusive_output_file.hpp"
#include "platform/media/media_asset.hpp"
#include "platform/media/media_failure.hpp"
#include "platform/media/movie_remuxer.hpp"
#include "platform/media/stored_frame_rate.hpp"
#include "session/recording_export_policy.hpp"

namespace yux {

namespace {

using Clock = std::chrono::steady_clock;

// A section may end this far past the recording's duration (rounding of the editor's times).
constexpr double kSectionEndTolerance = 0.001;
// Reported fractions stay below 1 until the destination is complete.
constexpr double kMaximumRunningFraction = 0.99;
// Below this share no remaining time is estimated: the first moments say nothing about speed.
constexpr double kEstimateThreshold = 0.01;
// At most one progress report per this many seconds of wall-clock time.
constexpr double kReportIntervalSeconds = 0.1;
// Index gaps of a variable-rate screen track can be tiny; the export never runs faster than this.
constexpr double kMaximumFrameRate = 120.0;
// A stored rate below this is no screen recording's (a damaged or foreign value).
constexpr double kMinimumStoredFrameRate = 1.0;
// A screen track of one picture (a still screen) without a stored rate: the usual screen rate.
constexpr double kSinglePictureFrameRate = 30.0;

constexpr const char* kSourceUnreadable = "The source movie cannot be read.";
constexpr const char* kMovieUnreadable = "The movie cannot be read.";

AppError failure(const char* detail) { return AppError::outputFinalizationFailed(detail); }

double secondsSince(Clock::time_point started) {
    return std::chrono::duration<double>(Clock::now() - started).count();
}

bool isAllowedSpeed(double speed) {
    return std::find(std::begin(RecordingEdit::speeds), std::end(RecordingEdit::speeds), speed) != std::end(RecordingEdit::speeds);
}

void validate(const std::vector<RecordingEdit::Section>& sections, double duration) {
    if (sections.empty()) throw failure("Select at least one valid section");
    for (const auto& s : sections) {
        bool valid = std::isfinite(s.start) && std::isfinite(s.end) && s.start >= 0 &&
                     s.end <= duration + kSectionEndTolerance && s.start < s.end && isAllowedSpeed(s.speed);
        if (!valid) throw failure("Select at least one valid section");
    }
    double previousEnd = 0;
    for (const auto& s : sections) {
        if (!(previousEnd <= s.start)) throw failure("Sections overlap");
        previousEnd = s.end;
    }
}

// Appends a line from a worker thread; lines keep their order on the main thread.
void postLogLine(const std::shared_ptr<DebugLogBoundary>& log, std::string line) {
    platform::postToMain([log, line = std::move(line)] { [[maybe_unused]] auto task = log->append(line); });
}

}  // namespace

FfmpegRecordingTrimBoundary::FfmpegRecordingTrimBoundary(std::shared_ptr<DebugLogBoundary> debugLog)
    : debugLog_(std::move(debugLog)) {}

RecordingExportProgress FfmpegRecordingTrimBoundary::copyProgress(double fraction, double elapsedSeconds) {
    RecordingExportProgress progress;
    progress.fraction = std::min(fraction, kMaximumRunningFraction);
    progress.section = 1;
    progress.sectionCount = 1;
    if (progress.fraction > kEstimateThreshold) {
        progress.remainingSeconds = (1 - progress.fraction) * elapsedSeconds / progress.fraction;
    }
    return progress;
}

RecordingExportProgress FfmpegRecordingTrimBoundary::encodingProgress(double fraction,
                                                                      const std::vector<RecordingEdit::Section>& sections,
                                                                      double elapsedSeconds) {
    RecordingExportProgress progress;
    progress.fraction = fraction;
    progress.sectionCount = static_cast<int>(sections.size());
    double total = 0;
    for (const auto& s : sections) total += (s.end - s.start) / s.speed;
    double reached = fraction * total;
    double sum = 0;
    progress.section = progress.sectionCount;
    for (std::size_t k = 0; k < sections.size(); ++k) {
        sum += (sections[k].end - sections[k].start) / sections[k].speed;
        if (reached < sum) {
            progress.section = static_cast<int>(k + 1);
            break;
        }
    }
    if (fraction > kEstimateThreshold) progress.remainingSeconds = (1 - fraction) * elapsedSeconds / fraction;
    return progress;
}

FfmpegRecordingTrimBoundary::ToldFailure FfmpegRecordingTrimBoundary::toldFailure(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const platform::MediaFailure& failed) {
        if (failed.isFixedText()) return {std::make_exception_ptr(failure(failed.what())), failed.cause()};
        return {error, failed.cause()};
    } catch (const platform::OutputFileExistsError&) {
        // Created by another program between the check and the write.
        return {std::make_exception_ptr(failure("Export destination already exists")), {}};
    } catch (...) {
        return {error, {}};
    }
}

double FfmpegRecordingTrimBoundary::exportFrameRate(std::optional<double> storedRate, platform::MediaTime minimumInterval) {
    if (storedRate && std::isfinite(*storedRate) && *storedRate >= kMinimumStoredFrameRate) {
        return std::min(*storedRate, kMaximumFrameRate);
    }
    double interval = minimumInterval.isValid() ? minimumInterval.seconds() : 0;
    if (!(interval > 0)) return kSinglePictureFrameRate;
    return std::min(1.0 / interval, kMaximumFrameRate);
}

QCoro::Task<double> FfmpegRecordingTrimBoundary::loadDurationSeconds(std::string filePath) {
    auto probe = [filePath] {
        return platform::toldAs(kMovieUnreadable, false, [&] { return platform::MediaAsset::open(filePath).durationSeconds; });
    };
    auto probing = onWorkerThread(std::move(probe));
    double seconds = co_await probing;
    if (!std::isfinite(seconds) || !(seconds > 0)) throw failure("Invalid media duration");
    co_return seconds;
}

QCoro::Task<void> FfmpegRecordingTrimBoundary::exportTrimmedSegment(std::string sourcePath, std::string destinationPath,
                                                                    TrimSelection selection, RecordingPreset preset,
                                                                    ProgressHandler progress, platform::CancelToken cancel,
                                                                    std::string temporaryPath) {
    if (sourcePath == destinationPath) throw failure("Export cannot replace source");
    const auto started = Clock::now();
    co_await debugLog_->append("trim_export_progress phase=preparing fraction=0 source=" + sourcePath);

    std::exception_ptr error;
    const char* mode = "copy";
    try {
        cancel.throwIfCancelled();
        auto open = [sourcePath] {
            return platform::toldAs(kSourceUnreadable, false, [&] { return platform::MediaAsset::open(sourcePath); });
        };
        auto opening = onWorkerThread(std::move(open));
        auto asset = co_await opening;
        // Whatever lies past missing data would come out as a frozen picture and silence.
        asset.requireWholeMedia();
        // An infinite duration would let any section through; nothing can be cut from it.
        if (!std::isfinite(asset.durationSeconds) || !(asset.durationSeconds > 0)) throw failure("Invalid media duration");
        validate(selection.sections, asset.durationSeconds);
        auto videos = asset.tracksOf(platform::MediaTrackType::video);
        auto audios = asset.tracksOf(platform::MediaTrackType::audio);
        if (videos.empty()) throw failure("Recording has no video track");
        const auto& sourceVideo = videos.front();
        bool hevc = preset.codec == RecordingVideoCodec::hevc;
        bool matchesCodec = asset.codecTag(sourceVideo) == (hevc ? "hvc1" : "avc1");
        auto reasons = RecordingExportPolicy::reencodeReasons(selection, asset.durationSeconds, preset.sharpness,
                                                              preset.resolutionScale, matchesCodec, videos.size() >= 2,
                                                              audios.size() >= 2);

        auto parent = std::filesystem::path(destinationPath).parent_path();
        if (!parent.empty()) {
            platform::toldAs("The folder for the exported movie cannot be created.", false,
                             [&] { std::filesystem::create_directories(parent); });
        }
        std::error_code unknown;
        if (std::filesystem::exists(std::filesystem::symlink_status(destinationPath, unknown))) {
            throw failure("Export destination already exists");
        }

        if (reasons.empty()) {
            auto copy = [=] {
                platform::toldAs("Fast export did not complete", true, [&] {
                    try {
                        platform::MovieRemuxer::copy(
                            sourcePath, destinationPath,
                            [&](double fraction) {
                                if (progress) progress(copyProgress(fraction, secondsSince(started)));
                            },
                            cancel, temporaryPath);
                    } catch (const std::exception& error) {
                        // A full disk is worth telling as such.
                        int written = platform::writeErrorNumber(error);
                        if (written != 0) throw platform::MediaFailure(platform::outputWriteSentence(written), error.what());
                        throw;
                    }
                });
            };
            auto copying = onWorkerThread(std::move(copy));
            co_await copying;
        } else {
            mode = "encode";
            auto readRate = [sourcePath] { return platform::storedScreenFrameRate(sourcePath); };
            auto reading = onWorkerThread(std::move(readRate));
            double frameRate = exportFrameRate(co_await reading, asset.minFrameDuration(sourceVideo));

            auto geometry = RecordingOutputGeometry::scaled(sourceVideo.width, sourceVideo.height,
                                                            AffineTransform::identity(), preset.resolutionScale);
            Rect crop = selection.crop.pixels(Size{static_cast<double>(geometry.width), static_cast<double>(geometry.height)});
            platform::CompositionEncodeSettings settings;
            settings.codec = hevc ? platform::VideoCodec::hevc : platform::VideoCodec::h264;
            if (!platform::CompositionEncoder::canEncode(settings.codec)) throw failure("Video encoder unavailable");
            if (!audios.empty() && !platform::CompositionEncoder::canEncodeAudio()) throw failure("Audio encoder unavailable");
            settings.videoBitsPerSecond = RecordingEncodingPolicy().targetVideoBitsPerSecond(preset);
            settings.frameRate = frameRate;
            settings.geometry = {geometry.width,
                                 geometry.height,
                                 static_cast<int>(crop.x),
                                 static_cast<int>(crop.y),
                                 static_cast<int>(crop.width),
                                 static_cast<int>(crop.height)};
            for (const auto& input : RecordingSources::audioMix(audios, selection.audioLevels)) {
                settings.volumes[input.trackID] = input.volume;
            }

            std::vector<platform::EditSection> sections;
            for (const auto& s : selection.sections) sections.push_back({s.start, s.end, s.speed});
            std::vector<platform::MediaTrack> tracks = videos;
            tracks.insert(tracks.end(), audios.begin(), audios.end());
            auto log = debugLog_;
            auto encode = [=] {
                auto composition = platform::EditComposition::build(tracks, sections);
                // Sections where no track has media would make a movie without a picture.
                if (composition.mediaEnd().value <= 0) throw failure("The selected sections hold no media");
                double outputLength = composition.duration().seconds();
                double fraction = 0;
                auto lastReport = Clock::time_point::min();
                int lastBucket = -1;
                platform::CompositionEncoder::encode(
                    sourcePath, destinationPath, composition, settings,
                    [&](double outputSeconds) {
                        if (outputLength > 0) {
                            fraction = std::max(fraction, std::min(outputSeconds / outputLength, kMaximumRunningFraction));
                        }
                        auto now = Clock::now();
                        if (lastReport != Clock::time_point::min() &&
                            std::chrono::duration<double>(now - lastReport).count() < kReportIntervalSeconds) {
                            return;
                        }
                        lastReport = now;
                        if (progress) progress(encodingProgress(fraction, selection.sections, secondsSince(started)));
                        int bucket = static_cast<int>(fraction * 10);
                        if (bucket != lastBucket) {
                            lastBucket = bucket;
                            postLogLine(log, "trim_export_progress phase=encoding fraction=" + logNumber(fraction) +
                                                 " elapsed=" + logNumber(secondsSince(started)));
                        }
                    },
                    cancel, temporaryPath);
            };
            auto encoding = onWorkerThread(std::move(encode));
            co_await encoding;
        }
    } catch (...) {
        error = std::current_exception();
    }
    if (error) {
        auto told = toldFailure(error);
        std::string line = "trim_export_failed source=" + sourcePath + " detail=" + logErrorText(told.error);
        if (!told.cause.empty()) line += " cause=" + told.cause;
        co_await debugLog_->append(line);
        std::rethrow_exception(told.error);
    }

    int count = static_cast<int>(selection.sections.size());
    if (progress) progress(RecordingExportProgress{1.0, count, count, 0.0});
    co_await debugLog_->append("trim_export_progress phase=completed fraction=1 elapsed=" + logNumber(secondsSince(started)) +
                               " mode=" + mode);
}

}  // namespace yux
