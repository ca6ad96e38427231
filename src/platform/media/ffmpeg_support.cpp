#include "platform/media/ffmpeg_support.hpp"

#include <new>

namespace yux::platform::ffmpeg {

std::string errorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

Error::Error(const std::string& operation, int code)
    : std::runtime_error(operation + " failed: " + errorText(code)), code_(code) {}

int check(int result, const char* operation) {
    if (result < 0) throw Error(operation, result);
    return result;
}

void OutputContextDeleter::operator()(AVFormatContext* context) const {
    if (context == nullptr) return;
    if (context->pb != nullptr && !(context->oformat->flags & AVFMT_NOFILE) &&
        !(context->flags & AVFMT_FLAG_CUSTOM_IO)) {
        avio_closep(&context->pb);
    }
    avformat_free_context(context);
}

Frame makeFrame() {
    Frame frame(av_frame_alloc());
    if (!frame) throw std::bad_alloc();
    return frame;
}

Packet makePacket() {
    Packet packet(av_packet_alloc());
    if (!packet) throw std::bad_alloc();
    return packet;
}

}  // namespace yux::platform::ffmpeg
