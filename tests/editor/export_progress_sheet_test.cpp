#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include <QFontInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

#include "editor/export_progress_sheet.hpp"
#include "null_editor.hpp"
#include "support/proportional_digits_font.hpp"

using namespace yux;
using namespace yux::testing;
using T = ExportProgressTexts;

TEST(ExportProgressTexts, PercentIsCutAndHeldToTheBar) {
    EXPECT_EQ(T::percent(0), "0%");
    EXPECT_EQ(T::percent(0.999), "99%");
    EXPECT_EQ(T::percent(1), "100%");
    EXPECT_EQ(T::percent(-0.3), "0%");
    EXPECT_EQ(T::percent(7), "100%");
    EXPECT_EQ(T::percent(std::nan("")), "0%");
    EXPECT_EQ(T::percent(std::numeric_limits<double>::infinity()), "100%");
}

TEST(ExportProgressTexts, RemainingRoundsUpAndDistrustsOddEstimates) {
    EXPECT_EQ(T::remaining(std::nullopt), "Preparing…");
    EXPECT_EQ(T::remaining(0.2), "about 1 s left");
    EXPECT_EQ(T::remaining(0.0), "about 0 s left");
    EXPECT_EQ(T::remaining(61.0), "about 61 s left");
    EXPECT_EQ(T::remaining(-1.0), "Preparing…");
    EXPECT_EQ(T::remaining(std::numeric_limits<double>::infinity()), "Preparing…");
    EXPECT_EQ(T::remaining(std::nan("")), "Preparing…");
    EXPECT_EQ(T::remaining(1e300), "Preparing…");
    EXPECT_EQ(T::section({0.5, 2, 3, std::nullopt}), "Section 2 of 3");
}

namespace {

struct SheetHarness : NullEditor {
    int closes = 0;
    std::unique_ptr<ExportProgressSheet> sheet;

    SheetHarness() : NullEditor({nullSource(1, RecordingSourceKind::screen), nullSource(2, RecordingSourceKind::microphone)}, 30) {
        sheet = std::make_unique<ExportProgressSheet>(session, [this] { ++closes; });
    }
};

}  // namespace

TEST(ExportProgressSheet, FollowsAnExportFromStartToTheFinishedResult) {
    test::ProportionalDigitsFont face;
    ASSERT_TRUE(face.digitsDiffer());
    SheetHarness h;
    EXPECT_FALSE(h.sheet->wanted());
    h.session->split();  // two kept sections would need a cut; one split keeps both
    h.session->exportRecording();
    ASSERT_TRUE(h.sheet->wanted());
    EXPECT_EQ(h.sheet->titleText(), "Exporting…");
    EXPECT_EQ(h.sheet->percentText(), "0%");
    EXPECT_EQ(h.sheet->sectionText(), QString("Section 1 of %1").arg(h.session->edit().keptSections().size()));
    EXPECT_EQ(h.sheet->remainingText(), "Preparing…");

    ASSERT_TRUE(runUntil([&] { return !h.saveHandler.progressHandlers.empty(); }));
    // The percentage is set in the body face and keeps its width as it counts.
    auto* percent = h.sheet->percentLabel();
    EXPECT_FALSE(QFontInfo(percent->font()).fixedPitch());
    h.saveHandler.progressHandlers[0]({0.11, 1, 2, std::nullopt});
    ASSERT_TRUE(runUntil([&] { return h.sheet->percentText() == "11%"; }));
    const int width = percent->sizeHint().width();
    h.saveHandler.progressHandlers[0]({0.999, 2, 2, 0.2});
    ASSERT_TRUE(runUntil([&] { return h.sheet->percentText() == "99%"; }));
    EXPECT_EQ(percent->sizeHint().width(), width);
    EXPECT_EQ(h.sheet->remainingText(), "about 1 s left");
    EXPECT_EQ(h.sheet->sectionText(), "Section 2 of 2");

    // Escape leaves the sheet up.
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(h.sheet.get(), &escape);
    EXPECT_TRUE(h.sheet->wanted());

    h.saveHandler.succeed("/tmp/out/Recording 1.mp4", 2500000);
    ASSERT_TRUE(runUntil([&] { return h.session->saved().has_value(); }));
    EXPECT_EQ(h.sheet->titleText(), "Export complete");
    EXPECT_EQ(h.sheet->percentText(), "100%");
    EXPECT_EQ(h.sheet->fileNameText(), "Recording 1.mp4");
    EXPECT_EQ(h.sheet->detailsText(), "2.5 MB · 1920 × 1080");
    EXPECT_EQ(h.sheet->revealButton()->text(), "Show in Files");

    h.sheet->revealButton()->click();
    EXPECT_EQ(h.revealed, std::vector<std::string>{"/tmp/out/Recording 1.mp4"});
    EXPECT_TRUE(h.sheet->wanted());
    EXPECT_FALSE(h.sheet->revealErrorLabel()->isVisibleTo(h.sheet.get()));

    // A folder nothing can open is said in the sheet, until the next try or the sheet goes.
    h.revealFails = true;
    h.sheet->revealButton()->click();
    EXPECT_TRUE(h.sheet->revealErrorLabel()->isVisibleTo(h.sheet.get()));
    EXPECT_EQ(h.sheet->revealErrorLabel()->text(), "Could not open the folder /tmp/out.");
    h.revealFails = false;
    h.sheet->revealButton()->click();
    EXPECT_FALSE(h.sheet->revealErrorLabel()->isVisibleTo(h.sheet.get()));
    h.revealFails = true;
    h.sheet->revealButton()->click();

    h.sheet->editAgainButton()->click();
    EXPECT_FALSE(h.sheet->wanted());
    EXPECT_EQ(h.closes, 0);

    // A second export starts again from 0 %, and Close closes the window.
    h.session->exportRecording();
    EXPECT_EQ(h.sheet->percentText(), "0%");
    h.saveHandler.succeed("/tmp/out/Recording 2" + std::string(200, 'x') + ".mp4");
    ASSERT_TRUE(runUntil([&] { return h.session->saved().has_value(); }));
    // A long name stays on one line inside the sheet, cut with an ellipsis.
    EXPECT_TRUE(h.sheet->fileNameText().startsWith("Recording 2x"));
    EXPECT_TRUE(h.sheet->fileNameText().endsWith(QChar(0x2026)));
    EXPECT_LE(h.sheet->fontMetrics().horizontalAdvance(h.sheet->fileNameText()), ExportProgressSheet::kWidth - 40);
    EXPECT_FALSE(h.sheet->revealErrorLabel()->isVisibleTo(h.sheet.get())) << "the last export's failure is gone";
    h.sheet->closeButton()->click();
    EXPECT_FALSE(h.session->saved().has_value());
    EXPECT_EQ(h.closes, 1);
}

TEST(ExportProgressSheet, CancelStopsTheRunningExportAndHidesTheSheet) {
    SheetHarness h;
    h.sheet->cancelButton()->click();  // no export: nothing happens
    h.session->exportRecording();
    ASSERT_TRUE(runUntil([&] { return !h.saveHandler.calls.empty(); }));
    h.sheet->cancelButton()->click();
    ASSERT_TRUE(runUntil([&] { return !h.session->isExporting(); }));
    EXPECT_FALSE(h.sheet->wanted());
    EXPECT_FALSE(h.session->errorMessage().has_value());
}
