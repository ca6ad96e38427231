// Scratch movie writer benchmark. Run it on two CPUs:
//
//   taskset -c 0,1 build/bench/scratch_writer_bench [seconds] [preset]
//
// Feeds `seconds` (default 10) of 1920x1080 BGRA screen frames at 60 fps, a 30 fps camera track
// with stacked alpha and two audio tracks to the movie writer as fast as it accepts them, then
// encodes the same screen frames with the ffmpeg command-line tool at the same settings (raw BGRA
// piped in, libx264, the same preset, no B-frames, a keyframe a second, yuv420p, QuickTime in
// one-second fragments). Then the same for the screen track alone at 3840x2160. Prints frames per
// second sustained and CPU seconds per media second for both, and their ratio.

#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/media/movie_writer.hpp"
#include "process_usage.hpp"
#include "raw_picture_pipe.hpp"
#include "support/synthetic_media.hpp"

using namespace yux::platform;
using Clock = std::chrono::steady_clock;

namespace {

struct Size {
    int width;
    int height;
};
constexpr Size kFullHd{1920, 1080};
constexpr Size kUltraHd{3840, 2160};
constexpr int kScreenRate = 60;
constexpr int kCameraRate = 30;
constexpr int kAudioBufferFrames = 480;  // 10 ms buffers, as a sound server delivers them
// Distinct pictures cycled through; more would only cost memory (8 MB each at 1920x1080).
constexpr int kDistinctFrames = 24;
constexpr int kDistinctUltraHdFrames = 8;

using yux::bench::cpuSeconds;

double since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// A screen that changes like a busy desktop: moving bars behind a block of text-like glyph
// rows that scrolls by two pixels a frame.
PixelBuffer screenFrame(Size size, int index) {
    auto picture = yux::testing::movingPattern(size.width, size.height, index, 12);
    const int scroll = index * 2;
    for (int y = 200; y < 800; ++y) {
        auto* row = picture.row(y);
        const int line = (y + scroll) / 18;
        const int inLine = (y + scroll) % 18;
        for (int x = 300; x < 1600; ++x) {
            const int glyph = x / 9;
            unsigned hash = static_cast<unsigned>(line * 7919 + glyph * 104729);
            hash ^= hash >> 13;
            hash *= 0x5bd1e995u;
            hash ^= hash >> 15;
            const bool ink = inLine > 3 && inLine < 15 && (x % 9) < 7 && ((hash >> ((inLine + x) % 24)) & 1u);
            row[4 * x + 0] = row[4 * x + 1] = row[4 * x + 2] = ink ? 20 : 245;
        }
    }
    return picture;
}

struct Result {
    double wall = 0;
    double cpu = 0;
    int frames = 0;
};

Result runWriter(Size size, const std::vector<PixelBuffer>& screens, const PixelBuffer& bubble, double seconds,
                 const std::string& preset, const std::string& path, bool screenOnly) {
    auto writer = MovieWriter::create(path, ExclusiveOutputFile::CommitOperations::unsynced());
    writer->addTrack(MovieTrackFormat::video("yux.source.screen", size.width, size.height, preset));
    if (!screenOnly) {
        writer->addTrack(
            MovieTrackFormat::videoWithStackedAlpha("yux.source.camera", size.width, size.height, preset));
        writer->addTrack(MovieTrackFormat::audio("yux.source.systemAudio"));
        writer->addTrack(MovieTrackFormat::audio("yux.source.microphone"));
    }
    if (!writer->startWriting()) throw std::runtime_error("The writer did not start");
    const auto start = yux::testing::hostTime(0);
    writer->startSession(start);

    const double cpuBefore = cpuSeconds(RUSAGE_SELF);
    const auto wallBefore = Clock::now();
    const int frames = static_cast<int>(seconds * kScreenRate);
    std::int64_t audioFrames = 0;
    auto appendWaiting = [&](int track, const SampleBuffer& sample) {
        while (!writer->isReadyForMoreMediaData(track)) std::this_thread::sleep_for(std::chrono::microseconds(200));
        if (!writer->append(track, sample)) throw std::runtime_error("The writer refused a sample");
    };
    for (int i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / kScreenRate;
        appendWaiting(0, yux::testing::videoSample(yux::testing::hostTime(t), screens[i % screens.size()]));
        if (screenOnly) continue;
        if (i % (kScreenRate / kCameraRate) == 0) {
            appendWaiting(1, yux::testing::videoSample(yux::testing::hostTime(t), bubble, MediaTime(1, kCameraRate)));
        }
        while (static_cast<double>(audioFrames) / 48000 < t + 1.0 / kScreenRate) {
            const double at = static_cast<double>(audioFrames) / 48000;
            appendWaiting(2, yux::testing::audioSample(yux::testing::hostTime(at),
                                                       yux::testing::sineTone(440, kAudioBufferFrames, 48000, 2,
                                                                              AudioSampleFormat::float32, audioFrames)));
            appendWaiting(3, yux::testing::audioSample(yux::testing::hostTime(at),
                                                       yux::testing::sineTone(1000, kAudioBufferFrames, 48000, 1,
                                                                              AudioSampleFormat::int16, audioFrames)));
            audioFrames += kAudioBufferFrames;
        }
    }
    writer->endSession(yux::testing::hostTime(seconds));
    yux::testing::finishWritingAndWait(*writer);
    if (writer->status() != MovieWriterStatus::completed) throw std::runtime_error("The movie did not complete");
    return {since(wallBefore), cpuSeconds(RUSAGE_SELF) - cpuBefore, frames};
}

Result runFfmpeg(Size size, const std::vector<PixelBuffer>& screens, double seconds, const std::string& preset,
                 const std::string& path) {
    const double childCpuBefore = cpuSeconds(RUSAGE_CHILDREN);
    const auto wallBefore = Clock::now();
    const std::string rate = std::to_string(kScreenRate);
    yux::bench::RawPictureTool tool(size.width, size.height, rate,
                                    {"-c:v", "libx264", "-preset", preset, "-bf", "0", "-g", rate, "-pix_fmt", "yuv420p",
                                     "-f", "mov", "-movflags", "empty_moov+default_base_moof", "-frag_duration",
                                     "1000000", "-y", path});
    const int frames = static_cast<int>(seconds * kScreenRate);
    for (int i = 0; i < frames; ++i) tool.write(screens[i % screens.size()]);
    tool.finish();
    return {since(wallBefore), cpuSeconds(RUSAGE_CHILDREN) - childCpuBefore, frames};
}

// One run of the writer and then of the tool; false when either failed.
bool compare(Size size, int distinct, double seconds, const std::string& preset, bool screenOnly,
             const std::filesystem::path& folder) {
    std::vector<PixelBuffer> screens;
    for (int i = 0; i < distinct; ++i) screens.push_back(screenFrame(size, i));
    const auto bubble = yux::testing::cameraBubble(size.width, size.height, 220);

    std::printf("scratch writer benchmark: %.0f s of %dx%d at %d fps, preset %s, %ld CPUs\n", seconds, size.width,
                size.height, kScreenRate, preset.c_str(), static_cast<long>(std::thread::hardware_concurrency()));
    try {
        const auto writer =
            runWriter(size, screens, bubble, seconds, preset, (folder / "writer.mov").string(), screenOnly);
        const auto tool = runFfmpeg(size, screens, seconds, preset, (folder / "ffmpeg.mov").string());
        const double writerFps = writer.frames / writer.wall;
        const double toolFps = tool.frames / tool.wall;
        const double writerCpu = writer.cpu / seconds;
        const double toolCpu = tool.cpu / seconds;
        std::printf("%-44s %10s %22s\n", "", "fps", "CPU s per media s");
        std::printf("%-44s %10.1f %22.3f\n", screenOnly ? "writer: screen track alone" : "writer: screen + camera + 2 audio tracks",
                    writerFps, writerCpu);
        std::printf("%-44s %10.1f %22.3f\n", "ffmpeg tool: screen track alone", toolFps, toolCpu);
        std::printf("writer / ffmpeg CPU per media second: %.2f (goal <= 1.40); writer fps goal >= 60: %s\n",
                    writerCpu / toolCpu, writerFps >= 60 ? "met" : "missed");
        std::printf("file sizes: writer %.1f MB, ffmpeg %.1f MB\n",
                    std::filesystem::file_size(folder / "writer.mov") / 1e6,
                    std::filesystem::file_size(folder / "ffmpeg.mov") / 1e6);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "benchmark failed: %s\n", error.what());
        return false;
    }
    std::filesystem::remove(folder / "writer.mov");
    std::filesystem::remove(folder / "ffmpeg.mov");
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    const std::string preset = argc > 2 ? argv[2] : kScratchVideoPreset;
    // "screen": the writer records the screen track alone, to compare like with like.
    const bool screenOnly = argc > 3 && std::string(argv[3]) == "screen";
    const auto folder = std::filesystem::temp_directory_path() / ("yux-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    // The largest screens, whose pictures take the longest to encode, with the screen track alone.
    const bool done = compare(kFullHd, kDistinctFrames, seconds, preset, screenOnly, folder) &&
                      compare(kUltraHd, kDistinctUltraHdFrames, seconds, preset, true, folder);
    std::filesystem::remove_all(folder);
    return done ? 0 : 1;
}
