#include "capture/phonelink/camera_wire.hpp"

#include <gtest/gtest.h>

using namespace yux;
using CameraWire::Bytes;
using CameraWire::Decoder;
using CameraWire::Failure;
using CameraWire::Kind;

namespace {

Bytes header(std::uint8_t version, std::uint8_t kind, std::uint32_t length) {
    return {'Y', 'u', 'x', version, kind, static_cast<std::uint8_t>(length >> 24),
            static_cast<std::uint8_t>(length >> 16), static_cast<std::uint8_t>(length >> 8),
            static_cast<std::uint8_t>(length)};
}

Bytes text(const std::string& value) { return Bytes(value.begin(), value.end()); }

Failure::Case failureOf(Decoder& decoder, const Bytes& bytes) {
    try {
        decoder.append(bytes);
    } catch (const Failure& failure) {
        return failure.failureCase();
    }
    ADD_FAILURE() << "no failure";
    return Failure::Case::invalidCommand;
}

}  // namespace

TEST(CameraWire, EncodesMagicKindBigEndianLengthAndPayload) {
    EXPECT_EQ(CameraWire::encode(Kind::clock, text("ab")), (Bytes{'Y', 'u', 'x', 1, 7, 0, 0, 0, 2, 'a', 'b'}));
    EXPECT_EQ(CameraWire::encode(Kind::hello, {}).size(), 9u);
}

TEST(CameraWire, EncodingRefusesPayloadsAboveTheKindsLimitAndAcceptsExactlyTheLimit) {
    EXPECT_NO_THROW(CameraWire::encode(Kind::microphone, Bytes(1945)));
    EXPECT_THROW(CameraWire::encode(Kind::microphone, Bytes(1946)), Failure);
    EXPECT_NO_THROW(CameraWire::encode(Kind::command, Bytes(4096)));
    EXPECT_THROW(CameraWire::encode(Kind::hello, Bytes(4097)), Failure);
    EXPECT_NO_THROW(CameraWire::encode(Kind::frame, Bytes(CameraWire::maximumPayload)));
}

TEST(CameraWire, FrameSplitAtEveryBoundaryCompletesOnTheSecondAppendOnly) {
    const auto frame = CameraWire::encode(Kind::failure, text("camera gone"));
    for (std::size_t split = 0; split <= frame.size(); ++split) {
        Decoder decoder;
        const auto first = decoder.append(std::span(frame).first(split));
        const auto second = decoder.append(std::span(frame).subspan(split));
        const auto& completed = split == frame.size() ? first : second;
        EXPECT_EQ(first.size() + second.size(), 1u) << split;
        ASSERT_EQ(completed.size(), 1u) << split;
        EXPECT_EQ(completed[0], (CameraWire::Message{Kind::failure, text("camera gone")}));
    }
}

TEST(CameraWire, SeveralFramesInOneAppendComeOutInOrderAndAPartialOneWaits) {
    Bytes stream;
    for (auto kind : {Kind::hello, Kind::frame, Kind::clock, Kind::microphoneStatus}) {
        const auto frame = CameraWire::encode(kind, text(std::string(1, static_cast<char>('0' + static_cast<int>(kind)))));
        stream.insert(stream.end(), frame.begin(), frame.end());
    }
    Decoder decoder;
    const auto messages = decoder.append(std::span(stream).first(stream.size() - 3));
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[0].kind, Kind::hello);
    EXPECT_EQ(messages[1].kind, Kind::frame);
    EXPECT_EQ(messages[2].payload, text("7"));
    const auto last = decoder.append(std::span(stream).last(3));
    ASSERT_EQ(last.size(), 1u);
    EXPECT_EQ(last[0].kind, Kind::microphoneStatus);
    EXPECT_EQ(decoder.pendingSize(), 0u);
}

TEST(CameraWire, EmptyPayloadAndEveryKindRoundTrip) {
    for (std::uint8_t raw = 1; raw <= 7; ++raw) {
        const auto kind = static_cast<Kind>(raw);
        for (const auto& payload : {Bytes{}, Bytes(CameraWire::payloadLimit(kind), raw)}) {
            Decoder decoder;
            const auto messages = decoder.append(CameraWire::encode(kind, payload));
            ASSERT_EQ(messages.size(), 1u);
            EXPECT_EQ(messages[0], (CameraWire::Message{kind, payload}));
        }
    }
}

TEST(CameraWire, HeaderLimitsAreJudgedBeforeAnyPayloadByte) {
    Decoder microphone;
    EXPECT_NO_THROW(microphone.append(header(1, 6, 1945)));
    Decoder tooLong;
    EXPECT_EQ(failureOf(tooLong, header(1, 6, 1946)), Failure::Case::oversizedPayload);
    Decoder picture;
    EXPECT_NO_THROW(picture.append(header(1, 3, CameraWire::maximumPayload)));
    EXPECT_LT(picture.pendingSize(), 16u) << "a declared length reserves nothing";
    Decoder hugePicture;
    EXPECT_EQ(failureOf(hugePicture, header(1, 3, CameraWire::maximumPayload + 1)), Failure::Case::oversizedPayload);
    Decoder maximal;
    EXPECT_EQ(failureOf(maximal, header(1, 3, 0xFFFFFFFF)), Failure::Case::oversizedPayload);
}

TEST(CameraWire, BadMagicVersionOrKindFailsOnlyOnceTheNinthByteArrives) {
    const auto versionTwo = header(2, 1, 0);
    Decoder decoder;
    EXPECT_TRUE(decoder.append(std::span(versionTwo).first(8)).empty());
    EXPECT_EQ(failureOf(decoder, Bytes{versionTwo.back()}), Failure::Case::invalidHeader);
    for (std::uint8_t kind : {0, 8, 255}) {
        Decoder kindDecoder;
        EXPECT_EQ(failureOf(kindDecoder, header(1, kind, 0)), Failure::Case::invalidHeader) << int(kind);
    }
    Decoder garbage;
    EXPECT_EQ(failureOf(garbage, text("GET / HTTP/1.1\r\n")), Failure::Case::invalidHeader);
}

TEST(CameraWire, AfterAFailureEvenAValidFrameFailsAndEarlierMessagesOfTheCallAreDropped) {
    Decoder decoder;
    auto stream = CameraWire::encode(Kind::hello, text("Yux Cam 1"));
    const auto bad = header(1, 9, 0);
    stream.insert(stream.end(), bad.begin(), bad.end());
    EXPECT_EQ(failureOf(decoder, stream), Failure::Case::invalidHeader);
    EXPECT_EQ(failureOf(decoder, CameraWire::encode(Kind::hello, text("Yux Cam 1"))), Failure::Case::invalidHeader);
}

TEST(CameraWire, FailureTextsNameTheLinkFault) {
    EXPECT_STREQ(Failure(Failure::Case::invalidHeader).what(), "Invalid Yux Cam frame header");
    EXPECT_STREQ(Failure(Failure::Case::oversizedPayload).what(), "Yux Cam frame too large");
    EXPECT_STREQ(Failure(Failure::Case::invalidCommand).what(), "Invalid Yux Cam message");
    EXPECT_EQ(Failure(Failure::Case::invalidHeader), Failure(Failure::Case::invalidHeader));
}
