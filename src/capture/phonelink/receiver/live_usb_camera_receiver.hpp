#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QObject>

#include "capture/phonelink/camera_wire.hpp"
#include "capture/phonelink/phone_link_messages.hpp"
#include "capture/phonelink/usb_mux_connection.hpp"
#include "capture/usb_camera_receiver.hpp"
#include "platform/async/cancel_token.hpp"
#include "platform/async/serial_queue.hpp"
#include "platform/desktop/system_log.hpp"

namespace yux {

class USBMicrophoneStream;

// The phone's display name for this computer: the pretty host name, else the host name,
// invalid UTF-8 replaced, cut to what the phone accepts; "Computer" without either.
std::string hostDisplayName(const std::string& machineInfoPath = "/etc/machine-info");

struct PhoneLinkTimings {
    // Between two listings of the multiplexer.
    std::chrono::milliseconds discoveryInterval{2000};
    // A camera start that sees no picture this long fails.
    std::chrono::milliseconds firstFrameTimeout{8000};
    // A microphone start waits this long for the clock and then for the first sound.
    std::chrono::milliseconds microphoneDeadline{8000};
    std::chrono::milliseconds microphonePoll{20};
    // Seconds between two clock pings of a synchronised phone.
    double pingInterval = 10.0;
};

// The phone link's receiver: finds phones on the USB multiplexer, keeps one tunnel and one
// reader thread per phone, offers them as cameras and microphones. All state lives on the main
// thread; readers block in their tunnel and reach it only through posted closures.
class LiveUSBCameraReceiver final : public QObject, public USBCameraReceiver {
    Q_OBJECT
public:
    using Timings = PhoneLinkTimings;


    struct Operations {
        std::function<std::vector<USBMuxConnection::Device>()> discover;
        std::function<std::shared_ptr<USBMuxConnection>(const USBMuxConnection::Device&)> connect;
        // Host clock in seconds.
        std::function<double()> hostSeconds;
        std::string macName;
    };

    static std::shared_ptr<LiveUSBCameraReceiver> create(platform::SystemLog log, USBMuxOptions mux = {},
                                                         Timings timings = {});
    // Lists no phone and connects to nothing.
    static std::shared_ptr<LiveUSBCameraReceiver> create_null();

    LiveUSBCameraReceiver(Operations operations, platform::SystemLog log, Timings timings);
    ~LiveUSBCameraReceiver() override;

    bool running() const override { return running_; }
    double sourceAspect() const override { return sourceAspect_; }
    std::optional<platform::PixelBuffer> latestPicture() const override { return latestPicture_; }
    void addLayer(std::weak_ptr<CameraPreviewLayer> layer) override;
    std::optional<std::string> activeMicrophone() const override { return activeMicrophone_; }
    std::optional<double> activeMicrophoneLevel() override;

    void startDiscovery() override;
    void stopDiscovery() override;
    void recording(bool recording) override;
    std::vector<CaptureDevice> devices() const override;
    std::vector<CaptureDevice> microphones() const override;
    bool microphoneAllowed(const std::string& id) const override;
    bool microphoneRunning() const override;
    QCoro::Task<void> startMicrophone(std::string id) override;
    QCoro::Task<void> start(std::string id, Receive receive) override;
    void stop() override;
    void stopMicrophone() override;
    void recordMicrophone(MicrophoneReceive receive) override;
    void stopRecordingMicrophone() override;

    // Reader and picture-decoding threads still running, also those of dropped phones.
    int liveThreads() const { return liveThreads_->load(); }
    // A discovery loop has not ended yet: a stopped one ends on the main loop's next turn.
    bool discovering() const { return *discoveryLoops_ > 0; }
    std::uint64_t audioEpoch() const { return audioEpoch_; }
    std::optional<std::string> activeCamera() const { return active_; }
    bool hasTunnel(const std::string& id) const { return connections_.contains(id); }
    // The serial of the phone's current connection; every connection gets a new one.
    std::optional<std::uint64_t> connectionOf(const std::string& id) const;
    // A failure reported late by the reader or a queued write of that connection.
    void simulate_connectionFailure(const std::string& id, std::uint64_t connection, const std::string& error);

private:
    struct Reader;
    struct FirstFrame;
    struct ReaderEntry {
        std::uint64_t connection = 0;
        std::shared_ptr<std::atomic<bool>> stop;
        // The phone is the camera in use: only then are its pictures decoded.
        std::shared_ptr<std::atomic<bool>> camera;
    };
    void setCameraOf(const std::optional<std::string>& id, bool inUse);

    friend struct ReaderPosts;
    void connectListed(const std::vector<USBMuxConnection::Device>& devices);
    // True when the reader's tunnel and stream are taken up as the phone's connection.
    bool registerConnection(const std::string& id, std::uint64_t connection,
                            std::shared_ptr<USBMuxConnection> tunnel, std::shared_ptr<USBMicrophoneStream> stream);
    bool isCurrent(const std::string& id, std::uint64_t connection) const;
    void message(const CameraWire::Message& message, const std::string& id, std::uint64_t connection);
    void handleMessage(const CameraWire::Message& message, const std::string& id);
    void picture(const std::string& id, std::uint64_t connection, platform::PixelBuffer picture, double stamp);
    void microphoneFailed(const std::string& id, std::uint64_t connection);
    void disconnected(const std::string& id, const std::string& error, std::uint64_t connection);
    void sendCommand(const std::string& id, std::optional<bool> video, std::optional<bool> recording);
    // A few clock pings, written from the command queue.
    void sendPings(const std::string& id);
    void write(const std::string& id, CameraWire::Bytes frame);
    std::shared_ptr<USBMicrophoneStream> streamOf(const std::optional<std::string>& id) const;

    Operations operations_;
    platform::SystemLog log_;
    Timings timings_;
    std::int64_t generation_ = 0;
    std::uint64_t nextConnection_ = 0;
    std::optional<platform::CancelToken> discovery_;
    std::shared_ptr<platform::SerialQueue> listingQueue_;
    std::shared_ptr<platform::SerialQueue> commandQueue_;
    std::map<std::string, ReaderEntry> readers_;
    std::map<std::string, std::shared_ptr<USBMuxConnection>> connections_;
    std::map<std::string, std::string> names_;
    std::map<std::string, MicrophoneStatus> audioStatus_;
    std::map<std::string, std::shared_ptr<USBMicrophoneStream>> audioStreams_;
    std::optional<std::string> activeMicrophone_;
    std::uint64_t audioEpoch_ = 0;
    bool isRecording_ = false;
    std::optional<std::string> active_;
    std::shared_ptr<FirstFrame> firstFrame_;
    std::vector<std::weak_ptr<CameraPreviewLayer>> layers_;
    std::optional<platform::PixelBuffer> latestPicture_;
    Receive receive_;
    bool running_ = false;
    double sourceAspect_ = 16.0 / 9.0;
    std::shared_ptr<std::atomic<int>> liveThreads_ = std::make_shared<std::atomic<int>>(0);
    // Main thread only; shared with the loops, which may outlive the receiver.
    std::shared_ptr<int> discoveryLoops_ = std::make_shared<int>(0);
};

}  // namespace yux
