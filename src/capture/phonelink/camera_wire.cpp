#include "capture/phonelink/camera_wire.hpp"

#include <algorithm>
#include <array>

namespace yux::CameraWire {

namespace {

constexpr std::array<std::uint8_t, 4> kMagic = {'Y', 'u', 'x', 0x01};

const char* failureText(Failure::Case failureCase) {
    switch (failureCase) {
    case Failure::Case::invalidHeader:
        return "Invalid Yux Cam frame header";
    case Failure::Case::oversizedPayload:
        return "Yux Cam frame too large";
    case Failure::Case::invalidCommand:
        return "Invalid Yux Cam message";
    }
    return "Invalid Yux Cam message";
}

}  // namespace

Failure::Failure(Case failureCase) : std::runtime_error(failureText(failureCase)), case_(failureCase) {}

bool isKind(std::uint8_t raw) { return raw >= 1 && raw <= 7; }

std::uint32_t payloadLimit(Kind kind) {
    switch (kind) {
    case Kind::frame:
        return maximumPayload;
    case Kind::microphone:
        return microphonePayloadLimit;
    default:
        return textPayloadLimit;
    }
}

Bytes encode(Kind kind, std::span<const std::uint8_t> payload) {
    if (payload.size() > payloadLimit(kind)) {
        throw Failure(Failure::Case::oversizedPayload);
    }
    const auto length = static_cast<std::uint32_t>(payload.size());
    Bytes frame;
    frame.reserve(headerSize + payload.size());
    frame.insert(frame.end(), kMagic.begin(), kMagic.end());
    frame.push_back(static_cast<std::uint8_t>(kind));
    for (int shift = 24; shift >= 0; shift -= 8) {
        frame.push_back(static_cast<std::uint8_t>(length >> shift));
    }
    frame.insert(frame.end(), payload.begin(), payload.end());
    return frame;
}

std::vector<Message> Decoder::append(std::span<const std::uint8_t> input) {
    std::vector<Message> messages;
    while (!input.empty() || pending_.size() > headerSize - 1) {
        if (pending_.size() < headerSize) {
            const auto take = std::min(input.size(), headerSize - pending_.size());
            pending_.insert(pending_.end(), input.begin(), input.begin() + static_cast<std::ptrdiff_t>(take));
            input = input.subspan(take);
            if (pending_.size() < headerSize) {
                break;
            }
        }
        if (!std::equal(kMagic.begin(), kMagic.end(), pending_.begin()) || !isKind(pending_[4])) {
            throw Failure(Failure::Case::invalidHeader);
        }
        const auto kind = static_cast<Kind>(pending_[4]);
        const std::uint32_t length = (std::uint32_t{pending_[5]} << 24) | (std::uint32_t{pending_[6]} << 16) |
                                     (std::uint32_t{pending_[7]} << 8) | std::uint32_t{pending_[8]};
        if (length > payloadLimit(kind)) {
            throw Failure(Failure::Case::oversizedPayload);
        }
        // Grows only with what arrived, so a large declared length costs nothing up front.
        const std::size_t total = headerSize + length;
        const auto take = std::min(input.size(), total - pending_.size());
        pending_.insert(pending_.end(), input.begin(), input.begin() + static_cast<std::ptrdiff_t>(take));
        input = input.subspan(take);
        if (pending_.size() < total) {
            break;
        }
        messages.push_back(Message{kind, Bytes(pending_.begin() + headerSize, pending_.end())});
        pending_.clear();
    }
    return messages;
}

}  // namespace yux::CameraWire
