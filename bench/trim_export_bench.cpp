// Export speed against the ffmpeg command-line tool, both pinned to two CPUs, on the same
// 60 s 1920x1080 60 fps scratch-layout movie:
//   1. fast copy vs `ffmpeg -c copy`                                  (goal: ratio <= 1.1)
//   2. re-encode with a 2x section, a crop and H.264 at the same bit
//      rate vs the equivalent ffmpeg filter graph                      (goal: ratio <= 1.0)
// Usage: trim_export_bench [work folder]   (default: a fresh folder under /tmp)

#include <sched.h>
#include <unistd.h>

#include <QCoreApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "editor/ffmpeg_recording_trim_boundary.hpp"
#include "model/recording_encoding_policy.hpp"
#include "platform/async/wait_for.hpp"
#include "platform/media/movie_remuxer.hpp"
#include "support/test_movie_generator.hpp"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kCopyRuns = 3;
constexpr int kEncodeRounds = 2;
constexpr double kSeconds = 60;

class SilentLog : public yux::DebugLogBoundary {
public:
    QCoro::Task<void> append(std::string) override { co_return; }
};

double seconds(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

double timeCommand(const std::string& command) {
    auto start = Clock::now();
    int status = std::system(command.c_str());
    double elapsed = seconds(start);
    if (status != 0) {
        std::fprintf(stderr, "command failed (%d): %s\n", status, command.c_str());
        std::exit(1);
    }
    return elapsed;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void pinToTwoCpus() {
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(0, &set);
    CPU_SET(1, &set);
    if (sched_setaffinity(0, sizeof set, &set) != 0) std::perror("sched_setaffinity");
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    pinToTwoCpus();  // ffmpeg children inherit the same two CPUs
    fs::path folder = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / ("yux-trim-bench-" + std::to_string(getpid()));
    fs::create_directories(folder);
    std::string source = (folder / "scratch.mov").string();

    if (!fs::exists(source)) {
        std::printf("writing %s (60 s, 1920x1080, 60 fps, screen + system audio)...\n", source.c_str());
        yux::testing::TestMovieOptions options;
        options.width = 1920;
        options.height = 1080;
        options.frameRate = 60;
        options.durationSeconds = kSeconds;
        options.benchContent = true;
        yux::testing::writeTestMovie(source, options);
    }
    std::printf("source: %.1f MB\n", static_cast<double>(fs::file_size(source)) / 1e6);

    // 1. Fast copy.
    std::vector<double> ours, theirs;
    for (int run = 0; run < kCopyRuns; ++run) {
        std::string a = (folder / ("copy-yux-" + std::to_string(run) + ".mov")).string();
        std::string b = (folder / ("copy-ffmpeg-" + std::to_string(run) + ".mov")).string();
        fs::remove(a);
        fs::remove(b);
        auto start = Clock::now();
        yux::platform::MovieRemuxer::copy(source, a, {}, {});
        ours.push_back(seconds(start));
        theirs.push_back(timeCommand("taskset -c 0,1 ffmpeg -nostdin -loglevel error -y -i '" + source + "' -map 0 -c copy '" + b + "'"));
        fs::remove(a);
        fs::remove(b);
    }
    double copyOurs = median(ours), copyTheirs = median(theirs);
    std::printf("fast copy:  yux %.3f s   ffmpeg -c copy %.3f s   ratio %.2f (goal <= 1.1)\n", copyOurs, copyTheirs,
                copyOurs / copyTheirs);

    // 2. Re-encode: 0-20 s at 1x, 20-40 s at 2x, 40-60 s at 1x, a 1280x720 crop at (320, 180).
    yux::RecordingPreset preset;
    preset.id = "best";
    preset.sharpness = 1.0;
    preset.motionDetail = 1.0;
    preset.resolutionScale = 1.0;
    preset.codec = yux::RecordingVideoCodec::h264;
    long long bitRate = yux::RecordingEncodingPolicy().targetVideoBitsPerSecond(preset);
    yux::TrimSelection selection({{0, 20, 1, true}, {20, 40, 2, true}, {40, kSeconds, 1, true}}, {}, {});
    yux::Size frame{1920, 1080};
    selection.crop.set(yux::RecordingCrop::Field::width, 1280, frame);
    selection.crop.set(yux::RecordingCrop::Field::height, 720, frame);
    selection.crop.move({320, 180}, frame);
    auto crop = selection.crop.pixels(frame);

    std::string ourOutput = (folder / "encode-yux.mov").string();
    std::string ffmpegOutput = (folder / "encode-ffmpeg.mov").string();
    yux::FfmpegRecordingTrimBoundary boundary(std::make_shared<SilentLog>());
    auto encodeWithYux = [&] {
        fs::remove(ourOutput);
        auto start = Clock::now();
        yux::platform::waitForTask(boundary.exportTrimmedSegment(source, ourOutput, selection, preset, {}));
        return seconds(start);
    };

    char graph[2048];
    std::snprintf(graph, sizeof graph,
                  "[0:v]trim=0:20,setpts=PTS-STARTPTS[v0];[0:v]trim=20:40,setpts=(PTS-STARTPTS)/2[v1];"
                  "[0:v]trim=40:60,setpts=PTS-STARTPTS[v2];[v0][v1][v2]concat=n=3:v=1:a=0,fps=60,crop=%d:%d:%d:%d[v];"
                  "[0:a]atrim=0:20,asetpts=PTS-STARTPTS[a0];[0:a]atrim=20:40,asetpts=PTS-STARTPTS,atempo=2[a1];"
                  "[0:a]atrim=40:60,asetpts=PTS-STARTPTS[a2];[a0][a1][a2]concat=n=3:v=0:a=1[a]",
                  static_cast<int>(crop.width), static_cast<int>(crop.height), static_cast<int>(crop.x), static_cast<int>(crop.y));
    std::string command = "taskset -c 0,1 ffmpeg -nostdin -loglevel error -y -i '" + source + "' -filter_complex '" + graph +
                          "' -map '[v]' -map '[a]' -c:v libx264 -preset veryfast -b:v " + std::to_string(bitRate) +
                          " -g 120 -c:a aac -b:a 128k -tag:v avc1 '" + ffmpegOutput + "'";
    auto encodeWithFfmpeg = [&] {
        fs::remove(ffmpegOutput);
        return timeCommand(command);
    };
    // Other work on the same CPUs comes and goes: alternate the two (A B B A) and keep the
    // fastest run of each.
    std::vector<double> encodesOurs, encodesTheirs;
    for (int round = 0; round < kEncodeRounds; ++round) {
        if (round % 2 == 0) {
            encodesOurs.push_back(encodeWithYux());
            encodesTheirs.push_back(encodeWithFfmpeg());
        } else {
            encodesTheirs.push_back(encodeWithFfmpeg());
            encodesOurs.push_back(encodeWithYux());
        }
    }
    double encodeOurs = *std::min_element(encodesOurs.begin(), encodesOurs.end());
    double encodeTheirs = *std::min_element(encodesTheirs.begin(), encodesTheirs.end());
    std::printf("re-encode (fastest of %d):  yux %.3f s   ffmpeg filter graph %.3f s   ratio %.2f (goal <= 1.0)\n", kEncodeRounds, encodeOurs, encodeTheirs,
                encodeOurs / encodeTheirs);
    std::printf("outputs: %s (%.1f MB), %s (%.1f MB)\n", ourOutput.c_str(), static_cast<double>(fs::file_size(ourOutput)) / 1e6,
                ffmpegOutput.c_str(), static_cast<double>(fs::file_size(ffmpegOutput)) / 1e6);
    return 0;
}
