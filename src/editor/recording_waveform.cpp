#include "editor/recording_waveform.hpp"

#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>

#include "editor/worker_task.hpp"
#include "model/app_error.hpp"
#include "platform/media/audio_sample_reader.hpp"
#include "platform/media/media_asset.hpp"

namespace yux {

namespace {
// Frames read per step: the memory held besides the bins, and the cancellation granularity.
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

RecordingWaveform::SampleFormat RecordingWaveform::sampleFormat(const std::vector<platform::MediaTrack>& tracks) {
    SampleFormat format;
    for (const auto& track : tracks) {
        // A track without channels or a rate has no samples to place in time.
        if (track.channels <= 0 || track.sampleRate <= 0) {
            throw AppError::outputFinalizationFailed("Invalid audio waveform format");
        }
        format.rate = std::max(format.rate, track.sampleRate);
        format.channels = std::max(format.channels, track.channels);
    }
    return format;
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
        // Every sample at the source's own rate and placed by its own time: the tracks are read
        // from the earliest start (a sample before 0 lands in the first bin) to their ends.
        auto [rate, channels] = sampleFormat(kept);
        platform::MediaTime from = platform::MediaTime::zero();
        for (const auto& track : kept) {
            if (track.start.isValid() && track.start < from) from = track.start;
        }
        std::vector<std::unique_ptr<platform::AudioSampleReader>> readers;
        for (const auto& track : kept) {
            readers.push_back(std::make_unique<platform::AudioSampleReader>(moviePath, track, rate, channels));
            readers.back()->seek(from);
        }
        const double firstSecond = from.seconds();
        const auto blockSize = static_cast<std::size_t>(kBlockFrames) * static_cast<std::size_t>(channels);
        std::vector<float> peaks(static_cast<std::size_t>(bins), 0.0f);
        std::vector<float> mix(blockSize);
        std::vector<float> block(blockSize);
        std::int64_t position = 0;
        while (true) {
            cancel.throwIfCancelled();
            // Where every track is silent the peaks stay 0: stepped over rather than read, so the
            // work follows the sound, not a start the index may place years in.
            std::optional<std::int64_t> silent;
            for (auto& reader : readers) {
                if (auto ahead = reader->silenceAhead()) silent = std::min(silent.value_or(*ahead), *ahead);
            }
            if (!silent) break;
            if (*silent > 0) {
                for (auto& reader : readers) reader->skipSilence(*silent);
                position += *silent;
                continue;
            }
            std::fill(mix.begin(), mix.end(), 0.0f);
            int frames = 0;
            for (auto& reader : readers) {
                int got = reader->read(block.data(), kBlockFrames);
                for (std::size_t i = 0; i < static_cast<std::size_t>(got) * channels; ++i) mix[i] += block[i];
                frames = std::max(frames, got);
            }
            for (int f = 0; f < frames; ++f) {
                double time = firstSecond + static_cast<double>(position + f) / rate;
                auto bin = binIndex(time, duration, bins);
                if (!bin) continue;
                float& peak = peaks[static_cast<std::size_t>(*bin)];
                for (int c = 0; c < channels; ++c) {
                    peak = std::max(peak, std::abs(mix[static_cast<std::size_t>(f) * channels + c]));
                }
            }
            position += frames;
            if (frames < kBlockFrames) break;
        }
        normalise(peaks);
        return peaks;
    };
    auto decoding = onWorkerThread(std::move(work));
    co_return co_await decoding;
}

}  // namespace yux
