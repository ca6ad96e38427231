#include "platform/media/composition_audio_mixer.hpp"

#include <algorithm>
#include <optional>

namespace yux::platform {

namespace {
// Frames decoded per step; small enough to keep memory flat, large enough to amortise calls.
constexpr int kReadChunkFrames = 4096;

std::int64_t toFrames(MediaTime time) {
    return av_rescale(time.value, CompositionAudioMixer::kSampleRate, time.timescale);
}
}  // namespace

struct CompositionAudioMixer::TrackState {
    const EditComposition::Track* track = nullptr;
    float volume = 1.0f;
    std::unique_ptr<AudioSampleReader> reader;
    // The current slot.
    const EditComposition::Segment* segment = nullptr;
    std::int64_t emitted = 0;
    std::int64_t frontPad = 0;
    std::int64_t bodyLeft = 0;  // source frames still to read
    bool bodyDone = true;
    std::unique_ptr<AudioTempoFilter> tempo;
    std::vector<float> ready;
    std::size_t readyOffset = 0;
};

CompositionAudioMixer::CompositionAudioMixer(std::string path, const EditComposition& composition,
                                             std::map<std::int32_t, float> volumes)
    : path_(std::move(path)), composition_(composition) {
    for (const auto& track : composition.tracks()) {
        if (track.source.type != MediaTrackType::audio) continue;
        auto state = std::make_unique<TrackState>();
        state->track = &track;
        auto level = volumes.find(track.source.trackID);
        state->volume = level == volumes.end() ? 1.0f : level->second;
        tracks_.push_back(std::move(state));
    }
    // Past the end of every track's media there is nothing to mix (a header may claim hours more).
    totalFrames_ = toFrames(composition.mediaEnd());
}

CompositionAudioMixer::~CompositionAudioMixer() = default;

std::int64_t CompositionAudioMixer::slotStartFrame(std::size_t slot) const {
    if (slot >= composition_.slotList().size()) return totalFrames_;
    return toFrames(composition_.slotList()[slot].start);
}

void CompositionAudioMixer::beginSlot(TrackState& state, std::size_t slot) {
    state.segment = nullptr;
    state.emitted = 0;
    state.tempo.reset();
    state.ready.clear();
    state.readyOffset = 0;
    state.bodyDone = true;
    // A silent track is not decoded at all.
    if (state.volume == 0.0f) return;
    for (const auto& segment : state.track->segments) {
        if (segment.slot == slot) state.segment = &segment;
    }
    if (state.segment == nullptr) return;
    const auto& slotInfo = composition_.slotList()[slot];
    state.frontPad = std::max<std::int64_t>(0, toFrames(state.segment->outputStart) - slotStartFrame(slot));
    state.bodyLeft = toFrames(state.segment->sourceEnd) - toFrames(state.segment->sourceStart);
    state.bodyDone = state.bodyLeft <= 0;
    if (!state.reader) state.reader = std::make_unique<AudioSampleReader>(path_, state.track->source);
    state.reader->seek(state.segment->sourceStart);
    if (slotInfo.speed != 1.0) state.tempo = std::make_unique<AudioTempoFilter>(slotInfo.speed);
}

void CompositionAudioMixer::addSlotSamples(TrackState& state, float* out, int frames) {
    if (state.segment == nullptr) return;
    int done = 0;
    // Silence before a track that starts inside the slot.
    if (state.emitted < state.frontPad) {
        done = static_cast<int>(std::min<std::int64_t>(frames, state.frontPad - state.emitted));
    }
    std::vector<float> chunk;
    while (done < frames) {
        std::size_t available = (state.ready.size() - state.readyOffset) / kChannels;
        if (available == 0) {
            if (state.bodyDone) break;  // the rest of the slot stays silent
            state.ready.erase(state.ready.begin(), state.ready.begin() + static_cast<std::ptrdiff_t>(state.readyOffset));
            state.readyOffset = 0;
            int want = static_cast<int>(std::min<std::int64_t>(kReadChunkFrames, state.bodyLeft));
            chunk.resize(static_cast<std::size_t>(want) * kChannels);
            int got = state.reader->read(chunk.data(), want);
            state.bodyLeft -= got;
            if (got < want || state.bodyLeft <= 0) state.bodyDone = true;
            if (state.tempo) {
                state.tempo->push(chunk.data(), got);
                if (state.bodyDone) state.tempo->finish();
                auto& produced = state.tempo->output();
                state.ready.insert(state.ready.end(), produced.begin(), produced.end());
                produced.clear();
            } else {
                state.ready.insert(state.ready.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(got) * kChannels);
            }
            continue;
        }
        int take = static_cast<int>(std::min<std::size_t>(available, static_cast<std::size_t>(frames - done)));
        const float* source = state.ready.data() + state.readyOffset;
        float* target = out + static_cast<std::size_t>(done) * kChannels;
        for (int i = 0; i < take * kChannels; ++i) target[i] += source[i] * state.volume;
        state.readyOffset += static_cast<std::size_t>(take) * kChannels;
        done += take;
    }
    state.emitted += frames;
}

int CompositionAudioMixer::mix(float* out, int frames, bool limit) {
    int done = 0;
    std::fill(out, out + static_cast<std::size_t>(frames) * kChannels, 0.0f);
    while (done < frames && position_ < totalFrames_) {
        if (!slotStarted_) {
            for (auto& state : tracks_) beginSlot(*state, slot_);
            slotStarted_ = true;
        }
        std::int64_t slotEnd = std::min(slotStartFrame(slot_ + 1), totalFrames_);
        int chunk = static_cast<int>(std::min<std::int64_t>(frames - done, slotEnd - position_));
        if (chunk > 0) {
            for (auto& state : tracks_) addSlotSamples(*state, out + static_cast<std::size_t>(done) * kChannels, chunk);
            done += chunk;
            position_ += chunk;
        }
        if (position_ >= slotEnd) {
            // Whatever the slot's stream holds beyond its exact length is cut here.
            ++slot_;
            slotStarted_ = false;
        }
    }
    if (limit) {
        for (int i = 0; i < done * kChannels; ++i) out[i] = std::clamp(out[i], -1.0f, 1.0f);
    }
    return done;
}

}  // namespace yux::platform
