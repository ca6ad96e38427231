#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <vector>

namespace yux::CameraWire {

using Bytes = std::vector<std::uint8_t>;

// The TCP port on the phone where the companion app accepts the link.
inline constexpr std::uint16_t port = 51843;
// Payload limit of picture frames (16 MiB).
inline constexpr std::uint32_t maximumPayload = 0x1000000;
// Every frame starts with "Yux", the protocol version 1, the kind and a 32-bit length.
inline constexpr std::size_t headerSize = 9;
// Limit of every text or JSON payload.
inline constexpr std::uint32_t textPayloadLimit = 4096;
// A microphone packet: 25 header bytes and at most 1920 bytes of samples.
inline constexpr std::uint32_t microphonePayloadLimit = 1945;

enum class Kind : std::uint8_t {
    hello = 1,
    command = 2,
    frame = 3,
    failure = 4,
    microphoneStatus = 5,
    microphone = 6,
    clock = 7,
};

// The largest payload a kind may carry, when encoding and when decoding.
std::uint32_t payloadLimit(Kind kind);
bool isKind(std::uint8_t raw);

struct Message {
    Kind kind = Kind::hello;
    Bytes payload;
    bool operator==(const Message&) const = default;
};

// The link's own error. Its text follows "iPhone or iPad disconnected: " in what the user sees.
class Failure : public std::runtime_error {
public:
    enum class Case { invalidHeader, oversizedPayload, invalidCommand };
    explicit Failure(Case failureCase);
    Case failureCase() const { return case_; }
    bool operator==(const Failure& other) const { return case_ == other.case_; }

private:
    Case case_;
};

// One complete frame; throws Failure oversizedPayload above the kind's limit.
Bytes encode(Kind kind, std::span<const std::uint8_t> payload);

// Assembles frames from a byte stream. It holds at most the frame being assembled; after a
// failure the bad header stays, so every later append fails the same way.
class Decoder {
public:
    // The messages completed by these bytes, in stream order; none when it throws.
    std::vector<Message> append(std::span<const std::uint8_t> input);
    std::size_t pendingSize() const { return pending_.size(); }

private:
    Bytes pending_;
};

}  // namespace yux::CameraWire
