// The preview player's pictures: decoding a 1080p60 screen and camera and drawing the camera
// over the screen in BGRA, free-running (no clock), as pictures per second ÷ 60 (goal >= 2.0).
// Beside it, the ffmpeg tool's rate for the same graph (the camera's picture and alpha cropped
// apart, alphamerge, overlay on the screen, BGRA). Both on two CPUs.
// Usage: preview_player_bench [work folder] [seconds of take, default 20]

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "bench_support.hpp"
#include "platform/media/composition_video_renderer.hpp"
#include "platform/media/edit_composition.hpp"
#include "platform/media/movie_track_reader.hpp"

namespace fs = std::filesystem;
using namespace yux;

namespace {

// The player's own video path: the take's picture tracks over one section at speed 1, drawn at
// the source size.
double playerFramesPerSecond(const std::string& take, double seconds) {
    platform::MovieTrackReader reader(take);
    std::vector<platform::MediaTrack> videos;
    for (const auto& track : reader.tracks()) {
        if (track.type == platform::MediaTrackType::video) videos.push_back(track);
    }
    auto composition = platform::EditComposition::build(videos, {platform::EditSection{0, seconds, 1}});
    platform::PictureGeometry geometry{videos[0].width, videos[0].height, 0, 0, videos[0].width, videos[0].height};
    platform::CompositionVideoRenderer renderer(take, composition, geometry);
    const int frames = static_cast<int>(seconds * 60);
    std::uint64_t checksum = 0;
    auto start = bench::Clock::now();
    for (int i = 0; i < frames; ++i) {
        const std::uint8_t* picture = renderer.renderBgra(platform::MediaTime(i * 1000, 60000));
        checksum += picture[(static_cast<std::size_t>(i) * 4097) % (static_cast<std::size_t>(geometry.cropWidth) * geometry.cropHeight * 4)];
    }
    double elapsed = bench::secondsSince(start);
    std::printf("(checksum %llu)\n", static_cast<unsigned long long>(checksum));
    return frames / elapsed;
}

double ffmpegFramesPerSecond(const std::string& take, double seconds) {
    std::string graph =
        "[0:1]split[c1][c2];[c1]crop=iw:ih/2:0:0[picture];[c2]crop=iw:ih/2:0:ih/2,format=gray[alpha];"
        "[picture][alpha]alphamerge[camera];[0:0][camera]overlay=format=auto,format=bgra[out]";
    double elapsed = bench::timeCommand("taskset -c 0,1 ffmpeg -nostdin -loglevel error -threads 2 -i '" + take +
                                        "' -filter_complex '" + graph + "' -map '[out]' -t " + std::to_string(seconds) +
                                        " -f null -");
    return seconds * 60 / elapsed;
}

}  // namespace

int main(int argc, char** argv) {
    bench::pinToTwoCpus();
    fs::path folder = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / ("yux-player-bench-" + std::to_string(getpid()));
    double seconds = argc > 2 ? std::stod(argv[2]) : 20;
    fs::create_directories(folder);
    std::string take = bench::benchTake(folder, seconds);

    double ours = 0, theirs = 0;
    for (int round = 0; round < 2; ++round) {
        ours = std::max(ours, playerFramesPerSecond(take, seconds));
        theirs = std::max(theirs, ffmpegFramesPerSecond(take, seconds));
    }
    std::printf("preview decode + composite, 1080p60 screen + camera: yux %.1f fps = %.2f x real time (goal >= 2.0)   "
                "ffmpeg graph %.1f fps = %.2f x\n",
                ours, ours / 60, theirs, theirs / 60);
    return 0;
}
