// What a screen that changes now and then costs the recording. The recording's movie writer
// (RecordingOutputDelegate over the real scratch writer) gets system audio in 10 ms buffers at
// its real pace and a desktop picture whose 400x300 window changes colour 0, 1, 5, 6 or 20 times
// a second, or at the uneven pace of typing (intervals around 0.2 s, the same each run), at
// 1920x1080 and at 3840x2160, as the screen capture hands them over. Prints for each the CPU
// seconds per recorded second (this program's, the feeding thread left out), the screen pictures
// written per second and the longest a captured picture stayed inside the writer; then the
// ffmpeg tool encodes as many pictures of the same screen per second at the scratch settings,
// and the ratio of the two CPU figures.
//
//   build/bench/changing_screen_bench [seconds] [--size 1080|2160] [--changes N|typing]
//
// Run it on all CPUs and on two (`taskset -c 0,1 ...`). Each mode records `seconds` (default 10)
// in real time.

#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <memory>
#include <random>
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
// Typing: the pauses between changes, drawn from a log-normal spread around this mean with a
// fixed seed, so every run and every build gets the same ones.
constexpr double kTypingMeanSeconds = 0.2;
constexpr double kTypingSpread = 0.5;
constexpr unsigned kTypingSeed = 49;
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

// How the screen changes: the frame slot of every change (the first at slot 0), and its name.
struct Changes {
    std::string name;
    std::vector<std::int64_t> frames;
};

Changes changesPerSecond(int rate, double seconds) {
    Changes changes{std::to_string(rate), {0}};
    for (std::int64_t k = 1; rate > 0 && k <= static_cast<std::int64_t>(seconds * rate) + 1; ++k) {
        changes.frames.push_back(std::llround(static_cast<double>(k) * kNominalRate / rate));
    }
    return changes;
}

Changes typing(double seconds) {
    Changes changes{"typing", {0}};
    std::mt19937 random(kTypingSeed);
    std::normal_distribution<double> normal(0.0, 1.0);
    double at = 0;
    while (at <= seconds + 1) {
        at += kTypingMeanSeconds * std::exp(kTypingSpread * normal(random) - kTypingSpread * kTypingSpread / 2);
        const std::int64_t slot = std::max<std::int64_t>(changes.frames.back() + 1, std::llround(at * kNominalRate));
        changes.frames.push_back(slot);
    }
    return changes;
}

struct Result {
    double cpuPerSecond = 0;
    double picturesPerSecond = 0;
    double longestStay = 0;  // seconds a captured picture stayed inside the writer
};

// What the writer did with the screen's pictures, looked at on its queue after every sample:
// how many it took, and how long each captured one stayed before it came out.
class ScreenWatch {
public:
    explicit ScreenWatch(platform::OutputTracker<platform::MovieWriterAppend> appends) : appends_(std::move(appends)) {}

    void look(platform::MovieWriter& writer, std::int64_t nowNs) {
        for (const auto& append : appends_.data()) {
            if (append.track != 0) continue;
            ++appended_;
            if (!append.again) inside_.push_back({appended_, nowNs});
        }
        appends_.clear();
        const std::int64_t out = appended_ - writer.picturesHeld(0);
        while (!inside_.empty() && inside_.front().first <= out) {
            longestNs_ = std::max(longestNs_, nowNs - inside_.front().second);
            inside_.pop_front();
        }
    }
    std::int64_t appended() const { return appended_; }
    // Those still inside count as far as `nowNs`.
    double longestStay(std::int64_t nowNs) const {
        std::int64_t longest = longestNs_;
        if (!inside_.empty()) longest = std::max(longest, nowNs - inside_.front().second);
        return static_cast<double>(longest) / 1e9;
    }

private:
    platform::OutputTracker<platform::MovieWriterAppend> appends_;
    std::int64_t appended_ = 0;
    std::deque<std::pair<std::int64_t, std::int64_t>> inside_;  // (`appended_` once taken, when)
    std::int64_t longestNs_ = 0;
};

// One recording of `seconds` with the screen changing as `changes` says.
Result record(Size size, const std::vector<PixelBuffer>& pictures, const Changes& changes, double seconds,
              const std::filesystem::path& path) {
    auto delegate = RecordingOutputDelegate::open(path.string(), size.width, size.height, false, false);
    auto watch = std::make_shared<ScreenWatch>(delegate->writer().track_appends());
    const double cpuBefore = cpuSeconds(RUSAGE_SELF);
    const double feederBefore = cpuSeconds(RUSAGE_THREAD);

    const std::int64_t start = nowNs() + 50'000'000;
    const auto end = start + static_cast<std::int64_t>(seconds * 1e9);
    const std::int64_t audioStep = kAudioBufferMs * 1'000'000LL;
    const auto silence = yux::testing::sineTone(440, 48000 * kAudioBufferMs / 1000, 48000, 2,
                                                platform::AudioSampleFormat::float32, 0, 0.0);
    // Pictures are stamped on the stream's frame grid, as the capture stamps them.
    const platform::FrameGrid grid(MediaTime(start, MediaTime::kNanosecondScale), MediaTime(1, kNominalRate));
    auto deliver = [delegate, watch](const SampleBuffer& sample, platform::StreamOutputType type) {
        delegate->queue().async([delegate, watch, sample, type] {
            delegate->stream(sample, type);
            watch->look(delegate->writer(), nowNs());
        });
    };
    std::int64_t nextAudio = start;
    std::size_t nextChange = 0;
    for (;;) {
        const std::int64_t pictureDue =
            nextChange < changes.frames.size()
                ? grid.slot(changes.frames[nextChange]).convertedTo(MediaTime::kNanosecondScale).value + kPictureHandOverNs
                : INT64_MAX;
        const std::int64_t audioDue = nextAudio + kAudioHandOverNs;
        const std::int64_t due = std::min(pictureDue, audioDue);
        if (due >= end) break;
        sleepUntilNs(due);
        if (pictureDue <= audioDue) {
            deliver(yux::testing::videoSample(grid.slot(changes.frames[nextChange]),
                                              pictures[nextChange % kWindowColours]),
                    platform::StreamOutputType::screen);
            ++nextChange;
        } else {
            deliver(yux::testing::audioSample(MediaTime(nextAudio, MediaTime::kNanosecondScale), silence),
                    platform::StreamOutputType::audio);
            nextAudio += audioStep;
        }
    }
    const double feeder = cpuSeconds(RUSAGE_THREAD) - feederBefore;
    // What the feeding saw, before the finish pushes every picture out.
    const auto [written, longest] = delegate->queue().sync([&] {
        return std::pair{watch->appended(), watch->longestStay(nowNs())};
    });
    delegate->finishNow(std::chrono::seconds(30));
    if (delegate->writer().status() != platform::MovieWriterStatus::completed) {
        throw std::runtime_error("the movie did not complete");
    }
    return {(cpuSeconds(RUSAGE_SELF) - cpuBefore - feeder) / seconds, static_cast<double>(written) / seconds, longest};
}

// The tool encodes `rate` pictures a second of the same screen for `seconds`, at the scratch
// settings; returns its CPU seconds per second of movie.
double toolCpuPerSecond(Size size, const std::vector<PixelBuffer>& pictures, const Changes& changes, double rate,
                        double seconds, const std::filesystem::path& path) {
    const double before = cpuSeconds(RUSAGE_CHILDREN);
    char rateText[32];
    std::snprintf(rateText, sizeof rateText, "%.3f", rate);
    const std::string keyframes = std::to_string(std::max(1L, std::lround(rate)));
    yux::bench::RawPictureTool tool(size.width, size.height, rateText,
                                    {"-c:v", "libx264", "-preset", platform::kScratchVideoPreset, "-bf", "0", "-g",
                                     keyframes, "-pix_fmt", "yuv420p", "-f", "mov", "-movflags",
                                     "empty_moov+default_base_moof", "-frag_duration", "1000000", "-y", path.string()});
    const auto frames = static_cast<std::int64_t>(std::lround(rate * seconds));
    std::size_t change = 0;
    for (std::int64_t i = 0; i < frames; ++i) {
        // The screen as it stands at this picture's time: the last change at or before it.
        const double slot = static_cast<double>(i) / rate * kNominalRate;
        while (change + 1 < changes.frames.size() && static_cast<double>(changes.frames[change + 1]) <= slot) ++change;
        tool.write(pictures[change % kWindowColours]);
    }
    tool.finish();
    return (cpuSeconds(RUSAGE_CHILDREN) - before) / seconds;
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = 10;
    std::vector<Size> sizes{{1920, 1080}, {3840, 2160}};
    std::vector<std::string> modes{"0", "1", "5", "6", "20", "typing"};
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--size" && i + 1 < argc) {
            const std::string height = argv[++i];
            sizes = {height == "2160" ? Size{3840, 2160} : Size{1920, 1080}};
        } else if (argument == "--changes" && i + 1 < argc) {
            modes = {argv[++i]};
        } else {
            seconds = std::atof(argv[i]);
        }
    }
    if (seconds < 1) {
        std::fprintf(stderr, "usage: changing_screen_bench [seconds] [--size 1080|2160] [--changes N|typing]\n");
        return 2;
    }
    const auto folder = std::filesystem::temp_directory_path() / ("yux-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    cpu_set_t cpus;
    CPU_ZERO(&cpus);
    const int cpuCount = sched_getaffinity(0, sizeof cpus, &cpus) == 0 ? CPU_COUNT(&cpus) : 0;
    std::printf("changing screen benchmark: %.0f s a mode, %d CPUs, preset %s\n", seconds, cpuCount,
                platform::kScratchVideoPreset);
    std::printf("%-11s %8s %12s %14s %12s %12s %8s\n", "size", "changes", "pictures/s", "longest in s", "CPU s per s",
                "ffmpeg CPU", "ratio");
    int status = 0;
    for (const auto size : sizes) {
        const auto pictures = desktopPictures(size);
        for (const auto& mode : modes) {
            try {
                const auto changes = mode == "typing" ? typing(seconds) : changesPerSecond(std::stoi(mode), seconds);
                const auto writer = record(size, pictures, changes, seconds, folder / "writer.mov");
                const double tool = toolCpuPerSecond(size, pictures, changes, writer.picturesPerSecond, seconds,
                                                     folder / "ffmpeg.mov");
                std::printf("%5dx%-5d %8s %12.1f %14.3f %12.3f %12.3f %8.2f\n", size.width, size.height,
                            changes.name.c_str(), writer.picturesPerSecond, writer.longestStay, writer.cpuPerSecond,
                            tool, writer.cpuPerSecond / tool);
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
