// Camera track benchmark. Runs on one CPU (it pins itself):
//
//   build/bench/camera_render_bench [frames] [quality]
//
// Makes `frames` (default 150) 1920x1080 motion-JPEG camera frames of a moving picture at the
// JPEG quantiser scale `quality` (default 2, near lossless; webcams send about 4 to 8), then
// decodes each to BGRA and renders it into a 1920x1080 camera-track canvas with the default
// bubble, as a recording does for every camera frame. Prints the CPU time per frame and its
// share of the 30 fps frame interval (the goal is at most 0.25), beside the ffmpeg command-line
// tool decoding the same frames to BGRA with one thread in the same run.

#include <linux/videodev2.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "capture/camera_recording_renderer.hpp"
#include "platform/camera/camera_frame_decoder.hpp"
#include "process_usage.hpp"
#include "support/camera_test_frames.hpp"
#include "support/synthetic_media.hpp"

using namespace yux;

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr double kFrameInterval = 1.0 / 30;

using yux::bench::cpuSeconds;

void pinToOneCpu() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) != 0) return;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
        if (CPU_ISSET(cpu, &set)) {
            CPU_ZERO(&set);
            CPU_SET(cpu, &set);
            sched_setaffinity(0, sizeof set, &set);  // children (ffmpeg) inherit it
            std::printf("pinned to CPU %d\n", cpu);
            return;
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    int count = argc > 1 ? std::atoi(argv[1]) : 150;
    int quality = argc > 2 ? std::atoi(argv[2]) : 2;
    if (count <= 0 || quality < 1 || quality > 31) {
        std::fprintf(stderr, "usage: camera_render_bench [frames] [quality 1-31]\n");
        return 2;
    }
    pinToOneCpu();

    std::printf("making %d 1080p MJPEG frames at quality %d...\n", count, quality);
    std::vector<std::vector<std::uint8_t>> frames;
    for (int i = 0; i < count; ++i) frames.push_back(testing::jpegFrame(testing::movingPattern(kWidth, kHeight, i, 12), quality));
    std::size_t bytes = 0;
    for (const auto& frame : frames) bytes += frame.size();
    std::printf("average frame %.0f kB\n", bytes / 1000.0 / count);

    platform::CameraFrameDecoder decoder;
    CameraRecordingRenderer renderer(CameraPlacement{}, {kWidth, kHeight}, {kWidth, kHeight});
    double before = cpuSeconds(RUSAGE_SELF);
    double decoding = 0;
    int rendered = 0;
    for (int i = 0; i < count; ++i) {
        double decodeStart = cpuSeconds(RUSAGE_SELF);
        auto picture = decoder.decode(V4L2_PIX_FMT_MJPEG, kWidth, kHeight, kWidth * 2, frames[i].data(), frames[i].size());
        decoding += cpuSeconds(RUSAGE_SELF) - decodeStart;
        if (!picture.isValid()) continue;
        platform::SampleBuffer sample;
        sample.presentationTime = platform::MediaTime(i, 30);
        sample.duration = platform::MediaTime(1, 30);
        sample.payload = std::move(picture);
        auto out = renderer.render(sample);
        rendered += out.picture() != nullptr;
    }
    double ours = (cpuSeconds(RUSAGE_SELF) - before) / count;
    if (rendered != count) {
        std::fprintf(stderr, "only %d of %d frames decoded and rendered\n", rendered, count);
        return 1;
    }

    auto file = std::filesystem::temp_directory_path() / ("yux-camera-bench-" + std::to_string(getpid()) + ".mjpeg");
    {
        std::ofstream out(file, std::ios::binary);
        for (const auto& frame : frames) out.write(reinterpret_cast<const char*>(frame.data()), static_cast<std::streamsize>(frame.size()));
    }
    std::string command = "ffmpeg -hide_banner -loglevel error -threads 1 -f mjpeg -framerate 30 -i '" + file.string() +
                          "' -threads 1 -f rawvideo -pix_fmt bgra -y /dev/null";
    double childrenBefore = cpuSeconds(RUSAGE_CHILDREN);
    int status = std::system(command.c_str());
    double theirs = (cpuSeconds(RUSAGE_CHILDREN) - childrenBefore) / count;
    std::filesystem::remove(file);

    std::printf("yux decode + render : %.2f ms CPU per frame = %.3f of the 30 fps interval (goal <= 0.25)\n",
                ours * 1000, ours / kFrameInterval);
    std::printf("  of which decoding : %.2f ms\n", decoding / count * 1000);
    if (status == 0) {
        std::printf("ffmpeg decode only  : %.2f ms CPU per frame = %.3f of the 30 fps interval\n", theirs * 1000,
                    theirs / kFrameInterval);
        std::printf("ratio yux / ffmpeg  : %.2f\n", ours / theirs);
    } else {
        std::printf("ffmpeg did not run (status %d)\n", status);
    }
    return 0;
}
