#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/media/media_time.hpp"
#include "platform/media/sample_buffer.hpp"

struct AVFormatContext;

namespace yux::platform {

// Video tracks with this title carry their alpha plane stacked below the picture: the coded
// frame is twice the picture's height, the picture on top, the alpha as luma below. Only when the
// movie also holds a screen track of the same width and half that height; otherwise such a
// track is a plain picture.
inline constexpr std::string_view kStackedAlphaTrackTitle = "yux.source.camera";

enum class MediaTrackType { video, audio, other };

// One track of a movie on disk, as the reader found it.
struct MediaTrack {
    std::string path;  // the movie holding the track
    int streamIndex = -1;
    int trackID = 0;  // 1-based, in the order the tracks were written
    MediaTrackType type = MediaTrackType::other;
    std::string title;  // the handler name, else the title tag; empty when there is neither
    std::string codec;  // FFmpeg's codec name: "h264", "hevc", "aac", ...
    int width = 0;      // picture size; a stacked-alpha track reports the picture alone
    int height = 0;
    bool stackedAlpha = false;  // see kStackedAlphaTrackTitle
    MediaTime timeBase;  // one tick of the track's timestamps
    MediaTime start;     // first presentation time on the movie's timeline
    MediaTime duration;
    std::int64_t frameCount = 0;  // 0 when the container does not say
    int sampleRate = 0;
    int channels = 0;
    std::int64_t bitRate = 0;
};

// Decoded audio of one track: interleaved float32 at the track's rate and channel count.
struct DecodedAudio {
    AudioBuffer audio;
    MediaTime start;  // time of the first sample on the movie's timeline
};

// Lists a movie's tracks and decodes them back. Every read opens the file on its own, so one
// reader serves several threads as long as each read stays on its thread.
class MovieTrackReader {
public:
    // Throws std::runtime_error (a sentence of our own) when the file cannot be opened or read as
    // a movie.
    explicit MovieTrackReader(std::string path);
    // The tracks of `path` already opened with its stream information read (ffmpeg::openMovie),
    // so a caller that needs the demuxer too opens the file once.
    MovieTrackReader(std::string path, AVFormatContext* opened);

    const std::string& path() const { return path_; }
    const std::vector<MediaTrack>& tracks() const { return tracks_; }
    // Where the last picture or sound track ends, from the tracks' sample tables (the header's
    // claim only for tracks that state no length). Invalid when neither is known.
    MediaTime duration() const { return duration_; }
    // The first track with this title, or null.
    const MediaTrack* trackTitled(std::string_view title) const;

    // Decodes a video track in presentation order into BGRA frames stamped on the movie's
    // timeline. Stacked alpha is unpacked into the alpha channel; other tracks are opaque.
    // `visit` returns false to stop early. Damaged pictures are skipped.
    void readVideo(const MediaTrack& track, const std::function<bool(const SampleBuffer&)>& visit) const;
    std::vector<SampleBuffer> videoFrames(const MediaTrack& track, std::size_t limit = SIZE_MAX) const;
    // The whole track at the rate and channel count of its first frame; later frames of another
    // layout or rate are converted to them.
    DecodedAudio readAudio(const MediaTrack& track) const;

private:
    std::string path_;
    std::vector<MediaTrack> tracks_;
    MediaTime duration_;
};

}  // namespace yux::platform
