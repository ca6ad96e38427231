#pragma once

#include <functional>
#include <stdexcept>
#include <string>

#include "platform/async/cancel_token.hpp"

struct AVPacket;
struct AVStream;

namespace yux::platform {

// Copies a whole movie into a new QuickTime file without decoding: every stream keeps its codec,
// codec tag, time base, handler name, disposition, display matrix and track id.
class MovieRemuxer {
public:
    // Reports the share of the source read so far (0 ... 1), first when copying starts, then at
    // most once per kProgressInterval.
    using Progress = std::function<void(double fraction)>;

    static constexpr double kProgressIntervalSeconds = 0.1;

    static constexpr const char* kIncompleteText = "Fast export did not complete";
    // The source could not be read to its end (data missing or unreadable), or the copy does not
    // last as long as the source: what() is kIncompleteText.
    class IncompleteCopyError : public std::runtime_error {
    public:
        IncompleteCopyError();
    };

    // Runs on the calling thread. Throws CancelledError when `cancel` fires (checked per packet),
    // IncompleteCopyError, or std::runtime_error (a sentence of our own) for other file and
    // library failures. The destination is created exclusively and removed on any failure. A take
    // cut inside its last fragment is copied up to each track's last whole sample (the length its
    // reader states); data missing anywhere else is IncompleteCopyError. With `temporaryPath`,
    // the copy is written there and takes the destination's name only once whole.
    static void copy(const std::string& sourcePath, const std::string& destinationPath,
                     const Progress& progress, const CancelToken& cancel, const std::string& temporaryPath = {});

    // The muxer takes every sample's length from the next sample's time except the last one's,
    // which is its packet's own; the library may give it none, or a whole codec frame. Gives
    // `last` (the stream's last packet, in the stream's time base) the length that ends it where
    // the stream's index says the track ends, when that is at most a little more than what it
    // carries: anything more would hide a cut.
    static void endAtTrackEnd(const AVStream* stream, AVPacket* last);
};

}  // namespace yux::platform
