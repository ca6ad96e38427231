#include "editor/recording_waveform.hpp"

#include <algorithm>
#include <cmath>

#include "editor/worker_task.hpp"
#include "model/app_error.hpp"
#include "platform/media/composition_audio_mixer.hpp"
#include "platform/media/media_asset.hpp"

namespace yux {

namespace {
// Frames mixed per step: the memory held besides the bins, and the cancellation granularity.
constexpr int kBlockFrames = 4096;
}  // namespace

std::optional<int> RecordingWaveform::binIndex(double time, double duration, int bins) {
    double position = time / duration * bins;
    if (!std::isfinite(position)) return std::nullopt;
    position = std::clamp(position, 0.0, static_cast<double>(bins - 1));
    return static_cast<int>(position);
}

void RecordingWaveform::normalise(std::vector<float>& peaks) {
    float loudest = 0;
    for (float peak : peaks) loudest = std::max(loudest, peak);
    if (!(loudest > 0)) return;
    for (float& peak : peaks) peak = std::min(peak / loudest, 1.0f);
}

QCoro::Task<std::vector<float>> RecordingWaveform::peaks(std::string moviePath, std::optional<std::int32_t> trackID, int bins,
                                                         platform::CancelToken cancel) {
    auto work = [moviePath, trackID, bins, cancel]() -> std::vector<float> {
        auto asset = platform::MediaAsset::open(moviePath);
        std::vector<platform::MediaTrack> kept;
        for (const auto& track : asset.tracksOf(platform::MediaTrackType::audio)) {
            if (!trackID || track.trackID == *trackID) kept.push_back(track);
        }
        if (kept.empty()) return {};
        double duration = asset.durationSeconds;
        if (bins < 1 || !std::isfinite(duration) || !(duration > 0)) {
            throw AppError::outputFinalizationFailed("Invalid waveform duration");
        }
        // The whole recording as one section: each sample lands at its own time from zero.
        auto composition = platform::EditComposition::build(kept, {{0.0, duration, 1.0}});
        platform::CompositionAudioMixer mixer(moviePath, composition, {});
        std::vector<float> peaks(static_cast<std::size_t>(bins), 0.0f);
        std::vector<float> block(static_cast<std::size_t>(kBlockFrames) * platform::CompositionAudioMixer::kChannels);
        while (true) {
            cancel.throwIfCancelled();
            std::int64_t first = mixer.position();
            int frames = mixer.mix(block.data(), kBlockFrames, false);
            for (int f = 0; f < frames; ++f) {
                double time = static_cast<double>(first + f) / platform::CompositionAudioMixer::kSampleRate;
                auto bin = binIndex(time, duration, bins);
                if (!bin) continue;
                float& peak = peaks[static_cast<std::size_t>(*bin)];
                for (int c = 0; c < platform::CompositionAudioMixer::kChannels; ++c) {
                    peak = std::max(peak, std::abs(block[static_cast<std::size_t>(f) * 2 + c]));
                }
            }
            if (frames < kBlockFrames) break;
        }
        normalise(peaks);
        return peaks;
    };
    auto decoding = onWorkerThread(std::move(work));
    co_return co_await decoding;
}

}  // namespace yux
