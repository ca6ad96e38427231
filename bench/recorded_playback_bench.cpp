// Does recording make the recorded program stutter? ffplay plays a generated 1080p60 movie with
// sound (a 1280x720 window, sound to the default sink) for 30 s with no recorder, while
// `ffmpeg -f x11grab … -f pulse …` records at the scratch settings, and while Yux's capture
// engine records the full display with system audio: alternating, three runs each. Prints each
// run's frames dropped by ffplay (the `fd=` figure of its last status line), the X server's CPU
// seconds per second, the recorder's own CPU and the screen pictures it took per second (ffmpeg
// repeats frames to keep its rate when it falls behind: those are not counted), then the ratios
// Yux / ffmpeg of the medians.
//
// Run it inside the test environment on two CPUs, the X and sound servers included:
//     taskset -c 0,1 scripts/test-env.sh build/bench/recorded_playback_bench
// (pick two idle CPUs on a shared machine). `--runs N` changes the number of runs; `--profile`
// also records the X server with `perf record` during the recorders' runs, and this program during Yux's.

#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include "capture/x11_video_capture.hpp"
#include "platform/async/wait_for.hpp"
#include "process_usage.hpp"

using namespace yux;
using Clock = std::chrono::steady_clock;
using bench::cpuSeconds;
using bench::findSibling;
using bench::processCpuSeconds;

namespace {

constexpr int kPlaySeconds = 30;
// The movie is a little longer than the play, so that ffplay never reaches its end.
constexpr int kMovieSeconds = kPlaySeconds + 2;
constexpr int kDefaultRuns = 3;
// Time for a recorder to be running before the player starts, and for the player's window to
// leave the screen before the recorder stops.
constexpr auto kSettle = std::chrono::milliseconds(1500);

enum class Recorder { none, ffmpeg, yux };

const char* nameOf(Recorder recorder) {
    switch (recorder) {
    case Recorder::none:
        return "none";
    case Recorder::ffmpeg:
        return "ffmpeg";
    case Recorder::yux:
        return "yux";
    }
    return "";
}

struct Run {
    Recorder recorder = Recorder::none;
    long dropped = -1;           // ffplay's fd= figure; -1 when it printed none
    double serverCpu = 0;        // X server CPU seconds per second of play
    double playerCpu = 0;        // ffplay's CPU seconds per second of play
    double recorderCpu = 0;      // the recorder's own CPU seconds per second of play
    // Screen pictures taken per second: ffmpeg's frames less those it repeated to keep its
    // rate when a grab came late; Yux's frames over the play (a still screen takes none).
    double takenFps = 0;
};

// Runs an argument list with its standard error into `errorFile` (when given) and its output
// nowhere; returns the pid.
pid_t spawn(const std::vector<std::string>& arguments, const std::string& errorFile = {}) {
    pid_t child = fork();
    if (child != 0) return child;
    if (std::FILE* nowhere = std::fopen("/dev/null", "w")) dup2(fileno(nowhere), 1);
    if (!errorFile.empty()) {
        if (std::FILE* file = std::fopen(errorFile.c_str(), "w")) dup2(fileno(file), 2);
    }
    std::vector<char*> argv;
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
}

std::string capture(const std::string& command) {
    std::string output;
    if (std::FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
        pclose(pipe);
    }
    return output;
}

// Keeps this program and what it starts on two CPUs: the two it was given, else the first two
// it may use.
std::string pinToTwoCpus() {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    sched_getaffinity(0, sizeof allowed, &allowed);
    cpu_set_t chosen;
    CPU_ZERO(&chosen);
    std::string names;
    for (int cpu = 0, taken = 0; cpu < CPU_SETSIZE && taken < 2; ++cpu) {
        if (!CPU_ISSET(cpu, &allowed)) continue;
        CPU_SET(cpu, &chosen);
        names += (taken++ == 0 ? "" : ",") + std::to_string(cpu);
    }
    sched_setaffinity(0, sizeof chosen, &chosen);
    return names;
}

// The movie, written once and kept for later runs.
std::string movie(const std::filesystem::path& folder) {
    const auto path = folder / "movie-1080p60.mp4";
    if (std::filesystem::exists(path)) return path.string();
    std::printf("writing %s (%d s, 1920x1080, 60 fps, a tone)...\n", path.c_str(), kMovieSeconds);
    std::fflush(stdout);
    const auto partial = folder / "movie-1080p60.part.mp4";
    const std::string length = std::to_string(kMovieSeconds);
    pid_t child = spawn({"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-f", "lavfi", "-i",
                         "testsrc2=size=1920x1080:rate=60", "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000",
                         "-t", length, "-c:v", "libx264", "-preset", "veryfast", "-pix_fmt", "yuv420p", "-g", "60",
                         "-c:a", "aac", "-b:a", "128k", "-y", partial.string()});
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "the movie could not be written\n");
        std::exit(1);
    }
    std::filesystem::rename(partial, path);
    return path.string();
}

// The last `fd=` figure of ffplay's status lines.
long droppedFrames(const std::string& errorFile) {
    std::ifstream file(errorFile);
    std::stringstream text;
    text << file.rdbuf();
    const std::string all = text.str();
    const auto at = all.rfind("fd=");
    if (at == std::string::npos) return -1;
    return std::strtol(all.c_str() + at + 3, nullptr, 10);
}

// ffmpeg's frames less its repeated ones per second of output, from its progress file.
double takenByFfmpeg(const std::string& progressFile) {
    std::ifstream file(progressFile);
    double frames = 0, repeated = 0, microseconds = 0;
    for (std::string line; std::getline(file, line);) {
        if (line.rfind("frame=", 0) == 0) frames = std::strtod(line.c_str() + 6, nullptr);
        if (line.rfind("dup_frames=", 0) == 0) repeated = std::strtod(line.c_str() + 11, nullptr);
        if (line.rfind("out_time_us=", 0) == 0) microseconds = std::strtod(line.c_str() + 12, nullptr);
    }
    return microseconds > 0 ? (frames - repeated) / (microseconds / 1e6) : 0;
}

// Pictures in the first video track of a recording.
double writtenFrames(const std::string& path) {
    const std::string answer = capture("ffprobe -v error -select_streams v:0 -count_packets -show_entries "
                                       "stream=nb_read_packets -of csv=p=0 '" + path + "'");
    return std::strtod(answer.c_str(), nullptr);
}

std::string defaultSinkMonitor() {
    std::string sink = capture("pactl get-default-sink");
    sink.erase(sink.find_last_not_of("\n ") + 1);
    return sink.empty() ? "default" : sink + ".monitor";
}

// Runs the Qt event loop (the engine's) for a while.
void runEventsFor(std::chrono::milliseconds length) {
    QEventLoop loop;
    QTimer::singleShot(static_cast<int>(length.count()), &loop, &QEventLoop::quit);
    loop.exec();
}

// Plays the movie to its end while the event loop runs; returns ffplay's CPU seconds.
double play(const std::string& moviePath, const std::string& errorFile) {
    setenv("SDL_AUDIODRIVER", "pulseaudio", 1);
    pid_t player = spawn({"ffplay", "-hide_banner", "-autoexit", "-x", "1280", "-y", "720", "-t",
                          std::to_string(kPlaySeconds), moviePath},
                         errorFile);
    rusage usage{};
    int status = 0;
    while (wait4(player, &status, WNOHANG, &usage) == 0) runEventsFor(std::chrono::milliseconds(100));
    return cpuSeconds(usage);
}

class DroppedLog : public DebugLogBoundary {
public:
    QCoro::Task<void> append(std::string) override { co_return; }
};

// Starts perf on the X server, and on this program when it records; nothing when profiling is off.
std::vector<pid_t> startProfiles(bool profile, Recorder recorder, pid_t server, const std::filesystem::path& folder,
                                 int index) {
    if (!profile) return {};
    auto record = [&](pid_t pid, const std::string& name) {
        const auto output = folder / ("perf-" + name + "-" + std::to_string(index) + ".data");
        return spawn({"perf", "record", "-q", "-e", "cpu-clock", "-F", "499", "-g", "-p", std::to_string(pid), "-o",
                      output.string()},
                     "/dev/null");
    };
    const std::string suffix = std::string("-") + nameOf(recorder);
    if (recorder != Recorder::yux) return {record(server, "xserver" + suffix)};
    return {record(server, "xserver" + suffix), record(getpid(), "yux")};
}

void stopProfiles(const std::vector<pid_t>& profiles) {
    for (pid_t pid : profiles) kill(pid, SIGINT);
    for (pid_t pid : profiles) waitpid(pid, nullptr, 0);
}

Run runOnce(Recorder recorder, const std::string& moviePath, const std::filesystem::path& folder, int index,
            pid_t server, bool profile) {
    Run run;
    run.recorder = recorder;
    const std::string errorFile = (folder / ("ffplay-" + std::to_string(index) + ".log")).string();
    const std::string recording = (folder / (std::string(nameOf(recorder)) + "-" + std::to_string(index) + ".mov")).string();
    const std::string progress = recording + ".progress";
    std::filesystem::remove(recording);
    std::filesystem::remove(progress);

    pid_t ffmpeg = 0;
    std::unique_ptr<X11VideoCapture> engine;
    const QUuid session = QUuid::createUuid();
    if (recorder == Recorder::ffmpeg) {
        const std::string display = std::getenv("DISPLAY");
        ffmpeg = spawn({"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-progress", progress, "-f",
                        "x11grab", "-framerate", "60",
                        "-video_size", "1920x1080", "-i", display, "-f", "pulse", "-i", defaultSinkMonitor(), "-c:v",
                        "libx264", "-preset", platform::kScratchVideoPreset, "-bf", "0", "-g", "60", "-pix_fmt",
                        "yuv420p", "-c:a", "aac", "-b:a", "192k", "-ar", "48000", "-ac", "2", "-f", "mov",
                        "-movflags", "empty_moov+default_base_moof", "-frag_duration", "1000000", recording});
    } else if (recorder == Recorder::yux) {
        auto permission = std::make_shared<X11ScreenRecordingPermission>(X11ScreenRecordingPermission::create());
        auto noInputs = []() -> QCoro::Task<X11VideoCapture::RecordingInputs> {
            co_return X11VideoCapture::RecordingInputs{};
        };
        engine = std::make_unique<X11VideoCapture>(permission, std::make_shared<DroppedLog>(), nullptr, nullptr,
                                                   noInputs, X11VideoCapture::livePieces());
        platform::waitForTask(engine->startCapture(session, CaptureTarget::fullMainDisplay(), recording));
    }
    runEventsFor(std::chrono::duration_cast<std::chrono::milliseconds>(kSettle));

    const auto profiles =
        recorder != Recorder::none ? startProfiles(profile, recorder, server, folder, index) : std::vector<pid_t>{};
    const double serverBefore = processCpuSeconds(server);
    const double recorderBefore = recorder == Recorder::yux ? bench::selfCpuSeconds() : 0;
    const auto started = Clock::now();
    const double playerCpu = play(moviePath, errorFile);
    const double played = std::chrono::duration<double>(Clock::now() - started).count();
    run.serverCpu = (processCpuSeconds(server) - serverBefore) / played;
    run.playerCpu = playerCpu / played;
    if (recorder == Recorder::yux) run.recorderCpu = (bench::selfCpuSeconds() - recorderBefore) / played;
    stopProfiles(profiles);
    run.dropped = droppedFrames(errorFile);

    runEventsFor(std::chrono::duration_cast<std::chrono::milliseconds>(kSettle));
    if (recorder == Recorder::ffmpeg) {
        kill(ffmpeg, SIGINT);  // ffmpeg finishes the file on an interrupt
        rusage usage{};
        wait4(ffmpeg, nullptr, 0, &usage);
        // Its whole run, settling included, over the play: close enough for a comparison.
        run.recorderCpu = cpuSeconds(usage) / (played + 2 * std::chrono::duration<double>(kSettle).count());
    } else if (recorder == Recorder::yux) {
        platform::waitForTask(engine->stopCapture(session));
        engine.reset();
    }
    if (recorder == Recorder::ffmpeg) run.takenFps = takenByFfmpeg(progress);
    if (recorder == Recorder::yux) run.takenFps = writtenFrames(recording) / played;
    std::filesystem::remove(recording);
    std::filesystem::remove(progress);
    return run;
}

double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

std::vector<double> figures(const std::vector<Run>& runs, Recorder recorder, double Run::*field) {
    std::vector<double> values;
    for (const auto& run : runs) {
        if (run.recorder == recorder) values.push_back(run.*field);
    }
    return values;
}

std::vector<double> dropCounts(const std::vector<Run>& runs, Recorder recorder) {
    std::vector<double> values;
    for (const auto& run : runs) {
        if (run.recorder == recorder) values.push_back(static_cast<double>(run.dropped));
    }
    return values;
}

std::string loadAverage() {
    std::ifstream file("/proc/loadavg");
    std::string one, five;
    file >> one >> five;
    return one + " " + five;
}

}  // namespace

int main(int argc, char** argv) {
    if (std::getenv("DISPLAY") == nullptr) {
        std::fprintf(stderr, "recorded_playback_bench: run it inside scripts/test-env.sh\n");
        return 1;
    }
    int runsEach = kDefaultRuns;
    bool profile = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--runs" && i + 1 < argc) runsEach = std::max(1, std::atoi(argv[++i]));
        if (argument == "--profile") profile = true;
    }
    const std::string cpus = pinToTwoCpus();
    const pid_t server = findSibling("Xvfb");
    if (server == 0) {
        std::fprintf(stderr, "recorded_playback_bench: no Xvfb of the test environment found\n");
        return 1;
    }
    QCoreApplication app(argc, argv);
    const auto folder = std::filesystem::temp_directory_path() / "yux-playback-bench";
    std::filesystem::create_directories(folder);
    const std::string moviePath = movie(folder);

    std::printf("ffplay, 1920x1080 60 fps movie in a 1280x720 window, %d s per run, on CPUs %s; load %s\n",
                kPlaySeconds, cpus.c_str(), loadAverage().c_str());
    std::vector<Run> runs;
    int index = 0;
    for (int round = 0; round < runsEach; ++round) {
        for (Recorder recorder : {Recorder::none, Recorder::ffmpeg, Recorder::yux}) {
            Run run = runOnce(recorder, moviePath, folder, index++, server, profile);
            std::printf("%-7s dropped %4ld   X server %.3f CPU s/s   ffplay %.3f CPU s/s   recorder %.3f CPU s/s   "
                        "taken %5.1f fps   load %s\n",
                        nameOf(recorder), run.dropped, run.serverCpu, run.playerCpu, run.recorderCpu, run.takenFps,
                        loadAverage().c_str());
            std::fflush(stdout);
            runs.push_back(run);
        }
    }

    std::printf("medians:\n");
    for (Recorder recorder : {Recorder::none, Recorder::ffmpeg, Recorder::yux}) {
        std::printf("%-7s dropped %6.1f   X server %.3f CPU s/s   recorder %.3f CPU s/s   taken %5.1f fps\n",
                    nameOf(recorder), median(dropCounts(runs, recorder)), median(figures(runs, recorder, &Run::serverCpu)),
                    median(figures(runs, recorder, &Run::recorderCpu)), median(figures(runs, recorder, &Run::takenFps)));
    }
    const double droppedYux = median(dropCounts(runs, Recorder::yux));
    const double droppedFfmpeg = median(dropCounts(runs, Recorder::ffmpeg));
    const double serverYux = median(figures(runs, Recorder::yux, &Run::serverCpu));
    const double serverFfmpeg = median(figures(runs, Recorder::ffmpeg, &Run::serverCpu));
    // A run without a single drop under ffmpeg would make any drop under Yux an infinite ratio.
    const double droppedRatio = (droppedYux + 1) / (droppedFfmpeg + 1);
    const double serverRatio = serverFfmpeg > 0 ? serverYux / serverFfmpeg : 0;
    std::printf("ratio yux / ffmpeg: dropped frames %.2f (each count plus one), X server CPU %.2f\n", droppedRatio,
                serverRatio);
    // A recorder that falls behind takes fewer pictures and so costs the server less: its cost
    // above the player alone per picture taken tells the two apart on a busy machine too.
    const double serverAlone = median(figures(runs, Recorder::none, &Run::serverCpu));
    auto perPicture = [&](Recorder recorder) {
        const double taken = median(figures(runs, recorder, &Run::takenFps));
        return taken > 0 ? (median(figures(runs, recorder, &Run::serverCpu)) - serverAlone) / taken * 1000 : 0.0;
    };
    std::printf("X server above the player alone per picture taken: ffmpeg %.2f ms, yux %.2f ms\n",
                perPicture(Recorder::ffmpeg), perPicture(Recorder::yux));
    std::printf("goals: dropped <= 1.2 x ffmpeg: %s; X server CPU <= 1.2 x ffmpeg: %s\n",
                droppedRatio <= 1.2 ? "met" : "missed", serverRatio <= 1.2 ? "met" : "missed");
    if (profile) std::printf("profiles: %s/perf-*.data (perf report -i FILE)\n", folder.c_str());
    return 0;
}
