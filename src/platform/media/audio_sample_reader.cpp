#include "platform/media/audio_sample_reader.hpp"

#include <algorithm>
#include <cstring>

namespace yux::platform {

namespace {
// A seek lands on a packet boundary before the target; decoding from a little earlier also gives
// the decoder its priming samples, so the first sample at the target is already clean.
constexpr double kSeekPrerollSeconds = 0.1;
}  // namespace

AudioSampleReader::AudioSampleReader(const std::string& path, const MediaTrack& track, int sampleRate, int channels)
    : source_(path, track, false), converter_(sampleRate, channels), stream_(source_.stream()), frame_(ffmpeg::makeFrame()) {}

void AudioSampleReader::seek(MediaTime time) {
    const int rate = sampleRate();
    position_ = av_rescale(time.value, rate, time.timescale);
    std::int64_t target = av_rescale_q(time.value, AVRational{1, time.timescale}, stream_->time_base);
    std::int64_t preroll = static_cast<std::int64_t>(kSeekPrerollSeconds * stream_->time_base.den / stream_->time_base.num);
    source_.seek(std::max<std::int64_t>(target - preroll, 0));
    converter_.reset();
    pending_.clear();
    pendingOffset_ = 0;
    positioned_ = false;
    flushed_ = false;
    silenceLeft_ = 0;
}

bool AudioSampleReader::refill() {
    const int channels = this->channels();
    std::vector<float> converted;
    while (true) {
        converted.clear();
        std::int64_t time = AV_NOPTS_VALUE;
        if (source_.next(frame_.get())) {
            converter_.convert(frame_.get(), converted);
            time = frame_->best_effort_timestamp != AV_NOPTS_VALUE ? frame_->best_effort_timestamp : frame_->pts;
            av_frame_unref(frame_.get());
        } else if (!flushed_) {
            flushed_ = true;
            converter_.flush(converted);
        } else {
            return false;
        }
        const auto produced = static_cast<std::int64_t>(converted.size() / static_cast<std::size_t>(channels));
        std::int64_t skip = 0;
        std::int64_t silence = 0;
        if (!positioned_ && time != AV_NOPTS_VALUE) {
            // The first frame after a seek places the stream: drop what lies before the target,
            // fill with silence when the track starts after it.
            std::int64_t first = av_rescale_q(time, stream_->time_base, AVRational{1, sampleRate()});
            if (first < position_) skip = std::min<std::int64_t>(position_ - first, produced);
            else silence = first - position_;
            if (skip == produced && first + produced <= position_) continue;
        }
        positioned_ = true;
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(pendingOffset_));
        pendingOffset_ = 0;
        silenceLeft_ = silence;
        pending_.insert(pending_.end(), converted.begin() + static_cast<std::ptrdiff_t>(skip * channels), converted.end());
        if (!pending_.empty() || silenceLeft_ > 0) return true;
    }
}

int AudioSampleReader::read(float* out, int frames) {
    const int channels = this->channels();
    int done = 0;
    while (done < frames) {
        if (silenceLeft_ > 0) {
            int take = static_cast<int>(std::min<std::int64_t>(silenceLeft_, frames - done));
            std::fill_n(out + static_cast<std::size_t>(done) * channels, static_cast<std::size_t>(take) * channels, 0.0f);
            silenceLeft_ -= take;
            done += take;
            continue;
        }
        std::size_t available = (pending_.size() - pendingOffset_) / static_cast<std::size_t>(channels);
        if (available == 0) {
            if (!refill()) break;
            continue;
        }
        int take = static_cast<int>(std::min<std::size_t>(available, static_cast<std::size_t>(frames - done)));
        std::memcpy(out + static_cast<std::size_t>(done) * channels, pending_.data() + pendingOffset_,
                    static_cast<std::size_t>(take) * channels * sizeof(float));
        pendingOffset_ += static_cast<std::size_t>(take) * channels;
        done += take;
    }
    position_ += done;
    return done;
}

std::optional<std::int64_t> AudioSampleReader::silenceAhead() {
    while (silenceLeft_ == 0 && pendingOffset_ == pending_.size()) {
        if (!refill()) return std::nullopt;
    }
    return silenceLeft_;
}

void AudioSampleReader::skipSilence(std::int64_t frames) {
    frames = std::clamp<std::int64_t>(frames, 0, silenceLeft_);
    silenceLeft_ -= frames;
    position_ += frames;
}

}  // namespace yux::platform
