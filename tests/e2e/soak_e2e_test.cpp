// Twenty short takes in a row, half started and stopped by the shortcut (each closed through the
// trim window's Discard), half by command files, while another program asks for the status
// every 0.5 s. Bounds are generous so that a busy machine passes: what this looks for is a
// Yux that stops answering or does not end.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <fstream>
#include <iostream>
#include <mutex>
#include <thread>

#include <QProcess>
#include <QUuid>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "desktop_windows.hpp"
#include "support/temporary_directory.hpp"
#include "yux_process_environment.hpp"

namespace yux {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Json = nlohmann::json;
using testing::DesktopWindows;
using testing::eventually;

constexpr int kTakes = 20;
constexpr auto kTakeLength = 1s;
// How long a shortcut take's trim window stays open before it is closed: the stall this test
// looks for was seen a few seconds after the window opened, while its previews loaded.
constexpr auto kTrimWindowOpen = 3s;
constexpr auto kStatusInterval = 500ms;
// The bounds of the checks.
constexpr auto kStatusBound = 5s;
constexpr auto kExitBound = 15s;
// How long a single step may take before the test gives up on it (a cold start, an export).
constexpr auto kStepTimeout = 60s;
// A status unanswered this long is counted as this long, and the poller moves on.
constexpr auto kStatusGiveUp = 20s;
// How much of the debug log a failure shows.
constexpr int kLogLinesShown = 60;

std::string newID() { return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().toStdString(); }

double seconds(Clock::duration duration) { return std::chrono::duration<double>(duration).count(); }

// What another program sees of Yux: command files in, answers out.
class CommandFolders {
public:
    explicit CommandFolders(std::filesystem::path base) : base_(std::move(base)) {}

    bool ready() const { return std::filesystem::exists(base_ / "responses"); }

    void send(const Json& command) const {
        const std::string id = command.at("id");
        const auto folder = base_ / "commands";
        std::ofstream(folder / (id + ".json.tmp")) << command.dump();
        std::filesystem::rename(folder / (id + ".json.tmp"), folder / (id + ".json"));
    }

    std::string phase(const std::string& id, Json* answer = nullptr) const {
        std::ifstream in(base_ / "responses" / (id + ".json"));
        if (!in) return {};
        Json read = Json::parse(in, nullptr, false);
        if (!read.is_object()) return {};
        if (answer) *answer = read;
        return read.value("phase", "");
    }

private:
    std::filesystem::path base_;
};

// Sends a status command every 0.5 s (or as soon as the last one is answered, if that took
// longer) and keeps how long each answer took.
class StatusPoller {
public:
    explicit StatusPoller(const CommandFolders& folders) : folders_(folders), thread_([this] { run(); }) {}
    ~StatusPoller() { stop(); }

    void stop() {
        stopping_ = true;
        if (thread_.joinable()) thread_.join();
    }
    struct Answer {
        Clock::time_point sent;
        Clock::duration took;
    };
    std::vector<Answer> answers() const {
        std::lock_guard guard(lock_);
        return answers_;
    }
    // How long the status in flight has waited so far.
    Clock::duration waiting() const {
        std::lock_guard guard(lock_);
        return inFlight_ ? Clock::now() - *inFlight_ : Clock::duration{};
    }

private:
    void run() {
        while (!stopping_) {
            const std::string id = newID();
            const auto sent = Clock::now();
            folders_.send({{"id", id}, {"action", "status"}});
            {
                std::lock_guard guard(lock_);
                inFlight_ = sent;
            }
            while (folders_.phase(id) != "completed" && Clock::now() - sent < kStatusGiveUp) {
                std::this_thread::sleep_for(10ms);
            }
            {
                std::lock_guard guard(lock_);
                answers_.push_back({sent, Clock::now() - sent});
                inFlight_.reset();
            }
            std::this_thread::sleep_until(sent + kStatusInterval);
        }
    }

    const CommandFolders& folders_;
    std::atomic<bool> stopping_{false};
    mutable std::mutex lock_;
    std::vector<Answer> answers_;
    std::optional<Clock::time_point> inFlight_;
    std::thread thread_;
};

struct YuxSoak : ::testing::Test {
    testing::TemporaryDirectory home;
    CommandFolders commands{home.path() / "data" / "Yux" / "Automation" / "v1" / "production"};
    DesktopWindows desktop;
    QProcess yux;

    void SetUp() override {
        // The first-run setup is done and the overlay offers the whole screen first.
        std::filesystem::create_directories(home.path() / "config" / "Yux");
        std::ofstream(home.path() / "config" / "Yux" / "preferences.json")
            << R"({"yux.settings.captureInputs": {"setupCompleted": true, "microphoneEnabled": false,
                 "cameraEnabled": false, "ratio": "Free", "camera": {}},
                 "yux.capture_preference": {"mode": "screen"}})";
        // Docked in the tray, as on a user's desktop: a Yux that starts before the tray keeps a
        // panel window of its own for the session.
        ASSERT_TRUE(eventually([&] { return desktop.trayPanel() != XCB_WINDOW_NONE; })) << "no tray on this display";
        yux.setProcessEnvironment(testing::yuxProcessEnvironment(home.path()));
        yux.start(QStringLiteral(YUX_EXECUTABLE), {});
        ASSERT_TRUE(yux.waitForStarted()) << yux.errorString().toStdString();
    }

    void TearDown() override {
        if (HasFailure()) {
            // What Yux said it was doing, for whoever reads the failure.
            const std::string log = debugLog();
            std::size_t from = log.size();
            for (int lines = 0; lines < kLogLinesShown && from > 0; ++lines) from = log.rfind('\n', from - 1);
            std::cout << "the debug log's last lines:\n" << log.substr(from == std::string::npos ? 0 : from) << "\n";
        }
        if (yux.state() != QProcess::NotRunning) {
            yux.kill();
            yux.waitForFinished();
        }
    }

    std::string debugLog() const { return testing::debugLogText(home.path()); }

    // The log's last line now (each carries its time): what follows it is new. The log keeps
    // only its last lines, so counting from its start would not do.
    std::string logMark() const {
        std::string log = debugLog();
        while (!log.empty() && log.back() == '\n') log.pop_back();
        return log.substr(log.rfind('\n') == std::string::npos ? 0 : log.rfind('\n') + 1);
    }

    // Until a line with `text` follows the mark.
    bool waitForLineAfter(const std::string& mark, const std::string& text,
                          std::chrono::milliseconds timeout = kStepTimeout) {
        return eventually(
            [&] {
                const std::string log = debugLog();
                const std::size_t at = mark.empty() ? std::string::npos : log.rfind(mark);
                const std::size_t from = at == std::string::npos ? 0 : at + mark.size();
                return yux.state() == QProcess::Running && log.find(text, from) != std::string::npos;
            },
            timeout);
    }

    static void type(const char* keys) {
        QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("key"), QString::fromLatin1(keys)});
    }

    std::optional<QRect> windowTitled(const std::string& title, xcb_window_t* id = nullptr) {
        return desktop.mappedWindow(yux.processId(), [&](xcb_window_t window, const QRect&) {
            if (desktop.title(window) != title) return false;
            if (id) *id = window;
            return true;
        });
    }

    // A click on the window's title bar, until the window manager has framed it and given it
    // the keyboard (on a busy machine the first click may come before the frame).
    bool focusByTitleBar(const std::string& title) {
        xcb_window_t id = XCB_WINDOW_NONE;
        return eventually(
            [&] {
                const auto place = windowTitled(title, &id);
                if (!place) return false;
                if (desktop.activeWindow() == id) return true;
                testing::clickAt({place->center().x(), place->top() - 6});
                // Apart, so that two clicks never make a double click on the title bar.
                return eventually([&] { return desktop.activeWindow() == id; }, 1s);
            },
            kStepTimeout);
    }

    std::optional<QRect> overlay() {
        return desktop.mappedWindow(yux.processId(), [](xcb_window_t, const QRect& place) {
            return place.width() == 1920 && place.height() == 1080;
        });
    }

    // Shortcut, the screen on the overlay, a second of recording, the shortcut again, then the
    // trim window closed by the window manager and the take discarded on its question.
    // `first`: the shortcut may not be registered yet, and is pressed again until it is.
    void shortcutTake(bool first) {
        const std::string mark = logMark();
        // The shortcut is registered a little after start-up: a press before that goes nowhere.
        ASSERT_TRUE(eventually([&] {
            type("shift+super+6");
            return waitForLineAfter(mark, "session_start_requested state=", first ? 3s : kStepTimeout);
        })) << "the shortcut started nothing";
        ASSERT_TRUE(eventually([&] { return overlay().has_value(); })) << "no selection overlay";
        std::this_thread::sleep_for(300ms);  // drawn and holding the keyboard
        type("Return");
        ASSERT_TRUE(waitForLineAfter(mark, "session_recording_started")) << "the recording did not start";
        std::this_thread::sleep_for(kTakeLength);
        type("shift+super+6");

        ASSERT_TRUE(eventually([&] { return windowTitled("Recording — Export").has_value(); }, kStepTimeout))
            << "no trim window";
        std::this_thread::sleep_for(kTrimWindowOpen);
        // Alt+F4 is the window manager's Close, for the window with the keyboard.
        ASSERT_TRUE(focusByTitleBar("Recording — Export")) << "the trim window never had the keyboard";
        type("alt+F4");
        std::optional<QRect> question;
        ASSERT_TRUE(eventually([&] { return (question = windowTitled("Discard this recording?")).has_value(); }, 20s))
            << "closing the trim window asked nothing";
        std::this_thread::sleep_for(300ms);  // laid out
        // "Discard" sits left of "Keep Editing" at the foot of the question.
        testing::clickAt(question->bottomRight() - QPoint(160, 23));
        ASSERT_TRUE(waitForLineAfter(mark, "trim_preview_outcome discarded")) << "the take was not discarded";
        ASSERT_TRUE(eventually([&] { return !windowTitled("Recording — Export"); })) << "the trim window stayed";
    }

    void commandTake() {
        const std::string id = newID();
        commands.send({{"id", id}, {"durationSeconds", seconds(kTakeLength)}});
        Json answer;
        ASSERT_TRUE(jobEnds(id, answer)) << answer.dump();
        EXPECT_EQ(answer.value("phase", ""), "completed") << answer.dump();
    }

    // Until the job ends. Two busy cores can take a minute over an export of a second, so what
    // fails is a job that stops moving (no new phase or progress for kStepTimeout), or one still
    // moving at the test's waitsEnd(); the message says which.
    ::testing::AssertionResult jobEnds(const std::string& id, Json& answer) {
        const auto begun = Clock::now();
        const auto end = testing::waitsEnd();
        std::string last;
        auto moved = begun;
        while (Clock::now() - moved < kStepTimeout && Clock::now() < end) {
            const std::string phase = commands.phase(id, &answer);
            if (phase == "completed" || phase == "failed" || phase == "cancelled") return ::testing::AssertionSuccess();
            std::string now = phase + " " + (phase.empty() ? "" : answer.value("progress", Json()).dump());
            if (now != last) {
                last = std::move(now);
                moved = Clock::now();
            }
            std::this_thread::sleep_for(50ms);
        }
        if (Clock::now() - moved >= kStepTimeout) {
            return ::testing::AssertionFailure() << "the job stood still for " << kStepTimeout.count() << " s";
        }
        return ::testing::AssertionFailure() << "the job still moved on after " << std::lround(seconds(Clock::now() - begun))
                                             << " s, when the soak's time was up (ctest ends it at "
                                             << YUX_TEST_TIMEOUT << " s)";
    }
};

TEST_F(YuxSoak, TwentyTakesByShortcutAndCommandWhileStatusIsAskedEveryHalfSecond) {
    ASSERT_TRUE(eventually([&] { return commands.ready(); }, kStepTimeout)) << "Yux did not start";
    const auto begun = Clock::now();
    StatusPoller poller(commands);
    for (int take = 1; take <= kTakes && !HasFatalFailure(); ++take) {
        const auto takeBegun = Clock::now();
        ASSERT_TRUE(takeBegun < testing::waitsEnd())
            << "the soak's time was up after " << take - 1 << " takes in " << std::lround(seconds(takeBegun - begun))
            << " s (ctest ends it at " << YUX_TEST_TIMEOUT << " s)";
        if (take % 2 == 1) {
            shortcutTake(take == 1);
        } else {
            commandTake();
        }
        std::cout << "take " << take << (take % 2 == 1 ? " (shortcut)" : " (command)") << " from "
                  << seconds(takeBegun - begun) << " s: " << seconds(Clock::now() - takeBegun) << " s\n";
        ASSERT_LT(poller.waiting(), kStatusBound) << "a status has waited too long";
    }
    // The last statuses after the last take.
    std::this_thread::sleep_for(2 * kStatusInterval);
    poller.stop();

    const auto answers = poller.answers();
    ASSERT_FALSE(answers.empty());
    Clock::duration slowest{};
    for (const auto& answer : answers) {
        slowest = std::max(slowest, answer.took);
        if (answer.took > 1s) {
            std::cout << "slow answer: sent at " << seconds(answer.sent - begun) << " s, took " << seconds(answer.took)
                      << " s\n";
        }
    }
    std::cout << answers.size() << " status answers over " << seconds(Clock::now() - begun)
              << " s; slowest answer " << seconds(slowest) << " s\n";
    EXPECT_LT(slowest, kStatusBound);

    const auto asked = Clock::now();
    ::kill(static_cast<pid_t>(yux.processId()), SIGTERM);
    ASSERT_TRUE(yux.waitForFinished(static_cast<int>(std::chrono::milliseconds(kExitBound).count())))
        << "SIGTERM did not end Yux";
    std::cout << "SIGTERM ended Yux after " << seconds(Clock::now() - asked) << " s\n";
    EXPECT_EQ(yux.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(yux.exitCode(), 0);
}

}  // namespace
}  // namespace yux
