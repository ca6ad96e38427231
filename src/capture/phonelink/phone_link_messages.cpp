#include "capture/phonelink/phone_link_messages.hpp"

#include <bit>
#include <cmath>

#include <QString>
#include <QTextBoundaryFinder>
#include <nlohmann/json.hpp>

namespace yux {

namespace {

using CameraWire::Bytes;
using CameraWire::Failure;

[[noreturn]] void invalid() { throw Failure(Failure::Case::invalidCommand); }

nlohmann::json parseObject(std::span<const std::uint8_t> payload) {
    // Depth is bounded by the 4096-byte payload limit of every JSON kind.
    auto json = nlohmann::json::parse(payload.begin(), payload.end());
    if (!json.is_object()) {
        throw nlohmann::json::type_error::create(302, "payload is not an object", &json);
    }
    return json;
}

// A null optional field counts as absent.
const nlohmann::json* optionalField(const nlohmann::json& json, const char* key) {
    const auto found = json.find(key);
    return found == json.end() || found->is_null() ? nullptr : &*found;
}

// JSON numbers are read only as what they are: a float for an integer field is a wrong type,
// never a silent (or undefined) conversion.
std::uint64_t unsignedOf(const nlohmann::json& value) {
    if (!value.is_number_unsigned()) {
        throw nlohmann::json::type_error::create(302, "type must be an unsigned integer", &value);
    }
    return value.get<std::uint64_t>();
}

// 1 stays 1; any other integer, however large, reads as a version that is not spoken.
int versionOf(const nlohmann::json& value) {
    if (value.is_number_integer() && !value.is_number_unsigned()) {
        return 0;  // negative
    }
    return unsignedOf(value) == 1 ? 1 : 2;
}

Bytes frameOf(CameraWire::Kind kind, const nlohmann::json& json) {
    const auto text = json.dump();
    return CameraWire::encode(kind, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

bool isUsableTime(double value) { return std::isfinite(value) && value >= 0; }

void putBigEndian(Bytes& bytes, std::uint64_t value) {
    for (int shift = 56; shift >= 0; shift -= 8) {
        bytes.push_back(static_cast<std::uint8_t>(value >> shift));
    }
}

std::uint64_t readBigEndian(std::span<const std::uint8_t> bytes) {
    std::uint64_t value = 0;
    for (int index = 0; index < 8; ++index) {
        value = (value << 8) | bytes[static_cast<std::size_t>(index)];
    }
    return value;
}

void checkPacket(double time, const Bytes& pcm) {
    if (!isUsableTime(time) || pcm.empty() || pcm.size() % 2 != 0 ||
        pcm.size() > MicrophonePacket::maximumFrames * 2) {
        invalid();
    }
}

}  // namespace

std::size_t userCharacterCount(std::string_view utf8) {
    const auto text = QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    std::size_t count = 0;
    while (finder.toNextBoundary() != -1) {
        ++count;
    }
    return count;
}

Bytes CameraCommand::encoded() const {
    nlohmann::json json{{"sending", sending}, {"recording", recording}, {"macName", macName}};
    if (audioVersion) {
        json["audioVersion"] = *audioVersion;
    }
    if (microphone) {
        json["microphone"] = *microphone;
    }
    if (audioStream) {
        json["audioStream"] = *audioStream;
    }
    return frameOf(CameraWire::Kind::command, json);
}

CameraCommand CameraCommand::decode(std::span<const std::uint8_t> payload) {
    const auto json = parseObject(payload);
    CameraCommand command;
    command.sending = json.at("sending").get<bool>();
    command.recording = json.at("recording").get<bool>();
    command.macName = json.at("macName").get<std::string>();
    if (const auto* field = optionalField(json, "audioVersion")) {
        command.audioVersion = versionOf(*field);
    }
    if (const auto* field = optionalField(json, "microphone")) {
        command.microphone = field->get<bool>();
    }
    if (const auto* field = optionalField(json, "audioStream")) {
        command.audioStream = unsignedOf(*field);
    }
    const bool microphoneOn = command.microphone.value_or(false);
    if (command.recording && !command.sending && !(command.audioVersion == 1 && microphoneOn)) {
        invalid();
    }
    if (userCharacterCount(command.macName) > kPhoneNameLimit) {
        invalid();
    }
    if (command.audioVersion && *command.audioVersion != 1) {
        invalid();
    }
    if (microphoneOn && (!command.audioVersion || !command.audioStream)) {
        invalid();
    }
    return command;
}

Bytes MicrophoneStatus::encoded() const {
    nlohmann::json json{{"version", version}, {"name", name}, {"allowed", allowed}};
    if (error) {
        json["error"] = *error;
    }
    return frameOf(CameraWire::Kind::microphoneStatus, json);
}

MicrophoneStatus MicrophoneStatus::decode(std::span<const std::uint8_t> payload) {
    const auto json = parseObject(payload);
    MicrophoneStatus status;
    status.version = versionOf(json.at("version"));
    status.name = json.at("name").get<std::string>();
    status.allowed = json.at("allowed").get<bool>();
    if (const auto* field = optionalField(json, "error")) {
        status.error = field->get<std::string>();
    }
    if (status.version != 1 || userCharacterCount(status.name) > kPhoneNameLimit ||
        (status.error && userCharacterCount(*status.error) > kMicrophoneErrorLimit)) {
        invalid();
    }
    return status;
}

MicrophonePacket::MicrophonePacket(std::uint64_t stream, std::uint64_t offset, double time, Bytes pcm)
    : stream(stream), offset(offset), time(time), pcm(std::move(pcm)) {
    checkPacket(this->time, this->pcm);
}

Bytes MicrophonePacket::encoded() const {
    Bytes payload;
    payload.reserve(headerSize + pcm.size());
    payload.push_back(0x01);
    putBigEndian(payload, stream);
    putBigEndian(payload, offset);
    putBigEndian(payload, std::bit_cast<std::uint64_t>(time));
    payload.insert(payload.end(), pcm.begin(), pcm.end());
    return CameraWire::encode(CameraWire::Kind::microphone, payload);
}

MicrophonePacket MicrophonePacket::decode(std::span<const std::uint8_t> payload) {
    if (payload.size() < headerSize + 2 || payload[0] != 0x01) {
        invalid();
    }
    return MicrophonePacket(readBigEndian(payload.subspan(1, 8)), readBigEndian(payload.subspan(9, 8)),
                            std::bit_cast<double>(readBigEndian(payload.subspan(17, 8))),
                            Bytes(payload.begin() + headerSize, payload.end()));
}

Bytes MicrophoneClock::encoded() const {
    // JSON has no spelling for NaN or infinity: refuse rather than write null into the ping.
    for (const auto& [key, value] : {std::pair{"sent", sent}, std::pair{"phone", phone}}) {
        if (!std::isfinite(value)) {
            throw nlohmann::json::type_error::create(
                302, std::string("cannot encode ") + key + ": not a finite number", nullptr);
        }
    }
    return frameOf(CameraWire::Kind::clock, nlohmann::json{{"sent", sent}, {"phone", phone}});
}

MicrophoneClock MicrophoneClock::decode(std::span<const std::uint8_t> payload) {
    const auto json = parseObject(payload);
    MicrophoneClock clock{json.at("sent").get<double>(), json.at("phone").get<double>()};
    if (!isUsableTime(clock.sent) || !isUsableTime(clock.phone)) {
        invalid();
    }
    return clock;
}

}  // namespace yux
