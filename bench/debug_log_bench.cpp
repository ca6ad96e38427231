// The debug log at its cap of 1,000 lines (about 200 KB), on this machine's disk, as the program
// writes it: 1,000 lines appended one at a time, each awaited before the next (a stop awaits its
// lines so), and 1,000 lines queued at once (a source that floods the log). Prints each case's
// wall time beside its goal, and checks that the file still holds the newest 1,000 lines.
//
//   debug_log_bench [folder=a fresh temporary folder]
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <QCoreApplication>
#include <QCoroTask>

#include "model/file_debug_log_store.hpp"
#include "model/json_coding.hpp"
#include "platform/async/wait_for.hpp"
#include "support/temporary_directory.hpp"

using namespace yux;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kCap = 1000;
constexpr int kLines = 1000;
constexpr double kAwaitedGoalSeconds = 1.0;
constexpr double kFloodGoalSeconds = 0.5;

// About as long as the writer's and the session's lines, so the file at its cap is about 200 KB.
std::string messageOf(const std::string& name, int number) {
    return name + " number=" + std::to_string(number) +
           " session=0F8FAD5B-D9CB-469F-A165-70867728950E kind=screen pts=1234.5678 host=98765.4321"
           " path=/home/user/.cache/Yux/Scratch/0F8FAD5B-D9CB-469F-A165-70867728950E.mov";
}

// A log file already at its cap.
void fillToCap(const std::filesystem::path& path) {
    std::filesystem::remove(path);
    FileDebugLogStore log(path.string(), LocalFileSystem(), kCap);
    std::string text;
    for (int i = 0; i < kCap; ++i) text += log.serialize(messageOf("filler", i)) + "\n";
    testing::writeWholeFile(path, text);
}

QCoro::Task<void> appendOneAtATime(FileDebugLogStore& log) {
    for (int i = 0; i < kLines; ++i) co_await log.append(messageOf("awaited", i));
}

QCoro::Task<void> appendAllAtOnce(FileDebugLogStore& log) {
    std::vector<QCoro::Task<void>> queued;
    queued.reserve(kLines);
    for (int i = 0; i < kLines; ++i) queued.push_back(log.append(messageOf("flood", i)));
    for (auto& task : queued) co_await task;
}

// Whether the file holds exactly the cap, ending with the case's last line.
bool keptTheNewest(const std::filesystem::path& path, const std::string& name) {
    const std::string text = testing::readWholeFile(path);
    std::vector<std::string> lines;
    std::size_t begin = 0;
    for (std::size_t end; (end = text.find('\n', begin)) != std::string::npos; begin = end + 1) {
        lines.push_back(text.substr(begin, end - begin));
    }
    return begin == text.size() && lines.size() == static_cast<std::size_t>(kCap) &&
           json::Json::parse(lines.back())["message"] == messageOf(name, kLines - 1);
}

bool runCase(const std::filesystem::path& path, const char* what, const std::string& name, double goal,
             QCoro::Task<void> (*work)(FileDebugLogStore&)) {
    fillToCap(path);
    FileDebugLogStore log(path.string(), LocalFileSystem(), kCap);
    const auto start = Clock::now();
    platform::waitForTask(work(log));
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const bool kept = keptTheNewest(path, name);
    std::printf("%-36s %7.3f s (%6.3f ms a line); goal under %.1f s: %s%s\n", what, seconds,
                seconds * 1e3 / kLines, goal, seconds < goal ? "met" : "NOT met",
                kept ? "" : "; the file does NOT hold the newest 1000 lines");
    return kept;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    testing::TemporaryDirectory scratch;
    const std::filesystem::path folder = argc > 1 ? std::filesystem::path(argv[1]) : scratch.path();
    const auto path = folder / "debug-log.jsonl";
    fillToCap(path);
    std::printf("debug log at its cap: %d lines, %ju bytes, in %s\n", kCap,
                static_cast<std::uintmax_t>(std::filesystem::file_size(path)), folder.c_str());
    bool kept = runCase(path, "1000 lines, each awaited:", "awaited", kAwaitedGoalSeconds, appendOneAtATime);
    kept = runCase(path, "1000 lines queued at once:", "flood", kFloodGoalSeconds, appendAllAtOnce) && kept;
    std::filesystem::remove(path);
    return kept ? 0 : 1;
}
