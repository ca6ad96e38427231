#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/media/media_time.hpp"
#include "platform/media/movie_track_reader.hpp"

namespace yux::platform {

// A movie's tracks (as MovieTrackReader lists them) with what an export decides on besides:
// the duration as a number of seconds, each track's stored codec tag and its frame interval.
struct MediaAsset {
    std::string path;
    MediaTime duration;          // invalid when the file states none
    double durationSeconds = 0;  // NaN when the file states none
    std::vector<MediaTrack> tracks;
    // Samples the index lists are missing from the file, elsewhere than at the end of a take cut
    // short (see ffmpeg::WholeMedia): whatever is read of it is not the whole movie.
    bool missingInside = false;

    // Throws std::runtime_error when the file cannot be opened or read.
    static MediaAsset open(const std::string& path);
    // Whether the movie reads and holds no sample in any track, as a take killed before its first
    // fragment reached the file does. Throws std::runtime_error when it cannot be opened or read.
    static bool holdsNoSample(const std::string& path);

    // Throws std::runtime_error ("The movie cannot be read: the file ends early.") when
    // missingInside, for work that needs the whole movie.
    void requireWholeMedia() const;

    std::vector<MediaTrack> tracksOf(MediaTrackType type) const;
    // Four characters as stored ("avc1", "hvc1", "mp4a"); empty when the file stores none.
    std::string codecTag(const MediaTrack& track) const;
    // The shortest interval between two of the track's pictures, from the index (a variable-rate
    // track states no rate); invalid with fewer than two pictures.
    MediaTime minFrameDuration(const MediaTrack& track) const;

private:
    std::map<int, std::string> codecTags_;           // by stream index
    std::map<int, MediaTime> minFrameDurations_;
};

}  // namespace yux::platform
