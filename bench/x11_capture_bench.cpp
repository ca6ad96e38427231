// Screen capture at 1920x1080 and 60 fps for 10 s: this program's frame source against
// `ffmpeg -f x11grab` on the same display, both on CPUs 0 and 1, while a full-screen window
// keeps moving. Prints pictures per second and CPU seconds per captured second for each, the
// X server's CPU during each, and the ratios. Then records system audio and the microphone
// for 10 s while ffmpeg encodes 1080p60 on the same two CPUs and a tone plays into both from
// before the start, and prints how long each stayed silent before the tone came and how much
// real sound the silence fill cut (none is the goal for both); `--sound` runs that part alone.
// Run it inside scripts/test-env.sh.

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
#include <string>
#include <thread>

#include "platform/async/serial_queue.hpp"
#include "platform/audio/pulse_record_stream.hpp"
#include "platform/media/host_clock.hpp"
#include "platform/x11/x11_frame_source.hpp"
#include "continuous_tone.hpp"
#include "moving_picture.hpp"
#include "process_usage.hpp"

using namespace yux::platform;
using Clock = std::chrono::steady_clock;
using yux::bench::cpuSeconds;
using yux::bench::processCpuSeconds;
using yux::bench::selfCpuSeconds;

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kFramesPerSecond = 60;
constexpr int kSeconds = 10;
// The moving picture repaints at the display rate, as a video or an animation would.
constexpr int kPictureIntervalMicroseconds = 16667;

// A full-screen window whose picture changes at the display rate: bands sliding across.
pid_t startMovingPicture() {
    pid_t child = fork();
    if (child != 0) return child;
    yux::bench::MovingPicture picture(kWidth, kHeight);
    auto next = Clock::now();
    for (int step = 0;; ++step) {
        picture.paintBands(step);
        picture.sync();  // keep pace with the server
        next += std::chrono::microseconds(kPictureIntervalMicroseconds);
        std::this_thread::sleep_until(next);
    }
}

struct Result {
    double framesPerSecond = 0;
    double cpuPerSecond = 0;
    double serverCpuPerSecond = 0;
};

// Runs a shell command in a child process; its standard output goes to `outputFd` (or stays).
pid_t spawn(const std::string& command, int outputFd = -1) {
    pid_t child = fork();
    if (child == 0) {
        if (outputFd >= 0) dup2(outputFd, 1);
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    return child;
}

Result runFfmpeg(pid_t server) {
    const char* display = std::getenv("DISPLAY");
    std::string command = "ffmpeg -nostdin -hide_banner -loglevel error -progress pipe:1 -f x11grab -framerate " +
                          std::to_string(kFramesPerSecond) + " -video_size " + std::to_string(kWidth) + "x" +
                          std::to_string(kHeight) + " -i " + display + " -t " + std::to_string(kSeconds) +
                          " -f null -";
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) return {};
    double serverBefore = processCpuSeconds(server);
    auto start = Clock::now();
    pid_t child = spawn(command, pipeEnds[1]);
    close(pipeEnds[1]);
    std::string output;
    char buffer[4096];
    for (ssize_t n; (n = read(pipeEnds[0], buffer, sizeof buffer)) > 0;) output.append(buffer, static_cast<std::size_t>(n));
    close(pipeEnds[0]);
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    double serverCpu = processCpuSeconds(server) - serverBefore;
    long frames = 0;
    for (std::size_t at = output.find("frame="); at != std::string::npos; at = output.find("frame=", at + 1)) {
        frames = std::strtol(output.c_str() + at + 6, nullptr, 10);
    }
    (void)elapsed;
    return {static_cast<double>(frames) / kSeconds, cpuSeconds(usage) / kSeconds, serverCpu / kSeconds};
}

Result runOurs(pid_t server) {
    SerialQueue writer("Yux.source-writer");
    std::atomic<long> frames{0};
    // Grid slots passed over between two pictures while the screen changed at every slot.
    long skipped = 0;
    MediaTime first = MediaTime::invalid();
    std::int64_t lastSlot = 0;
    const MediaTime interval(1, kFramesPerSecond);
    FrameSourceSettings settings;
    settings.region = {0, 0, kWidth, kHeight};
    settings.minimumFrameInterval = interval;
    settings.fillsAlpha = false;  // as a recording takes them
    X11FrameSource source(settings, [&](SampleBuffer sample) {
        if (!first.isValid()) first = sample.presentationTime;
        auto slot = std::llround((sample.presentationTime - first).seconds() / interval.seconds());
        if (slot > lastSlot + 1) skipped += slot - lastSlot - 1;
        lastSlot = slot;
        writer.async([&frames, sample] {
            // Touch the picture, as a consumer would.
            volatile std::uint8_t first = sample.picture()->data()[0];
            (void)first;
            frames.fetch_add(1);
        });
    });
    double serverBefore = processCpuSeconds(server);
    double before = selfCpuSeconds();
    source.start();
    std::this_thread::sleep_for(std::chrono::seconds(kSeconds));
    source.stop();
    writer.sync([] {});
    double cpu = selfCpuSeconds() - before;
    double serverCpu = processCpuSeconds(server) - serverBefore;
    std::printf("  (compositing: %s; grid slots skipped: %ld)\n", source.compositing() ? "yes" : "no", skipped);
    return {static_cast<double>(frames.load()) / kSeconds, cpu / kSeconds, serverCpu / kSeconds};
}

// When a record stream first hands on sound, on the host clock.
struct FirstSound {
    std::atomic<double> at{-1};
    void look(const SampleBuffer& sample) {
        if (at >= 0) return;
        const auto* audio = sample.audio();
        if (audio == nullptr || audio->sampleRate <= 0) return;
        const auto frame = yux::bench::firstSounding(reinterpret_cast<const float*>(audio->bytes->data()),
                                                     audio->frameCount(), audio->channels);
        if (frame >= 0) at = sample.presentationTime.seconds() + static_cast<double>(frame) / audio->sampleRate;
    }
};

void runSoundUnderLoad() {
    // A tone plays into the output and into the microphone before the recording starts, as the
    // sound of a video would.
    yux::bench::ContinuousTone systemTone("", 0.3f);
    yux::bench::ContinuousTone microphoneTone("yux_mic_feed", 0.3f);
    // A recording's encoder keeps both CPUs busy, with more threads than CPUs as x264 takes on a
    // larger machine: the sound threads must wait their turn.
    pid_t load = spawn("ffmpeg -nostdin -hide_banner -loglevel error -f lavfi -i testsrc2=size=1920x1080:rate=60 "
                       "-c:v libx264 -preset veryfast -threads 8 -t " + std::to_string(kSeconds + 2) + " -f null -");
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    FirstSound systemSound;
    FirstSound microphoneSound;
    auto system = PulseRecordStream::start(AudioSourceChoice::systemPlayback(),
                                           [&systemSound](SampleBuffer sample) { systemSound.look(sample); });
    auto microphone = PulseRecordStream::start(AudioSourceChoice::named(""),
                                               [&microphoneSound](SampleBuffer sample) { microphoneSound.look(sample); });
    // As a capture does before its first picture.
    const auto asked = std::chrono::steady_clock::now();
    system->awaitSound(asked + PulseRecordStream::kSoundWaitLimit);
    microphone->awaitSound(asked + PulseRecordStream::kSoundWaitLimit);
    const double started = hostTimeNow().seconds();
    const double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - asked).count();
    std::this_thread::sleep_for(std::chrono::seconds(kSeconds));
    system->stop();
    microphone->stop();
    kill(load, SIGTERM);
    waitpid(load, nullptr, 0);

    std::int64_t cut = 0;
    double worstLead = 0;
    auto line = [&](const char* name, const PulseRecordStream::Statistics& s, const FirstSound& first) {
        const double rate = PulseRecordStream::kSampleRate;
        // From the moment the recording begins to the first sound handed on.
        const double lead = first.at < 0 ? kSeconds : std::max(first.at - started, 0.0);
        worstLead = std::max(worstLead, lead);
        std::printf("%-14s leading silence %6.1f ms   real %6.2f s   silence %6.2f s   real sound cut by silence "
                    "%lld frames (%.1f ms), by late stamps %lld frames\n",
                    name, lead * 1000, static_cast<double>(s.realFrames) / rate,
                    static_cast<double>(s.silenceFrames) / rate, static_cast<long long>(s.realFramesCut),
                    static_cast<double>(s.realFramesCut) / rate * 1000, static_cast<long long>(s.realFramesOverlapped));
        cut += s.realFramesCut;
    };
    std::printf("sound for %d s on CPUs 0-1 under 1080p60 x264 encoding, a tone playing from 1 s before; "
                "%.0f ms waited for the sources' first sound\n",
                kSeconds, waited * 1000);
    line("system audio", system->statistics(), systemSound);
    line("microphone", microphone->statistics(), microphoneSound);
    std::printf("goal: leading silence <= 30 ms: %s; real sound cut by silence 0 frames: %s\n",
                worstLead <= 0.030 ? "met" : "missed", cut == 0 ? "met" : "missed");
}

}  // namespace

int main(int argc, char** argv) {
    if (std::getenv("DISPLAY") == nullptr) {
        std::fprintf(stderr, "x11_capture_bench: run it inside scripts/test-env.sh\n");
        return 1;
    }
    cpu_set_t cpus;
    CPU_ZERO(&cpus);
    CPU_SET(0, &cpus);
    CPU_SET(1, &cpus);
    sched_setaffinity(0, sizeof cpus, &cpus);  // ffmpeg inherits it
    // `--sound`: the sound part alone, to repeat it.
    if (argc > 1 && std::string(argv[1]) == "--sound") {
        runSoundUnderLoad();
        return 0;
    }

    pid_t server = yux::bench::findSibling("Xvfb");
    pid_t picture = startMovingPicture();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));

    std::printf("%dx%d at %d fps for %d s on CPUs 0-1, full-screen moving picture\n", kWidth, kHeight,
                kFramesPerSecond, kSeconds);
    Result ffmpeg = runFfmpeg(server);
    Result ours = runOurs(server);
    runSoundUnderLoad();
    kill(picture, SIGTERM);
    waitpid(picture, nullptr, 0);

    auto line = [](const char* name, const Result& r) {
        std::printf("%-14s %6.1f fps   %.3f CPU s per captured s   X server %.3f CPU s per s\n", name, r.framesPerSecond,
                    r.cpuPerSecond, r.serverCpuPerSecond);
    };
    line("ffmpeg x11grab", ffmpeg);
    line("yux", ours);
    if (ffmpeg.cpuPerSecond > 0) {
        std::printf("CPU ratio yux / x11grab: %.2f (process), %.2f (process + X server)\n",
                    ours.cpuPerSecond / ffmpeg.cpuPerSecond,
                    (ours.cpuPerSecond + ours.serverCpuPerSecond) / (ffmpeg.cpuPerSecond + ffmpeg.serverCpuPerSecond));
    }
    std::printf("goal: >= 59 fps: %s; CPU <= x11grab + 50%%: %s\n", ours.framesPerSecond >= 59 ? "met" : "missed",
                ours.cpuPerSecond + ours.serverCpuPerSecond <=
                        1.5 * (ffmpeg.cpuPerSecond + ffmpeg.serverCpuPerSecond)
                    ? "met"
                    : "missed");
    return 0;
}
