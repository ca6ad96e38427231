#pragma once

#include <cstdint>
#include <string>

#include "platform/media/ffmpeg_support.hpp"
#include "platform/media/movie_track_reader.hpp"

namespace yux::platform {

// One track of a movie opened for decoding alone: the demuxer skips the other streams.
// Damage inside the media is skipped as a player would: a packet or frame the decoder refuses is
// dropped (the last good picture stays on screen) and decoding goes on; a container that stops
// early ends the track there. Only failures that are not the media's (memory, the disk) throw.
class TrackDecoder {
public:
    // Throws ffmpeg::Error or std::runtime_error with a sentence of our own when the movie cannot
    // be opened or the track has no decoder.
    TrackDecoder(const std::string& path, const MediaTrack& track, bool threaded);

    AVStream* stream() const { return stream_; }
    // The next decoded frame into `frame`; false at the end of the track.
    bool next(AVFrame* frame);
    // Moves to the keyframe at or before `timestamp` (in the stream's time base).
    void seek(std::int64_t timestamp);
    // Back to the first packet of the file, for streams that carry no times to seek by.
    void rewind();
    // Packets and frames dropped as damaged so far.
    std::int64_t damagedCount() const { return damaged_; }

private:
    void feed();
    void restart();
    void skipDamage(int code);

    int streamIndex_ = 0;
    std::string step_;  // "The source movie's video cannot be decoded"
    ffmpeg::InputContext input_;
    ffmpeg::CodecContext decoder_;
    AVStream* stream_ = nullptr;
    ffmpeg::Packet packet_;
    bool packetPending_ = false;  // read, but the decoder asked to hand out frames first
    bool draining_ = false;
    bool ended_ = false;
    int failuresSinceFeed_ = 0;
    std::int64_t damaged_ = 0;
};

}  // namespace yux::platform
