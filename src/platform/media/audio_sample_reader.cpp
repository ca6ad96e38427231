#include "platform/media/audio_sample_reader.hpp"

#include <algorithm>
#include <cstring>

namespace yux::platform {

namespace {
// A seek lands on a packet boundary before the target; decoding from a little earlier also gives
// the decoder its priming samples, so the first sample at the target is already clean.
constexpr double kSeekPrerollSeconds = 0.1;
}  // namespace

AudioSampleReader::AudioSampleReader(const std::string& path, const MediaTrack& track)
    : source_(path, track, false), stream_(source_.stream()), frame_(ffmpeg::makeFrame()) {}

void AudioSampleReader::seek(MediaTime time) {
    position_ = av_rescale(time.value, kSampleRate, time.timescale);
    std::int64_t target = av_rescale_q(time.value, AVRational{1, time.timescale}, stream_->time_base);
    std::int64_t preroll = static_cast<std::int64_t>(kSeekPrerollSeconds * stream_->time_base.den / stream_->time_base.num);
    source_.seek(std::max<std::int64_t>(target - preroll, 0));
    resampler_.reset();
    pending_.clear();
    pendingOffset_ = 0;
    positioned_ = false;
}

bool AudioSampleReader::refill() {
    while (source_.next(frame_.get())) {
        if (!resampler_) {
            AVChannelLayout stereo{};
            av_channel_layout_default(&stereo, kChannels);
            SwrContext* swr = nullptr;
            ffmpeg::check(swr_alloc_set_opts2(&swr, &stereo, AV_SAMPLE_FMT_FLT, kSampleRate, &frame_->ch_layout,
                                              static_cast<AVSampleFormat>(frame_->format), frame_->sample_rate, 0, nullptr),
                          "Preparing the resampler");
            resampler_.reset(swr);
            ffmpeg::check(swr_init(swr), "Preparing the resampler");
        }
        int capacity = swr_get_out_samples(resampler_.get(), frame_->nb_samples);
        std::vector<float> converted(static_cast<std::size_t>(std::max(capacity, 0)) * kChannels);
        auto* outData = reinterpret_cast<std::uint8_t*>(converted.data());
        int produced = ffmpeg::check(swr_convert(resampler_.get(), &outData, capacity,
                                                 const_cast<const std::uint8_t**>(frame_->extended_data), frame_->nb_samples),
                                     "Resampling audio");
        converted.resize(static_cast<std::size_t>(produced) * kChannels);

        std::int64_t time = frame_->best_effort_timestamp != AV_NOPTS_VALUE ? frame_->best_effort_timestamp : frame_->pts;
        std::size_t skip = 0;
        std::size_t silence = 0;
        if (!positioned_ && time != AV_NOPTS_VALUE) {
            // The first frame after a seek places the stream: drop what lies before the target,
            // fill with silence when the track starts after it.
            std::int64_t first = av_rescale_q(time, stream_->time_base, AVRational{1, kSampleRate});
            if (first < position_) skip = static_cast<std::size_t>(std::min<std::int64_t>(position_ - first, produced));
            else silence = static_cast<std::size_t>(first - position_);
            if (skip == static_cast<std::size_t>(produced) && first + produced <= position_) {
                av_frame_unref(frame_.get());
                continue;
            }
            positioned_ = true;
        }
        positioned_ = true;
        av_frame_unref(frame_.get());
        std::vector<float> next(silence * kChannels, 0.0f);
        next.insert(next.end(), converted.begin() + static_cast<std::ptrdiff_t>(skip * kChannels), converted.end());
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(pendingOffset_));
        pendingOffset_ = 0;
        pending_.insert(pending_.end(), next.begin(), next.end());
        if (!pending_.empty()) return true;
    }
    return false;
}

int AudioSampleReader::read(float* out, int frames) {
    int done = 0;
    while (done < frames) {
        std::size_t available = (pending_.size() - pendingOffset_) / kChannels;
        if (available == 0) {
            if (!refill()) break;
            continue;
        }
        int take = static_cast<int>(std::min<std::size_t>(available, static_cast<std::size_t>(frames - done)));
        std::memcpy(out + static_cast<std::size_t>(done) * kChannels, pending_.data() + pendingOffset_,
                    static_cast<std::size_t>(take) * kChannels * sizeof(float));
        pendingOffset_ += static_cast<std::size_t>(take) * kChannels;
        done += take;
    }
    position_ += done;
    return done;
}

}  // namespace yux::platform
