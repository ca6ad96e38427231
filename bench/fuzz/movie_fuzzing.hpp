#pragma once

// What the movie fuzz programs share: a small scratch-layout movie written once, and the input
// format that damages it.
//
// Input: byte 0 bit 0 set truncates the movie to the length in bytes 1 to 3 (little endian,
// modulo the size); then records of 4 bytes: an offset (3 bytes, little endian) and the byte to
// write there. An offset with its top bit set lands in the index (the "moov" atom: durations,
// sample tables, codec parameters), where a few bytes change the most; otherwise anywhere in the
// file. Byte 0 bit 1 set instead makes the rest of the input the movie itself, so a corpus can
// carry foreign files.

#include <unistd.h>

#include <QCoreApplication>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

extern "C" {
#include <libavutil/log.h>
}

#include "support/test_movie_generator.hpp"

namespace yux::fuzzing {

// Small and short, so one run takes milliseconds; every track kind of a scratch movie.
inline constexpr int kSeedWidth = 64;
inline constexpr int kSeedHeight = 36;
inline constexpr int kSeedFrameRate = 10;
inline constexpr double kSeedSeconds = 1.0;

struct SeedMovie {
    std::string bytes;
    // Where the top-level "moov" atom lies; the whole file when none is found.
    std::size_t indexStart = 0;
    std::size_t indexSize = 0;
};

inline SeedMovie& seedMovie() {
    static SeedMovie value;
    return value;
}

// Per process and program, so parallel jobs never share one; removed after every run, so a killed
// job leaves at most this one file behind.
inline std::filesystem::path scratchFile(const char* name) {
    return std::filesystem::temp_directory_path() / ("yux-fuzz-" + std::string(name) + "-" + std::to_string(::getpid()) + ".mov");
}

inline std::size_t readOffset(const std::uint8_t* bytes) {
    return bytes[0] | (std::size_t{bytes[1]} << 8) | (std::size_t{bytes[2]} << 16);
}

inline std::uint64_t bigEndian(const std::string& bytes, std::size_t at, int count) {
    std::uint64_t value = 0;
    for (int index = 0; index < count; ++index) value = (value << 8) | static_cast<std::uint8_t>(bytes[at + index]);
    return value;
}

inline void findIndex(SeedMovie& movie) {
    movie.indexStart = 0;
    movie.indexSize = movie.bytes.size();
    for (std::size_t at = 0; at + 8 <= movie.bytes.size();) {
        std::uint64_t atomSize = bigEndian(movie.bytes, at, 4);
        if (atomSize == 1 && at + 16 <= movie.bytes.size()) atomSize = bigEndian(movie.bytes, at + 8, 8);
        if (atomSize < 8 || atomSize > movie.bytes.size() - at) return;
        if (movie.bytes.compare(at + 4, 4, "moov") == 0) {
            movie.indexStart = at;
            movie.indexSize = atomSize;
            return;
        }
        at += atomSize;
    }
}

inline std::string mutatedMovie(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t kRecordSize = 4;
    constexpr std::size_t kIndexBit = std::size_t{1} << 23;
    std::string movie = seedMovie().bytes;
    if (size == 0) return movie;
    if ((data[0] & 2) != 0) return {reinterpret_cast<const char*>(data) + 1, size - 1};
    std::size_t position = 1;
    if ((data[0] & 1) != 0 && size >= 4) {
        movie.resize(readOffset(data + 1) % (movie.size() + 1));
        position = 4;
    }
    for (; position + kRecordSize <= size && !movie.empty(); position += kRecordSize) {
        std::size_t offset = readOffset(data + position);
        if ((offset & kIndexBit) != 0) offset = seedMovie().indexStart + (offset & ~kIndexBit) % seedMovie().indexSize;
        movie[offset % movie.size()] = static_cast<char>(data[position + 3]);
    }
    return movie;
}

inline void writeMutatedMovie(const std::uint8_t* data, std::size_t size, const std::filesystem::path& path) {
    std::string movie = mutatedMovie(data, size);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(movie.data(), static_cast<std::streamsize>(movie.size()));
}

// The movie writer's output varies from run to run (its tracks are encoded on threads of their
// own), so the seed is written once and reused: the same input then means the same movie, in
// later runs and in the jobs of -fork. YUX_FUZZ_SEED_MOVIE names the file; a missing one is
// written. Aborts when it cannot be read.
inline void loadSeedMovie() {
    const char* named = std::getenv("YUX_FUZZ_SEED_MOVIE");
    const std::filesystem::path path = named != nullptr
                                           ? std::filesystem::path(named)
                                           : std::filesystem::temp_directory_path() / "yux-fuzz-seed-movie.mov";
    if (!std::filesystem::exists(path)) {
        yux::testing::TestMovieOptions options;
        options.width = kSeedWidth;
        options.height = kSeedHeight;
        options.frameRate = kSeedFrameRate;
        options.durationSeconds = kSeedSeconds;
        options.camera = true;
        options.microphone = true;
        // Written aside and renamed into place, so a parallel job never reads half a movie.
        auto written = path;
        written += "." + std::to_string(::getpid());
        yux::testing::writeTestMovie(written.string(), options);
        std::error_code ignored;
        std::filesystem::rename(written, path, ignored);
        if (ignored) {
            std::filesystem::copy_file(written, path, std::filesystem::copy_options::skip_existing, ignored);
            std::filesystem::remove(written, ignored);
        }
    }
    std::ifstream in(path, std::ios::binary);
    seedMovie().bytes = {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (seedMovie().bytes.empty()) {
        std::fprintf(stderr, "The seed movie is empty or unreadable.\n");
        std::abort();
    }
    findIndex(seedMovie());
}

// LLVMFuzzerInitialize of a movie program.
inline void startMovieProgram(int* argc, char*** argv) {
    static QCoreApplication app(*argc, *argv);
    loadSeedMovie();
    // Damaged files make FFmpeg talk on every run; what matters is what our code does.
    av_log_set_level(AV_LOG_QUIET);
}

// LLVMFuzzerTestOneInput of a movie program: `use` gets the path of the damaged movie.
template <typename Use>
int runOnDamagedMovie(const std::uint8_t* data, std::size_t size, Use use) {
    const auto path = scratchFile("movie");
    writeMutatedMovie(data, size, path);
    use(path.string());
    std::filesystem::remove(path);
    return 0;
}

}  // namespace yux::fuzzing
