#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <limits>
#include <mutex>
#include <optional>
#include <span>
#include <string>

#include "capture/usb_camera_receiver.hpp"
#include "platform/async/serial_queue.hpp"
#include "platform/desktop/system_log.hpp"

namespace yux {

// One phone's microphone: turns its packets, stamped on the phone's clock, into gapless
// int16 mono buffers on the host clock. The offset between the clocks comes from ping echoes.
// Every change runs synchronously on the stream's own queue; the subscriber is called on that
// queue and must not call back into the stream. The properties read a copy published after each
// change, so polling them (the main thread does, for meters and start waits) never waits for
// the queue.
class USBMicrophoneStream {
public:
    // Host clock in seconds.
    using Clock = std::function<double()>;

    // Echoes whose round trip is longer than this say too little about the offset.
    static constexpr double kMaximumRoundTrip = 0.1;
    // How far a packet's own stamp, or a new echo, may stray before the stream is stopped.
    static constexpr double kTolerance = 0.02;
    // A running stream that stays silent this long has failed.
    static constexpr double kSilenceLimit = 2.0;
    // Clock lines after the first offset are written at most this often: a phone may echo at
    // link speed, and the log is shared with everything else.
    static constexpr double kClockLogInterval = 1.0;

    explicit USBMicrophoneStream(platform::SystemLog log, Clock clock = {});
    USBMicrophoneStream(const USBMicrophoneStream&) = delete;
    USBMicrophoneStream& operator=(const USBMicrophoneStream&) = delete;

    void start(std::uint64_t epoch);
    void subscribe(USBCameraReceiver::MicrophoneReceive receiver);
    void unsubscribe();
    // An error on a stream that a failure already ended is ignored.
    void stop(std::exception_ptr error = nullptr);
    // `received`: host time at which the read that brought the echo returned.
    void synchronize(std::span<const std::uint8_t> payload, double received);
    void receive(std::span<const std::uint8_t> payload);
    void checkHealth();

    bool running();
    double microphoneLevel();
    std::exception_ptr error();
    bool synchronized();
    // The offset that the next start will use (host = phone + offset); none before any echo.
    std::optional<double> clockOffset();

private:
    struct State {
        std::optional<std::uint64_t> epoch;
        std::uint64_t nextOffset = 0;
        std::optional<double> anchor;
        std::optional<double> clockOffset;
        // Round trip of the echo that gave clockOffset.
        double offsetRoundTrip = std::numeric_limits<double>::infinity();
        double bestRoundTrip = std::numeric_limits<double>::infinity();
        // A better echo seen while a stream ran; used from the next start.
        std::optional<double> nextClockOffset;
        double nextOffsetRoundTrip = std::numeric_limits<double>::infinity();
        USBCameraReceiver::MicrophoneReceive receiver;
        double level = 0;
        bool first = false;
        std::exception_ptr failure;
        std::optional<double> lastAudio;
        // When the last clock line was written, and how many were left out since.
        std::optional<double> lastClockLine;
        std::uint64_t skippedClockLines = 0;
    };

    struct Published {
        bool running = false;
        double level = 0;
        std::exception_ptr failure;
        bool synchronized = false;
        std::optional<double> clockOffset;
    };

    template <class F>
    auto onQueue(F&& work) {
        return queue_.sync([&] {
            // Also when the work throws: the copy then shows the unchanged state.
            struct Publish {
                USBMicrophoneStream* stream;
                ~Publish() { stream->publish(); }
            } publish{this};
            return work();
        });
    }
    void publish();
    // Queue only. `firstOffset`: the line of the first offset, always written.
    void logClock(const std::string& line, bool firstOffset);

    platform::SystemLog log_;
    Clock clock_;
    State state_;
    mutable std::mutex publishedMutex_;
    Published published_;
    platform::SerialQueue queue_{"Yux.usb-microphone"};
};

}  // namespace yux
