#include "editor/recording_sources.hpp"

#include <algorithm>

#include "editor/worker_task.hpp"
#include "model/app_error.hpp"
#include "platform/media/video_thumbnailer.hpp"

namespace yux {

namespace {

// Thumbnails of a track's last moment would show nothing; the last picture starts before its end.
constexpr double kTrackEndMargin = 0.001;

std::size_t laneIndex(RecordingSourceKind kind) {
    auto found = std::find(kAllRecordingSourceKinds.begin(), kAllRecordingSourceKinds.end(), kind);
    return static_cast<std::size_t>(found - kAllRecordingSourceKinds.begin());
}

}  // namespace

std::vector<RecordingSource> RecordingSources::sources(const std::vector<platform::MediaTrack>& tracks) {
    std::vector<RecordingSource> result;
    for (auto type : {platform::MediaTrackType::video, platform::MediaTrackType::audio}) {
        for (const auto& track : tracks) {
            if (track.type != type) continue;
            auto kind = recordingSourceKindFromTitle(track.title);
            if (!kind) kind = type == platform::MediaTrackType::audio ? RecordingSourceKind::audio : RecordingSourceKind::screen;
            result.push_back({track.trackID, *kind, std::make_shared<const platform::MediaTrack>(track)});
        }
    }
    std::stable_sort(result.begin(), result.end(),
                     [](const RecordingSource& a, const RecordingSource& b) { return laneIndex(a.kind) < laneIndex(b.kind); });
    return result;
}

QCoro::Task<std::vector<RecordingSource>> RecordingSources::load(std::string moviePath) {
    auto read = [moviePath] { return platform::MovieTrackReader(moviePath).tracks(); };
    auto reading = onWorkerThread(std::move(read));
    auto tracks = co_await reading;
    co_return sources(tracks);
}

AudioMix RecordingSources::audioMix(const std::vector<platform::MediaTrack>& tracks,
                                    const std::map<std::int32_t, RecordingAudioLevel>& levels) {
    AudioMix mix;
    for (const auto& track : tracks) {
        auto level = levels.find(track.trackID);
        float volume = level == levels.end() ? 1.0f : level->second.muted ? 0.0f : level->second.gain;
        mix.push_back({track.trackID, volume});
    }
    return mix;
}

std::vector<double> RecordingSources::thumbnailTimes(const platform::MediaTrack& track, double duration) {
    double start = track.start.isValid() ? track.start.seconds() : 0.0;
    double end = track.duration.isValid() ? start + track.duration.seconds() : duration;
    std::vector<double> times;
    for (int i = 0; i < kThumbnailCount; ++i) {
        double wanted = duration * i / kThumbnailCount;
        times.push_back(std::max(start, std::min(wanted, end - kTrackEndMargin)));
    }
    return times;
}

QCoro::Task<std::vector<platform::PixelBuffer>> RecordingSources::thumbnails(RecordingSource source, double duration,
                                                                             platform::CancelToken cancel) {
    if (!source.track || source.track->type != platform::MediaTrackType::video) {
        throw AppError::outputFinalizationFailed("Cannot read source thumbnails");
    }
    std::vector<platform::MediaTime> times;
    for (double t : thumbnailTimes(*source.track, duration)) {
        times.push_back(platform::MediaTime::fromSeconds(t, 60000));
    }
    auto track = *source.track;
    auto render = [track, times, cancel] {
        return platform::VideoThumbnailer::pictures(track, times, kThumbnailMaxWidth, kThumbnailMaxHeight, cancel);
    };
    auto rendering = onWorkerThread(std::move(render));
    co_return co_await rendering;
}

}  // namespace yux
