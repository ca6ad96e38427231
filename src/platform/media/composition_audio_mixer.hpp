#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/media/audio_sample_reader.hpp"
#include "platform/media/audio_tempo_filter.hpp"
#include "platform/media/edit_composition.hpp"

namespace yux::platform {

// The audio of an edited composition as one stream of interleaved float stereo at 48000 Hz:
// per track and slot the source range is decoded, resampled, padded to where it lands in the
// slot, sped up with the pitch kept, cut to the slot's exact sample count, multiplied by the
// track's volume and summed. The sum is ours (no normalisation): a muted track leaves the others
// exactly as loud as alone.
class CompositionAudioMixer {
public:
    static constexpr int kSampleRate = AudioSampleReader::kSampleRate;
    static constexpr int kChannels = AudioSampleReader::kChannels;

    // `volumes` by track id; a track without an entry plays at 1.0.
    CompositionAudioMixer(std::string path, const EditComposition& composition, std::map<std::int32_t, float> volumes);
    ~CompositionAudioMixer();

    bool hasAudio() const { return !tracks_.empty(); }
    // round(mediaEnd × 48000), the composition's length unless its media ends earlier.
    std::int64_t totalFrames() const { return totalFrames_; }
    std::int64_t position() const { return position_; }

    // Writes the next frames of the mix into `out` (frames × 2 floats), limited to -1 ... 1
    // unless `limit` is false (a meter wants the true sum). Returns fewer only at the end.
    int mix(float* out, int frames, bool limit = true);

private:
    struct TrackState;

    std::int64_t slotStartFrame(std::size_t slot) const;
    void beginSlot(TrackState& state, std::size_t slot);
    void addSlotSamples(TrackState& state, float* out, int frames);

    std::string path_;
    const EditComposition& composition_;
    std::vector<std::unique_ptr<TrackState>> tracks_;
    std::int64_t totalFrames_ = 0;
    std::int64_t position_ = 0;
    std::size_t slot_ = 0;
    bool slotStarted_ = false;
};

}  // namespace yux::platform
