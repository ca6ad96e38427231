#include <gtest/gtest.h>

#include <QProcess>
#include <QStringList>

#include <chrono>
#include <filesystem>
#include <thread>

#include "platform/audio/pulse_source_directory.hpp"
#include "support/temporary_directory.hpp"

using namespace yux::platform;
using namespace std::chrono_literals;

namespace {

// A sound server of this test's own, on a private socket, that the test can stop and start
// again without touching the environment's shared one.
class PrivateSoundServer {
public:
    PrivateSoundServer() : socket_(folder_.file("pulse.sock")) {}
    ~PrivateSoundServer() { stop(); }

    void start() {
        process_.setProcessEnvironment([this] {
            auto environment = QProcessEnvironment::systemEnvironment();
            environment.insert("XDG_RUNTIME_DIR", QString::fromStdString(folder_.path().string()));
            environment.insert("HOME", QString::fromStdString(folder_.path().string()));
            return environment;
        }());
        process_.start("pulseaudio",
                       {"-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no", "--disallow-exit=yes",
                        "-L", QString::fromStdString("module-native-protocol-unix socket=" + socket_ + " auth-anonymous=1"),
                        "-L", "module-null-sink sink_name=private_feed",
                        "-L", "module-remap-source source_name=private_mic master=private_feed.monitor "
                              "source_properties=device.description=Private-Mic"});
        ASSERT_TRUE(process_.waitForStarted(5000));
        for (int i = 0; i < 250 && !listening(); ++i) std::this_thread::sleep_for(20ms);
        ASSERT_TRUE(listening());
    }
    void stop() {
        if (process_.state() == QProcess::NotRunning) return;
        std::filesystem::remove(socket_);
        process_.terminate();
        if (!process_.waitForFinished(5000)) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }
    std::string address() const { return "unix:" + socket_; }
    bool listening() const { return std::filesystem::exists(socket_); }

private:
    yux::testing::TemporaryDirectory folder_;
    std::string socket_;
    QProcess process_;
};

// Points this process's sound server connections elsewhere while it lives.
class ServerAddress {
public:
    explicit ServerAddress(const std::string& address) : saved_(qgetenv("PULSE_SERVER")) {
        qputenv("PULSE_SERVER", QByteArray::fromStdString(address));
    }
    ~ServerAddress() { qputenv("PULSE_SERVER", saved_); }

private:
    QByteArray saved_;
};

template <class Condition>
bool within(std::chrono::milliseconds limit, Condition condition) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition()) return true;
        std::this_thread::sleep_for(20ms);
    }
    return condition();
}

}  // namespace

TEST(PulseSourceDirectory, ALostServerEmptiesTheListAndIsFoundAgain) {
    PrivateSoundServer server;
    server.start();
    ServerAddress address(server.address());
    auto directory = PulseSourceDirectory::create();

    const PulseSource mic{"private_mic", "Private-Mic", 2};
    ASSERT_TRUE(within(5s, [&] { return directory->sources() == std::vector{mic}; }));
    EXPECT_TRUE(directory->isConnected());

    server.stop();
    EXPECT_TRUE(within(3s, [&] { return !directory->isConnected() && directory->sources().empty(); }));
    EXPECT_THROW(directory->openMeter("private_mic"), std::runtime_error);

    server.start();
    // Retried every 2 s: back within two tries.
    EXPECT_TRUE(within(6s, [&] { return directory->isConnected() && directory->sources() == std::vector{mic}; }));
}

TEST(PulseSourceDirectory, WithoutAServerTheListIsEmptyAndNothingBlocks) {
    yux::testing::TemporaryDirectory nowhere;
    ServerAddress address("unix:" + nowhere.file("no.sock"));
    auto before = std::chrono::steady_clock::now();
    auto directory = PulseSourceDirectory::create();
    EXPECT_FALSE(directory->waitForFirstListing(300ms));
    EXPECT_TRUE(directory->sources().empty());
    EXPECT_FALSE(directory->isConnected());
    EXPECT_LT(std::chrono::steady_clock::now() - before, 2s);
}
