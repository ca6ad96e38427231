#include "support/fake_companion_app.hpp"

#include <cmath>
#include <numbers>

#include <QBuffer>
#include <QImage>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

namespace yux::testing {

namespace {

double hostSeconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// 20 ms of sound per packet, the most one packet carries.
constexpr std::size_t kFramesPerPacket = 960;

}  // namespace

FakeCompanionApp::FakeCompanionApp() : FakeCompanionApp(Options{}) {}

FakeCompanionApp::FakeCompanionApp(Options options) : options_(std::move(options)) {
    if (!options_.pictures.empty()) {
        return;
    }
    QImage image(options_.pictureSize, QImage::Format_RGB32);
    image.fill(options_.colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, options_.pictureFormat, 95);
    picture_.assign(bytes.begin(), bytes.end());
}

FakeCompanionApp::~FakeCompanionApp() {
    hangUp();
    if (thread_.joinable()) {
        thread_.join();
    }
}

std::optional<double> FakeCompanionApp::streamStartPhoneTime() const {
    std::lock_guard lock(mutex_);
    return streamStart_;
}

double FakeCompanionApp::phoneNow() const { return hostSeconds() * (1 + options_.drift) + options_.clockOffset; }

void FakeCompanionApp::take(int descriptor) {
    {
        std::lock_guard lock(writeMutex_);
        descriptor_ = descriptor;
    }
    thread_ = std::thread([this, descriptor] { run(descriptor); });
}

void FakeCompanionApp::send(const std::vector<std::uint8_t>& frame) {
    std::lock_guard lock(writeMutex_);
    std::size_t done = 0;
    while (descriptor_ >= 0 && done < frame.size()) {
        const auto sent = ::send(descriptor_, frame.data() + done, frame.size() - done, MSG_NOSIGNAL);
        if (sent <= 0) {
            return;
        }
        done += static_cast<std::size_t>(sent);
    }
}

void FakeCompanionApp::hangUp() {
    stopping_ = true;
    std::lock_guard lock(writeMutex_);
    if (descriptor_ >= 0) {
        ::shutdown(descriptor_, SHUT_RDWR);
    }
}

std::vector<double> FakeCompanionApp::pictureSendTimes() const {
    std::lock_guard lock(mutex_);
    return pictureTimes_;
}

std::vector<CameraCommand> FakeCompanionApp::commands() const {
    std::lock_guard lock(mutex_);
    return commands_;
}

bool FakeCompanionApp::waitForCommands(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return commandArrived_.wait_for(lock, timeout, [&] { return commands_.size() >= count; });
}

void FakeCompanionApp::run(int descriptor) {
    if (const auto& hello = options_.hello) {
        send(CameraWire::encode(CameraWire::Kind::hello,
                                std::span(reinterpret_cast<const std::uint8_t*>(hello->data()), hello->size())));
    }
    if (options_.status) {
        send(options_.status->encoded());
    }
    CameraWire::Decoder decoder;
    std::optional<CameraCommand> latest;
    auto nextPicture = std::chrono::steady_clock::now();
    std::optional<std::uint64_t> audioStream;
    std::uint64_t audioOffset = 0;
    double audioStartPhone = 0;
    std::vector<std::uint8_t> incoming(65536);
    while (!stopping_) {
        pollfd fd{descriptor, POLLIN, 0};
        if (::poll(&fd, 1, 2) > 0) {
            const auto received = ::recv(descriptor, incoming.data(), incoming.size(), 0);
            if (received <= 0) {
                break;
            }
            std::vector<CameraWire::Message> messages;
            try {
                messages = decoder.append(std::span(incoming.data(), static_cast<std::size_t>(received)));
            } catch (...) {
                break;
            }
            for (const auto& message : messages) {
                if (message.kind == CameraWire::Kind::clock) {
                    if (++pings_ <= options_.unansweredPings || !options_.answerPings) {
                        continue;
                    }
                    auto clock = MicrophoneClock::decode(message.payload);
                    if (options_.echoDelay.count() > 0) {
                        std::this_thread::sleep_for(options_.echoDelay);
                    }
                    clock.phone = phoneNow();
                    send(clock.encoded());
                } else if (message.kind == CameraWire::Kind::command) {
                    const auto command = CameraCommand::decode(message.payload);
                    if (options_.cameraFailure && command.sending && !(latest && latest->sending)) {
                        const auto& text = *options_.cameraFailure;
                        send(CameraWire::encode(CameraWire::Kind::failure,
                                                std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size())));
                        options_.cameraFailure.reset();
                    }
                    latest = command;
                    {
                        std::lock_guard lock(mutex_);
                        commands_.push_back(command);
                    }
                    commandArrived_.notify_all();
                    const bool microphoneOn = command.microphone.value_or(false) && command.audioStream;
                    if (microphoneOn && audioStream != command.audioStream) {
                        audioStream = command.audioStream;
                        audioOffset = 0;
                        audioStartPhone = phoneNow();
                        std::lock_guard lock(mutex_);
                        streamStart_ = audioStartPhone;
                    } else if (!microphoneOn) {
                        audioStream.reset();
                    }
                }
            }
        }
        const auto now = std::chrono::steady_clock::now();
        if (latest && latest->sending && now >= nextPicture) {
            const auto& picture =
                options_.pictures.empty() ? picture_ : options_.pictures[nextPicture_++ % options_.pictures.size()];
            {
                std::lock_guard lock(mutex_);
                pictureTimes_.push_back(hostSeconds());
            }
            send(CameraWire::encode(CameraWire::Kind::frame, picture));
            ++pictures_;
            nextPicture = now + options_.frameInterval;
        }
        // The tone goes out in real time, packet by packet, stamped on the phone clock.
        while (audioStream && phoneNow() >= audioStartPhone + static_cast<double>(audioOffset + kFramesPerPacket) /
                                                                   MicrophonePacket::sampleRate) {
            std::vector<std::uint8_t> pcm;
            pcm.reserve(kFramesPerPacket * 2);
            for (std::size_t index = 0; index < kFramesPerPacket; ++index) {
                const double t = static_cast<double>(audioOffset + index) / MicrophonePacket::sampleRate;
                const auto sample = static_cast<std::int16_t>(
                    std::lround(16000 * std::sin(2 * std::numbers::pi * options_.toneFrequency * t)));
                pcm.push_back(static_cast<std::uint8_t>(sample & 0xFF));
                pcm.push_back(static_cast<std::uint8_t>((sample >> 8) & 0xFF));
            }
            const double time = audioStartPhone + static_cast<double>(audioOffset) / MicrophonePacket::sampleRate;
            send(MicrophonePacket(*audioStream, audioOffset, time, std::move(pcm)).encoded());
            audioOffset += kFramesPerPacket;
            samples_ += static_cast<std::int64_t>(kFramesPerPacket);
        }
    }
    std::lock_guard lock(writeMutex_);
    ::close(descriptor);
    descriptor_ = -1;
}

}  // namespace yux::testing
