#include "capture/phonelink/receiver/usb_microphone_stream.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include "capture/phonelink/phone_link_messages.hpp"
#include "capture/phonelink/phone_link_test_kit.hpp"
#include <nlohmann/json.hpp>

using namespace yux;
using CameraWire::Bytes;
using yux::testing::errorText;

namespace {

// The phone's clock runs 500 s ahead of the host's: host = phone - 500.
constexpr double kOffset = -500;
// Packet times below are counted from this phone time.
constexpr double kPhoneShift = 1000;

Bytes clockPayload(double sent, double phone) {
    const auto frame = MicrophoneClock{sent, phone}.encoded();
    return Bytes(frame.begin() + CameraWire::headerSize, frame.end());
}

Bytes packetPayload(std::uint64_t stream, std::uint64_t offset, double time, std::size_t frames = 960,
                    std::int16_t value = 0) {
    Bytes pcm;
    for (std::size_t index = 0; index < frames; ++index) {
        pcm.push_back(static_cast<std::uint8_t>(value & 0xFF));
        pcm.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
    }
    const auto frame = MicrophonePacket(stream, offset, time + kPhoneShift, std::move(pcm)).encoded();
    return Bytes(frame.begin() + CameraWire::headerSize, frame.end());
}


struct StreamFixture : ::testing::Test {
    double now = 1000;
    platform::SystemLog log = platform::SystemLog::create_null();
    platform::OutputTracker<platform::SystemLogLine> lines = log.track_lines();
    USBMicrophoneStream stream{log, [this] { return now; }};
    std::vector<MicrophoneResult> delivered;

    // An echo whose ping left at `sent` and came back `rtt` later, answered at the midpoint.
    void echo(double sent, double rtt, double error = 0) {
        stream.synchronize(clockPayload(sent, sent + rtt / 2 - kOffset + error), sent + rtt);
    }

    void startSubscribed(std::uint64_t epoch) {
        stream.start(epoch);
        stream.subscribe([this](MicrophoneResult result) { delivered.push_back(std::move(result)); });
    }
};

}  // namespace

TEST_F(StreamFixture, RoundTripsUpTo100MillisecondsAreAcceptedLongerOrNegativeOnesAreNot) {
    stream.synchronize(clockPayload(10, 0), 10.1001);
    stream.synchronize(clockPayload(10, 0), 9.999);
    EXPECT_FALSE(stream.synchronized());
    stream.synchronize(clockPayload(10, 10.05 - kOffset), 10.1);
    EXPECT_TRUE(stream.synchronized());
    EXPECT_NEAR(*stream.clockOffset(), kOffset, 1e-9);
    const auto all = lines.data();
    EXPECT_EQ(std::count_if(all.begin(), all.end(), [](const auto& line) {
                  return line.message.starts_with("yux_usb_audio_clock_rejected rtt_ms=100.10");
              }),
              1);
}

TEST(USBMicrophoneStreamClockLog, TheFirstOffsetIsWrittenAndThenAtMostOneLineASecond) {
    struct Case {
        const char* what;
        // Echoes with a 150 ms round trip come first, then echoes with 1 ms.
        int rejected;
        int accepted;
        // Between two echoes, on the stream's clock.
        int stepMicroseconds;
        std::vector<std::string> lines;
    };
    const std::vector<Case> cases = {
        {"a thousand echoes within half a second", 0, 1000, 500, {"yux_usb_audio_clock rtt_ms=1.00"}},
        {"an echo every 10 ms for 2.5 s", 0, 250, 10000,
         {"yux_usb_audio_clock rtt_ms=1.00", "yux_usb_audio_clock rtt_ms=1.00 skipped=99",
          "yux_usb_audio_clock rtt_ms=1.00 skipped=99"}},
        {"rejected echoes, then the first offset at once", 50, 1, 1000,
         {"yux_usb_audio_clock_rejected rtt_ms=150.00", "yux_usb_audio_clock rtt_ms=1.00 skipped=49"}},
    };
    for (const auto& test : cases) {
        double now = 0;
        auto log = platform::SystemLog::create_null();
        auto lines = log.track_lines();
        USBMicrophoneStream stream(log, [&] { return now; });
        for (int index = 0; index < test.rejected + test.accepted; ++index) {
            now = 10 + static_cast<double>(index * test.stepMicroseconds) / 1e6;
            const double rtt = index < test.rejected ? 0.15 : 0.001;
            stream.synchronize(clockPayload(now, now + rtt / 2 - kOffset), now + rtt);
        }
        std::vector<std::string> written;
        for (const auto& line : lines.data()) written.push_back(line.message);
        EXPECT_EQ(written, test.lines) << test.what;
    }
}

TEST_F(StreamFixture, BeforeAStreamEveryEchoReplacesTheOffsetWhileRunningTheAnchorsOffsetStays) {
    echo(10, 0.001);
    echo(11, 0.05, 0.004);
    EXPECT_NEAR(*stream.clockOffset(), kOffset - 0.004, 1e-9) << "a worse round trip still counts before a stream";
    startSubscribed(1);
    echo(12, 0.002, 0.01);
    EXPECT_NEAR(*stream.clockOffset(), kOffset - 0.01, 1e-9) << "a better echo waits for the next stream";
    // The running stream still stamps with the offset it started with.
    stream.receive(packetPayload(1, 0, 100));
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_NEAR(std::get<platform::SampleBuffer>(delivered[0]).presentationTime.seconds(), 100 + kPhoneShift + kOffset - 0.004, 1e-6);
}

TEST_F(StreamFixture, ASlowReturnPathKeepsARunningMicrophoneButRealDriftStopsIt) {
    echo(10, 0.001);
    startSubscribed(1);
    // 60 ms on the way back only: the midpoint guess is 30 ms off, within its own doubt.
    stream.synchronize(clockPayload(20, 20 + 0.0005 - kOffset), 20.061);
    EXPECT_NO_THROW(stream.receive(packetPayload(1, 0, 100)));
    // An echo at 1 ms round trip that disagrees by 25 ms is drift.
    EXPECT_EQ(errorText([&] { echo(30, 0.001, -0.025); }), "USB microphone clock drift exceeded 20 ms");
}

TEST_F(StreamFixture, StartNeedsAClockAndSubscribeARunningStream) {
    EXPECT_EQ(errorText([&] { stream.start(1); }), "USB microphone clock is not ready. Try again.");
    EXPECT_EQ(errorText([&] { stream.subscribe([](MicrophoneResult) {}); }), "USB microphone is off");
    echo(1, 0.001);
    EXPECT_NO_THROW(stream.start(1));
}

TEST_F(StreamFixture, PacketsBecomeGaplessBuffersOnTheHostClock) {
    echo(10, 0.001);
    startSubscribed(4);
    EXPECT_FALSE(stream.running());
    // Phone stamps jitter by up to a few milliseconds; the buffers follow the sample count.
    stream.receive(packetPayload(4, 0, 100.000));
    stream.receive(packetPayload(4, 960, 100.023));
    stream.receive(packetPayload(4, 1920, 100.038, 480));
    EXPECT_TRUE(stream.running());
    ASSERT_EQ(delivered.size(), 3u);
    double expected = 100 + kPhoneShift + kOffset;
    for (const auto& result : delivered) {
        const auto& sample = std::get<platform::SampleBuffer>(result);
        const auto* audio = sample.audio();
        ASSERT_NE(audio, nullptr);
        EXPECT_EQ(audio->format, platform::AudioSampleFormat::int16);
        EXPECT_EQ(audio->channels, 1);
        EXPECT_EQ(audio->sampleRate, 48000);
        EXPECT_NEAR(sample.presentationTime.seconds(), expected, 1e-6);
        expected += sample.duration.seconds();
    }
    EXPECT_NEAR(std::get<platform::SampleBuffer>(delivered[0]).duration.seconds(), 0.02, 1e-12);
    EXPECT_EQ(std::get<platform::SampleBuffer>(delivered[2]).audio()->frameCount(), 480);
}

TEST_F(StreamFixture, GapsJumpsAndOtherStreamsAreTold) {
    echo(10, 0.001);
    startSubscribed(2);
    EXPECT_EQ(errorText([&] { stream.receive(packetPayload(2, 960, 100)); }), "USB microphone audio was interrupted");
    stream.receive(packetPayload(1, 0, 100));
    EXPECT_TRUE(delivered.empty()) << "a packet of an earlier stream is dropped";
    stream.receive(packetPayload(2, 0, 100));
    EXPECT_EQ(errorText([&] { stream.receive(packetPayload(2, 960, 100.045)); }),
              "USB microphone capture clock discontinuity");
}

TEST_F(StreamFixture, LevelIsTheRootMeanSquare) {
    echo(10, 0.001);
    startSubscribed(1);
    stream.receive(packetPayload(1, 0, 100, 960, -32768));
    EXPECT_DOUBLE_EQ(stream.microphoneLevel(), 1.0);
    stream.receive(packetPayload(1, 960, 100.02, 960, 0));
    EXPECT_DOUBLE_EQ(stream.microphoneLevel(), 0.0);
}

TEST_F(StreamFixture, SilenceAfterAudioFailsHealthAndAFailureReachesTheSubscriberOnce) {
    echo(10, 0.001);
    startSubscribed(1);
    now = 2000;
    EXPECT_NO_THROW(stream.checkHealth()) << "before the first packet the start wait covers silence";
    stream.receive(packetPayload(1, 0, 100));
    now += 2.0;
    EXPECT_NO_THROW(stream.checkHealth());
    now += 0.01;
    std::exception_ptr failure;
    try {
        stream.checkHealth();
    } catch (...) {
        failure = std::current_exception();
    }
    EXPECT_EQ(errorText(failure), "USB microphone stopped supplying audio");
    stream.stop(failure);
    ASSERT_EQ(delivered.size(), 2u);
    EXPECT_EQ(errorText(std::get<std::exception_ptr>(delivered[1])), "USB microphone stopped supplying audio");
    EXPECT_EQ(errorText([&] { stream.subscribe([](MicrophoneResult) {}); }), "USB microphone stopped supplying audio");
    EXPECT_FALSE(stream.running());
    EXPECT_NO_THROW(stream.start(2)) << "a new start clears the failure";
}

TEST_F(StreamFixture, BadPayloadsFailWithTheLinksErrors) {
    EXPECT_THROW(stream.synchronize(Bytes{'{'}, 1), nlohmann::json::exception);
    echo(10, 0.001);
    startSubscribed(1);
    EXPECT_THROW(stream.receive(Bytes(26, 1)), CameraWire::Failure);
}

TEST_F(StreamFixture, APhoneClock40PpmFastStopsTheMicrophoneAfterAboutEightMinutes) {
    // Pings every 10 s at 1 ms round trip; the phone's clock gains 40 µs a second on the host's.
    constexpr double kDrift = 40e-6;
    echo(10, 0.001);
    startSubscribed(1);
    double failedAt = 0;
    for (double at = 20; at < 1200 && failedAt == 0; at += 10) {
        try {
            echo(at, 0.001, kDrift * (at - 10));
        } catch (const AppError& error) {
            EXPECT_EQ(error.detail(), "USB microphone clock drift exceeded 20 ms");
            failedAt = at - 10;
        }
    }
    EXPECT_GT(failedAt, 8 * 60);
    EXPECT_LT(failedAt, 9 * 60);
}
