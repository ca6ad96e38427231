#include "capture/phonelink/receiver/live_usb_camera_receiver.hpp"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <system_error>
#include <thread>

#include <QCoreApplication>
#include <QPointer>
#include <QString>
#include <QTextBoundaryFinder>
#include <future>
#include <nlohmann/json.hpp>
#include <unistd.h>

#include "capture/camera_preview_layer.hpp"
#include "capture/phonelink/phone_picture.hpp"
#include "capture/phonelink/receiver/reader_outbox.hpp"
#include "capture/phonelink/receiver/usb_microphone_stream.hpp"
#include "platform/async/errors.hpp"
#include "platform/async/main_thread.hpp"
#include "platform/async/run_on.hpp"
#include "platform/async/sleep.hpp"
#include "platform/media/host_clock.hpp"

namespace yux {

namespace {

constexpr const char* kCategory = "USBCamera";
constexpr const char* kDeviceSuffix = " · Yux Cam (USB)";
// Bytes asked of the tunnel per read.
constexpr std::size_t kReadSize = 65536;
// How often a reader waiting for the main thread looks at its stop flag.
constexpr auto kStopCheck = std::chrono::milliseconds(20);
// Pings sent after a phone's first microphone status, for a first clock offset.
constexpr int kFirstPings = 5;
// A microphone start that finds no clock offset sends as many again this often while it waits:
// on a busy machine every echo of the first pings can come back too late to count, and the
// reader pings only a synchronised stream, so "Try again" would never help.
constexpr auto kUnsynchronisedPingInterval = std::chrono::milliseconds(500);

// The sentence a dropped phone is reported with.
std::string describe(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const nlohmann::json::exception&) {
        return CameraWire::Failure(CameraWire::Failure::Case::invalidCommand).what();
    } catch (const PhonePictureError&) {
        return AppError::cameraFailed("Invalid iPhone frame").what();
    } catch (const std::exception& failure) {
        return failure.what();
    } catch (...) {
        return "Unknown error";
    }
}

// Posts to the main thread; dropped when the application is gone.
void post(std::function<void()> work) {
    if (QCoreApplication::instance() != nullptr) {
        platform::postToMain(std::move(work));
    }
}

std::string utf8Cleaned(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())).toStdString(); }

std::string firstCharacters(const std::string& text, std::size_t limit) {
    const auto whole = QString::fromStdString(text);
    if (userCharacterCount(text) <= limit) {
        return text;
    }
    QString cut;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, whole);
    qsizetype start = 0;
    for (std::size_t count = 0; count < limit; ++count) {
        const auto next = finder.toNextBoundary();
        if (next < 0) {
            break;
        }
        cut += whole.mid(start, next - start);
        start = next;
    }
    return cut.toStdString();
}

}  // namespace

std::string hostDisplayName(const std::string& machineInfoPath) {
    std::string name;
    std::ifstream info(machineInfoPath);
    for (std::string line; name.empty() && std::getline(info, line);) {
        if (line.rfind("PRETTY_HOSTNAME=", 0) != 0) {
            continue;
        }
        name = line.substr(16);
        if (name.size() >= 2 && (name.front() == '"' || name.front() == '\'') && name.back() == name.front()) {
            name = name.substr(1, name.size() - 2);
        }
    }
    if (name.empty()) {
        char host[256] = {};
        if (::gethostname(host, sizeof host - 1) == 0) {
            name = host;
        }
    }
    if (name.empty()) {
        return "Computer";
    }
    return firstCharacters(utf8Cleaned(name), kPhoneNameLimit);
}

// A camera start waiting for its first picture.
struct LiveUSBCameraReceiver::FirstFrame {
    platform::CancelToken token;
    bool done = false;
    std::exception_ptr error;

    void finish(std::exception_ptr failure) {
        if (done) {
            return;
        }
        done = true;
        error = std::move(failure);
        token.cancel();
    }
};

// One phone's connection as its reader thread sees it. The reader owns its tunnel, stream
// and decoding thread; the receiver is reached only through posted closures.
struct LiveUSBCameraReceiver::Reader {
    QPointer<LiveUSBCameraReceiver> receiver;
    std::string id;
    USBMuxConnection::Device device;
    std::uint64_t connection = 0;
    std::function<std::shared_ptr<USBMuxConnection>(const USBMuxConnection::Device&)> connect;
    std::function<double()> now;
    platform::SystemLog log = platform::SystemLog::create_null();
    double pingInterval = 10;
    std::shared_ptr<std::atomic<bool>> stop;
    std::shared_ptr<std::atomic<bool>> camera;
    std::shared_ptr<std::atomic<int>> liveThreads;

    std::shared_ptr<USBMuxConnection> tunnel;
    std::shared_ptr<USBMicrophoneStream> stream;
    // Link messages and decoded pictures on their way to the main thread.
    std::shared_ptr<ReaderOutbox> outbox;
    MessageFloodLimit flood;

    // One waiting picture: a newer one replaces it, so a slow decode never piles up work.
    std::mutex mailboxMutex;
    std::condition_variable mailboxChanged;
    std::optional<std::pair<CameraWire::Bytes, double>> mailbox;
    bool mailboxClosed = false;

    void postDisconnected(const std::string& error) {
        post([receiver = receiver, id = id, connection = connection, error] {
            if (receiver) receiver->disconnected(id, error, connection);
        });
    }

    bool waitForRegistration() {
        auto promise = std::make_shared<std::promise<bool>>();
        auto registered = promise->get_future();
        post([receiver = receiver, id = id, connection = connection, tunnel = tunnel, stream = stream, promise] {
            promise->set_value(receiver && receiver->registerConnection(id, connection, tunnel, stream));
        });
        for (;;) {
            if (stop->load()) {
                return false;
            }
            if (registered.wait_for(kStopCheck) == std::future_status::ready) {
                try {
                    return registered.get();
                } catch (const std::future_error&) {
                    return false;  // The closure was dropped with the event loop.
                }
            }
            if (QCoreApplication::instance() == nullptr) {
                return false;
            }
        }
    }

    void decodePictures() {
        for (;;) {
            std::pair<CameraWire::Bytes, double> next;
            {
                std::unique_lock lock(mailboxMutex);
                mailboxChanged.wait(lock, [this] { return mailbox.has_value() || mailboxClosed; });
                if (mailboxClosed) {
                    return;
                }
                next = std::move(*mailbox);
                mailbox.reset();
            }
            QImage image;
            try {
                image = decodePhonePicture(next.first);
            } catch (...) {
                stop->store(true);
                postDisconnected(describe(std::current_exception()));
                tunnel->interrupt();
                return;
            }
            const int width = image.width();
            const int height = image.height();
            const auto stride = static_cast<std::size_t>(image.bytesPerLine());
            auto* pixels = image.bits();
            // The picture keeps its own memory; the buffer only points into it.
            auto held = std::make_shared<QImage>(std::move(image));
            auto buffer = platform::PixelBuffer::wrap(pixels, width, height, stride, [held] {});
            outbox->sendPicture(std::move(buffer), next.second);
        }
    }

    void streamFailed(std::exception_ptr error) {
        try {
            stream->stop(error);
        } catch (...) {
        }
        post([receiver = receiver, id = id, connection = connection] {
            if (receiver) receiver->microphoneFailed(id, connection);
        });
    }

    void ping(double at) {
        const auto frame = MicrophoneClock{at, 0}.encoded();
        std::lock_guard lock(tunnel->writeLock);
        tunnel->writeBytes(frame);
    }

    // Every message but sound and pictures counts, clock echoes too: a phone repeating any of
    // them at link speed is a flood, whichever thread would take it.
    void admit(double received) {
        if (!flood.admit(received)) {
            log.error(kCategory, "yux_usb_message_flood limit=" + std::to_string(MessageFloodLimit::kMaxMessages) +
                                     " seconds=1");
            throw std::runtime_error("Yux Cam sent too many messages");
        }
    }

    void read() {
        double lastPing = now();
        CameraWire::Decoder decoder;
        while (!stop->load()) {
            const auto bytes = tunnel->readBytes(kReadSize);
            // Clock echoes and pictures are stamped when the read that brought them returned.
            const double received = now();
            for (auto& message : decoder.append(bytes)) {
                switch (message.kind) {
                case CameraWire::Kind::microphone:
                    try {
                        stream->receive(message.payload);
                    } catch (...) {
                        streamFailed(std::current_exception());
                    }
                    break;
                case CameraWire::Kind::clock:
                    admit(received);
                    try {
                        stream->synchronize(message.payload, received);
                    } catch (...) {
                        streamFailed(std::current_exception());
                    }
                    break;
                case CameraWire::Kind::frame: {
                    // Pictures of a phone that is not the camera in use are ignored undecoded.
                    if (!camera->load()) {
                        break;
                    }
                    std::lock_guard lock(mailboxMutex);
                    mailbox.emplace(std::move(message.payload), received);
                    mailboxChanged.notify_one();
                    break;
                }
                default:
                    admit(received);
                    if (!outbox->sendMessage(std::move(message), [this] {
                            return !stop->load() && QCoreApplication::instance() != nullptr;
                        })) {
                        return;
                    }
                }
            }
            try {
                stream->checkHealth();
            } catch (...) {
                streamFailed(std::current_exception());
            }
            const double current = now();
            if (current - lastPing >= pingInterval && stream->synchronized()) {
                ping(current);
                lastPing = current;
            }
        }
    }

    static void run(std::shared_ptr<Reader> reader) {
        try {
            reader->tunnel = reader->connect(reader->device);
        } catch (...) {
            if (!reader->stop->load()) {
                reader->postDisconnected(describe(std::current_exception()));
            }
            reader->liveThreads->fetch_sub(1);
            return;
        }
        reader->stream = std::make_shared<USBMicrophoneStream>(reader->log, reader->now);
        if (!reader->waitForRegistration()) {
            reader->tunnel->interrupt();
            reader->liveThreads->fetch_sub(1);
            return;
        }
        std::thread decoding;
        try {
            decoding = std::thread([reader] { reader->decodePictures(); });
            reader->read();
        } catch (...) {
            if (!reader->stop->load()) {
                reader->postDisconnected(describe(std::current_exception()));
            }
        }
        reader->tunnel->interrupt();
        {
            std::lock_guard lock(reader->mailboxMutex);
            reader->mailboxClosed = true;
            reader->mailboxChanged.notify_one();
        }
        if (decoding.joinable()) {
            decoding.join();
        }
        reader->liveThreads->fetch_sub(1);
    }
};

std::shared_ptr<LiveUSBCameraReceiver> LiveUSBCameraReceiver::create(platform::SystemLog log, USBMuxOptions mux,
                                                                     Timings timings) {
    Operations operations;
    operations.discover = [mux] { return USBMuxConnection::open(mux)->listDevices(); };
    operations.connect = [mux](const USBMuxConnection::Device& device) {
        return USBMuxConnection::connect(device, CameraWire::port, mux);
    };
    operations.hostSeconds = [] { return platform::hostTimeNow().seconds(); };
    operations.macName = hostDisplayName();
    return std::make_shared<LiveUSBCameraReceiver>(std::move(operations), std::move(log), timings);
}

std::shared_ptr<LiveUSBCameraReceiver> LiveUSBCameraReceiver::create_null() {
    Operations operations;
    operations.discover = [] { return std::vector<USBMuxConnection::Device>{}; };
    operations.connect = [](const USBMuxConnection::Device&) -> std::shared_ptr<USBMuxConnection> {
        throw USBMuxError("USB service is unavailable");
    };
    operations.hostSeconds = [] { return platform::hostTimeNow().seconds(); };
    operations.macName = "Computer";
    return std::make_shared<LiveUSBCameraReceiver>(std::move(operations), platform::SystemLog::create_null(), Timings{});
}

LiveUSBCameraReceiver::LiveUSBCameraReceiver(Operations operations, platform::SystemLog log, Timings timings)
    : operations_(std::move(operations)),
      log_(std::move(log)),
      timings_(timings),
      commandQueue_(std::make_shared<platform::SerialQueue>("Yux.usb-commands")) {}

LiveUSBCameraReceiver::~LiveUSBCameraReceiver() { stopDiscovery(); }

void LiveUSBCameraReceiver::addLayer(std::weak_ptr<CameraPreviewLayer> layer) { layers_.push_back(std::move(layer)); }

std::shared_ptr<USBMicrophoneStream> LiveUSBCameraReceiver::streamOf(const std::optional<std::string>& id) const {
    if (!id) {
        return nullptr;
    }
    const auto found = audioStreams_.find(*id);
    return found == audioStreams_.end() ? nullptr : found->second;
}

std::optional<double> LiveUSBCameraReceiver::activeMicrophoneLevel() {
    const auto stream = streamOf(activeMicrophone_);
    return stream ? std::optional(stream->microphoneLevel()) : std::nullopt;
}

namespace {

QCoro::Task<void> discoveryLoop(QPointer<LiveUSBCameraReceiver> self, platform::CancelToken token,
                                std::shared_ptr<platform::SerialQueue> queue,
                                std::function<std::vector<USBMuxConnection::Device>()> discover,
                                std::chrono::milliseconds interval,
                                std::function<void(LiveUSBCameraReceiver&, const std::vector<USBMuxConnection::Device>&)> take,
                                std::shared_ptr<int> loops) {
    ++*loops;
    // Counted until the frame itself is gone, whichever way the loop ends.
    struct Counted {
        std::shared_ptr<int> loops;
        ~Counted() { --*loops; }
    } counted{std::move(loops)};
    while (!token.isCancelled()) {
        std::vector<USBMuxConnection::Device> devices;
        try {
            // Named: g++ 12 destroys a temporary of a co_await operand twice.
            auto listing = platform::runOn(*queue, [discover] { return discover(); });
            devices = co_await listing;
        } catch (...) {
            // The multiplexer is unreachable: this pass sees no phone.
        }
        if (!self || token.isCancelled()) {
            co_return;
        }
        take(*self, devices);
        try {
            auto pause = platform::sleepFor(interval, token);
            co_await pause;
        } catch (const platform::CancelledError&) {
            co_return;
        }
    }
}

}  // namespace

void LiveUSBCameraReceiver::startDiscovery() {
    if (discovery_) {
        return;
    }
    ++generation_;
    discovery_ = platform::CancelToken();
    if (!listingQueue_) {
        listingQueue_ = std::make_shared<platform::SerialQueue>("Yux.usb-discovery");
    }
    discoveryLoop(QPointer(this), *discovery_, listingQueue_, operations_.discover, timings_.discoveryInterval,
                  [](LiveUSBCameraReceiver& receiver, const std::vector<USBMuxConnection::Device>& devices) {
                      receiver.connectListed(devices);
                  },
                  discoveryLoops_);
}

void LiveUSBCameraReceiver::connectListed(const std::vector<USBMuxConnection::Device>& devices) {
    for (const auto& device : devices) {
        const auto id = kPhoneIdentifierPrefix + device.serial;
        if (readers_.contains(id)) {
            continue;
        }
        auto reader = std::make_shared<Reader>();
        reader->receiver = this;
        reader->id = id;
        reader->device = device;
        reader->connection = ++nextConnection_;
        reader->connect = operations_.connect;
        reader->now = operations_.hostSeconds;
        reader->log = log_;
        reader->pingInterval = timings_.pingInterval;
        reader->stop = std::make_shared<std::atomic<bool>>(false);
        reader->camera = std::make_shared<std::atomic<bool>>(active_ == id);
        reader->liveThreads = liveThreads_;
        reader->outbox = ReaderOutbox::create(
            post,
            [receiver = QPointer(this), id, connection = reader->connection](CameraWire::Message message) {
                if (receiver) receiver->message(message, id, connection);
            },
            [receiver = QPointer(this), id, connection = reader->connection](platform::PixelBuffer picture, double stamp) {
                if (receiver) receiver->picture(id, connection, std::move(picture), stamp);
            });
        liveThreads_->fetch_add(1);
        try {
            std::thread([reader] { Reader::run(reader); }).detach();
        } catch (const std::system_error& error) {
            // No thread to be had now: the next pass tries again.
            liveThreads_->fetch_sub(1);
            log_.error(kCategory, std::string("yux_usb_reader_failed ") + error.what());
            continue;
        }
        readers_[id] = ReaderEntry{reader->connection, reader->stop, reader->camera};
    }
}

bool LiveUSBCameraReceiver::registerConnection(const std::string& id, std::uint64_t connection,
                                               std::shared_ptr<USBMuxConnection> tunnel,
                                               std::shared_ptr<USBMicrophoneStream> stream) {
    if (!isCurrent(id, connection)) {
        return false;
    }
    connections_[id] = std::move(tunnel);
    audioStreams_[id] = std::move(stream);
    return true;
}

std::optional<std::uint64_t> LiveUSBCameraReceiver::connectionOf(const std::string& id) const {
    const auto found = readers_.find(id);
    return found == readers_.end() ? std::nullopt : std::optional(found->second.connection);
}

void LiveUSBCameraReceiver::simulate_connectionFailure(const std::string& id, std::uint64_t connection,
                                                       const std::string& error) {
    disconnected(id, error, connection);
}

void LiveUSBCameraReceiver::setCameraOf(const std::optional<std::string>& id, bool inUse) {
    if (!id) {
        return;
    }
    if (const auto reader = readers_.find(*id); reader != readers_.end()) {
        reader->second.camera->store(inUse);
    }
}

bool LiveUSBCameraReceiver::isCurrent(const std::string& id, std::uint64_t connection) const {
    const auto found = readers_.find(id);
    return found != readers_.end() && found->second.connection == connection;
}

void LiveUSBCameraReceiver::stopDiscovery() {
    ++generation_;
    if (discovery_) {
        discovery_->cancel();
        discovery_.reset();
    }
    for (auto& [id, reader] : readers_) {
        reader.stop->store(true);
    }
    readers_.clear();
    for (auto& [id, tunnel] : connections_) {
        tunnel->interrupt();
    }
    connections_.clear();
    names_.clear();
    stopMicrophone();
    audioStreams_.clear();
    audioStatus_.clear();
    stop();
}

std::vector<CaptureDevice> LiveUSBCameraReceiver::devices() const {
    std::vector<CaptureDevice> list;
    for (const auto& [id, name] : names_) {
        const auto status = audioStatus_.find(id);
        list.push_back(CaptureDevice{id, (status != audioStatus_.end() ? status->second.name : "iPhone") + kDeviceSuffix});
    }
    return list;
}

std::vector<CaptureDevice> LiveUSBCameraReceiver::microphones() const {
    std::vector<CaptureDevice> list;
    for (const auto& [id, status] : audioStatus_) {
        list.push_back(CaptureDevice{id, status.name + kDeviceSuffix});
    }
    return list;
}

bool LiveUSBCameraReceiver::microphoneAllowed(const std::string& id) const {
    const auto found = audioStatus_.find(id);
    return found != audioStatus_.end() && found->second.allowed;
}

bool LiveUSBCameraReceiver::microphoneRunning() const {
    const auto stream = streamOf(activeMicrophone_);
    return stream && stream->running();
}

void LiveUSBCameraReceiver::message(const CameraWire::Message& message, const std::string& id,
                                    std::uint64_t connection) {
    if (!isCurrent(id, connection)) {
        return;
    }
    try {
        handleMessage(message, id);
    } catch (...) {
        disconnected(id, describe(std::current_exception()), connection);
    }
}

void LiveUSBCameraReceiver::handleMessage(const CameraWire::Message& message, const std::string& id) {
    const std::string text(message.payload.begin(), message.payload.end());
    switch (message.kind) {
    case CameraWire::Kind::hello: {
        if (text != kPhoneHello) {
            throw AppError::cameraFailed("Unsupported Yux Cam version");
        }
        names_[id] = "Yux Cam";
        if (connections_.contains(id)) {
            write(id, CameraCommand{false, false, operations_.macName, 1, std::nullopt, std::nullopt}.encoded());
        }
        log_.info(kCategory, "yux_usb_connected");
        return;
    }
    case CameraWire::Kind::command:
        throw AppError::cameraFailed("Unexpected iPhone command");
    case CameraWire::Kind::failure: {
        if (audioStatus_.contains(id)) {
            log_.info(kCategory, "yux_usb_camera_failed");
            if (active_ == id) {
                stop();
            }
            return;
        }
        const bool readable = utf8Cleaned(text) == text && !text.empty();
        throw AppError::cameraFailed(readable ? text : "iPhone camera failed");
    }
    case CameraWire::Kind::microphoneStatus: {
        auto status = MicrophoneStatus::decode(message.payload);
        const bool first = !audioStatus_.contains(id);
        audioStatus_[id] = status;
        if (first) {
            log_.info(kCategory, "yux_usb_audio_negotiated version=1");
            sendPings(id);
        }
        if (status.error && activeMicrophone_ == id) {
            if (const auto stream = streamOf(id)) {
                stream->stop(std::make_exception_ptr(AppError::microphoneFailed(*status.error)));
            }
        }
        return;
    }
    case CameraWire::Kind::frame:
        return;
    case CameraWire::Kind::microphone:
    case CameraWire::Kind::clock:
        throw AppError::microphoneFailed("Unexpected USB audio dispatch");
    }
}

void LiveUSBCameraReceiver::sendPings(const std::string& id) {
    const auto tunnel = connections_.find(id);
    if (tunnel == connections_.end()) {
        return;
    }
    commandQueue_->async([tunnel = tunnel->second, now = operations_.hostSeconds] {
        for (int ping = 0; ping < kFirstPings; ++ping) {
            try {
                const auto frame = MicrophoneClock{now(), 0}.encoded();
                std::lock_guard lock(tunnel->writeLock);
                tunnel->writeBytes(frame);
            } catch (...) {
                // The next ping follows; a broken tunnel is the reader's to report.
            }
        }
    });
}

void LiveUSBCameraReceiver::picture(const std::string& id, std::uint64_t connection, platform::PixelBuffer picture,
                                    double stamp) {
    if (!isCurrent(id, connection) || active_ != id) {
        return;
    }
    platform::SampleBuffer sample;
    sample.presentationTime = platform::MediaTime::fromSeconds(stamp);
    sample.duration = platform::MediaTime::invalid();
    sample.payload = picture;
    sourceAspect_ = static_cast<double>(picture.width()) / picture.height();
    latestPicture_ = picture;
    std::erase_if(layers_, [](const std::weak_ptr<CameraPreviewLayer>& layer) { return layer.expired(); });
    for (const auto& weak : layers_) {
        if (const auto layer = weak.lock()) {
            layer->setPicture(picture);
        }
    }
    if (receive_) {
        receive_(std::move(sample));
    }
    if (!running_) {
        running_ = true;
        log_.info(kCategory, "yux_usb_first_frame width=" + std::to_string(picture.width()) +
                                 " height=" + std::to_string(picture.height()));
        if (firstFrame_) {
            firstFrame_->finish(nullptr);
            firstFrame_.reset();
        }
    }
}

void LiveUSBCameraReceiver::microphoneFailed(const std::string& id, std::uint64_t connection) {
    if (!isCurrent(id, connection) || activeMicrophone_ != id) {
        return;
    }
    log_.error(kCategory, "yux_usb_microphone_failed");
    activeMicrophone_.reset();
    try {
        sendCommand(id, std::nullopt, std::nullopt);
    } catch (...) {
    }
}

void LiveUSBCameraReceiver::disconnected(const std::string& id, const std::string& error, std::uint64_t connection) {
    // Only the connection in use: a late failure of an older tunnel spares a newer one.
    if (!isCurrent(id, connection)) {
        return;
    }
    if (names_.contains(id)) {
        log_.error(kCategory, "yux_usb_disconnected " + error);
    }
    readers_[id].stop->store(true);
    if (const auto tunnel = connections_.find(id); tunnel != connections_.end()) {
        tunnel->second->interrupt();
    }
    connections_.erase(id);
    names_.erase(id);
    readers_.erase(id);
    if (const auto stream = streamOf(id)) {
        stream->stop(std::make_exception_ptr(AppError::microphoneFailed("iPhone or iPad disconnected: " + error)));
    }
    audioStreams_.erase(id);
    audioStatus_.erase(id);
    if (activeMicrophone_ == id) {
        activeMicrophone_.reset();
    }
    if (active_ == id) {
        stop();
    }
}

void LiveUSBCameraReceiver::sendCommand(const std::string& id, std::optional<bool> video, std::optional<bool> recording) {
    if (!connections_.contains(id)) {
        throw AppError::microphoneFailed("iPhone disconnected");
    }
    CameraCommand command;
    command.sending = video.value_or(active_ == id);
    command.recording = recording.value_or(isRecording_);
    command.macName = operations_.macName;
    if (audioStatus_.contains(id)) {
        command.audioVersion = 1;
        command.microphone = activeMicrophone_ == id;
    }
    if (activeMicrophone_ == id) {
        command.audioStream = audioEpoch_;
    }
    write(id, command.encoded());
}

void LiveUSBCameraReceiver::write(const std::string& id, CameraWire::Bytes frame) {
    const auto tunnel = connections_.at(id);
    const auto connection = readers_.at(id).connection;
    commandQueue_->async([tunnel, frame = std::move(frame), receiver = QPointer(this), id, connection] {
        try {
            std::lock_guard lock(tunnel->writeLock);
            tunnel->writeBytes(frame);
        } catch (...) {
            post([receiver, id, connection, error = describe(std::current_exception())] {
                if (receiver) receiver->disconnected(id, error, connection);
            });
        }
    });
}

QCoro::Task<void> LiveUSBCameraReceiver::start(std::string id, Receive receive) {
    stop();
    if (!names_.contains(id)) {
        throw AppError::cameraFailed("Open Yux Cam on your iPhone");
    }
    active_ = id;
    setCameraOf(active_, true);
    receive_ = std::move(receive);
    sendCommand(id, true, false);
    auto wait = std::make_shared<FirstFrame>();
    firstFrame_ = wait;
    QPointer guard(this);
    try {
        auto firstFrame = platform::sleepFor(timings_.firstFrameTimeout, wait->token);
        co_await firstFrame;
    } catch (const platform::CancelledError&) {
    }
    if (!wait->done) {
        if (guard) {
            stop();
        } else {
            wait->finish(std::make_exception_ptr(AppError::cameraFailed("iPhone camera did not supply frames")));
        }
    }
    if (wait->error) {
        std::rethrow_exception(wait->error);
    }
}

void LiveUSBCameraReceiver::stop() {
    if (active_) {
        try {
            sendCommand(*active_, false, false);
        } catch (...) {
        }
    }
    if (firstFrame_) {
        firstFrame_->finish(std::make_exception_ptr(AppError::cameraFailed("iPhone camera did not supply frames")));
        firstFrame_.reset();
    }
    setCameraOf(active_, false);
    active_.reset();
    running_ = false;
    receive_ = nullptr;
    layers_.clear();
    latestPicture_.reset();
}

void LiveUSBCameraReceiver::recording(bool value) {
    isRecording_ = value;
    if (activeMicrophone_) {
        try {
            sendCommand(*activeMicrophone_, std::nullopt, std::nullopt);
        } catch (...) {
        }
    }
    if (running_ && active_) {
        const auto id = *active_;
        try {
            sendCommand(id, true, value);
        } catch (...) {
            if (const auto reader = readers_.find(id); reader != readers_.end()) {
                disconnected(id, describe(std::current_exception()), reader->second.connection);
            }
        }
    }
}

QCoro::Task<void> LiveUSBCameraReceiver::startMicrophone(std::string id) {
    stopMicrophone();
    const auto status = audioStatus_.find(id);
    auto stream = streamOf(id);
    if (status == audioStatus_.end() || !status->second.allowed || !stream) {
        throw AppError::microphoneFailed("Enable microphone in Yux Cam Settings on your iPhone or iPad.");
    }
    const auto deadline = std::chrono::steady_clock::now() + timings_.microphoneDeadline;
    const auto poll = timings_.microphonePoll;
    QPointer guard(this);
    const auto noAudio = [] {
        return AppError::microphoneFailed("iPhone microphone did not supply audio. Enable it on the phone and try again.");
    };
    auto nextPings = std::chrono::steady_clock::now() + kUnsynchronisedPingInterval;
    while (!stream->synchronized() && std::chrono::steady_clock::now() < deadline) {
        if (std::chrono::steady_clock::now() >= nextPings) {
            sendPings(id);
            nextPings = std::chrono::steady_clock::now() + kUnsynchronisedPingInterval;
        }
        auto pause = platform::sleepFor(poll);
        co_await pause;
        if (!guard) {
            throw noAudio();
        }
    }
    ++audioEpoch_;
    stream->start(audioEpoch_);
    activeMicrophone_ = id;
    std::exception_ptr failure;
    try {
        sendCommand(id, std::nullopt, std::nullopt);
        for (;;) {
            if (stream->running()) {
                log_.info(kCategory, "yux_usb_microphone_ready");
                co_return;
            }
            if (const auto error = stream->error()) {
                std::rethrow_exception(error);
            }
            if (activeMicrophone_ != id || !connections_.contains(id) || std::chrono::steady_clock::now() >= deadline) {
                throw noAudio();
            }
            auto pause = platform::sleepFor(poll);
            co_await pause;
            if (!guard) {
                throw noAudio();
            }
        }
    } catch (...) {
        failure = std::current_exception();
    }
    if (guard) {
        stopMicrophone();
    }
    std::rethrow_exception(failure);
}

void LiveUSBCameraReceiver::stopMicrophone() {
    if (!activeMicrophone_) {
        return;
    }
    const auto id = *activeMicrophone_;
    if (const auto stream = streamOf(id)) {
        stream->stop();
    }
    activeMicrophone_.reset();
    try {
        sendCommand(id, std::nullopt, std::nullopt);
    } catch (...) {
    }
}

void LiveUSBCameraReceiver::recordMicrophone(MicrophoneReceive receive) {
    const auto stream = streamOf(activeMicrophone_);
    if (!stream) {
        throw AppError::microphoneFailed("USB microphone is unavailable");
    }
    stream->subscribe(std::move(receive));
}

void LiveUSBCameraReceiver::stopRecordingMicrophone() {
    if (const auto stream = streamOf(activeMicrophone_)) {
        stream->unsubscribe();
    }
}

}  // namespace yux
