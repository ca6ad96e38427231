#include "capture/phonelink/receiver/usb_microphone_stream.hpp"

#include <cmath>
#include <cstdio>
#include <utility>

#include "capture/phonelink/phone_link_messages.hpp"
#include "platform/media/host_clock.hpp"

namespace yux {

namespace {

constexpr const char* kCategory = "USBMicrophone";

std::string formatted(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

}  // namespace

USBMicrophoneStream::USBMicrophoneStream(platform::SystemLog log, Clock clock)
    : log_(std::move(log)), clock_(clock ? std::move(clock) : Clock([] { return platform::hostTimeNow().seconds(); })) {}

void USBMicrophoneStream::start(std::uint64_t epoch) {
    onQueue([&] {
        if (state_.nextClockOffset) {
            state_.clockOffset = state_.nextClockOffset;
            state_.offsetRoundTrip = state_.nextOffsetRoundTrip;
            state_.nextClockOffset.reset();
        }
        if (!state_.clockOffset) {
            throw AppError::microphoneFailed("USB microphone clock is not ready. Try again.");
        }
        state_.epoch = epoch;
        state_.nextOffset = 0;
        state_.anchor.reset();
        state_.first = false;
        state_.failure = nullptr;
        state_.lastAudio.reset();
        // The stream's stamps are right to half this round trip: its offset's own doubt.
        log_.info(kCategory, formatted("yux_usb_microphone_started rtt_ms=%.3f", state_.offsetRoundTrip * 1000));
    });
}

void USBMicrophoneStream::subscribe(USBCameraReceiver::MicrophoneReceive receiver) {
    onQueue([&] {
        if (state_.failure) {
            std::rethrow_exception(state_.failure);
        }
        if (!state_.epoch) {
            throw AppError::microphoneFailed("USB microphone is off");
        }
        state_.receiver = std::move(receiver);
    });
}

void USBMicrophoneStream::unsubscribe() {
    onQueue([&] { state_.receiver = nullptr; });
}

void USBMicrophoneStream::stop(std::exception_ptr error) {
    onQueue([&] {
        // Already ended by a failure: a phone repeating a bad echo changes nothing and writes
        // no line for each; the first failure stays the one reported.
        if (error && state_.failure && !state_.epoch) {
            return;
        }
        if (error) {
            state_.failure = error;
            if (state_.receiver) {
                state_.receiver(error);
            }
        }
        state_.receiver = nullptr;
        state_.epoch.reset();
        state_.level = 0;
        state_.first = false;
        log_.info(kCategory, std::string("yux_usb_microphone_stopped error=") + (error ? "1" : "0"));
    });
}

void USBMicrophoneStream::synchronize(std::span<const std::uint8_t> payload, double received) {
    const auto clock = MicrophoneClock::decode(payload);
    onQueue([&] {
        const double roundTrip = received - clock.sent;
        if (!(roundTrip >= 0 && roundTrip <= kMaximumRoundTrip)) {
            logClock(formatted("yux_usb_audio_clock_rejected rtt_ms=%.2f", roundTrip * 1000), false);
            return;
        }
        // The phone answered somewhere within the round trip; the midpoint is right to ±rtt/2.
        const double candidate = (received + clock.sent) / 2 - clock.phone;
        bool firstOffset = false;
        if (state_.epoch && state_.clockOffset) {
            // Both estimates carry half their round trip of doubt; only a disagreement beyond
            // that and the stamp tolerance is real drift.
            const double allowed = kTolerance + (roundTrip + state_.offsetRoundTrip) / 2;
            if (std::abs(candidate - *state_.clockOffset) > allowed) {
                throw AppError::microphoneFailed("USB microphone clock drift exceeded 20 ms");
            }
            if (roundTrip >= state_.bestRoundTrip) {
                return;
            }
            // The running stream keeps the offset its anchor was taken with.
            state_.bestRoundTrip = roundTrip;
            state_.nextClockOffset = candidate;
            state_.nextOffsetRoundTrip = roundTrip;
        } else {
            firstOffset = !state_.clockOffset;
            state_.bestRoundTrip = roundTrip;
            state_.clockOffset = candidate;
            state_.offsetRoundTrip = roundTrip;
            state_.nextClockOffset.reset();
        }
        logClock(formatted("yux_usb_audio_clock rtt_ms=%.2f", roundTrip * 1000), firstOffset);
    });
}

void USBMicrophoneStream::logClock(const std::string& line, bool firstOffset) {
    const double now = clock_();
    if (!firstOffset && state_.lastClockLine && now - *state_.lastClockLine < kClockLogInterval) {
        ++state_.skippedClockLines;
        return;
    }
    const auto skipped = std::exchange(state_.skippedClockLines, 0);
    log_.info(kCategory, skipped == 0 ? line : line + " skipped=" + std::to_string(skipped));
    state_.lastClockLine = now;
}

void USBMicrophoneStream::receive(std::span<const std::uint8_t> payload) {
    onQueue([&] {
        // Packets that arrive while no stream runs are not even read.
        if (!state_.epoch || state_.failure) {
            return;
        }
        const auto packet = MicrophonePacket::decode(payload);
        if (packet.stream != *state_.epoch) {
            return;
        }
        if (packet.offset != state_.nextOffset || !state_.clockOffset) {
            throw AppError::microphoneFailed("USB microphone audio was interrupted");
        }
        const double host = packet.time + *state_.clockOffset;
        if (!state_.anchor) {
            state_.anchor = host;
        }
        const double expected = *state_.anchor + static_cast<double>(packet.offset) / MicrophonePacket::sampleRate;
        if (std::abs(host - expected) > kTolerance) {
            throw AppError::microphoneFailed("USB microphone capture clock discontinuity");
        }
        const auto frames = static_cast<std::int64_t>(packet.pcm.size() / 2);
        platform::AudioBuffer audio;
        audio.format = platform::AudioSampleFormat::int16;
        audio.sampleRate = MicrophonePacket::sampleRate;
        audio.channels = 1;
        audio.bytes = std::make_shared<const std::vector<std::uint8_t>>(packet.pcm);
        platform::SampleBuffer sample;
        // Stamped where the stream says it belongs, so the track has no gaps or overlaps.
        sample.presentationTime = platform::MediaTime::fromSeconds(expected);
        sample.duration = platform::MediaTime(frames, MicrophonePacket::sampleRate);
        sample.payload = std::move(audio);
        state_.lastAudio = clock_();
        state_.nextOffset += static_cast<std::uint64_t>(frames);
        double squares = 0;
        for (std::size_t index = 0; index + 1 < packet.pcm.size(); index += 2) {
            const auto value = static_cast<std::int16_t>(packet.pcm[index] | (packet.pcm[index + 1] << 8));
            const double scaled = value / 32768.0;
            squares += scaled * scaled;
        }
        state_.level = std::min(std::sqrt(squares / static_cast<double>(frames)), 1.0);
        if (!state_.first) {
            state_.first = true;
            log_.info(kCategory, "yux_usb_first_audio rate=48000 channels=1 frames=" + std::to_string(frames));
        }
        if (state_.receiver) {
            state_.receiver(std::move(sample));
        }
    });
}

void USBMicrophoneStream::checkHealth() {
    onQueue([&] {
        if (state_.epoch && !state_.failure && state_.lastAudio && clock_() - *state_.lastAudio > kSilenceLimit) {
            throw AppError::microphoneFailed("USB microphone stopped supplying audio");
        }
    });
}

void USBMicrophoneStream::publish() {
    std::lock_guard lock(publishedMutex_);
    published_.running = state_.epoch.has_value() && state_.first && !state_.failure;
    published_.level = state_.level;
    published_.failure = state_.failure;
    published_.clockOffset = state_.nextClockOffset ? state_.nextClockOffset : state_.clockOffset;
    published_.synchronized = published_.clockOffset.has_value();
}

bool USBMicrophoneStream::running() {
    std::lock_guard lock(publishedMutex_);
    return published_.running;
}

double USBMicrophoneStream::microphoneLevel() {
    std::lock_guard lock(publishedMutex_);
    return published_.level;
}

std::exception_ptr USBMicrophoneStream::error() {
    std::lock_guard lock(publishedMutex_);
    return published_.failure;
}

bool USBMicrophoneStream::synchronized() {
    std::lock_guard lock(publishedMutex_);
    return published_.synchronized;
}

std::optional<double> USBMicrophoneStream::clockOffset() {
    std::lock_guard lock(publishedMutex_);
    return published_.clockOffset;
}

}  // namespace yux
