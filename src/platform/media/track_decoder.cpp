#include "platform/media/track_decoder.hpp"

#include <stdexcept>

namespace yux::platform {

namespace {
// A decoder that keeps refusing frames without asking for input is stuck, not damaged.
constexpr int kMaxFailuresWithoutInput = 64;

std::string decodeStep(const MediaTrack& track) {
    const char* what = track.type == MediaTrackType::audio ? "audio" : track.type == MediaTrackType::video ? "video" : "track";
    return std::string("The source movie's ") + what + " cannot be decoded";
}
}  // namespace

TrackDecoder::TrackDecoder(const std::string& path, const MediaTrack& track, bool threaded)
    : streamIndex_(track.streamIndex), step_(decodeStep(track)), packet_(ffmpeg::makePacket()) {
    input_ = ffmpeg::openMovie(path);
    if (streamIndex_ < 0 || streamIndex_ >= static_cast<int>(input_->nb_streams)) {
        throw std::runtime_error("The source movie changed while it was open: a track is missing.");
    }
    for (unsigned i = 0; i < input_->nb_streams; ++i) {
        input_->streams[i]->discard = static_cast<int>(i) == streamIndex_ ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    }
    stream_ = input_->streams[streamIndex_];
    const AVCodec* codec = avcodec_find_decoder(stream_->codecpar->codec_id);
    if (codec == nullptr) throw ffmpeg::Error::inStep(step_, AVERROR_DECODER_NOT_FOUND);
    decoder_.reset(avcodec_alloc_context3(codec));
    if (!decoder_) throw std::bad_alloc();
    ffmpeg::checkStep(avcodec_parameters_to_context(decoder_.get(), stream_->codecpar), step_.c_str());
    if (threaded) decoder_->thread_count = 0;
    // A damaged keyframe would otherwise hold back every picture up to the next one (in a
    // recording, often the whole take); what follows it is shown as well as it decodes.
    if (track.type == MediaTrackType::video) decoder_->flags2 |= AV_CODEC_FLAG2_SHOW_ALL;
    decoder_->pkt_timebase = stream_->time_base;
    ffmpeg::checkStep(avcodec_open2(decoder_.get(), codec, nullptr), step_.c_str());
}

void TrackDecoder::skipDamage(int code) {
    // Memory is not the media's fault: going on would hand out a track with holes.
    if (code == AVERROR(ENOMEM)) throw ffmpeg::Error::inStep(step_, code);
    ++damaged_;
}

void TrackDecoder::feed() {
    if (!packetPending_) {
        int read = av_read_frame(input_.get(), packet_.get());
        if (read == AVERROR_EOF || read == AVERROR_INVALIDDATA) {
            // The end, or a container damaged from here on: what was read is all there is.
            draining_ = true;
            avcodec_send_packet(decoder_.get(), nullptr);
            return;
        }
        if (read == AVERROR(EAGAIN)) return;
        ffmpeg::checkStep(read, "The source movie cannot be read");
        if (packet_->stream_index != streamIndex_) {
            av_packet_unref(packet_.get());
            return;
        }
        packetPending_ = true;
    }
    int sent = avcodec_send_packet(decoder_.get(), packet_.get());
    if (sent == AVERROR(EAGAIN)) return;  // frames first; the packet waits
    packetPending_ = false;
    av_packet_unref(packet_.get());
    failuresSinceFeed_ = 0;
    if (sent < 0) skipDamage(sent);
}

bool TrackDecoder::next(AVFrame* frame) {
    while (!ended_) {
        int received = avcodec_receive_frame(decoder_.get(), frame);
        if (received == 0) return true;
        if (received == AVERROR_EOF) break;
        if (received != AVERROR(EAGAIN)) {
            // With frame threads the decoder reports a damaged frame here, not when its packet went in.
            skipDamage(received);
            if (++failuresSinceFeed_ > kMaxFailuresWithoutInput) throw ffmpeg::Error::inStep(step_, received);
            if (draining_) continue;
        } else if (draining_) {
            break;
        }
        feed();
    }
    ended_ = true;
    return false;
}

void TrackDecoder::seek(std::int64_t timestamp) {
    int result = av_seek_frame(input_.get(), streamIndex_, timestamp, AVSEEK_FLAG_BACKWARD);
    // A track without samples (a take cut before its first sound) has nowhere to go: it stays at
    // its end rather than fail.
    if (result < 0 && stream_->duration == 0 && avformat_index_get_entries_count(stream_) == 0) {
        restart();
        ended_ = true;
        return;
    }
    ffmpeg::checkStep(result, "The source movie cannot be read");
    restart();
}

void TrackDecoder::rewind() {
    ffmpeg::checkStep(avformat_seek_file(input_.get(), -1, 0, 0, 0, AVSEEK_FLAG_BYTE), "The source movie cannot be read");
    restart();
}

void TrackDecoder::restart() {
    avcodec_flush_buffers(decoder_.get());
    av_packet_unref(packet_.get());
    packetPending_ = draining_ = ended_ = false;
    failuresSinceFeed_ = 0;
}

}  // namespace yux::platform
