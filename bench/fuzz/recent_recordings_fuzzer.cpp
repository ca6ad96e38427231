// The recent recordings list ("recent-recordings.json"): read by the store, listed and extended
// by the output library as the menu panel and the export's last step do.
#include <QCoreApplication>
#include <memory>

#include "json_fuzzing.hpp"
#include "model/file_recent_recording_store.hpp"
#include "model/persistent_output_library.hpp"
#include "platform/async/wait_for.hpp"

namespace {

constexpr const char* kListPath = "/support/recent-recordings.json";
constexpr const char* kExistingRecording = "/videos/Yux 2026-01-31 at 09.05.07.mov";
// How many recordings the menu panel lists.
constexpr int kPanelLimit = 5;

struct FixedClock : yux::ClockBoundary {
    yux::Date now() const override { return yux::Date::fromUnixSeconds(1769850307.8); }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace yux;
    std::string contents(fuzzing::textOf(data, size));
    auto files = LocalFileSystem::create_null({{kListPath, contents}, {kExistingRecording, "movie"}});
    auto store = std::make_shared<FileRecentRecordingStore>(kListPath, files);

    std::vector<RecordingFile> loaded;
    try {
        loaded = store->load();
    } catch (const std::exception&) {
        return 0;
    }
    for (const auto& file : loaded) {
        (void)file.createdAt.iso8601(true);
        (void)file.createdAt.iso8601(false);
    }
    fuzzing::checkRoundTrip(loaded);

    PersistentOutputLibrary library(std::make_shared<LocalFileSystem>(files), std::make_shared<FixedClock>(),
                                    TimestampFileNamingPolicy{"en_US_POSIX", QTimeZone::utc()}, store);
    auto recent = library.recentRecordings(kPanelLimit);
    if (platform::waitForTask(recent).size() > static_cast<std::size_t>(kPanelLimit)) {
        fuzzing::fail("the panel got more recordings than asked for", contents);
    }
    auto completed = library.markCompleted(kExistingRecording, FixedClock().now());
    platform::waitForTask(completed);
    auto after = store->load();
    if (after.empty() || after.front().path != kExistingRecording) {
        fuzzing::fail("a completed recording is not at the head of the list", contents);
    }
    return 0;
}
