#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "platform/async/cancel_token.hpp"
#include "platform/media/composition_video_renderer.hpp"
#include "platform/media/edit_composition.hpp"

namespace yux::platform {

enum class VideoCodec { h264, hevc };

struct CompositionEncodeSettings {
    VideoCodec codec = VideoCodec::h264;
    std::int64_t videoBitsPerSecond = 0;
    double frameRate = 0;            // the output's constant rate
    PictureGeometry geometry;        // the encoded size is the crop's
    std::map<std::int32_t, float> volumes;  // by track id; 1.0 when absent
};

// Decodes an edited composition and writes it as a new QuickTime movie: one video track (H.264
// tagged avc1, or HEVC tagged hvc1) with pictures at the constant frame rate, and, when the
// composition has audio, one AAC track of the summed sources at 128000 bit/s, 48000 Hz stereo.
class CompositionEncoder {
public:
    static constexpr std::int64_t kAudioBitsPerSecond = 128000;
    // A keyframe at least every two seconds keeps the export seekable in any player.
    static constexpr double kKeyframeIntervalSeconds = 2.0;

    // Whether this FFmpeg build carries the video encoder for `codec`, and the AAC encoder (only
    // an export with sound needs it).
    static bool canEncode(VideoCodec codec);
    static bool canEncodeAudio();

    // Output time (seconds) of each picture written, for progress.
    using Progress = std::function<void(double outputSeconds)>;

    // Runs on the calling thread. The destination is created exclusively and removed on any
    // failure. Output ends where the composition's media ends, if that comes before its length.
    // Throws CancelledError when `cancel` fires (checked per picture and per audio frame),
    // OutputFileExistsError when the destination exists, MediaFailure for a failed step (its
    // sentence for users, the library's words as its cause). With `temporaryPath`, the movie is
    // written there and takes the destination's name only once whole.
    static void encode(const std::string& sourcePath, const std::string& destinationPath, const EditComposition& composition,
                       const CompositionEncodeSettings& settings, const Progress& progress, const CancelToken& cancel,
                       const std::string& temporaryPath = {});
};

}  // namespace yux::platform
