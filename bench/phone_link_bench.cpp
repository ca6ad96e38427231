// The phone camera link at full speed: a fake phone in a child process sends 1080p JPEG frames
// as fast as the link takes them; the receiver decodes them to BGRA as in a recording. Reports
// frames per second, CPU per frame (all threads) and main-thread CPU per frame, beside the CPU
// per frame of `ffmpeg -f mjpeg -i - -pix_fmt bgra -f null -` on the same frames, in one run.
// The goals on two CPUs: at least 60 frames per second, CPU per frame at most ffmpeg's.
//
//   phone_link_bench [seconds=5] [quality=4]
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include "capture/phonelink/receiver/live_usb_camera_receiver.hpp"
#include "platform/async/wait_for.hpp"
#include "process_usage.hpp"
#include "support/camera_test_frames.hpp"
#include "support/fake_companion_app.hpp"
#include "support/fake_usb_mux_daemon.hpp"
#include "support/synthetic_media.hpp"

using namespace yux;

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
// Distinct pictures the phone sends in turn, so no decode sees the same bytes twice in a row.
constexpr int kPictures = 30;

// Runs the event loop for a while without spinning, so the main thread's time is the receiver's.
void runEventLoop(std::chrono::milliseconds duration) {
    QEventLoop loop;
    QTimer::singleShot(duration, &loop, &QEventLoop::quit);
    loop.exec();
}

double cpuSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return bench::cpuSeconds(usage);
}

double threadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec + now.tv_nsec / 1e9;
}

void pinToTwoCpus() {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (sched_getaffinity(0, sizeof allowed, &allowed) != 0) return;
    cpu_set_t set;
    CPU_ZERO(&set);
    int taken = 0;
    for (int cpu = 0; cpu < CPU_SETSIZE && taken < 2; ++cpu) {
        if (CPU_ISSET(cpu, &allowed)) {
            CPU_SET(cpu, &set);
            ++taken;
        }
    }
    sched_setaffinity(0, sizeof set, &set);  // the phone and ffmpeg inherit it
    std::printf("pinned to %d CPUs\n", taken);
}

// The child: a multiplexer daemon and a phone behind it. Writes the socket path to `pipe`.
[[noreturn]] void runPhone(int pipe, std::vector<std::vector<std::uint8_t>> pictures) {
    testing::FakeUsbMuxDaemon daemon;
    testing::FakeCompanionApp::Options options;
    options.pictures = std::move(pictures);
    options.frameInterval = std::chrono::milliseconds(0);
    options.status.reset();
    std::vector<std::unique_ptr<testing::FakeCompanionApp>> apps;
    std::mutex mutex;
    daemon.onTunnel([&](int descriptor, std::int64_t) {
        std::lock_guard lock(mutex);
        apps.push_back(std::make_unique<testing::FakeCompanionApp>(options));
        apps.back()->take(descriptor);
    });
    daemon.attach({1, "BENCH-PHONE"});
    const auto path = daemon.socketPath() + "\n";
    (void)::write(pipe, path.data(), path.size());
    ::close(pipe);
    for (;;) ::pause();
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 5;
    const int quality = argc > 2 ? std::atoi(argv[2]) : 4;
    if (seconds <= 0 || quality < 1 || quality > 31) {
        std::fprintf(stderr, "usage: phone_link_bench [seconds] [quality 1-31]\n");
        return 2;
    }
    pinToTwoCpus();
    std::printf("making %d 1080p JPEG pictures at quality %d...\n", kPictures, quality);
    std::vector<std::vector<std::uint8_t>> pictures;
    std::size_t bytes = 0;
    for (int index = 0; index < kPictures; ++index) {
        pictures.push_back(testing::jpegFrame(testing::movingPattern(kWidth, kHeight, index, 12), quality));
        bytes += pictures.back().size();
    }
    std::printf("average picture %.0f kB\n", bytes / 1000.0 / kPictures);

    int pathPipe[2];
    if (::pipe(pathPipe) != 0) return 1;
    const pid_t phone = ::fork();
    if (phone == 0) {
        ::close(pathPipe[0]);
        runPhone(pathPipe[1], pictures);
    }
    ::close(pathPipe[1]);
    std::string path;
    char c = 0;
    while (::read(pathPipe[0], &c, 1) == 1 && c != '\n') path += c;
    ::close(pathPipe[0]);

    QCoreApplication application(argc, argv);
    auto receiver = LiveUSBCameraReceiver::create(platform::SystemLog::create_null(), USBMuxOptions{path});
    receiver->startDiscovery();
    const std::string id = std::string(kPhoneIdentifierPrefix) + "BENCH-PHONE";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (receiver->devices().empty() && std::chrono::steady_clock::now() < deadline) {
        runEventLoop(std::chrono::milliseconds(10));
    }
    int frames = 0;
    bool rightSize = true;
    auto start = receiver->start(id, [&](platform::SampleBuffer sample) {
        ++frames;
        const auto* picture = sample.picture();
        rightSize = rightSize && picture != nullptr && picture->width() == kWidth && picture->height() == kHeight;
    });
    int result = 0;
    try {
        platform::waitForTask(start);
        // A second to settle, then the measurement.
        runEventLoop(std::chrono::seconds(1));
        const int framesBefore = frames;
        const double cpuBefore = cpuSeconds(RUSAGE_SELF);
        const double mainBefore = threadCpuSeconds();
        const auto began = std::chrono::steady_clock::now();
        runEventLoop(std::chrono::milliseconds(static_cast<long>(seconds * 1000)));
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
        const int counted = frames - framesBefore;
        const double ours = (cpuSeconds(RUSAGE_SELF) - cpuBefore) / counted;
        const double main = (threadCpuSeconds() - mainBefore) / counted;
        std::printf("yux receiver      : %.1f frames/s (goal >= 60), %.2f ms CPU per frame, main thread %.3f ms per frame\n",
                    counted / elapsed, ours * 1000, main * 1000);
        if (!rightSize) std::printf("a picture of the wrong size arrived\n");
        receiver->stopDiscovery();
        ::kill(phone, SIGTERM);
        ::waitpid(phone, nullptr, 0);

        const auto file = std::filesystem::temp_directory_path() / ("yux-phone-bench-" + std::to_string(getpid()) + ".mjpeg");
        const int repeats = 10;
        {
            std::ofstream out(file, std::ios::binary);
            for (int round = 0; round < repeats; ++round) {
                for (const auto& picture : pictures) {
                    out.write(reinterpret_cast<const char*>(picture.data()), static_cast<std::streamsize>(picture.size()));
                }
            }
        }
        const std::string command =
            "ffmpeg -hide_banner -loglevel error -f mjpeg -i - -pix_fmt bgra -f null - < '" + file.string() + "'";
        const double childrenBefore = cpuSeconds(RUSAGE_CHILDREN);
        const int status = std::system(command.c_str());
        const double theirs = (cpuSeconds(RUSAGE_CHILDREN) - childrenBefore) / (repeats * kPictures);
        std::filesystem::remove(file);
        if (status == 0) {
            std::printf("ffmpeg mjpeg->bgra: %.2f ms CPU per frame\n", theirs * 1000);
            std::printf("ratio yux / ffmpeg: %.2f (goal <= 1.0)\n", ours / theirs);
        } else {
            std::printf("ffmpeg did not run (status %d)\n", status);
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "the phone camera did not start: %s\n", error.what());
        ::kill(phone, SIGTERM);
        ::waitpid(phone, nullptr, 0);
        result = 1;
    }
    return result;
}
