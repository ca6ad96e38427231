#include "platform/media/video_frame_reader.hpp"

#include <utility>

namespace yux::platform {

namespace {
// Decoding forward through this much media is cheaper than seeking and decoding from a keyframe.
constexpr double kSeekAheadSeconds = 3.0;

std::int64_t frameTime(const AVFrame* frame) {
    return frame->best_effort_timestamp != AV_NOPTS_VALUE ? frame->best_effort_timestamp : frame->pts;
}
}  // namespace

VideoFrameReader::VideoFrameReader(const std::string& path, const MediaTrack& track)
    : track_(track), source_(path, track, true), stream_(source_.stream()), current_(ffmpeg::makeFrame()),
      next_(ffmpeg::makeFrame()) {}

void VideoFrameReader::seekTo(std::int64_t timestamp) {
    source_.seek(timestamp);
    hasCurrent_ = hasNext_ = ended_ = false;
}

const AVFrame* VideoFrameReader::frameAt(MediaTime time) {
    std::int64_t target = av_rescale_q(time.value, AVRational{1, time.timescale}, stream_->time_base);
    std::int64_t ahead = static_cast<std::int64_t>(kSeekAheadSeconds * stream_->time_base.den / stream_->time_base.num);
    bool behind = hasCurrent_ && target < frameTime(current_.get());
    bool farAhead = hasCurrent_ && !(hasNext_ && frameTime(next_.get()) <= target + ahead) &&
                    target - frameTime(current_.get()) > ahead && !ended_;
    if (behind || farAhead) seekTo(target);

    while (true) {
        if (hasNext_) {
            if (frameTime(next_.get()) > target) break;
            std::swap(current_, next_);
            hasCurrent_ = true;
            hasNext_ = false;
        }
        if (ended_) break;
        av_frame_unref(next_.get());
        if (!source_.next(next_.get())) {
            ended_ = true;
            break;
        }
        hasNext_ = true;
        if (!hasCurrent_ && frameTime(next_.get()) > target) {
            // A time before the first picture shows the first picture.
            std::swap(current_, next_);
            hasCurrent_ = true;
            hasNext_ = false;
            break;
        }
    }
    return hasCurrent_ ? current_.get() : nullptr;
}

}  // namespace yux::platform
