// What a screen that changes now and then costs the recording. The recording's movie writer
// (RecordingOutputDelegate over the real scratch writer) gets system audio in 10 ms buffers at
// its real pace and a desktop picture whose 400x300 window changes colour 0, 1, 5 or 20 times a
// second, at 1920x1080 and at 3840x2160, as the screen capture hands them over. Prints for each
// the CPU seconds per recorded second (this program's, the feeding thread left out) and the
// screen pictures written per second; then the ffmpeg tool encodes as many pictures of the same
// screen per second at the scratch settings, and the ratio of the two CPU figures.
//
//   build/bench/changing_screen_bench [seconds] [--size 1080|2160] [--changes N]
//
// Run it on all CPUs and on two (`taskset -c 0,1 ...`). Each mode records `seconds` (default 10)
// in real time.

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "capture/recording_output_delegate.hpp"
#include "platform/media/host_clock.hpp"
#include "platform/media/movie_writer.hpp"
#include "platform/x11/frame_grid.hpp"
#include "process_usage.hpp"
#include "raw_picture_pipe.hpp"
#include "support/synthetic_media.hpp"

using namespace yux;
using platform::MediaTime;
using platform::PixelBuffer;
using platform::SampleBuffer;

namespace {

struct Size {
    int width;
    int height;
};
constexpr int kNominalRate = 60;
constexpr int kAudioBufferMs = 10;
// When the capture hands a sample over after its time: a sound fragment once it is whole, a
// picture once it has been read from the X server.
constexpr std::int64_t kAudioHandOverNs = 12'000'000;
constexpr std::int64_t kPictureHandOverNs = 6'000'000;
// Colours the window takes in turn: every change is a new picture for the encoder.
constexpr int kWindowColours = 4;
constexpr int kWindowWidth = 400;
constexpr int kWindowHeight = 300;

using yux::bench::cpuSeconds;

std::int64_t nowNs() { return platform::hostTimeNow().value; }

void sleepUntilNs(std::int64_t when) {
    timespec at{static_cast<time_t>(when / 1'000'000'000), static_cast<long>(when % 1'000'000'000)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
    }
}

// A desktop: a wallpaper, a window of text-like rows and the small window that changes.
std::vector<PixelBuffer> desktopPictures(Size size) {
    auto base = PixelBuffer::create(size.width, size.height);
    base.fill(0xa5, 0x6e, 0x3a, 0xff);
    for (int y = size.height / 5; y < size.height * 3 / 4; ++y) {
        auto* row = base.row(y);
        const int line = y / 18;
        const int inLine = y % 18;
        for (int x = size.width / 2; x < size.width * 9 / 10; ++x) {
            unsigned hash = static_cast<unsigned>(line * 7919 + (x / 9) * 104729);
            hash ^= hash >> 13;
            hash *= 0x5bd1e995u;
            const bool ink = inLine > 3 && inLine < 15 && (x % 9) < 7 && ((hash >> ((inLine + x) % 24)) & 1u);
            row[4 * x + 0] = row[4 * x + 1] = row[4 * x + 2] = ink ? 20 : 245;
        }
    }
    std::vector<PixelBuffer> pictures;
    for (int colour = 0; colour < kWindowColours; ++colour) {
        auto picture = PixelBuffer::create(size.width, size.height);
        for (int y = 0; y < size.height; ++y) std::memcpy(picture.row(y), base.row(y), static_cast<std::size_t>(size.width) * 4);
        for (int y = 200; y < 200 + kWindowHeight; ++y) {
            auto* row = picture.row(y);
            for (int x = 200; x < 200 + kWindowWidth; ++x) {
                row[4 * x + 0] = static_cast<std::uint8_t>(40 + 60 * colour);
                row[4 * x + 1] = static_cast<std::uint8_t>(200 - 50 * colour);
                row[4 * x + 2] = static_cast<std::uint8_t>(90 + 40 * colour);
            }
        }
        pictures.push_back(std::move(picture));
    }
    return pictures;
}

struct Result {
    double cpuPerSecond = 0;
    double picturesPerSecond = 0;
};

// One recording of `seconds` with `changes` changes a second.
Result record(Size size, const std::vector<PixelBuffer>& pictures, int changes, double seconds,
              const std::filesystem::path& path) {
    auto delegate = RecordingOutputDelegate::open(path.string(), size.width, size.height, false, false);
    auto appends = delegate->writer().track_appends();
    const double cpuBefore = cpuSeconds(RUSAGE_SELF);
    const double feederBefore = cpuSeconds(RUSAGE_THREAD);

    const std::int64_t start = nowNs() + 50'000'000;
    const auto end = start + static_cast<std::int64_t>(seconds * 1e9);
    const std::int64_t audioStep = kAudioBufferMs * 1'000'000LL;
    const auto silence = yux::testing::sineTone(440, 48000 * kAudioBufferMs / 1000, 48000, 2,
                                                platform::AudioSampleFormat::float32, 0, 0.0);
    // Pictures are stamped on the stream's frame grid, as the capture stamps them: change k at
    // the slot nearest k / changes seconds.
    const platform::FrameGrid grid(MediaTime(start, MediaTime::kNanosecondScale), MediaTime(1, kNominalRate));
    auto pictureAt = [&](std::int64_t k) {
        return grid.slot(changes > 0 ? std::llround(static_cast<double>(k) * kNominalRate / changes) : 0);
    };
    std::int64_t nextAudio = start;
    std::int64_t nextChange = 0;
    for (;;) {
        const std::int64_t pictureDue =
            (changes > 0 || nextChange == 0)
                ? pictureAt(nextChange).convertedTo(MediaTime::kNanosecondScale).value + kPictureHandOverNs
                : INT64_MAX;
        const std::int64_t audioDue = nextAudio + kAudioHandOverNs;
        const std::int64_t due = std::min(pictureDue, audioDue);
        if (due >= end) break;
        sleepUntilNs(due);
        if (pictureDue <= audioDue) {
            auto sample = yux::testing::videoSample(pictureAt(nextChange),
                                                    pictures[static_cast<std::size_t>(nextChange % kWindowColours)]);
            delegate->queue().async([delegate, sample] { delegate->stream(sample, platform::StreamOutputType::screen); });
            ++nextChange;
        } else {
            auto sample = yux::testing::audioSample(MediaTime(nextAudio, MediaTime::kNanosecondScale), silence);
            delegate->queue().async([delegate, sample] { delegate->stream(sample, platform::StreamOutputType::audio); });
            nextAudio += audioStep;
        }
    }
    const double feeder = cpuSeconds(RUSAGE_THREAD) - feederBefore;
    delegate->finishNow(std::chrono::seconds(30));
    if (delegate->writer().status() != platform::MovieWriterStatus::completed) {
        throw std::runtime_error("the movie did not complete");
    }
    std::size_t screenPictures = 0;
    for (const auto& append : appends.data()) screenPictures += append.track == 0 ? 1 : 0;
    return {(cpuSeconds(RUSAGE_SELF) - cpuBefore - feeder) / seconds, static_cast<double>(screenPictures) / seconds};
}

// The tool encodes `rate` pictures a second of the same screen for `seconds`, at the scratch
// settings; returns its CPU seconds per second of movie.
double toolCpuPerSecond(Size size, const std::vector<PixelBuffer>& pictures, int changes, double rate,
                        double seconds, const std::filesystem::path& path) {
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) throw std::runtime_error("pipe failed");
    const double before = cpuSeconds(RUSAGE_CHILDREN);
    char rateText[32];
    std::snprintf(rateText, sizeof rateText, "%.3f", rate);
    const std::string keyframes = std::to_string(std::max(1L, std::lround(rate)));
    const pid_t child = fork();
    if (child == 0) {
        dup2(pipeEnds[0], 0);
        close(pipeEnds[0]);
        close(pipeEnds[1]);
        const std::string dimensions = std::to_string(size.width) + "x" + std::to_string(size.height);
        execlp("ffmpeg", "ffmpeg", "-hide_banner", "-loglevel", "error", "-f", "rawvideo", "-pix_fmt", "bgra", "-s",
               dimensions.c_str(), "-framerate", rateText, "-i", "-", "-c:v", "libx264", "-preset",
               platform::kScratchVideoPreset, "-bf", "0", "-g", keyframes.c_str(), "-pix_fmt", "yuv420p", "-f", "mov",
               "-movflags", "empty_moov+default_base_moof", "-frag_duration", "1000000", "-y", path.c_str(),
               static_cast<char*>(nullptr));
        _exit(127);
    }
    close(pipeEnds[0]);
    signal(SIGPIPE, SIG_IGN);
    const auto frames = static_cast<std::int64_t>(std::lround(rate * seconds));
    for (std::int64_t i = 0; i < frames; ++i) {
        const double at = static_cast<double>(i) / rate;
        const auto change = changes > 0 ? static_cast<std::int64_t>(at * changes) : 0;
        yux::bench::writeRawPicture(pipeEnds[1], pictures[static_cast<std::size_t>(change % kWindowColours)]);
    }
    close(pipeEnds[1]);
    yux::bench::waitForTool(child);
    return (cpuSeconds(RUSAGE_CHILDREN) - before) / seconds;
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = 10;
    std::vector<Size> sizes{{1920, 1080}, {3840, 2160}};
    std::vector<int> changeRates{0, 1, 5, 20};
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--size" && i + 1 < argc) {
            const std::string height = argv[++i];
            sizes = {height == "2160" ? Size{3840, 2160} : Size{1920, 1080}};
        } else if (argument == "--changes" && i + 1 < argc) {
            changeRates = {std::atoi(argv[++i])};
        } else {
            seconds = std::atof(argv[i]);
        }
    }
    if (seconds < 1) {
        std::fprintf(stderr, "usage: changing_screen_bench [seconds] [--size 1080|2160] [--changes N]\n");
        return 2;
    }
    const auto folder = std::filesystem::temp_directory_path() / ("yux-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    cpu_set_t cpus;
    CPU_ZERO(&cpus);
    const int cpuCount = sched_getaffinity(0, sizeof cpus, &cpus) == 0 ? CPU_COUNT(&cpus) : 0;
    std::printf("changing screen benchmark: %.0f s a mode, %d CPUs, preset %s\n", seconds, cpuCount,
                platform::kScratchVideoPreset);
    std::printf("%-11s %8s %14s %16s %14s %8s\n", "size", "changes", "pictures/s", "CPU s per s", "ffmpeg CPU", "ratio");
    int status = 0;
    for (const auto size : sizes) {
        const auto pictures = desktopPictures(size);
        for (const int changes : changeRates) {
            try {
                const auto writer = record(size, pictures, changes, seconds, folder / "writer.mov");
                const double tool = toolCpuPerSecond(size, pictures, changes, writer.picturesPerSecond, seconds,
                                                     folder / "ffmpeg.mov");
                std::printf("%5dx%-5d %8d %14.1f %16.3f %14.3f %8.2f\n", size.width, size.height, changes,
                            writer.picturesPerSecond, writer.cpuPerSecond, tool, writer.cpuPerSecond / tool);
                std::fflush(stdout);
            } catch (const std::exception& error) {
                std::fprintf(stderr, "benchmark failed: %s\n", error.what());
                status = 1;
            }
            std::filesystem::remove(folder / "writer.mov");
            std::filesystem::remove(folder / "ffmpeg.mov");
        }
    }
    std::filesystem::remove_all(folder);
    return status;
}
