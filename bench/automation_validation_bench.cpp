// Reading and checking a record command of the command-file limit (1 MiB), as the runner does on
// the main thread: the command is nearly all export edits (splits, removals and speeds over an
// hour-long trim). Prints the time per command at a quarter, half and the whole limit, so the
// growth shows, beside the goal: the whole limit in under 50 ms. The main thread's processor time
// is what counts (the wall time is printed too: on a busy machine it also holds waits for a core).
//
//   automation_validation_bench [repeats=20]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <time.h>

#include "automation/automation_documents.hpp"
#include "automation/automation_files.hpp"

using namespace yux;
using namespace yux::automation;

namespace {

constexpr double kGoalMilliseconds = 50;

double threadMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

// A record command of at most `limit` bytes with as many edits as fit.
std::string commandOf(std::size_t limit, int& edits) {
    const std::string head = R"({"id":"0F8FAD5B-D9CB-469F-A165-70867728950E","durationSeconds":3600,"export":{"trimStart":0,"trimEnd":3600,"edits":[)";
    const std::string tail = "]}}";
    std::string body;
    edits = 0;
    for (int i = 0;; ++i) {
        // Splits 0.1 s apart; every third step removes an earlier stretch, every fifth speeds one up.
        const double t = 0.1 * (i + 1);
        std::string edit;
        if (i % 3 == 2) {
            edit = R"({"action":"remove","time":)" + std::to_string(t - 0.15) + "}";
        } else if (i % 5 == 4) {
            edit = R"({"action":"speed","time":)" + std::to_string(t - 0.15) + R"(,"value":2})";
        } else {
            edit = R"({"action":"split","time":)" + std::to_string(t) + "}";
        }
        if (head.size() + body.size() + 1 + edit.size() + tail.size() > limit) break;
        body += (body.empty() ? "" : ",") + edit;
        ++edits;
    }
    return head + body + tail;
}

}  // namespace

int main(int argc, char** argv) {
    const int repeats = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    double wholeLimit = 0;
    for (const std::size_t limit : {kMaxCommandFileBytes / 4, kMaxCommandFileBytes / 2, kMaxCommandFileBytes}) {
        int edits = 0;
        const std::string text = commandOf(limit, edits);
        double best = 1e9;
        double bestWall = 1e9;
        for (int run = 0; run < repeats; ++run) {
            const auto start = std::chrono::steady_clock::now();
            const double startCpu = threadMilliseconds();
            const auto command = RecordingAutomationRequest::decodeCommand(text);
            command.validate();
            best = std::min(best, threadMilliseconds() - startCpu);
            bestWall = std::min(bestWall,
                                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        }
        std::printf("%8zu bytes, %6d edits: read and checked in %.2f ms of processor time, %.2f ms wall (best of %d)\n",
                    text.size(), edits, best, bestWall, repeats);
        wholeLimit = best;
    }
    std::printf("goal: the 1 MiB command in under %.0f ms; measured/goal = %.2f (%s)\n", kGoalMilliseconds,
                wholeLimit / kGoalMilliseconds, wholeLimit < kGoalMilliseconds ? "met" : "NOT met");
    return 0;
}
