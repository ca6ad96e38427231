#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/media/media_time.hpp"

namespace yux::platform {

enum class MediaType { video, audio, other };

// One track of a movie file as the readers of the media pipeline need it.
struct MediaTrack {
    std::int32_t id = 0;      // the movie's track id
    int streamIndex = 0;      // its stream in libavformat
    MediaType mediaType = MediaType::other;
    std::string title;        // handler name, or the title tag when the file has one
    std::string codecName;    // "h264", "hevc", "aac", ...
    std::string codecTag;     // four characters as stored ("avc1", "hvc1", "mp4a"), empty if none
    int width = 0;            // pictures; for the stacked-alpha camera track the stored height
    int height = 0;
    int sampleRate = 0;       // audio
    int channels = 0;
    MediaTime start;          // the track's time range
    MediaTime duration;
    // The shortest interval between two of the track's pictures, from the index; invalid
    // when the track has fewer than two pictures. Variable-rate tracks carry no rate.
    MediaTime minFrameDuration;

    MediaTime end() const { return start + duration; }
};

// The tracks and duration of a movie file, read once when it is opened.
struct MediaAsset {
    std::string path;
    // The movie's own duration; invalid when the file states none.
    MediaTime duration;
    double durationSeconds = 0;  // NaN when the file states no duration
    std::vector<MediaTrack> tracks;

    // Throws std::runtime_error (ffmpeg::Error) when the file cannot be opened or read.
    static MediaAsset open(const std::string& path);

    std::vector<MediaTrack> tracksOf(MediaType type) const;
};

}  // namespace yux::platform
