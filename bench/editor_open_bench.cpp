// Opening a take in the editor until every lane preview is in (eight thumbnails per picture
// track, a waveform per audio track), against the ffmpeg tool doing the same decoding in the
// same order: each audio track decoded whole, then eight pictures per picture track, each
// reached by seeking and scaled to thumbnail size. Both on two CPUs.   (goal: ratio <= 1.0)
// Usage: editor_open_bench [work folder] [seconds of take, default 600]

#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <filesystem>
#include <string>

#include "bench_support.hpp"
#include "editor/export_editor_session.hpp"
#include "editor/recording_sources.hpp"
#include "editor/recording_waveform.hpp"
#include "platform/async/wait_for.hpp"
#include "platform/media/media_asset.hpp"

namespace fs = std::filesystem;
using namespace yux;
using yux::bench::Clock;

namespace {

class SilentLog : public DebugLogBoundary {
public:
    QCoro::Task<void> append(std::string) override { co_return; }
};

class NoSaving : public TrimPreviewSaveHandling {
public:
    QCoro::Task<RecordingExportResult> saveTrimPreview(TrimSelection, RecordingPreset, ProgressHandler,
                                                       platform::CancelToken) override {
        throw std::runtime_error("not in this bench");
        co_return {};
    }
};

double openWithYux(const std::string& take) {
    NoSaving saving;
    auto artifact = PendingRecordingArtifact("/tmp/take.mov", Date::now(), 1, 1, {}, RecordingPresetCatalog::builtIn(),
                                             RecordingPresetCatalog::highID);
    auto start = Clock::now();
    auto session = platform::waitForTask(ExportEditorSession::open(take, artifact, &saving, std::make_shared<SilentLog>(),
                                                                   [](TrimPreviewOutcome) {}));
    session->start();
    std::size_t pictures = 0, sounds = 0;
    for (const auto& source : session->sources()) (isAudio(source.kind) ? sounds : pictures) += 1;
    while (session->thumbnails().size() < pictures || session->waveforms().size() < sounds) {
        if (session->waveformError()) {
            std::fprintf(stderr, "lane previews failed\n");
            std::exit(1);
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    double elapsed = bench::secondsSince(start);
    session->completeWithDiscardIfNeeded();
    return elapsed;
}

// Where the time of an opening goes, one loader at a time.
void printParts(const std::string& take) {
    auto start = Clock::now();
    auto facts = ExportEditorSession::readFacts(take);
    std::printf("  reading the take: %.3f s\n", bench::secondsSince(start));
    for (const auto& source : facts.sources) {
        start = Clock::now();
        if (isAudio(source.kind)) {
            platform::waitForTask(RecordingWaveform::peaks(take, source.id, ExportEditorSession::kWaveformBins));
            std::printf("  waveform of track %d: %.3f s\n", source.id, bench::secondsSince(start));
        } else {
            platform::waitForTask(RecordingSources::thumbnails(source, facts.durationSeconds));
            std::printf("  thumbnails of track %d: %.3f s\n", source.id, bench::secondsSince(start));
        }
    }
}

double openWithFfmpeg(const std::string& take) {
    auto asset = platform::MediaAsset::open(take);
    double elapsed = 0;
    std::string tool = "taskset -c 0,1 ffmpeg -nostdin -loglevel error -threads 2 ";
    for (const auto& track : asset.tracks) {
        if (track.type != platform::MediaTrackType::audio) continue;
        elapsed += bench::timeCommand(tool + "-i '" + take + "' -map 0:" + std::to_string(track.streamIndex) +
                                      " -ar 48000 -ac 2 -f null -");
    }
    for (const auto& track : asset.tracks) {
        if (track.type != platform::MediaTrackType::video) continue;
        for (double t : RecordingSources::thumbnailTimes(track, asset.durationSeconds)) {
            elapsed += bench::timeCommand(tool + "-ss " + std::to_string(t) + " -i '" + take + "' -map 0:" +
                                          std::to_string(track.streamIndex) +
                                          " -frames:v 1 -vf scale=160:90 -pix_fmt bgra -f null -");
        }
    }
    return elapsed;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    bench::pinToTwoCpus();
    fs::path folder = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / ("yux-editor-bench-" + std::to_string(getpid()));
    double seconds = argc > 2 ? std::stod(argv[2]) : 600;
    fs::create_directories(folder);
    std::string take = bench::benchTake(folder, seconds);
    std::printf("take: %.1f MB\n", static_cast<double>(fs::file_size(take)) / 1e6);
    if (std::getenv("YUX_BENCH_PARTS") != nullptr) {
        printParts(take);
        return 0;
    }

    // Alternate the two (A B B A) and keep the fastest of each: other work on the CPUs comes and goes.
    double ours = 1e300, theirs = 1e300;
    for (int round = 0; round < 2; ++round) {
        if (round == 0) {
            ours = std::min(ours, openWithYux(take));
            theirs = std::min(theirs, openWithFfmpeg(take));
        } else {
            theirs = std::min(theirs, openWithFfmpeg(take));
            ours = std::min(ours, openWithYux(take));
        }
    }
    printParts(take);
    std::printf("open until all lane previews are in (%.0f s take): yux %.3f s   ffmpeg tool %.3f s   ratio %.2f (goal <= 1.0)\n",
                seconds, ours, theirs, ours / theirs);
    return 0;
}
