#include <gtest/gtest.h>

#include <limits>
#include <random>
#include <vector>

#include "model/app_error.hpp"
#include "model/recording_edit.hpp"
#include "model/trim_selection.hpp"

namespace yux {
namespace {

using Section = RecordingEdit::Section;
using Range = RecordingEdit::Range;
using Edge = RecordingEdit::Edge;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();

// The whole visible state of an edit in one check, with the invariants every operation keeps.
void expectState(const RecordingEdit& edit, const std::vector<Section>& sections, Range range) {
    EXPECT_EQ(edit.sections(), sections);
    EXPECT_EQ(edit.range(), range);
    ASSERT_FALSE(edit.sections().empty());
    EXPECT_EQ(edit.sections().front().start, 0);
    EXPECT_EQ(edit.sections().back().end, edit.duration());
    for (std::size_t i = 1; i < edit.sections().size(); ++i) {
        EXPECT_EQ(edit.sections()[i].start, edit.sections()[i - 1].end);
    }
    EXPECT_GE(edit.range().lower, 0);
    EXPECT_LE(edit.range().upper, edit.duration());
    EXPECT_GE(edit.range().upper - edit.range().lower, edit.minimumRange());
}

std::string detailOf(double duration) {
    try {
        RecordingEdit edit(duration);
    } catch (const AppError& error) {
        EXPECT_EQ(error.kind(), AppError::Case::outputFinalizationFailed);
        return error.detail();
    }
    return "no error";
}

TEST(RecordingEditTest, RefusesDurationsThatAreNotPositiveAndFinite) {
    for (double duration : {0.0, -1.0, kInfinity, kNaN}) {
        EXPECT_EQ(detailOf(duration), "Invalid recording duration") << duration;
    }
    RecordingEdit edit(10);
    expectState(edit, {{0, 10, 1.0, true}}, {0, 10});
    EXPECT_FALSE(edit.canUndo());
    EXPECT_EQ(edit.minimumRange(), 0.5);
}

TEST(RecordingEditTest, RangeKeepsItsMinimumLengthInsideTheRecording) {
    RecordingEdit shortEdit(0.3);
    shortEdit.setRange(0.1, 0.2);
    expectState(shortEdit, {{0, 0.3, 1.0, true}}, {0, 0.3});
    EXPECT_FALSE(shortEdit.canUndo());

    RecordingEdit edit(10);
    edit.setRange(9.8, 12);
    expectState(edit, {{0, 10, 1.0, true}}, {9.5, 10});
    edit.setRange(kNaN, 3);
    edit.setRange(1, kInfinity);
    expectState(edit, {{0, 10, 1.0, true}}, {9.5, 10});
    edit.setRange(-4, 3);
    expectState(edit, {{0, 10, 1.0, true}}, {0, 3});
    edit.undo();
    expectState(edit, {{0, 10, 1.0, true}}, {9.5, 10});
    edit.undo();
    expectState(edit, {{0, 10, 1.0, true}}, {0, 10});
    EXPECT_FALSE(edit.canUndo());
}

TEST(RecordingEditTest, ADragIsOneUndoStepAndNoneWhenItReturns) {
    RecordingEdit edit(10);
    edit.beginRangeGesture();
    for (double t : {1.0, 2.0, 3.0, 9.9}) edit.moveEdge(Edge::start, t);
    expectState(edit, {{0, 10, 1.0, true}}, {9.5, 10});  // stops short of the other handle
    edit.moveEdge(Edge::start, kNaN);
    edit.endRangeGesture();
    edit.beginRangeGesture();
    edit.moveEdge(Edge::end, 0);
    edit.endRangeGesture();  // the end handle could not move at all
    edit.undo();
    expectState(edit, {{0, 10, 1.0, true}}, {0, 10});
    EXPECT_FALSE(edit.canUndo());

    edit.beginRangeGesture();
    edit.moveEdge(Edge::end, 4);
    edit.moveEdge(Edge::end, 10);
    edit.endRangeGesture();
    EXPECT_FALSE(edit.canUndo());
}

TEST(RecordingEditTest, CutsRemovesSpeedsUpAndUndoesWithinTheRange) {
    RecordingEdit edit(10);
    edit.setRange(2, 8);
    const RecordingEdit ranged = edit;

    edit.toggleRemoval(5);  // would remove everything kept
    EXPECT_EQ(edit, ranged);

    edit.split(5);
    expectState(edit, {{0, 5, 1.0, true}, {5, 10, 1.0, true}}, {2, 8});

    edit.toggleRemoval(6);
    expectState(edit, {{0, 5, 1.0, true}, {5, 8, 1.0, false}, {8, 10, 1.0, true}}, {2, 8});
    EXPECT_EQ(edit.keptSections(), (std::vector<Section>{{2, 5, 1.0, true}}));
    EXPECT_EQ(edit.keptDuration(), 3);
    EXPECT_EQ(edit.removedDuration(), 7);

    edit.setSpeed(2, 3);
    expectState(edit,
                {{0, 2, 1.0, true}, {2, 5, 2.0, true}, {5, 8, 1.0, false}, {8, 10, 1.0, true}},
                {2, 8});
    EXPECT_EQ(edit.outputDuration(), 1.5);
    EXPECT_EQ(edit.resultTime(4), 1.0);

    edit.toggleRemoval(3);  // the last kept material stays
    EXPECT_EQ(edit.sections().size(), 4u);

    edit.undo();
    expectState(edit, {{0, 5, 1.0, true}, {5, 8, 1.0, false}, {8, 10, 1.0, true}}, {2, 8});
    edit.undo();
    edit.undo();
    EXPECT_EQ(edit, ranged);
    edit.undo();
    expectState(edit, {{0, 10, 1.0, true}}, {0, 10});
}

TEST(RecordingEditTest, RestoringMergesWithKeptNeighbours) {
    RecordingEdit edit(10);
    edit.split(3);
    edit.split(6);
    edit.toggleRemoval(4);
    expectState(edit, {{0, 3, 1.0, true}, {3, 6, 1.0, false}, {6, 10, 1.0, true}}, {0, 10});
    edit.toggleRemoval(4);
    expectState(edit, {{0, 10, 1.0, true}}, {0, 10});
    // The upper edge picks the section that ends there.
    edit.split(6);
    edit.setRange(0, 6);
    edit.setSpeed(4, 6);
    expectState(edit, {{0, 6, 4.0, true}, {6, 10, 1.0, true}}, {0, 6});
}

TEST(RecordingEditTest, IgnoresChangesItCannotApply) {
    RecordingEdit edit(10);
    edit.setRange(2, 8);
    edit.split(5);
    const RecordingEdit before = edit;
    edit.split(2);       // on the range's edge
    edit.split(5.03);    // too close to a section's edge
    edit.split(4.96);
    edit.split(kNaN);
    edit.split(9);       // outside the range
    edit.setSpeed(3, 5);         // not an offered speed
    edit.setSpeed(1.0, 5);       // already at that speed
    edit.setSpeed(2, 9);         // outside the range
    edit.toggleRemoval(kInfinity);
    EXPECT_EQ(edit, before);

    RecordingEdit fresh(10);
    fresh.split(0.03);
    EXPECT_EQ(fresh, RecordingEdit(10));
}

TEST(RecordingEditTest, PlaybackSkipsRemovedStretchesAndEnds) {
    RecordingEdit edit(10);
    edit.split(4);
    edit.split(6);
    edit.toggleRemoval(5);
    EXPECT_EQ(edit.playbackTime(1), 1.0);
    EXPECT_EQ(edit.playbackTime(5), 6.0);
    EXPECT_EQ(edit.playbackTime(3.9995), 6.0);
    EXPECT_EQ(edit.playbackTime(9.9995), std::nullopt);
    EXPECT_EQ(edit.resultTime(8), 6.0);
}

}  // namespace
}  // namespace yux

namespace yux {
namespace {

TEST(RecordingEditTest, SelectionTakesOnlyTheKeptPartsInsideTheRange) {
    RecordingEdit edit(10);
    edit.setRange(1, 9);
    edit.split(4);
    edit.split(6);
    edit.toggleRemoval(5);
    edit.setSpeed(2, 7);
    RecordingCrop crop;
    crop.setRatio(RecordingCrop::Ratio::square, {1920, 1080});
    RecordingAudioLevel quiet;
    quiet.setGain(0.5);
    const TrimSelection selection = edit.selection(crop, {{2, quiet}});
    EXPECT_EQ(selection.sections, (std::vector<Section>{{1, 4, 1.0, true}, {6, 9, 2.0, true}}));
    EXPECT_EQ(selection.crop, crop);
    EXPECT_EQ(selection.audioLevels.at(2).gain, 0.5f);
    EXPECT_EQ(selection.durationSeconds(), edit.outputDuration());
}

}  // namespace
}  // namespace yux

namespace yux {
namespace {

// Any sequence of gestures keeps the time line whole, a removal never takes the last kept
// material, and undoing every step returns to the fresh edit. (A trim range moved over removed
// stretches only may leave nothing kept; that is the range's choice, not a removal's.)
TEST(RecordingEditTest, RandomEditingKeepsTheInvariantsAndUndoesToTheStart) {
    std::mt19937 random(11);
    std::uniform_real_distribution<double> time(-1, 13);
    std::uniform_int_distribution<int> pick(0, 4);
    RecordingEdit edit(12);
    int steps = 0;
    for (int i = 0; i < 2000; ++i) {
        const bool couldUndo = edit.canUndo();
        const RecordingEdit before = edit;
        const int gesture = pick(random);
        switch (gesture) {
            case 0: edit.split(time(random)); break;
            case 1: edit.toggleRemoval(time(random)); break;
            case 2: edit.setSpeed(RecordingEdit::speeds[i % 5], time(random)); break;
            case 3: edit.setRange(time(random), time(random)); break;
            case 4: edit.moveEdge(i % 2 ? Edge::start : Edge::end, time(random)); break;
        }
        if (edit != before) ++steps;
        ASSERT_EQ(edit.canUndo(), couldUndo || edit != before);
        expectState(edit, edit.sections(), edit.range());
        if (gesture == 1 && before.keptDuration() > 0) {
            ASSERT_GT(edit.keptDuration(), 0) << "step " << i;
        }
    }
    for (int i = 0; i < steps; ++i) edit.undo();
    EXPECT_EQ(edit, RecordingEdit(12));
}

}  // namespace
}  // namespace yux
