#include <gtest/gtest.h>

#include <pulse/error.h>
#include <pulse/simple.h>

#include <QCoreApplication>
#include <QProcess>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <map>
#include <thread>

#include "capture/capture_device_runtime.hpp"
#include "capture/capture_inputs_controller.hpp"
#include "platform/async/wait_for.hpp"
#include "platform/media/host_clock.hpp"
#include "support/app_error_expectations.hpp"
#include "support/memory_preferences.hpp"
#include "support/sound_server.hpp"
#include "support/temporary_directory.hpp"

using namespace yux;
using namespace std::chrono_literals;
using yux::platform::waitForTask;

namespace {

const CaptureDevice kNullSource{"yux_null_source", "Yux-Null-Source"};

// Plays a loud 1 kHz tone into a sink for `duration`; returns at once, the tone plays meanwhile.
std::thread playTone(const char* sink, std::chrono::milliseconds duration, std::atomic<bool>& started) {
    return std::thread([sink, duration, &started] {
        constexpr int kRate = 48000;
        pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, kRate, 2};
        pa_buffer_attr attributes{};
        attributes.maxlength = static_cast<std::uint32_t>(-1);
        attributes.tlength = kRate / 50 * 8;  // 20 ms queued: the tone sounds soon after its write
        attributes.prebuf = static_cast<std::uint32_t>(-1);
        attributes.minreq = static_cast<std::uint32_t>(-1);
        int error = 0;
        pa_simple* player =
            pa_simple_new(nullptr, "yux-test", PA_STREAM_PLAYBACK, sink, "tone", &spec, nullptr, &attributes, &error);
        if (player == nullptr) {
            ADD_FAILURE() << "cannot play: " << pa_strerror(error);
            return;
        }
        // A fresh stream's first sound reaches the null sink's monitor late; silence first
        // brings the sink up to speed, so the tone's own timing is what is measured.
        std::vector<float> silence(kRate / 10 * 2, 0.0f);
        pa_simple_write(player, silence.data(), silence.size() * sizeof(float), &error);
        std::vector<float> tone(static_cast<std::size_t>(kRate) * duration.count() / 1000 * 2);
        for (std::size_t i = 0; i < tone.size() / 2; ++i) {
            tone[2 * i] = tone[2 * i + 1] = 0.5f * static_cast<float>(std::sin(2 * M_PI * 1000.0 * static_cast<double>(i) / kRate));
        }
        started = true;
        pa_simple_write(player, tone.data(), tone.size() * sizeof(float), &error);
        pa_simple_drain(player, &error);
        pa_simple_free(player);
    });
}

std::string pactl(const QStringList& arguments) {
    QProcess process;
    process.start("pactl", arguments);
    process.waitForFinished(5000);
    return process.readAllStandardOutput().trimmed().toStdString();
}

template <class Condition>
bool eventually(Condition condition, std::chrono::milliseconds limit = 3s) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        if (condition()) return true;
        std::this_thread::sleep_for(5ms);
    }
    return condition();
}

struct Controller {
    yux::testing::MemoryPreferences preferences;
    std::shared_ptr<CaptureDeviceRuntime> runtime = CaptureDeviceRuntime::create();
    std::unique_ptr<CaptureInputsController> inputs;

    Controller() {
        inputs = std::make_unique<CaptureInputsController>(
            preferences.store(), runtime, platform::SystemSettingsOpener::create_null(true), platform::SystemLog::create_null());
        waitForTask(inputs->start());
    }
    ~Controller() { waitForTask(inputs->stop()); }
};

}  // namespace

TEST(CaptureDevicesDesktop, TheNullSourceIsTheOneMicrophoneAndItsLevelFollowsATone) {
    Controller c;
    EXPECT_EQ(c.inputs->microphones(), (std::vector{kNullSource})) << "monitors are not microphones";
    EXPECT_TRUE(c.runtime->hasAccess(CaptureInputKind::microphone, std::nullopt));

    waitForTask(c.inputs->select(CaptureInputKind::microphone, kNullSource.id));
    ASSERT_TRUE(c.runtime->isRunning(CaptureInputKind::microphone)) << c.inputs->microphoneMessage().value_or("");
    EXPECT_FALSE(c.inputs->microphoneMessage());
    EXPECT_LT(c.runtime->microphoneLevel(), 0.01) << "silence before the tone";

    std::atomic<bool> started{false};
    auto player = playTone("yux_mic_feed", 800ms, started);
    while (!started) std::this_thread::sleep_for(1ms);
    auto toneAt = std::chrono::steady_clock::now();
    bool loud = eventually([&] { return c.runtime->microphoneLevel() > 0.1; }, 2s);
    auto took = std::chrono::steady_clock::now() - toneAt;
    player.join();
    EXPECT_TRUE(loud);
    EXPECT_LT(took, 500ms) << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms";
}

TEST(CaptureDevicesDesktop, ASourceThatIsUnloadedShowsDisconnectedAndStaysEnabled) {
    auto module = pactl({"load-module", "module-remap-source", "source_name=yux_test_source",
                         "master=yux_mic_feed.monitor", "source_properties=device.description=Yux-Test-Source"});
    ASSERT_FALSE(module.empty());
    Controller c;
    ASSERT_TRUE(eventually([&] {
        const auto& list = c.inputs->microphones();
        return std::ranges::any_of(list, [](const CaptureDevice& d) { return d.id == "yux_test_source"; });
    }));
    waitForTask(c.inputs->select(CaptureInputKind::microphone, std::string("yux_test_source")));
    ASSERT_TRUE(c.runtime->isRunning(CaptureInputKind::microphone)) << c.inputs->microphoneMessage().value_or("");

    pactl({"unload-module", QString::fromStdString(module)});
    EXPECT_TRUE(eventually([&] { return c.inputs->microphoneMessage() == "Disconnected · choose another"; }));
    EXPECT_TRUE(c.inputs->enabled(CaptureInputKind::microphone));
    EXPECT_FALSE(c.runtime->isRunning(CaptureInputKind::microphone)) << "the meter never follows to another source";
    EXPECT_EQ(c.inputs->microphones(), (std::vector{kNullSource}));
}

// A stopped sound server takes connections on its socket and answers nothing: a microphone's
// start fails within seconds with its cause, and nothing of it records once the server is back.
TEST(CaptureDevicesDesktop, AMicrophoneOnAStoppedSoundServerFailsToStartWithinSeconds) {
    // The meter's deadline, and room for a busy machine.
    constexpr double kBoundSeconds = 2.0 + 3.0;
    yux::testing::TemporaryDirectory folder;
    yux::testing::PrivateSoundServer server(folder.path());
    ASSERT_TRUE(server.start());
    yux::testing::SoundServerAddress address(server.address());
    const QString at = QString::fromStdString("--server=" + server.address());
    ASSERT_FALSE(pactl({at, "load-module", "module-remap-source", "source_name=yux_private_microphone",
                        "master=yux_private.monitor"})
                     .empty());
    auto runtime = CaptureDeviceRuntime::create();
    ASSERT_TRUE(eventually([&] {
        return std::ranges::any_of(runtime->devices(CaptureInputKind::microphone),
                                   [](const CaptureDevice& d) { return d.id == "yux_private_microphone"; });
    }));

    server.freeze();
    const auto sent = std::chrono::steady_clock::now();
    yux::testing::expectAppError(
        [&] { waitForTask(runtime->start(CaptureInputKind::microphone, "yux_private_microphone")); },
        AppError::microphoneFailed("The sound server did not answer within 2 seconds."));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - sent).count();
    std::printf("the microphone's start on the stopped sound server failed after %.3f s\n", seconds);
    EXPECT_LT(seconds, kBoundSeconds);
    EXPECT_FALSE(runtime->isRunning(CaptureInputKind::microphone));

    server.thaw();
    // The server sets up what it was asked for meanwhile; the meter given up on ends then.
    const std::string ours = "application.process.id = \"" + std::to_string(QCoreApplication::applicationPid()) + "\"";
    EXPECT_TRUE(eventually([&] { return pactl({at, "list", "source-outputs"}).find(ours) == std::string::npos; }))
        << "a record stream of the failed start is left on the server";
}
