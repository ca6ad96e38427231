#pragma once

// What the editor benches share: two pinned CPUs, wall-clock timing, the ffmpeg tool as the
// yardstick, and one bench take reused between runs.

#include <sched.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/test_movie_generator.hpp"

namespace yux::bench {

using Clock = std::chrono::steady_clock;

inline double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// This process and the ffmpeg tools it starts run on CPUs 0 and 1 only.
inline void pinToTwoCpus() {
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(0, &set);
    CPU_SET(1, &set);
    if (sched_setaffinity(0, sizeof set, &set) != 0) std::perror("sched_setaffinity");
}

// Runs a shell command (the ffmpeg tool) and returns its wall time; exits on failure.
inline double timeCommand(const std::string& command) {
    auto start = Clock::now();
    int status = std::system(command.c_str());
    double elapsed = secondsSince(start);
    if (status != 0) {
        std::fprintf(stderr, "command failed (%d): %s\n", status, command.c_str());
        std::exit(1);
    }
    return elapsed;
}

// A 1920x1080 60 fps take of screen, camera, system audio and microphone with detailed pictures,
// written once into `folder` and reused.
inline std::string benchTake(const std::filesystem::path& folder, double seconds) {
    std::string path = (folder / ("take-" + std::to_string(static_cast<int>(seconds)) + "s.mov")).string();
    if (std::filesystem::exists(path)) return path;
    std::printf("writing %s (%.0f s, 1920x1080, 60 fps, four tracks)...\n", path.c_str(), seconds);
    std::fflush(stdout);
    yux::testing::TestMovieOptions options;
    options.width = 1920;
    options.height = 1080;
    options.frameRate = 60;
    options.durationSeconds = seconds;
    options.camera = true;
    options.microphone = true;
    options.benchContent = true;
    std::string partial = path + ".part.mov";
    yux::testing::writeTestMovie(partial, options);
    std::filesystem::rename(partial, path);
    return path;
}

}  // namespace yux::bench
