#include "platform/media/track_decoder.hpp"

#include <stdexcept>

namespace yux::platform {

TrackDecoder::TrackDecoder(const std::string& path, const MediaTrack& track, bool threaded)
    : streamIndex_(track.streamIndex), packet_(ffmpeg::makePacket()) {
    AVFormatContext* raw = nullptr;
    ffmpeg::check(avformat_open_input(&raw, path.c_str(), nullptr, nullptr), "Opening the movie");
    input_.reset(raw);
    ffmpeg::check(avformat_find_stream_info(input_.get(), nullptr), "Reading the movie's streams");
    if (streamIndex_ < 0 || streamIndex_ >= static_cast<int>(input_->nb_streams)) {
        throw std::runtime_error("The movie has no stream " + std::to_string(streamIndex_) + ".");
    }
    for (unsigned i = 0; i < input_->nb_streams; ++i) {
        input_->streams[i]->discard = static_cast<int>(i) == streamIndex_ ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    }
    stream_ = input_->streams[streamIndex_];
    const AVCodec* codec = avcodec_find_decoder(stream_->codecpar->codec_id);
    if (codec == nullptr) throw std::runtime_error("No decoder for " + track.codec + ".");
    decoder_.reset(avcodec_alloc_context3(codec));
    if (!decoder_) throw std::bad_alloc();
    ffmpeg::check(avcodec_parameters_to_context(decoder_.get(), stream_->codecpar), "Preparing the decoder");
    if (threaded) decoder_->thread_count = 0;
    decoder_->pkt_timebase = stream_->time_base;
    ffmpeg::check(avcodec_open2(decoder_.get(), codec, nullptr), "Opening the decoder");
}

bool TrackDecoder::next(AVFrame* frame) {
    while (!ended_) {
        int received = avcodec_receive_frame(decoder_.get(), frame);
        if (received == 0) return true;
        if (received == AVERROR_EOF || (received == AVERROR(EAGAIN) && draining_)) break;
        if (received != AVERROR(EAGAIN)) ffmpeg::check(received, "Decoding");
        int read = av_read_frame(input_.get(), packet_.get());
        if (read == AVERROR_EOF) {
            draining_ = true;
            ffmpeg::check(avcodec_send_packet(decoder_.get(), nullptr), "Decoding");
            continue;
        }
        ffmpeg::check(read, "Reading the movie");
        if (packet_->stream_index == streamIndex_) {
            int sent = avcodec_send_packet(decoder_.get(), packet_.get());
            // A damaged packet is skipped as a player would; the next keyframe recovers.
            if (sent < 0 && sent != AVERROR_INVALIDDATA) ffmpeg::check(sent, "Decoding");
        }
        av_packet_unref(packet_.get());
    }
    ended_ = true;
    return false;
}

void TrackDecoder::seek(std::int64_t timestamp) {
    ffmpeg::check(av_seek_frame(input_.get(), streamIndex_, timestamp, AVSEEK_FLAG_BACKWARD), "Seeking");
    avcodec_flush_buffers(decoder_.get());
    draining_ = ended_ = false;
}

}  // namespace yux::platform
