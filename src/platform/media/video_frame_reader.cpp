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
    : track_(track), packet_(ffmpeg::makePacket()), current_(ffmpeg::makeFrame()), next_(ffmpeg::makeFrame()) {
    AVFormatContext* raw = nullptr;
    ffmpeg::check(avformat_open_input(&raw, path.c_str(), nullptr, nullptr), "Opening the movie");
    input_.reset(raw);
    ffmpeg::check(avformat_find_stream_info(input_.get(), nullptr), "Reading the movie's streams");
    if (track.streamIndex < 0 || track.streamIndex >= static_cast<int>(input_->nb_streams)) {
        throw std::runtime_error("The movie has no stream " + std::to_string(track.streamIndex) + ".");
    }
    for (unsigned i = 0; i < input_->nb_streams; ++i) {
        input_->streams[i]->discard = static_cast<int>(i) == track.streamIndex ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    }
    stream_ = input_->streams[track.streamIndex];
    const AVCodec* codec = avcodec_find_decoder(stream_->codecpar->codec_id);
    if (codec == nullptr) throw std::runtime_error("No decoder for " + track.codec + ".");
    decoder_.reset(avcodec_alloc_context3(codec));
    if (!decoder_) throw std::bad_alloc();
    ffmpeg::check(avcodec_parameters_to_context(decoder_.get(), stream_->codecpar), "Preparing the decoder");
    decoder_->thread_count = 0;
    decoder_->pkt_timebase = stream_->time_base;
    ffmpeg::check(avcodec_open2(decoder_.get(), codec, nullptr), "Opening the decoder");
}

bool VideoFrameReader::decodeNext(ffmpeg::Frame& into) {
    while (true) {
        int received = avcodec_receive_frame(decoder_.get(), into.get());
        if (received == 0) return true;
        if (received == AVERROR_EOF) return false;
        if (received != AVERROR(EAGAIN)) ffmpeg::check(received, "Decoding video");
        if (draining_) return false;
        int read = av_read_frame(input_.get(), packet_.get());
        if (read == AVERROR_EOF) {
            draining_ = true;
            ffmpeg::check(avcodec_send_packet(decoder_.get(), nullptr), "Decoding video");
            continue;
        }
        ffmpeg::check(read, "Reading video");
        if (packet_->stream_index == track_.streamIndex) {
            int sent = avcodec_send_packet(decoder_.get(), packet_.get());
            av_packet_unref(packet_.get());
            // A damaged packet is skipped like a player would; the next keyframe recovers.
            if (sent < 0 && sent != AVERROR_INVALIDDATA) ffmpeg::check(sent, "Decoding video");
        } else {
            av_packet_unref(packet_.get());
        }
    }
}

void VideoFrameReader::seekTo(std::int64_t timestamp) {
    ffmpeg::check(av_seek_frame(input_.get(), track_.streamIndex, timestamp, AVSEEK_FLAG_BACKWARD), "Seeking video");
    avcodec_flush_buffers(decoder_.get());
    hasCurrent_ = hasNext_ = ended_ = draining_ = false;
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
        if (!decodeNext(next_)) {
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
