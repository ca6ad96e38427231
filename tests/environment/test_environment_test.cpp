// The test environment is real: an X server with RandR and a sound server with null devices;
// and scripts/test-env.sh, which sets it up, lets other desktops start after it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <pulse/pulseaudio.h>
#include <signal.h>
#include <xcb/randr.h>
#include <xcb/xcb.h>

#include <QProcess>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <string>

#include "support/temporary_directory.hpp"

TEST(TestEnvironment, XServerIs1920x1080WithRandR) {
    ASSERT_NE(std::getenv("DISPLAY"), nullptr);
    int screenNumber = 0;
    xcb_connection_t* connection = xcb_connect(nullptr, &screenNumber);
    ASSERT_EQ(xcb_connection_has_error(connection), 0);
    auto iterator = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber; ++i) xcb_screen_next(&iterator);
    EXPECT_EQ(iterator.data->width_in_pixels, 1920);
    EXPECT_EQ(iterator.data->height_in_pixels, 1080);
    const xcb_query_extension_reply_t* randr = xcb_get_extension_data(connection, &xcb_randr_id);
    ASSERT_NE(randr, nullptr);
    EXPECT_TRUE(randr->present);
    xcb_disconnect(connection);
}

namespace {

struct ServerFacts {
    std::string defaultSink;
    std::string defaultSource;
    std::string monitorOfDefaultSink;
    bool done = false;
    bool failed = false;
};

void onSink(pa_context*, const pa_sink_info* info, int eol, void* data) {
    auto* facts = static_cast<ServerFacts*>(data);
    if (eol != 0) {
        facts->done = true;
        return;
    }
    if (info->monitor_source_name) facts->monitorOfDefaultSink = info->monitor_source_name;
}

void onServer(pa_context* context, const pa_server_info* info, void* data) {
    auto* facts = static_cast<ServerFacts*>(data);
    facts->defaultSink = info->default_sink_name ? info->default_sink_name : "";
    facts->defaultSource = info->default_source_name ? info->default_source_name : "";
    pa_operation_unref(pa_context_get_sink_info_by_name(context, facts->defaultSink.c_str(), onSink, data));
}

void onState(pa_context* context, void* data) {
    auto* facts = static_cast<ServerFacts*>(data);
    switch (pa_context_get_state(context)) {
        case PA_CONTEXT_READY: pa_operation_unref(pa_context_get_server_info(context, onServer, data)); break;
        case PA_CONTEXT_FAILED:
        case PA_CONTEXT_TERMINATED:
            facts->failed = true;
            break;
        default: break;
    }
}

}  // namespace

TEST(TestEnvironment, SoundServerHasANullDefaultSinkWithAMonitor) {
    ASSERT_NE(std::getenv("PULSE_SERVER"), nullptr);
    std::unique_ptr<pa_mainloop, decltype(&pa_mainloop_free)> loop(pa_mainloop_new(), pa_mainloop_free);
    pa_context* context = pa_context_new(pa_mainloop_get_api(loop.get()), "yux-test");
    ServerFacts facts;
    pa_context_set_state_callback(context, onState, &facts);
    ASSERT_GE(pa_context_connect(context, nullptr, PA_CONTEXT_NOFLAGS, nullptr), 0);
    for (int i = 0; i < 2000 && !facts.done && !facts.failed; ++i) pa_mainloop_iterate(loop.get(), 1, nullptr);
    pa_context_set_state_callback(context, nullptr, nullptr);
    pa_context_disconnect(context);
    pa_context_unref(context);
    ASSERT_FALSE(facts.failed);
    ASSERT_TRUE(facts.done);
    // The same names from the PulseAudio daemon and from PipeWire's server.
    EXPECT_EQ(facts.defaultSink, "yux_null_sink");
    EXPECT_EQ(facts.monitorOfDefaultSink, "yux_null_sink.monitor");
    EXPECT_EQ(facts.defaultSource, "yux_null_source");
}

namespace {

struct ScriptRun {
    int status = -1;
    std::string out;
    std::string err;
};

ScriptRun runTestEnv(const QStringList& arguments, const QProcessEnvironment& environment) {
    QProcess script;
    script.setProcessEnvironment(environment);
    script.start(YUX_TEST_ENV_SCRIPT, arguments);
    if (!script.waitForStarted(-1)) return {-1, {}, script.errorString().toStdString()};
    script.waitForFinished(-1);
    return {script.exitStatus() == QProcess::NormalExit ? script.exitCode() : -1,
            script.readAllStandardOutput().toStdString(), script.readAllStandardError().toStdString()};
}

// Run inside a desktop: leaves a process behind, then prints each process the desktop started
// (the command's siblings), the command itself and what it left, with the files each has open.
constexpr const char* kListDesktopProcesses = R"(sleep 300 & echo $! >"$1"
for dir in /proc/[0-9]*; do
  read -r stat 2>/dev/null <"$dir/stat" || continue
  set -- ${stat##*") "}
  if [ "$2" = "$PPID" ] || [ "$2" = "$$" ]; then
    echo "$(cat "$dir/comm" 2>/dev/null):" $(readlink "$dir"/fd/* 2>/dev/null)
  fi
done)";

}  // namespace

TEST(TestEnvironmentScript, SaysWhatIsWrongWhenTmpdirIsNoFolder) {
    yux::testing::TemporaryDirectory folder;
    const std::string missing = folder.file("missing");
    auto environment = QProcessEnvironment::systemEnvironment();
    environment.insert("TMPDIR", QString::fromStdString(missing));
    const ScriptRun run = runTestEnv({"true"}, environment);
    EXPECT_NE(run.status, 0);
    EXPECT_THAT(run.err, ::testing::HasSubstr("TMPDIR is " + missing + ", which is not a folder"));
}

// The desktops' turn is the script's alone: a process that outlives its desktop (a program a
// test left running) must not keep every later desktop waiting. Checked on the desktop with the
// most processes; the other's PulseAudio daemon closes what it inherits.
TEST(TestEnvironmentScript, NoProcessOfTheDesktopHoldsItsTurn) {
    yux::testing::TemporaryDirectory folder;
    const std::string leftoverFile = folder.file("leftover.pid");
    const ScriptRun run = runTestEnv({"--compositor", "--pipewire", "sh", "-c", kListDesktopProcesses, "sh",
                                      QString::fromStdString(leftoverFile)},
                                     QProcessEnvironment::systemEnvironment());
    const pid_t leftover = std::atoi(yux::testing::readWholeFile(leftoverFile).c_str());
    if (leftover > 1) ::kill(leftover, SIGTERM);
    ASSERT_EQ(run.status, 0) << run.err;
    std::istringstream lines(run.out);
    std::map<std::string, std::string> openFiles;
    for (std::string line; std::getline(lines, line);) {
        const auto colon = line.find(':');
        if (colon != std::string::npos) openFiles[line.substr(0, colon)] += line.substr(colon) + "\n";
    }
    for (const char* process : {"Xvfb", "dbus-daemon", "pipewire", "wireplumber", "pipewire-pulse", "openbox", "tint2",
                                "picom", "sh", "sleep"}) {
        ASSERT_TRUE(openFiles.count(process)) << process << " is not among\n" << run.out;
        EXPECT_THAT(openFiles[process], ::testing::Not(::testing::HasSubstr("yux-test-env-")))
            << process << " has the desktops' turn open";
    }
}

// Xvfb writes its display number and the line's end apart, and a busy machine can pause between
// them or between two digits: the number counts only once its line is whole.
TEST(TestEnvironmentScript, TakesTheDisplayNumberHandedOverInPieces) {
    yux::testing::TemporaryDirectory folder;
    yux::testing::writeWholeFile(folder.path() / "Xvfb", R"(#!/bin/bash
exec {own}<> <(:)
/usr/bin/Xvfb -displayfd "$own" "${@:3}" &
trap 'kill $!; wait; exit 0' TERM
read -r -u "$own" number
# Leading noughts make even display 1 a number of several digits.
number="00$number"
echo ":$number" >"${0%/*}/display"
for ((i = 0; i < ${#number}; i++)); do printf %s "${number:i:1}" >&"$2"; sleep 0.3; done
sleep 0.3
echo >&"$2"
wait
)");
    std::filesystem::permissions(folder.path() / "Xvfb", std::filesystem::perms::owner_all);
    auto environment = QProcessEnvironment::systemEnvironment();
    environment.insert("PATH", QString::fromStdString(folder.path().string()) + ":" + environment.value("PATH"));
    const ScriptRun run = runTestEnv({"sh", "-c", "echo \"$DISPLAY\""}, environment);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, yux::testing::readWholeFile(folder.path() / "display"));
}
