// The whole capture engine against `ffmpeg -f x11grab … -f pulse` writing the scratch settings
// (libx264 at the scratch preset, no B-frames, yuv420p, a keyframe a second, one-second
// fragments; AAC 192 kbit/s), both on CPUs 0 and 1, one after the other in the same run: 30 s
// of the full 1920x1080 display at 60 fps with system audio (the engine records the microphone
// too). A full-screen picture keeps moving and flashes white every 2 s while a 50 ms beep is
// played into the default sink at the flash's showing time, and a quiet tone plays into the
// default sink and into the microphone from before the captures start. Prints for each: frames
// written per second, CPU seconds per recorded second with the X and sound servers included,
// the flash-to-beep offset in the written file, peak resident memory, and how long each sound
// track stays silent after the first picture. `--long` records 30 minutes each and prints the
// drift between the first and the last flash-beep pairs. Run it inside scripts/test-env.sh.

#include <pulse/simple.h>
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include "capture/x11_video_capture.hpp"
#include "continuous_tone.hpp"
#include "moving_picture.hpp"
#include "process_usage.hpp"
#include "platform/async/wait_for.hpp"
#include "platform/media/host_clock.hpp"
#include "platform/media/movie_track_reader.hpp"

using namespace yux;
using platform::MediaTime;
using Clock = std::chrono::steady_clock;
using bench::cpuSeconds;
using bench::MovingPicture;
using bench::findSibling;
using bench::processCpuSeconds;

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kFramesPerSecond = 60;
constexpr int kShortSeconds = 30;
constexpr int kLongSeconds = 30 * 60;
constexpr int kSampleRate = 48000;
// The stimulus: a flash every 2 s lasting 100 ms, a 50 ms beep at each flash.
constexpr double kFlashPeriod = 2.0;
constexpr double kFlashLength = 0.1;
constexpr double kBeepLength = 0.05;
// A frame is a flash when its mean luma jumps by this much over the frame before.
constexpr double kFlashLumaJump = 60;
// A beep starts at the first 5 ms window above -20 dBFS after a quiet one.
constexpr int kBeepWindowsPerSecond = 200;
constexpr double kBeepThresholdDecibels = -20;
// The tone under the beeps: well below the beeps' threshold, well above digital silence.
constexpr float kToneAmplitude = 0.02f;
// The sound tracks' leading silence that counts as none (a picture at 60 fps is 16.7 ms).
constexpr double kLeadingSilenceGoal = 0.030;

double seconds(const timespec& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9; }
double monotonicNow() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return seconds(now);
}

double serversCpu(pid_t x, pid_t sound) { return processCpuSeconds(x) + processCpuSeconds(sound); }

// Peak resident memory of this process so far, in MB.
double peakResidentMegabytes() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
    }
    return 0;
}

// The moving picture with its flashes, on a thread of the stimulus process. It changes at the
// display rate on steps at `base` plus whole frame intervals, as a video does; every flash is
// one of those steps, so it shows at its own time.
void paintPicture(double base) {
    constexpr int kStepsPerFlash = static_cast<int>(kFlashPeriod * kFramesPerSecond);
    constexpr int kFlashSteps = static_cast<int>(kFlashLength * kFramesPerSecond);
    MovingPicture picture(kWidth, kHeight);
    // Steps before the first flash count up to it from below zero.
    for (auto step = static_cast<std::int64_t>(std::floor((monotonicNow() - base) * kFramesPerSecond)) + 1;; ++step) {
        const double at = base + static_cast<double>(step) / kFramesPerSecond;
        std::this_thread::sleep_until(Clock::time_point(std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(at))));
        if (step >= 0 && step % kStepsPerFlash < kFlashSteps) {
            picture.paintWhite();
        } else {
            picture.paintBands(step, 0x7f);  // well below the flash's brightness
        }
        picture.sync();  // shown by now
    }
}

// Silence with a beep at every flash, written so that each sample sounds at its own time: the
// stream's latency says when what is written now will be heard.
void playBeeps(double base) {
    pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, kSampleRate, 2};
    pa_buffer_attr attributes{};
    attributes.maxlength = static_cast<std::uint32_t>(-1);
    attributes.tlength = kSampleRate / 50 * 8;  // 20 ms
    attributes.prebuf = static_cast<std::uint32_t>(-1);
    attributes.minreq = static_cast<std::uint32_t>(-1);
    int error = 0;
    pa_simple* player = pa_simple_new(nullptr, "yux-bench", PA_STREAM_PLAYBACK, nullptr, "beeps", &spec, nullptr,
                                      &attributes, &error);
    if (player == nullptr) return;
    std::vector<float> chunk(static_cast<std::size_t>(kSampleRate / 200) * 2);
    for (;;) {
        const double heardAt = monotonicNow() + static_cast<double>(pa_simple_get_latency(player, &error)) / 1e6;
        for (std::size_t i = 0; i < chunk.size() / 2; ++i) {
            const double t = heardAt + static_cast<double>(i) / kSampleRate;
            const double intoPeriod = t >= base ? std::fmod(t - base, kFlashPeriod) : kFlashPeriod;
            const float value = intoPeriod < kBeepLength ? 0.5f * static_cast<float>(std::sin(2 * M_PI * 1000.0 * intoPeriod)) : 0.0f;
            chunk[2 * i] = chunk[2 * i + 1] = value;
        }
        if (pa_simple_write(player, chunk.data(), chunk.size() * sizeof(float), &error) < 0) return;
    }
}

pid_t startStimulus(double base) {
    pid_t child = fork();
    if (child != 0) return child;
    bench::ContinuousTone systemTone("", kToneAmplitude);
    bench::ContinuousTone microphoneTone("yux_mic_feed", kToneAmplitude);
    std::thread beeps([base] { playBeeps(base); });
    paintPicture(base);
    _exit(0);
}

struct Run {
    double recordedSeconds = 0;
    double cpuSeconds = 0;  // the recorder's own
    double serverCpuSeconds = 0;
    double peakMegabytes = 0;
    std::string path;
    // The host time of the movie's start, when known: the file's times then place the flashes
    // and beeps on the stimulus's own clock.
    std::optional<double> movieStart;
};

// The first line `pactl` answers, or an empty text.
std::string pactlAnswer(const char* question) {
    FILE* answer = popen((std::string("pactl ") + question).c_str(), "r");
    char name[256] = {0};
    if (answer == nullptr || std::fgets(name, sizeof name, answer) == nullptr) {
        if (answer) pclose(answer);
        return {};
    }
    pclose(answer);
    std::string text(name);
    text.erase(text.find_last_not_of("\n ") + 1);
    return text;
}

std::string defaultSinkMonitor() {
    const std::string sink = pactlAnswer("get-default-sink");
    return sink.empty() ? "default" : sink + ".monitor";
}

Run runFfmpeg(int length, const std::string& path, pid_t x, pid_t sound) {
    const std::string rate = std::to_string(kFramesPerSecond);
    const std::string size = std::to_string(kWidth) + "x" + std::to_string(kHeight);
    const std::string display = std::getenv("DISPLAY");
    const std::string monitor = defaultSinkMonitor();
    const std::string duration = std::to_string(length);
    const double serversBefore = serversCpu(x, sound);
    const auto started = Clock::now();
    pid_t child = fork();
    if (child == 0) {
        execlp("ffmpeg", "ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-f", "x11grab", "-framerate",
               rate.c_str(), "-video_size", size.c_str(), "-i", display.c_str(), "-f", "pulse", "-i", monitor.c_str(),
               "-t", duration.c_str(), "-c:v", "libx264", "-preset", platform::kScratchVideoPreset, "-bf", "0", "-g",
               rate.c_str(), "-pix_fmt", "yuv420p", "-c:a", "aac", "-b:a", "192k", "-ar", "48000", "-ac", "2", "-f",
               "mov", "-movflags", "empty_moov+default_base_moof", "-frag_duration", "1000000", "-y", path.c_str(),
               static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    Run run;
    run.recordedSeconds = std::chrono::duration<double>(Clock::now() - started).count();
    run.recordedSeconds = std::min(run.recordedSeconds, static_cast<double>(length));
    run.cpuSeconds = cpuSeconds(usage);
    run.serverCpuSeconds = serversCpu(x, sound) - serversBefore;
    run.peakMegabytes = static_cast<double>(usage.ru_maxrss) / 1024.0;
    run.path = path;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) std::fprintf(stderr, "ffmpeg failed (status %d)\n", status);
    return run;
}

class DroppedLog : public DebugLogBoundary {
public:
    QCoro::Task<void> append(std::string) override { co_return; }
};

Run runEngine(int length, const std::string& path, pid_t x, pid_t sound) {
    auto permission = std::make_shared<X11ScreenRecordingPermission>(X11ScreenRecordingPermission::create());
    // The default microphone, recorded by the stream itself.
    auto microphone = []() -> QCoro::Task<X11VideoCapture::RecordingInputs> {
        X11VideoCapture::RecordingInputs inputs;
        inputs.microphoneID = pactlAnswer("get-default-source");
        co_return inputs;
    };
    auto pieces = X11VideoCapture::livePieces();
    std::shared_ptr<RecordingOutputDelegate> writer;
    pieces.openWriter = [&writer, open = pieces.openWriter](const std::string& file, int width, int height,
                                                            bool microphone, bool camera, MediaTime interval) {
        writer = open(file, width, height, microphone, camera, interval);
        return writer;
    };
    X11VideoCapture engine(permission, std::make_shared<DroppedLog>(), nullptr, nullptr, microphone, std::move(pieces));
    const QUuid session = QUuid::createUuid();
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    const double serversBefore = serversCpu(x, sound);
    platform::waitForTask(engine.startCapture(session, CaptureTarget::fullMainDisplay(), path));
    const auto started = Clock::now();
    QEventLoop loop;
    QTimer::singleShot(length * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    const auto stopping = Clock::now();
    platform::waitForTask(engine.stopCapture(session));
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    Run run;
    run.recordedSeconds = std::chrono::duration<double>(stopping - started).count();
    run.cpuSeconds = cpuSeconds(after) - cpuSeconds(before);
    run.serverCpuSeconds = serversCpu(x, sound) - serversBefore;
    run.peakMegabytes = peakResidentMegabytes();
    run.path = path;
    if (auto start = writer->queue().sync([&] { return writer->start(); })) run.movieStart = start->seconds();
    return run;
}

// How long one sound track stays silent after the movie's start, and how long it runs.
struct SoundTrack {
    std::string title;
    double leadingSilence = 0;
    double length = 0;
};

struct Analysis {
    double framesPerSecond = 0;
    double pictureLength = 0;
    std::vector<SoundTrack> sound;
    std::vector<double> offsets;  // beep minus flash, seconds, one per flash
    std::vector<double> flashes;  // on the movie's timeline
    std::vector<double> beeps;
};

Analysis analyse(const Run& run) {
    Analysis result;
    platform::MovieTrackReader reader(run.path);
    const platform::MediaTrack* screen = nullptr;
    const platform::MediaTrack* sound = nullptr;
    for (const auto& track : reader.tracks()) {
        if (track.type == platform::MediaTrackType::video && screen == nullptr) screen = &track;
        if (track.type == platform::MediaTrackType::audio && sound == nullptr) sound = &track;
    }
    if (screen == nullptr || sound == nullptr) return result;
    result.pictureLength = (screen->start + screen->duration).seconds();
    for (const auto& track : reader.tracks()) {
        if (track.type != platform::MediaTrackType::audio) continue;
        const auto decoded = reader.readAudio(track);
        const int channels = std::max(decoded.audio.channels, 1);
        const int rate = decoded.audio.sampleRate > 0 ? decoded.audio.sampleRate : kSampleRate;
        const auto frames = static_cast<std::int64_t>(decoded.audio.bytes->size() / sizeof(float)) / channels;
        const auto first = bench::firstSounding(reinterpret_cast<const float*>(decoded.audio.bytes->data()), frames, channels);
        SoundTrack entry;
        entry.title = track.title;
        entry.length = decoded.start.seconds() + static_cast<double>(frames) / rate;
        entry.leadingSilence = first < 0 ? entry.length : decoded.start.seconds() + static_cast<double>(first) / rate;
        result.sound.push_back(entry);
    }

    std::vector<double> flashes;
    double previousLuma = -1;
    std::int64_t frames = 0;
    reader.readVideo(*screen, [&](const platform::SampleBuffer& sample) {
        ++frames;
        const auto* picture = sample.picture();
        double sum = 0;
        int count = 0;
        for (int y = 0; y < picture->height(); y += 16) {
            const std::uint8_t* row = picture->row(y);
            for (int x = 0; x < picture->width(); x += 16) {
                const std::uint8_t* p = row + static_cast<std::size_t>(x) * 4;
                sum += 0.114 * p[0] + 0.587 * p[1] + 0.299 * p[2];
                ++count;
            }
        }
        const double luma = sum / std::max(count, 1);
        if (previousLuma >= 0 && luma - previousLuma > kFlashLumaJump) flashes.push_back(sample.presentationTime.seconds());
        previousLuma = luma;
        return true;
    });
    result.framesPerSecond = static_cast<double>(frames) / run.recordedSeconds;

    std::vector<double> beeps;
    auto decoded = reader.readAudio(*sound);
    const auto* samples = reinterpret_cast<const float*>(decoded.audio.bytes->data());
    const int channels = std::max(decoded.audio.channels, 1);
    const int rate = decoded.audio.sampleRate > 0 ? decoded.audio.sampleRate : kSampleRate;
    const std::int64_t total = static_cast<std::int64_t>(decoded.audio.bytes->size() / sizeof(float)) / channels;
    const int window = rate / kBeepWindowsPerSecond;
    bool loud = false;
    for (std::int64_t at = 0; at + window <= total; at += window) {
        double energy = 0;
        for (int i = 0; i < window; ++i) {
            const double v = samples[(at + i) * channels];
            energy += v * v;
        }
        const double decibels = 10 * std::log10(energy / window + 1e-20);
        const bool now = decibels > kBeepThresholdDecibels;
        if (now && !loud) beeps.push_back(decoded.start.seconds() + static_cast<double>(at) / rate);
        loud = now;
    }
    for (double flash : flashes) {
        if (beeps.empty()) break;
        auto nearest = std::ranges::min_element(beeps, {}, [flash](double beep) { return std::fabs(beep - flash); });
        result.offsets.push_back(*nearest - flash);
    }
    result.flashes = flashes;
    result.beeps = beeps;
    return result;
}

// How late the movie shows the stimulus's events: each time in the file, placed on the host clock,
// against the nearest flash-and-beep time of the stimulus. Mean, in seconds.
double lateness(const std::vector<double>& times, double movieStart, double base) {
    if (times.empty()) return 0;
    double sum = 0;
    for (double t : times) {
        const double host = movieStart + t;
        sum += host - (base + std::round((host - base) / kFlashPeriod) * kFlashPeriod);
    }
    return sum / static_cast<double>(times.size());
}

void print(const char* name, const Run& run, const Analysis& analysis, bool longRun, double base) {
    double meanOffset = 0;
    double worstOffset = 0;
    for (double offset : analysis.offsets) {
        meanOffset += offset;
        if (std::fabs(offset) > std::fabs(worstOffset)) worstOffset = offset;
    }
    if (!analysis.offsets.empty()) meanOffset /= static_cast<double>(analysis.offsets.size());
    const double perSecond = (run.cpuSeconds + run.serverCpuSeconds) / run.recordedSeconds;
    std::printf("%-8s %6.1f fps written   CPU %.3f s per recorded s (own %.3f, X and sound servers %.3f)   "
                "flash-to-beep mean %+.1f ms, worst %+.1f ms over %zu flashes   peak RSS %.0f MB\n",
                name, analysis.framesPerSecond, perSecond, run.cpuSeconds / run.recordedSeconds,
                run.serverCpuSeconds / run.recordedSeconds, meanOffset * 1000, worstOffset * 1000,
                analysis.offsets.size(), run.peakMegabytes);
    if (run.movieStart) {
        std::printf("%-8s against the stimulus's clock: pictures of the flash %+.1f ms late, beeps %+.1f ms late\n",
                    name, lateness(analysis.flashes, *run.movieStart, base) * 1000,
                    lateness(analysis.beeps, *run.movieStart, base) * 1000);
    }
    for (const auto& track : analysis.sound) {
        std::printf("%-8s %-22s leading silence %6.1f ms   length vs pictures %+.1f ms\n", name,
                    track.title.c_str(), track.leadingSilence * 1000, (track.length - analysis.pictureLength) * 1000);
    }
    if (longRun && analysis.offsets.size() >= 2) {
        std::printf("%-8s drift from the first to the last pair: %+.1f ms (goal within one frame, 16.7 ms)\n", name,
                    (analysis.offsets.back() - analysis.offsets.front()) * 1000);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (std::getenv("DISPLAY") == nullptr) {
        std::fprintf(stderr, "x11_video_capture_bench: run it inside scripts/test-env.sh\n");
        return 1;
    }
    const bool longRun = argc > 1 && std::string(argv[1]) == "--long";
    const int length = longRun ? kLongSeconds : kShortSeconds;
    cpu_set_t cpus;
    CPU_ZERO(&cpus);
    CPU_SET(0, &cpus);
    CPU_SET(1, &cpus);
    sched_setaffinity(0, sizeof cpus, &cpus);  // ffmpeg and the stimulus inherit it

    const pid_t x = findSibling("Xvfb");
    const pid_t sound = findSibling("pulseaudio");
    // Before any thread of the toolkit exists.
    const double base = std::ceil(monotonicNow()) + 1.0;  // the first flash and beep
    const pid_t stimulus = startStimulus(base);
    QCoreApplication app(argc, argv);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));

    const auto folder = std::filesystem::temp_directory_path() / ("yux-engine-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    std::printf("%dx%d at %d fps with system audio for %d s each on CPUs 0-1; a flash and a beep every 2 s\n", kWidth,
                kHeight, kFramesPerSecond, length);
    Run ffmpeg = runFfmpeg(length, (folder / "ffmpeg.mov").string(), x, sound);
    Run ours = runEngine(length, (folder / "yux.mov").string(), x, sound);
    kill(stimulus, SIGKILL);
    waitpid(stimulus, nullptr, 0);

    Analysis ffmpegAnalysis = analyse(ffmpeg);
    Analysis oursAnalysis = analyse(ours);
    print("ffmpeg", ffmpeg, ffmpegAnalysis, longRun, base);
    print("yux", ours, oursAnalysis, longRun, base);
    const double ffmpegCpu = (ffmpeg.cpuSeconds + ffmpeg.serverCpuSeconds) / ffmpeg.recordedSeconds;
    const double oursCpu = (ours.cpuSeconds + ours.serverCpuSeconds) / ours.recordedSeconds;
    double worst = 0;
    for (double offset : oursAnalysis.offsets) worst = std::max(worst, std::fabs(offset));
    std::printf("CPU ratio yux / ffmpeg (servers included): %.2f\n", ffmpegCpu > 0 ? oursCpu / ffmpegCpu : 0.0);
    double leading = oursAnalysis.sound.empty() ? length : 0.0;
    for (const auto& track : oursAnalysis.sound) leading = std::max(leading, track.leadingSilence);
    std::printf("goals: >= 59 fps: %s; CPU <= 1.5 x ffmpeg: %s; |flash-to-beep| <= 17 ms: %s; leading silence <= 30 ms: %s\n",
                oursAnalysis.framesPerSecond >= 59 ? "met" : "missed", oursCpu <= 1.5 * ffmpegCpu ? "met" : "missed",
                !oursAnalysis.offsets.empty() && worst <= 0.017 ? "met" : "missed",
                leading <= kLeadingSilenceGoal ? "met" : "missed");
    std::filesystem::remove_all(folder);
    return 0;
}
