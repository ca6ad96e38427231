#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <QCoroTask>

#include "model/recording_source.hpp"
#include "platform/async/cancel_token.hpp"
#include "platform/media/movie_track_reader.hpp"
#include "platform/media/pixel_buffer.hpp"

namespace yux {

// One audio track's volume in a mix.
struct AudioMixInput {
    std::int32_t trackID = 0;
    float volume = 1.0f;
    bool operator==(const AudioMixInput&) const = default;
};
using AudioMix = std::vector<AudioMixInput>;

// The tracks of a recording as sources by kind, the mix of their volumes, and preview strips.
struct RecordingSources {
    static constexpr int kThumbnailCount = 8;
    static constexpr int kThumbnailMaxWidth = 160;
    static constexpr int kThumbnailMaxHeight = 90;

    // The video and audio tracks of a movie as sources, in lane order (screen, camera, system
    // audio, microphone, audio); tracks of the same kind keep the movie's order, video first.
    // Runs the file reading on a worker thread; throws what the reader throws.
    static QCoro::Task<std::vector<RecordingSource>> load(std::string moviePath);
    // The same for tracks already listed.
    static std::vector<RecordingSource> sources(const std::vector<platform::MediaTrack>& tracks);

    // One entry per track, in the given order: 1.0 without a level, 0.0 when muted, else the
    // level's gain as it is.
    static AudioMix audioMix(const std::vector<platform::MediaTrack>& tracks,
                             const std::map<std::int32_t, RecordingAudioLevel>& levels);

    // Eight pictures of a video source at duration × i ÷ 8, held inside the track, each within
    // 160 × 90; the camera's keep their alpha. Cancelling stops before the next picture.
    static QCoro::Task<std::vector<platform::PixelBuffer>> thumbnails(RecordingSource source, double duration,
                                                                      platform::CancelToken cancel = {});
    // The times thumbnails() takes its pictures at, in seconds.
    static std::vector<double> thumbnailTimes(const platform::MediaTrack& track, double duration);
};

}  // namespace yux
