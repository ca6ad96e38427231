#include "capture/phonelink/receiver/live_usb_camera_receiver.hpp"

#include <gtest/gtest.h>

#include "capture/phonelink/phone_link_test_kit.hpp"
#include "platform/async/wait_for.hpp"

using namespace yux;
using namespace yux::testing;
using namespace std::chrono_literals;

namespace {

const std::string kPhone = "yux-usb:PHONE-1";
const std::string kOther = "yux-usb:PHONE-2";

template <class T>
std::string taskError(QCoro::Task<T> task) {
    return errorText([&] { platform::waitForTask(task); });
}

CameraWire::Bytes textFrame(CameraWire::Kind kind, const std::string& text) {
    return CameraWire::encode(kind, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

struct ReceiverFixture : ::testing::Test {
    PhoneLinkRig rig;
    LiveUSBCameraReceiver& receiver = *rig.receiver;

    void connectPhone(std::int64_t number, const std::string& serial, FakeCompanionApp::Options options = {}) {
        rig.attach(number, serial, std::move(options));
        receiver.startDiscovery();
        ASSERT_TRUE(spinUntil([&] {
            const auto devices = receiver.devices();
            return std::any_of(devices.begin(), devices.end(), [&](const CaptureDevice& device) {
                return device.id == kPhoneIdentifierPrefix + serial;
            });
        }));
    }

    // Waits until the phone got `count` commands and returns the last one.
    CameraCommand command(FakeCompanionApp& app, std::size_t count) {
        EXPECT_TRUE(spinUntil([&] { return app.commands().size() >= count; })) << count;
        const auto all = app.commands();
        EXPECT_EQ(all.size(), count);
        return all.empty() ? CameraCommand{} : all.back();
    }
};

}  // namespace

TEST_F(ReceiverFixture, EachStateSendsExactlyItsCommandFields) {
    connectPhone(1, "PHONE-1");
    auto app = rig.app(1);
    EXPECT_EQ(command(*app, 1), (CameraCommand{false, false, "Test Desk", 1, std::nullopt, std::nullopt}));
    ASSERT_TRUE(spinUntil([&] { return receiver.microphoneAllowed(kPhone); }));

    platform::waitForTask(*std::make_unique<QCoro::Task<void>>(receiver.start(kPhone, [](platform::SampleBuffer) {})));
    EXPECT_EQ(command(*app, 2), (CameraCommand{true, false, "Test Desk", 1, false, std::nullopt}));
    receiver.recording(true);
    EXPECT_EQ(command(*app, 3), (CameraCommand{true, true, "Test Desk", 1, false, std::nullopt}));
    auto microphone = receiver.startMicrophone(kPhone);
    platform::waitForTask(microphone);
    EXPECT_EQ(receiver.audioEpoch(), 1u);
    EXPECT_EQ(command(*app, 4), (CameraCommand{true, true, "Test Desk", 1, true, 1}));
    EXPECT_TRUE(receiver.microphoneRunning());
    receiver.stopMicrophone();
    EXPECT_EQ(command(*app, 5), (CameraCommand{true, true, "Test Desk", 1, false, std::nullopt}));
    receiver.stop();
    EXPECT_EQ(command(*app, 6), (CameraCommand{false, false, "Test Desk", 1, false, std::nullopt}));
    receiver.recording(false);
    spinUntil([] { return false; }, 50ms);
    EXPECT_EQ(app->commands().size(), 6u) << "no camera runs and no microphone is in use: nothing to tell";
}

TEST_F(ReceiverFixture, ASecondHelloIsGreetedAgain) {
    FakeCompanionApp::Options noStatus;
    noStatus.status.reset();
    connectPhone(1, "PHONE-1", noStatus);
    auto app = rig.app(1);
    const CameraCommand greeting{false, false, "Test Desk", 1, std::nullopt, std::nullopt};
    EXPECT_EQ(command(*app, 1), greeting);
    app->send(textFrame(CameraWire::Kind::hello, "Yux Cam 1"));
    EXPECT_EQ(command(*app, 2), greeting);
    const auto lines = rig.lines.data();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const auto& line) { return line.message == "yux_usb_connected"; }), 2);
}

TEST_F(ReceiverFixture, OnlyTheFirstStatusBringsFivePings) {
    connectPhone(1, "PHONE-1");
    auto app = rig.app(1);
    ASSERT_TRUE(spinUntil([&] { return app->pingsReceived() >= 5; }));
    app->send(MicrophoneStatus{1, "Renamed", false, std::nullopt}.encoded());
    ASSERT_TRUE(spinUntil([&] { return !receiver.microphoneAllowed(kPhone); }));
    spinUntil([] { return false; }, 100ms);
    EXPECT_EQ(app->pingsReceived(), 5);
    EXPECT_EQ(receiver.microphones().at(0).name, "Renamed · Yux Cam (USB)");
    EXPECT_EQ(taskError(receiver.startMicrophone(kPhone)), "Enable microphone in Yux Cam Settings on your iPhone or iPad.");
    const auto lines = rig.lines.data();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const auto& line) { return line.message == "yux_usb_audio_negotiated version=1"; }),
              1);
}

TEST(LiveUSBCameraReceiver, AMicrophoneWhoseClockNeverSynchronisesFailsAtTheDeadlineWithoutBecomingActive) {
    PhoneLinkRig rig(3s);
    LiveUSBCameraReceiver& receiver = *rig.receiver;
    FakeCompanionApp::Options silent;
    silent.answerPings = false;
    rig.attach(1, "PHONE-1", silent);
    receiver.startDiscovery();
    ASSERT_TRUE(spinUntil([&] { return receiver.microphoneAllowed(kPhone); }));
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(taskError(receiver.startMicrophone(kPhone)), "USB microphone clock is not ready. Try again.");
    EXPECT_GE(std::chrono::steady_clock::now() - started, 3s);
    EXPECT_FALSE(receiver.activeMicrophone().has_value());
    EXPECT_EQ(receiver.audioEpoch(), 1u);
    EXPECT_EQ(taskError(receiver.startMicrophone(kPhone)), "USB microphone clock is not ready. Try again.");
    EXPECT_EQ(receiver.audioEpoch(), 2u) << "every start past the permission check takes a new stream number";
}

// On a busy machine every echo of the first pings can come back too late to count.
TEST_F(ReceiverFixture, AMicrophoneStartPingsAgainWhenTheFirstPingsGaveNoClock) {
    FakeCompanionApp::Options unanswered;
    unanswered.unansweredPings = 5;
    connectPhone(1, "PHONE-1", unanswered);
    ASSERT_TRUE(spinUntil([&] { return receiver.microphoneAllowed(kPhone) && rig.app(1)->pingsReceived() >= 5; }));
    // Only a start that pings again ends before its minute.
    auto microphone = receiver.startMicrophone(kPhone);
    EXPECT_EQ(errorText([&] { platform::waitForTask(microphone); }), "no error");
    EXPECT_TRUE(receiver.microphoneRunning());
}

TEST_F(ReceiverFixture, APhoneWithoutStatusIsACameraNamedIPhoneOnly) {
    FakeCompanionApp::Options options;
    options.status.reset();
    connectPhone(1, "PHONE-1", options);
    EXPECT_EQ(receiver.devices(), (std::vector<CaptureDevice>{{kPhone, "iPhone · Yux Cam (USB)"}}));
    EXPECT_TRUE(receiver.microphones().empty());
    EXPECT_FALSE(receiver.microphoneAllowed(kPhone));
    EXPECT_EQ(taskError(receiver.startMicrophone(kPhone)), "Enable microphone in Yux Cam Settings on your iPhone or iPad.");
}

TEST_F(ReceiverFixture, AnOldTunnelsLateFailureSparesTheNewConnection) {
    connectPhone(1, "PHONE-1");
    const auto first = receiver.connectionOf(kPhone);
    rig.app(1)->hangUp();
    ASSERT_TRUE(spinUntil([&] { return rig.connections(1) >= 2 && receiver.connectionOf(kPhone) != first &&
                                       !receiver.devices().empty(); }));
    auto camera = receiver.start(kPhone, [](platform::SampleBuffer) {});
    platform::waitForTask(camera);
    // The old tunnel's own end may have been logged with any reason, this one's too.
    const auto before = rig.lines.data().size();
    receiver.simulate_connectionFailure(kPhone, *first, "USB write failed");
    EXPECT_TRUE(receiver.running());
    EXPECT_TRUE(receiver.hasTunnel(kPhone));
    EXPECT_EQ(receiver.devices().size(), 1u);
    EXPECT_EQ(rig.countSince(before, "yux_usb_disconnected"), 0);
}

TEST_F(ReceiverFixture, GarbageDropsOnlyItsPhoneWhileAnotherStreamsOn) {
    connectPhone(1, "PHONE-1");
    connectPhone(2, "PHONE-2");
    ASSERT_TRUE(spinUntil([&] { return receiver.microphoneAllowed(kOther); }));
    auto microphone = receiver.startMicrophone(kOther);
    platform::waitForTask(microphone);
    std::atomic<int> buffers{0};
    receiver.recordMicrophone([&](MicrophoneResult result) {
        if (std::holds_alternative<platform::SampleBuffer>(result)) ++buffers;
    });
    rig.app(1)->send({'G', 'E', 'T', ' ', '/', ' ', 'H', 'T', 'T', 'P'});
    ASSERT_TRUE(spinUntil([&] { return receiver.devices().size() == 1; }));
    EXPECT_EQ(receiver.devices().at(0).id, kOther);
    EXPECT_TRUE(rig.logged("yux_usb_disconnected Invalid Yux Cam frame header"));
    const int before = buffers.load();
    ASSERT_TRUE(spinUntil([&] { return buffers.load() >= before + 5; }));
    EXPECT_TRUE(receiver.microphoneRunning());
}

TEST_F(ReceiverFixture, HostileMessagesDropThePhoneWithTheirSentence) {
    const std::vector<std::pair<CameraWire::Bytes, std::string>> cases = {
        {textFrame(CameraWire::Kind::command, "{}"), "Unexpected iPhone command"},
        {textFrame(CameraWire::Kind::microphoneStatus, "{\"version\":"), "Invalid Yux Cam message"},
        {textFrame(CameraWire::Kind::microphoneStatus, R"({"version":2,"name":"x","allowed":true})"), "Invalid Yux Cam message"},
        {CameraWire::Bytes{'Y', 'u', 'x', 1, 3, 0xFF, 0, 0, 0}, "Yux Cam frame too large"},
        {textFrame(CameraWire::Kind::hello, "Yux Cam 2"), "Unsupported Yux Cam version"},
    };
    std::int64_t number = 10;
    for (const auto& [frame, text] : cases) {
        const auto serial = "P" + std::to_string(number);
        connectPhone(number, serial);
        // The phone's own status first: one still waiting when the hostile message comes would
        // take its place, as a newer status does, and the hostile one would never be read.
        ASSERT_TRUE(spinUntil([&] { return receiver.microphoneAllowed(kPhoneIdentifierPrefix + serial); })) << text;
        rig.daemon.detach(number);
        rig.app(number)->send(frame);
        EXPECT_TRUE(spinUntil([&] { return receiver.devices().empty(); })) << text;
        EXPECT_TRUE(rig.loggedDrop(text)) << text;
        ++number;
    }
}

TEST_F(ReceiverFixture, APhoneFloodingMessagesIsDroppedButAFastOneStays) {
    // Hello, status and failure count alike; the connection's own hello and status come first.
    const auto burst = [](int count, CameraWire::Kind kind, const std::string& text) {
        CameraWire::Bytes frames;
        for (int index = 0; index < count; ++index) {
            const auto frame = textFrame(kind, text);
            frames.insert(frames.end(), frame.begin(), frame.end());
        }
        return frames;
    };
    const std::string status = R"({"version":1,"name":"Phone","allowed":true})";
    connectPhone(1, "PHONE-1");
    rig.daemon.detach(1);
    rig.app(1)->send(burst(150, CameraWire::Kind::hello, "Yux Cam 1"));
    rig.app(1)->send(burst(40, CameraWire::Kind::microphoneStatus, status));
    spinUntil([] { return false; }, 100ms);
    EXPECT_EQ(receiver.devices().size(), 1u) << "190 messages in a second are many, not a flood";
    EXPECT_FALSE(rig.logged("yux_usb_message_flood limit=200 seconds=1"));

    connectPhone(2, "PHONE-2");
    rig.daemon.detach(2);
    rig.app(2)->send(burst(250, CameraWire::Kind::hello, "Yux Cam 1"));
    ASSERT_TRUE(spinUntil([&] { return receiver.devices().size() == 1; }));
    EXPECT_EQ(receiver.devices().at(0).id, kPhone);
    EXPECT_TRUE(rig.logged("yux_usb_message_flood limit=200 seconds=1"));
    EXPECT_TRUE(rig.loggedDrop("Yux Cam sent too many messages"));
}

TEST_F(ReceiverFixture, ClockEchoesCountTowardTheFloodLimitAndWriteFewLines) {
    // One instant for all: a phone's own hello, status and five echoes, the burst and the
    // status after it are 7 + count + 1 messages within a second.
    rig.holdClockAt(100);
    struct Case {
        const char* what;
        std::string echo;
        int count;
        bool dropped;
    };
    const std::vector<Case> cases = {
        {"150 echoes", R"({"sent":100,"phone":5})", 150, false},
        {"150 undecodable echoes", R"({"sent":100})", 150, false},
        {"250 echoes", R"({"sent":100,"phone":5})", 250, true},
    };
    std::int64_t number = 1;
    for (const auto& test : cases) {
        const auto serial = "FLOOD-" + std::to_string(number);
        const auto id = kPhoneIdentifierPrefix + serial;
        const auto from = rig.lines.data().size();
        connectPhone(number, serial);
        rig.daemon.detach(number);
        // The phone's answers to its first pings set its offset: on the held clock, the one line
        // it writes. Taken first, so that no phone's line comes in a later case.
        ASSERT_TRUE(spinUntil([&] { return rig.countSince(from, "yux_usb_audio_clock rtt_ms=") >= 1; })) << test.what;
        CameraWire::Bytes frames;
        for (int index = 0; index < test.count; ++index) {
            const auto frame = textFrame(CameraWire::Kind::clock, test.echo);
            frames.insert(frames.end(), frame.begin(), frame.end());
        }
        // Read after every echo: once its name shows, the burst has been taken.
        const auto marker = MicrophoneStatus{1, "After", true, std::nullopt}.encoded();
        frames.insert(frames.end(), marker.begin(), marker.end());
        rig.app(number)->send(frames);
        const auto listed = [&](const std::string& name) {
            const auto devices = receiver.devices();
            return std::any_of(devices.begin(), devices.end(), [&](const CaptureDevice& device) {
                return device.id == id && (name.empty() || device.name == name);
            });
        };
        if (test.dropped) {
            EXPECT_TRUE(spinUntil([&] { return !listed(""); })) << test.what;
            EXPECT_TRUE(rig.loggedDrop("Yux Cam sent too many messages")) << test.what;
        } else {
            EXPECT_TRUE(spinUntil([&] { return listed("After · Yux Cam (USB)"); })) << test.what;
        }
        EXPECT_EQ(rig.countSince(from, "yux_usb_message_flood limit=200 seconds=1"), test.dropped ? 1 : 0) << test.what;
        EXPECT_LE(rig.countSince(from, "yux_usb_audio_clock"), 1) << test.what;
        EXPECT_LE(rig.countSince(from, "yux_usb_microphone_stopped"), 1) << test.what;
        ++number;
    }
}

TEST_F(ReceiverFixture, PhoneCameraFailureWithoutStatusDropsItWithItsTextAndWithStatusOnlyStopsTheCamera) {
    FakeCompanionApp::Options noStatus;
    noStatus.status.reset();
    connectPhone(1, "PHONE-1", noStatus);
    rig.daemon.detach(1);
    rig.app(1)->send(CameraWire::encode(CameraWire::Kind::failure, CameraWire::Bytes{0xFF, 0xFE}));
    ASSERT_TRUE(spinUntil([&] { return receiver.devices().empty(); }));
    EXPECT_TRUE(rig.loggedDrop("iPhone camera failed"));

    // The phone answers the start with the failure and then sends pictures: only a failure that
    // stopped the camera keeps them from ending the start well.
    FakeCompanionApp::Options blocked;
    blocked.cameraFailure = "Lens blocked";
    connectPhone(2, "PHONE-2", blocked);
    ASSERT_TRUE(spinUntil([&] { return !receiver.microphones().empty(); }));
    auto start = receiver.start(kOther, [](platform::SampleBuffer) {});
    EXPECT_EQ(errorText([&] { platform::waitForTask(start); }), "iPhone camera did not supply frames");
    EXPECT_TRUE(rig.logged("yux_usb_camera_failed"));
    EXPECT_EQ(receiver.devices().size(), 1u) << "the phone stays";
}

TEST_F(ReceiverFixture, AnOversizedPictureDropsTheCameraInUseButOtherPhonesPicturesAreIgnored) {
    FakeCompanionApp::Options huge;
    huge.pictureSize = QSize(3841, 2);
    huge.pictureFormat = "PNG";
    connectPhone(1, "PHONE-1", huge);
    rig.daemon.detach(1);
    rig.app(1)->send(textFrame(CameraWire::Kind::frame, "not a picture"));
    spinUntil([] { return false; }, 100ms);
    EXPECT_EQ(receiver.devices().size(), 1u) << "a phone that is not the camera in use is not judged by its pictures";
    auto start = receiver.start(kPhone, [](platform::SampleBuffer) {});
    EXPECT_EQ(errorText([&] { platform::waitForTask(start); }), "iPhone camera did not supply frames");
    EXPECT_TRUE(rig.loggedDrop("Invalid iPhone frame"));
    EXPECT_TRUE(receiver.devices().empty());
}

TEST_F(ReceiverFixture, StopDiscoveryDuringAConnectLeavesNoTunnel) {
    rig.daemon.setConnectDelay(150ms);
    rig.attach(1, "PHONE-1");
    receiver.startDiscovery();
    ASSERT_TRUE(spinUntil([&] { return rig.daemon.requests().size() >= 2; }));
    receiver.stopDiscovery();
    ASSERT_TRUE(spinUntil([&] { return receiver.liveThreads() == 0; }));
    EXPECT_FALSE(receiver.hasTunnel(kPhone));
    EXPECT_TRUE(receiver.devices().empty());
    if (rig.connections(1) > 0) {
        auto app = rig.app(1);
        spinUntil([] { return false; }, 50ms);
        EXPECT_TRUE(app->commands().empty()) << "the late tunnel was closed unused";
    }
}

TEST_F(ReceiverFixture, APhoneWithoutHelloGetsOneReaderAndIsNoCamera) {
    FakeCompanionApp::Options mute;
    mute.hello.reset();
    rig.attach(1, "PHONE-1", mute);
    receiver.startDiscovery();
    receiver.startDiscovery();
    ASSERT_TRUE(spinUntil([&] { return receiver.hasTunnel(kPhone); }));
    // Connects that timed out before this one may have come first; none may follow while
    // discovery keeps listing the phone.
    const int connects = rig.daemon.connectCount();
    const auto requests = rig.daemon.requests().size();
    ASSERT_TRUE(spinUntil([&] { return rig.daemon.requests().size() >= requests + 3; }));
    EXPECT_EQ(rig.daemon.connectCount(), connects);
    EXPECT_TRUE(receiver.devices().empty());
    EXPECT_EQ(taskError(receiver.start(kPhone, [](platform::SampleBuffer) {})), "Open Yux Cam on your iPhone");
}

TEST(HostDisplayName, PrettyNameElseHostNameCutToWhatThePhoneTakes) {
    yux::testing::TemporaryDirectory folder;
    const auto info = folder.file("machine-info");
    yux::testing::writeWholeFile(info, "CHASSIS=laptop\nPRETTY_HOSTNAME=\"Studio \xFF Desk\"\n");
    EXPECT_EQ(hostDisplayName(info), "Studio \xEF\xBF\xBD Desk");
    yux::testing::writeWholeFile(info, "PRETTY_HOSTNAME=" + std::string(300, 'x') + "\n");
    EXPECT_EQ(hostDisplayName(info), std::string(256, 'x'));
    EXPECT_FALSE(hostDisplayName(folder.file("missing")).empty());
}
