#include "automation/automation_edit_timeline.hpp"

#include <random>

#include <gtest/gtest.h>

#include "model/app_error.hpp"

using namespace yux;
using namespace yux::automation;

namespace {

enum class Step { split, remove, speed };

// RecordingEdit and the timeline take the same step; both must agree on whether it changed
// anything and on every section afterwards.
void takeBoth(RecordingEdit& edit, AutomationEditTimeline& timeline, Step step, double t, double speed,
              const std::string& trace) {
    const auto before = edit.sections();
    bool changed = false;
    switch (step) {
        case Step::split:
            edit.split(t);
            changed = timeline.split(t);
            break;
        case Step::remove:
            edit.toggleRemoval(t);
            changed = timeline.toggleRemoval(t);
            break;
        case Step::speed:
            edit.setSpeed(speed, t);
            changed = timeline.setSpeed(speed, t);
            break;
    }
    ASSERT_EQ(changed, edit.sections() != before) << trace;
    ASSERT_EQ(timeline.sections(), edit.sections()) << trace;
    ASSERT_EQ(timeline.keptSections(), edit.keptSections()) << trace;
}

}  // namespace

TEST(AutomationEditTimeline, AgreesWithTheEditorsTimeLineStepByStep) {
    std::mt19937 random(2026);
    const double durations[] = {0.3, 1.0, 3.0, 12.5};
    for (int round = 0; round < 3000; ++round) {
        const double duration = durations[round % 4];
        // Times on a coarse grid meet earlier cuts, the trim edges and the split margins exactly.
        std::uniform_int_distribution<int> grid(-2, static_cast<int>(duration * 20) + 2);
        const auto time = [&] { return grid(random) / 20.0 + (random() % 4 == 0 ? 0.01 : 0.0); };
        double start = std::max(0.0, time());
        double end = std::min(duration, start + 0.5 + std::abs(time()));
        if (duration < 0.5) start = 0, end = duration;
        RecordingEdit edit(duration);
        edit.setRange(start, end);
        AutomationEditTimeline timeline(duration, start, end);
        ASSERT_EQ(timeline.range(), edit.range());
        std::string trace = "duration " + std::to_string(duration) + " range " + std::to_string(start) + "-" +
                            std::to_string(end);
        for (int index = 0; index < 40; ++index) {
            const auto step = static_cast<Step>(random() % 3);
            const double t = time();
            const double speed = RecordingEdit::speeds[random() % 5];
            trace += "; " + std::to_string(static_cast<int>(step)) + "@" + std::to_string(t) + "x" + std::to_string(speed);
            takeBoth(edit, timeline, step, t, speed, trace);
            if (::testing::Test::HasFatalFailure()) return;
        }
    }
}

TEST(AutomationEditTimeline, RefusesWhatTheEditorRefuses) {
    struct Case {
        const char* what;
        std::vector<std::pair<Step, double>> steps;
        bool lastChanges;
    };
    const std::vector<Case> cases = {
        {"a split closer than the margin to an edge", {{Step::split, 1.0}, {Step::split, 1.04}}, false},
        {"a split on the trim edge", {{Step::split, 0.5}}, false},
        {"removing the only kept section", {{Step::remove, 2.0}}, false},
        {"removing the last kept part after a split", {{Step::split, 2.0}, {Step::remove, 1.0}, {Step::remove, 3.0}}, false},
        {"restoring a removed part", {{Step::split, 2.0}, {Step::remove, 1.0}, {Step::remove, 1.0}}, true},
        {"a speed the section already has", {{Step::speed, 2.0}}, false},
    };
    for (const auto& test : cases) {
        AutomationEditTimeline timeline(5, 0.5, 4.5);
        bool changed = true;
        for (const auto& [step, t] : test.steps) {
            changed = step == Step::split ? timeline.split(t)
                      : step == Step::remove ? timeline.toggleRemoval(t)
                                             : timeline.setSpeed(1.0, t);
        }
        EXPECT_EQ(changed, test.lastChanges) << test.what;
    }
    EXPECT_THROW(AutomationEditTimeline(0, 0, 0), AppError);
}
