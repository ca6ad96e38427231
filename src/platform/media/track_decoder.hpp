#pragma once

#include <cstdint>
#include <string>

#include "platform/media/ffmpeg_support.hpp"
#include "platform/media/movie_track_reader.hpp"

namespace yux::platform {

// One track of a movie opened for decoding alone: the demuxer skips the other streams.
class TrackDecoder {
public:
    TrackDecoder(const std::string& path, const MediaTrack& track, bool threaded);

    AVStream* stream() const { return stream_; }
    // The next decoded frame into `frame`; false at the end of the track.
    bool next(AVFrame* frame);
    // Moves to the keyframe at or before `timestamp` (in the stream's time base).
    void seek(std::int64_t timestamp);

private:
    int streamIndex_ = 0;
    ffmpeg::InputContext input_;
    ffmpeg::CodecContext decoder_;
    AVStream* stream_ = nullptr;
    ffmpeg::Packet packet_;
    bool draining_ = false;
    bool ended_ = false;
};

}  // namespace yux::platform
