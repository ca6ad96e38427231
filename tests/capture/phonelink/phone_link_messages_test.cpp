#include "capture/phonelink/phone_link_messages.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>

using namespace yux;
using CameraWire::Bytes;
using CameraWire::Failure;

namespace {

Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

// The payload of a frame an encoder made.
Bytes payloadOf(const Bytes& frame) {
    CameraWire::Decoder decoder;
    auto messages = decoder.append(frame);
    EXPECT_EQ(messages.size(), 1u);
    return messages.empty() ? Bytes{} : messages[0].payload;
}

bool isInvalid(const std::function<void()>& decode) {
    try {
        decode();
    } catch (const Failure& failure) {
        return failure.failureCase() == Failure::Case::invalidCommand;
    }
    return false;
}

std::string repeated(const std::string& piece, int count) {
    std::string text;
    for (int index = 0; index < count; ++index) {
        text += piece;
    }
    return text;
}

Bytes packetPayload(std::size_t pcmBytes, std::uint8_t version = 1, double time = 1.5) {
    Bytes payload(MicrophonePacket::headerSize + pcmBytes, 0);
    payload[0] = version;
    const auto bits = std::bit_cast<std::uint64_t>(time);
    for (int index = 0; index < 8; ++index) {
        payload[17 + static_cast<std::size_t>(index)] = static_cast<std::uint8_t>(bits >> (56 - 8 * index));
    }
    return payload;
}

}  // namespace

TEST(CameraCommand, RecordingWithoutPicturesIsOnlyValidForAMicrophoneRecording) {
    const auto without = bytesOf(R"({"sending":false,"recording":true,"macName":"Mac"})");
    EXPECT_TRUE(isInvalid([&] { CameraCommand::decode(without); }));
    const auto with =
        bytesOf(R"({"sending":false,"recording":true,"macName":"Mac","audioVersion":1,"microphone":true,"audioStream":3})");
    EXPECT_EQ(CameraCommand::decode(with), (CameraCommand{false, true, "Mac", 1, true, 3}));
}

TEST(CameraCommand, AudioFieldsFollowTheirRules) {
    EXPECT_TRUE(isInvalid([] { CameraCommand::decode(bytesOf(R"({"sending":true,"recording":false,"macName":"M","audioVersion":2})")); }));
    EXPECT_TRUE(isInvalid([] {
        CameraCommand::decode(bytesOf(R"({"sending":true,"recording":false,"macName":"M","audioVersion":2,"microphone":false})"));
    }));
    EXPECT_TRUE(isInvalid([] {
        CameraCommand::decode(bytesOf(R"({"sending":true,"recording":false,"macName":"M","audioVersion":1,"microphone":true})"));
    }));
    const auto off = CameraCommand::decode(bytesOf(R"({"sending":true,"recording":false,"macName":"M","microphone":false,"audioStream":null,"extra":[1]})"));
    EXPECT_EQ(off.microphone, false);
    EXPECT_FALSE(off.audioVersion.has_value());
    EXPECT_FALSE(off.audioStream.has_value());
}

TEST(CameraCommand, NamesAreCountedInUserPerceivedCharacters) {
    const auto command = [](const std::string& name) {
        return bytesOf(nlohmann::json{{"sending", true}, {"recording", false}, {"macName", name}}.dump());
    };
    EXPECT_NO_THROW(CameraCommand::decode(command(std::string(256, 'a'))));
    EXPECT_TRUE(isInvalid([&] { CameraCommand::decode(command(std::string(257, 'a'))); }));
    // "e" with a combining acute accent is one character of three bytes.
    EXPECT_NO_THROW(CameraCommand::decode(command(repeated("e\xCC\x81", 256))));
    EXPECT_TRUE(isInvalid([&] { CameraCommand::decode(command(repeated("e\xCC\x81", 257))); }));
}

TEST(CameraCommand, JsonSyntaxAndTypeErrorsSurfaceAsJsonErrors) {
    EXPECT_THROW(CameraCommand::decode(bytesOf(R"({"sending":true)")), nlohmann::json::exception);
    EXPECT_THROW(CameraCommand::decode(bytesOf(R"({"sending":"yes","recording":false,"macName":"M"})")), nlohmann::json::exception);
    EXPECT_THROW(CameraCommand::decode(bytesOf(R"({"recording":false,"macName":"M"})")), nlohmann::json::exception);
    EXPECT_THROW(CameraCommand::decode(bytesOf("[1,2]")), nlohmann::json::exception);
    EXPECT_THROW(CameraCommand::decode(Bytes{}), nlohmann::json::exception);
}

TEST(CameraCommand, EncodingLeavesAbsentOptionalsOutAndRoundTrips) {
    const CameraCommand hello{false, false, "Desk", 1, std::nullopt, std::nullopt};
    const auto payload = payloadOf(hello.encoded());
    EXPECT_EQ(nlohmann::json::parse(payload), (nlohmann::json{{"sending", false}, {"recording", false}, {"macName", "Desk"}, {"audioVersion", 1}}));
    EXPECT_EQ(CameraCommand::decode(payload), hello);
    const CameraCommand full{true, true, "Desk", 1, true, std::numeric_limits<std::uint64_t>::max()};
    EXPECT_EQ(CameraCommand::decode(payloadOf(full.encoded())), full);
}

TEST(MicrophoneStatus, VersionNameAndErrorLimits) {
    const auto status = [](int version, const std::string& name, std::optional<std::string> error) {
        nlohmann::json json{{"version", version}, {"name", name}, {"allowed", true}};
        if (error) {
            json["error"] = *error;
        }
        return bytesOf(json.dump());
    };
    EXPECT_EQ(MicrophoneStatus::decode(status(1, std::string(256, 'n'), std::nullopt)).name.size(), 256u);
    EXPECT_TRUE(isInvalid([&] { MicrophoneStatus::decode(status(2, "n", std::nullopt)); }));
    EXPECT_TRUE(isInvalid([&] { MicrophoneStatus::decode(status(1, std::string(257, 'n'), std::nullopt)); }));
    EXPECT_NO_THROW(MicrophoneStatus::decode(status(1, "n", std::string(1024, 'e'))));
    EXPECT_TRUE(isInvalid([&] { MicrophoneStatus::decode(status(1, "n", std::string(1025, 'e'))); }));
    const MicrophoneStatus refused{1, "Phone", false, "Denied"};
    EXPECT_EQ(MicrophoneStatus::decode(payloadOf(refused.encoded())), refused);
}

TEST(MicrophonePacket, SizeVersionAndTimeRules) {
    EXPECT_TRUE(isInvalid([] { MicrophonePacket::decode(packetPayload(1)); }));
    EXPECT_EQ(MicrophonePacket::decode(packetPayload(2)).pcm.size(), 2u);
    EXPECT_TRUE(isInvalid([] { MicrophonePacket::decode(packetPayload(3)); }));
    EXPECT_EQ(MicrophonePacket::decode(packetPayload(1920)).pcm.size(), 1920u);
    EXPECT_TRUE(isInvalid([] { MicrophonePacket::decode(packetPayload(1922)); }));
    EXPECT_TRUE(isInvalid([] { MicrophonePacket::decode(packetPayload(2, 2)); }));
    for (double time : {std::nan(""), std::numeric_limits<double>::infinity(), -1.0}) {
        EXPECT_TRUE(isInvalid([&] { MicrophonePacket::decode(packetPayload(2, 1, time)); })) << time;
    }
    EXPECT_NO_THROW(MicrophonePacket::decode(packetPayload(2, 1, -0.0)));
    EXPECT_TRUE(isInvalid([] { MicrophonePacket(1, 0, 0, Bytes{}); }));
}

TEST(MicrophonePacket, EncodingThenDecodingKeepsEveryField) {
    const MicrophonePacket packet(0x0102030405060708ULL, 0xFFFFFFFFFFFFFFFFULL, 12345.678901, Bytes(1920, 0x7F));
    const auto frame = packet.encoded();
    EXPECT_EQ(frame.size(), 9u + 1945u);
    EXPECT_EQ(MicrophonePacket::decode(payloadOf(frame)), packet);
}

TEST(MicrophoneClock, TimesMustBeFiniteAndNotNegative) {
    EXPECT_EQ(MicrophoneClock::decode(bytesOf(R"({"sent":0,"phone":0})")), (MicrophoneClock{0, 0}));
    EXPECT_TRUE(isInvalid([] { MicrophoneClock::decode(bytesOf(R"({"sent":1,"phone":-0.5})")); }));
    EXPECT_THROW(MicrophoneClock::decode(bytesOf(R"({"sent":1})")), nlohmann::json::exception);
    EXPECT_THROW(MicrophoneClock::decode(bytesOf(R"({"sent":1,"phone":1e999})")), nlohmann::json::exception);
    const MicrophoneClock echo{4321.25, 99.5};
    EXPECT_EQ(MicrophoneClock::decode(payloadOf(echo.encoded())), echo);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double infinity = std::numeric_limits<double>::infinity();
    for (const auto& [clock, field] : {std::pair{MicrophoneClock{nan, 0}, "sent"}, std::pair{MicrophoneClock{1, infinity}, "phone"},
                                       std::pair{MicrophoneClock{-infinity, 0}, "sent"}}) {
        try {
            clock.encoded();
            ADD_FAILURE() << field << " encoded";
        } catch (const nlohmann::json::exception& error) {
            EXPECT_NE(std::string(error.what()).find(field), std::string::npos) << error.what();
        }
    }
}

TEST(PhoneLinkMessages, NumbersOutsideTheirFieldsTypeAreWrongTypesNotConversions) {
    // Found by the link message fuzz program: a version far beyond any integer.
    const std::string hugeVersion =
        R"({"allowed":true,"erpor":"Denied","name":"Phone","version":1444444444444444444444444444444444444444444444444444444444444444444444444444444444444444444444444444})";
    EXPECT_THROW(MicrophoneStatus::decode(bytesOf(hugeVersion)), nlohmann::json::exception);
    EXPECT_THROW(MicrophoneStatus::decode(bytesOf(R"({"allowed":true,"name":"P","version":1.5})")), nlohmann::json::exception);
    EXPECT_TRUE(isInvalid([] { MicrophoneStatus::decode(bytesOf(R"({"allowed":true,"name":"P","version":18446744073709551615})")); }));
    EXPECT_THROW(CameraCommand::decode(bytesOf(R"({"sending":true,"recording":false,"macName":"M","audioVersion":1e300})")),
                 nlohmann::json::exception);
    EXPECT_THROW(CameraCommand::decode(bytesOf(
                     R"({"sending":true,"recording":false,"macName":"M","audioVersion":1,"microphone":true,"audioStream":-1})")),
                 nlohmann::json::exception);
    EXPECT_THROW(CameraCommand::decode(bytesOf(
                     R"({"sending":true,"recording":false,"macName":"M","audioVersion":1,"microphone":true,"audioStream":1e30})")),
                 nlohmann::json::exception);
}
