#include "capture/phonelink/usb_mux_connection.hpp"

#include <gtest/gtest.h>

#include <future>
#include <sys/socket.h>
#include <unistd.h>

#include "support/fake_usb_mux_daemon.hpp"

using namespace yux;
using namespace std::chrono_literals;
using yux::testing::FakeUsbMuxDaemon;

namespace {

struct UsbMuxFixture : ::testing::Test {
    FakeUsbMuxDaemon daemon;
    // Where the daemon answers: a time-out that a busy machine never reaches.
    USBMuxOptions options{daemon.socketPath(), 60s};
    // Where the time-out itself is tested.
    USBMuxOptions shortWait{daemon.socketPath(), 200ms};

    std::string errorOf(const std::function<void()>& work) {
        try {
            work();
        } catch (const USBMuxError& error) {
            return error.what();
        }
        return "no error";
    }

    std::vector<std::uint8_t> replyHeader(std::uint32_t length) {
        std::vector<std::uint8_t> bytes;
        for (std::uint32_t value : {length, 1u, 8u, 1u}) {
            for (int shift = 0; shift < 32; shift += 8) {
                bytes.push_back(static_cast<std::uint8_t>(value >> shift));
            }
        }
        return bytes;
    }
};

}  // namespace

TEST_F(UsbMuxFixture, ListsOnlyUsbDevicesInTheDaemonsOrderWithTheCommonKeys) {
    daemon.attach({7, "WIFI-PHONE", "Network"});
    daemon.attach({3, "USB-PHONE-B"});
    daemon.attach({5, "USB-PHONE-A"});
    const auto devices = USBMuxConnection::open(options)->listDevices();
    EXPECT_EQ(devices, (std::vector<USBMuxConnection::Device>{{3, "USB-PHONE-B"}, {5, "USB-PHONE-A"}}));
    const auto request = daemon.requests().at(0);
    for (const char* part : {"<string>ListDevices</string>", "<key>ClientVersionString</key>", "<string>Yux Cam 1</string>",
                             "<key>ProgName</key>", "<string>Yux</string>", "<key>kLibUSBMuxVersion</key>", "<integer>3</integer>"}) {
        EXPECT_NE(request.find(part), std::string::npos) << part;
    }
}

TEST_F(UsbMuxFixture, EntriesLackingTheirFieldsAreSkippedAndAMissingListIsEmpty) {
    const std::string entries =
        "<dict><key>DeviceID</key><string>1</string><key>Properties</key><dict><key>ConnectionType</key><string>USB</string><key>SerialNumber</key><string>A</string></dict></dict>"
        "<dict><key>DeviceID</key><integer>2</integer><key>Properties</key><dict><key>ConnectionType</key><string>USB</string></dict></dict>"
        "<dict><key>DeviceID</key><integer>4</integer><key>Properties</key><dict><key>ConnectionType</key><string>USB</string><key>SerialNumber</key><string>D</string></dict></dict>";
    auto devicesOf = [](const std::string& list) {
        const std::string body = "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>DeviceList</key><array>" + list +
                                 "</array></dict></plist>";
        return USBMuxConnection::devicesOfReply(std::vector<std::uint8_t>(body.begin(), body.end()));
    };
    EXPECT_EQ(devicesOf(entries), (std::vector<USBMuxConnection::Device>{{4, "D"}}));
    // One entry that is not a dictionary makes the whole list unreadable.
    EXPECT_TRUE(devicesOf(entries + "<string>odd</string>").empty());
    const std::string noList = "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>DeviceList</key><integer>1</integer></dict></plist>";
    EXPECT_TRUE(USBMuxConnection::devicesOfReply(std::vector<std::uint8_t>(noList.begin(), noList.end())).empty());
}

TEST_F(UsbMuxFixture, ReplyLengthsOutside16ToOneMebibyteAndNonDictionaryBodiesAreInvalid) {
    for (std::uint32_t length : {15u, 1048577u, 0u}) {
        daemon.setRawReply(replyHeader(length));
        EXPECT_EQ(errorOf([&] { USBMuxConnection::open(options)->listDevices(); }), "Invalid USB service response") << length;
    }
    auto notADictionary = replyHeader(16 + 5);
    for (char c : std::string("hello")) {
        notADictionary.push_back(static_cast<std::uint8_t>(c));
    }
    daemon.setRawReply(notADictionary);
    EXPECT_EQ(errorOf([&] { USBMuxConnection::open(options)->listDevices(); }), "Invalid USB service response");
    daemon.setRawReply(replyHeader(16));
    EXPECT_EQ(errorOf([&] { USBMuxConnection::open(options)->listDevices(); }), "Invalid USB service response");
}

TEST_F(UsbMuxFixture, ASilentOrTruncatingDaemonAndAMissingSocketFailWithTheirTexts) {
    daemon.setSilent(true);
    EXPECT_EQ(errorOf([&] { USBMuxConnection::open(shortWait)->listDevices(); }), "USB service did not reply");
    daemon.setSilent(false);
    daemon.setRawReply(replyHeader(100));
    EXPECT_EQ(errorOf([&] { USBMuxConnection::open(shortWait)->listDevices(); }), "USB service did not reply");
    EXPECT_EQ(errorOf([&] { USBMuxConnection::open({daemon.socketPath() + ".missing", 200ms}); }), "USB service is unavailable");
    EXPECT_EQ(errorOf([&] { USBMuxConnection::open({std::string(200, 'x'), 200ms}); }), "USB service is unavailable");
}

TEST_F(UsbMuxFixture, ConnectSendsTheSwappedPortAndARefusalLeavesNoSocketOpen) {
    daemon.attach({9, "S"});
    daemon.setConnectNumber(3);
    EXPECT_EQ(errorOf([&] { USBMuxConnection::connect({9, "S"}, 51843, options); }), "Open Yux Cam on the connected iPhone");
    const auto request = daemon.requests().at(0);
    EXPECT_NE(request.find("<integer>33738</integer>"), std::string::npos);
    EXPECT_NE(request.find("<key>DeviceID</key>"), std::string::npos);
    // The daemon's side ends once it reads the end of the refused connection.
    for (const auto deadline = std::chrono::steady_clock::now() + 60s;
         daemon.openClients() > 0 && std::chrono::steady_clock::now() < deadline;) {
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_EQ(daemon.openClients(), 0) << "the refused connection was closed";
    daemon.setConnectNumber(std::nullopt);
    EXPECT_EQ(errorOf([&] { USBMuxConnection::connect({9, "S"}, 51843, options); }), "Open Yux Cam on the connected iPhone");
}

TEST_F(UsbMuxFixture, ATunnelReadsWritesTimesOutEmptyAndReportsThePeerLeaving) {
    std::promise<int> phoneSide;
    daemon.attach({9, "S"});
    daemon.onTunnel([&](int descriptor, std::int64_t) { phoneSide.set_value(descriptor); });
    // Yux's own time-out: the read below waits it out, and the daemon answers within it.
    auto tunnel = USBMuxConnection::connect({9, "S"}, 51843, {daemon.socketPath(), USBMuxOptions{}.timeout});
    const int phone = phoneSide.get_future().get();
    EXPECT_TRUE(tunnel->readBytes(65536).empty()) << "a time-out is no error";
    const std::vector<std::uint8_t> hello = {1, 2, 3};
    ASSERT_EQ(::send(phone, hello.data(), hello.size(), 0), 3);
    EXPECT_EQ(tunnel->readBytes(65536), hello);
    tunnel->writeBytes(hello);
    std::uint8_t received[3] = {};
    EXPECT_EQ(::recv(phone, received, 3, MSG_WAITALL), 3);
    ::close(phone);
    EXPECT_EQ(errorOf([&] { tunnel->readBytes(65536); }), "iPhone disconnected");
    std::string writeError;
    for (int attempt = 0; attempt < 10 && writeError.empty(); ++attempt) {
        try {
            tunnel->writeBytes(std::vector<std::uint8_t>(65536, 0));
        } catch (const USBMuxError& error) {
            writeError = error.what();
        }
    }
    EXPECT_EQ(writeError, "USB write failed");
}

TEST_F(UsbMuxFixture, InterruptWakesABlockedReadAtOnce) {
    std::promise<int> phoneSide;
    daemon.attach({9, "S"});
    daemon.onTunnel([&](int descriptor, std::int64_t) { phoneSide.set_value(descriptor); });
    auto tunnel = USBMuxConnection::connect({9, "S"}, 51843, {daemon.socketPath(), 10s});
    const int phone = phoneSide.get_future().get();
    const auto started = std::chrono::steady_clock::now();
    auto reader = std::async(std::launch::async, [&] {
        try {
            tunnel->readBytes(65536);
        } catch (const USBMuxError& error) {
            return std::string(error.what());
        }
        return std::string("returned");
    });
    std::this_thread::sleep_for(50ms);
    tunnel->interrupt();
    EXPECT_EQ(reader.get(), "iPhone disconnected");
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
    ::close(phone);
}
