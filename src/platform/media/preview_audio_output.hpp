#pragma once

#include <cstdint>
#include <functional>

namespace yux::platform {

// Where the preview player sends its sound: interleaved float stereo at 48000 Hz. Writes never
// block; the player writes what writableFrames() allows. Its played position is the master clock.
struct PreviewAudioOutput {
    static constexpr int kSampleRate = 48000;
    static constexpr int kChannels = 2;

    // False when there is no sound server; the player then runs silent on the host clock.
    std::function<bool()> open;
    std::function<int()> writableFrames;
    std::function<void(const float*, int frames)> write;
    // Corked: nothing plays and the played position stands still.
    std::function<void(bool corked)> cork;
    // Drops what was written and not played yet.
    std::function<void()> flush;
    // Frames played since open, counted on the output's own clock.
    std::function<std::int64_t()> playedFrames;
    std::function<void()> close;
};

}  // namespace yux::platform
