#include "platform/media/video_frame_reader.hpp"

#include <algorithm>
#include <limits>
#include <utility>

namespace yux::platform {

namespace {
// Decoding forward through this much media is cheaper than seeking and decoding from a keyframe.
constexpr double kSeekAheadSeconds = 3.0;

std::int64_t frameTime(const AVFrame* frame) {
    return frame->best_effort_timestamp != AV_NOPTS_VALUE ? frame->best_effort_timestamp : frame->pts;
}

using Wide = __int128;
}  // namespace

VideoFrameReader::VideoFrameReader(const std::string& path, const MediaTrack& track)
    : track_(track), source_(path, track, true), stream_(source_.stream()), current_(ffmpeg::makeFrame()),
      next_(ffmpeg::makeFrame()) {
    AVRational rate = stream_->avg_frame_rate.num > 0 ? stream_->avg_frame_rate : stream_->r_frame_rate;
    if (rate.num > 0 && rate.den > 0) frameInterval_ = std::max<std::int64_t>(1, av_rescale_q(1, av_inv_q(rate), stream_->time_base));
}

void VideoFrameReader::seekTo(std::int64_t timestamp) {
    // Pictures without times cannot be found by time: decode again from the first.
    if (untimed_) source_.rewind();
    else source_.seek(timestamp);
    hasCurrent_ = hasNext_ = ended_ = false;
    lastTime_ = AV_NOPTS_VALUE;
}

bool VideoFrameReader::decodeNext() {
    av_frame_unref(next_.get());
    if (!source_.next(next_.get())) return false;
    // A picture without a time (a raw stream) follows the one before it by one frame interval.
    if (frameTime(next_.get()) == AV_NOPTS_VALUE) {
        std::int64_t interval = next_->pkt_duration > 0 ? next_->pkt_duration : frameInterval_;
        next_->best_effort_timestamp =
            lastTime_ == AV_NOPTS_VALUE ? 0
                                        : static_cast<std::int64_t>(std::min<Wide>(static_cast<Wide>(lastTime_) + interval,
                                                                                   std::numeric_limits<std::int64_t>::max()));
        untimed_ = true;
    }
    lastTime_ = frameTime(next_.get());
    return true;
}

void VideoFrameReader::advanceTo(std::int64_t target) {
    while (true) {
        if (hasNext_) {
            if (frameTime(next_.get()) > target) break;
            std::swap(current_, next_);
            hasCurrent_ = true;
            hasNext_ = false;
        }
        if (ended_) break;
        if (!decodeNext()) {
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
}

const AVFrame* VideoFrameReader::frameAt(MediaTime time) {
    // No time at all asks for the first picture; times past the stream's range stay at its ends.
    std::int64_t target = 0;
    if (time.isValid()) {
        Wide ticks = static_cast<Wide>(time.value) * stream_->time_base.den /
                     (static_cast<Wide>(time.timescale) * stream_->time_base.num);
        target = static_cast<std::int64_t>(std::clamp<Wide>(ticks, std::numeric_limits<std::int64_t>::min() + 1,
                                                            std::numeric_limits<std::int64_t>::max()));
    }
    const Wide ahead = static_cast<Wide>(kSeekAheadSeconds * stream_->time_base.den / stream_->time_base.num);
    bool behind = hasCurrent_ && target < frameTime(current_.get());
    // Decoding on is cheaper only when the next picture waiting lies within `ahead` of the target
    // (an idle screen's next picture may come long after the current one).
    bool farAhead = hasCurrent_ && !(hasNext_ && static_cast<Wide>(frameTime(next_.get())) + ahead >= target) &&
                    static_cast<Wide>(target) - frameTime(current_.get()) > ahead && !ended_ && !untimed_;
    if (behind || farAhead) seekTo(target);
    advanceTo(target);

    // Nothing decodable from the keyframe on (a damaged stretch up to the end): show the last good
    // picture before it, as a player would, looking further back each time.
    const std::int64_t first = stream_->start_time != AV_NOPTS_VALUE ? stream_->start_time : 0;
    for (Wide back = ahead / 3 + 1; !hasCurrent_ && !untimed_ && static_cast<Wide>(target) > first; back *= 2) {
        Wide from = std::max<Wide>(static_cast<Wide>(target) - back, first);
        seekTo(static_cast<std::int64_t>(from));
        advanceTo(target);
        if (from == first) break;
    }
    return hasCurrent_ ? current_.get() : nullptr;
}

}  // namespace yux::platform
