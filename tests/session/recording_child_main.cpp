// Records the main display into the scratch folder below the given root until it is killed.
// Prints "recording <scratch path>" once the capture runs; "failed <state>" and exit 1 otherwise.

#include <cstdio>

#include <QCoreApplication>

#include "editor/ffmpeg_recording_trim_boundary.hpp"
#include "platform/async/wait_for.hpp"
#include "session/live_session.hpp"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    auto log = std::make_shared<yux::testing::RecordingDebugLog>();
    yux::testing::LiveSession live(argv[1], std::make_shared<yux::FfmpegRecordingTrimBoundary>(log));
    yux::platform::waitForTask(live.session->start());
    const auto* info = live.session->storedState().recordingInfo();
    if (info == nullptr) {
        std::printf("failed %s\n", live.session->storedState().diagnosticText().c_str());
        std::fflush(stdout);
        return 1;
    }
    std::printf("recording %s\n", info->scratchFilePath.c_str());
    std::fflush(stdout);
    return app.exec();
}
