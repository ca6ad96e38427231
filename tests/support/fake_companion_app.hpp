#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <QColor>
#include <QSize>

#include "capture/phonelink/phone_link_messages.hpp"

namespace yux::testing {

// The phone side of one tunnel, built from the link library's encoders: it greets, reports
// its microphone, sends pictures of one colour while asked to, answers clock pings on a phone
// clock of its own, streams a 48 kHz tone while asked to, and records every command.
class FakeCompanionApp {
public:
    struct Options {
        // None: the app never greets.
        std::optional<std::string> hello = "Yux Cam 1";
        std::optional<MicrophoneStatus> status = MicrophoneStatus{1, "Test Phone", true, std::nullopt};
        QSize pictureSize{320, 240};
        QColor colour{20, 140, 230};
        // "JPEG" or "PNG".
        const char* pictureFormat = "JPEG";
        std::chrono::milliseconds frameInterval{33};
        // Encoded pictures sent in turn instead of the one made from size and colour.
        std::vector<std::vector<std::uint8_t>> pictures;
        // Phone clock = host clock + offset (seconds), running fast by `drift` (0.00004 = 40 ppm).
        double clockOffset = 1000.0;
        double drift = 0;
        // False: pings are read and never answered.
        bool answerPings = true;
        // The first this many pings are read and never answered.
        int unansweredPings = 0;
        // Echoes of clock pings leave this late.
        std::chrono::milliseconds echoDelay{0};
        // Tone frequency in hertz.
        double toneFrequency = 1000;
        // Answers the first command to send pictures with this camera failure, ahead of its
        // pictures, which follow as usual.
        std::optional<std::string> cameraFailure;
    };

    FakeCompanionApp();
    explicit FakeCompanionApp(Options options);
    ~FakeCompanionApp();
    FakeCompanionApp(const FakeCompanionApp&) = delete;
    FakeCompanionApp& operator=(const FakeCompanionApp&) = delete;

    // Serves one tunnel until hangUp() or the peer goes; takes the descriptor.
    void take(int descriptor);
    void send(const std::vector<std::uint8_t>& frame);
    void hangUp();

    std::vector<CameraCommand> commands() const;
    int pingsReceived() const { return pings_.load(); }
    int picturesSent() const { return pictures_.load(); }
    std::int64_t samplesSent() const { return samples_.load(); }
    // The host clock (CLOCK_MONOTONIC, seconds) as each picture began to leave, in order.
    std::vector<double> pictureSendTimes() const;
    // Waits until `count` commands arrived; false after `timeout`.
    bool waitForCommands(std::size_t count, std::chrono::milliseconds timeout) const;
    // The encoded picture the app sends.
    std::vector<std::uint8_t> picture() const { return picture_; }
    // Phone time of the first sample of the latest microphone stream; none before one.
    std::optional<double> streamStartPhoneTime() const;
    double clockOffset() const { return options_.clockOffset; }
    // The phone clock now.
    double phoneNow() const;

private:
    void run(int descriptor);

    Options options_;
    std::vector<std::uint8_t> picture_;
    std::size_t nextPicture_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> pings_{0};
    std::atomic<int> pictures_{0};
    std::atomic<std::int64_t> samples_{0};
    std::mutex writeMutex_;
    int descriptor_ = -1;
    mutable std::mutex mutex_;
    mutable std::condition_variable commandArrived_;
    std::vector<CameraCommand> commands_;
    std::vector<double> pictureTimes_;
    std::optional<double> streamStart_;
    std::thread thread_;
};

}  // namespace yux::testing
