#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "capture/phonelink/camera_wire.hpp"

namespace yux {

// Payloads of the link. Each `encoded()` returns a whole frame; each `decode` takes one
// message's payload and throws CameraWire::Failure invalidCommand for a value outside its
// rules (JSON syntax and type errors surface as nlohmann::json exceptions).

// Longest macName or status name the phone accepts, in user-perceived characters.
inline constexpr std::size_t kPhoneNameLimit = 256;
// Longest microphone error text, in user-perceived characters.
inline constexpr std::size_t kMicrophoneErrorLimit = 1024;
// The greeting of the one protocol version both sides speak.
inline constexpr std::string_view kPhoneHello = "Yux Cam 1";

// Counts grapheme clusters; invalid UTF-8 counts each replaced byte once.
std::size_t userCharacterCount(std::string_view utf8);

struct CameraCommand {
    bool sending = false;
    bool recording = false;
    std::string macName;
    std::optional<int> audioVersion;
    std::optional<bool> microphone;
    std::optional<std::uint64_t> audioStream;

    bool operator==(const CameraCommand&) const = default;
    CameraWire::Bytes encoded() const;
    static CameraCommand decode(std::span<const std::uint8_t> payload);
};

struct MicrophoneStatus {
    int version = 1;
    std::string name;
    bool allowed = false;
    std::optional<std::string> error;

    bool operator==(const MicrophoneStatus&) const = default;
    CameraWire::Bytes encoded() const;
    static MicrophoneStatus decode(std::span<const std::uint8_t> payload);
};

struct MicrophonePacket {
    static constexpr int sampleRate = 48000;
    static constexpr std::size_t maximumFrames = 960;
    static constexpr std::size_t headerSize = 25;

    std::uint64_t stream = 0;
    std::uint64_t offset = 0;
    // Phone clock in seconds at the first sample.
    double time = 0;
    // Signed 16-bit little-endian mono samples.
    CameraWire::Bytes pcm;

    // Throws invalidCommand under the decoder's rules.
    MicrophonePacket(std::uint64_t stream, std::uint64_t offset, double time, CameraWire::Bytes pcm);
    bool operator==(const MicrophonePacket&) const = default;
    CameraWire::Bytes encoded() const;
    static MicrophonePacket decode(std::span<const std::uint8_t> payload);
};

struct MicrophoneClock {
    // Host clock in seconds when the desktop sent the ping.
    double sent = 0;
    // Phone clock in seconds when the phone answered; 0 in a ping.
    double phone = 0;

    bool operator==(const MicrophoneClock&) const = default;
    CameraWire::Bytes encoded() const;
    static MicrophoneClock decode(std::span<const std::uint8_t> payload);
};

}  // namespace yux
