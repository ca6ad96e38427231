#include <gtest/gtest.h>

#include <QApplication>
#include <QPainter>
#include <cstring>
#include <QComboBox>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QLabel>
#include <QLayout>
#include <QMouseEvent>
#include <QToolButton>
#include <QPushButton>
#include <QSlider>
#include <QStyleFactory>

#include "editor/editor_pixel_field.hpp"
#include "editor/editor_sidebar.hpp"
#include "editor/editor_source_headers.hpp"
#include "editor/editor_style.hpp"
#include "editor/editor_timeline.hpp"
#include "editor/export_editor_view.hpp"
#include "editor/export_progress_sheet.hpp"
#include "editor/floating_trim_preview_window.hpp"
#include "null_editor.hpp"
#include "support/proportional_digits_font.hpp"
#include "support/screenshot_writer.hpp"

using namespace yux;
using namespace yux::testing;
using Kind = RecordingSourceKind;

namespace {

using ViewHarness = NullEditor;

}  // namespace

TEST(ExportEditorView, SizesInTheFixedWindow) {
    ViewHarness h;
    TrimPreviewWindowController window(h.session);
    window.show();
    auto* view = window.findChild<ExportEditorView*>();
    ASSERT_NE(view, nullptr);
    QApplication::processEvents();
    EXPECT_EQ(view->sidebar()->width(), 299);
    EXPECT_EQ(view->leftColumn()->width(), 820);
    EXPECT_LE(view->preview()->width(), 534);
    EXPECT_EQ(view->preview()->height(), 300);
    EXPECT_EQ(view->timeline()->height(), h.session->timelineHeight() + 18) << "the lanes and the scroll bar's room";
    QSizeF fourThree = ExportEditorView::pictureSize(4.0 / 3.0, QSizeF(533, 300));
    EXPECT_DOUBLE_EQ(fourThree.width(), 400);
    EXPECT_DOUBLE_EQ(fourThree.height(), 300);
    QSizeF wide = ExportEditorView::pictureSize(16.0 / 9.0, QSizeF(792, 300));
    EXPECT_NEAR(wide.width(), 533.33, 0.01);
    window.close();
}

TEST(ExportEditorView, TransportFollowsTheSectionUnderThePlayhead) {
    ViewHarness h;
    ExportEditorView view(h.session, [] {});
    EXPECT_FALSE(view.undoButton()->isEnabled());
    EXPECT_EQ(view.timeLabel()->text(), "0:00.0 / 1:00.0");
    h.session->seek(10);
    view.splitButton()->click();
    view.speedButton(3)->click();  // 2×
    EXPECT_TRUE(view.speedButton(3)->isChecked());
    EXPECT_FALSE(view.speedButton(1)->isChecked());
    EXPECT_TRUE(view.undoButton()->isEnabled());
    view.removeButton()->click();
    EXPECT_EQ(view.removeButton()->text(), "Restore");
    EXPECT_EQ(view.summaryLabel()->text(), "0:10.0 · 0:50.0 removed");
    view.undoButton()->click();
    EXPECT_EQ(view.removeButton()->text(), "Remove");
    EXPECT_EQ(view.summaryLabel()->text(), "0:35.0 · 0:00.0 removed");

    view.zoomOutButton()->click();
    EXPECT_EQ(view.timeline()->zoom(), 1);
    view.zoomInButton()->click();
    EXPECT_EQ(view.timeline()->zoom(), 1.5);
}

// Times, sizes and percentages change under the eye: their digits keep their places. The time,
// the volume and the badge are in the monospaced face; the sidebar's values in the body face,
// each digit in a cell of one width.
TEST(ExportEditorView, ChangingNumbersAreSetInAFixedWidthFont) {
    test::ProportionalDigitsFont face;
    ASSERT_TRUE(face.digitsDiffer());
    ViewHarness h;
    ExportEditorView view(h.session, [] {});
    struct Row {
        const char* name;
        QLabel* label;
        bool monospaced;
    };
    std::vector<Row> labels = {
        {"time", view.timeLabel(), true},
        {"quality", view.sidebar()->qualityHeading(), false},
        {"size", view.sidebar()->sizeHeading(), false},
        {"output", view.sidebar()->summaryValue(0), false},
        {"length", view.sidebar()->summaryValue(1), false},
        {"volume", view.sidebar()->findChild<EditorAudioControl*>()->valueLabel(), true},
    };
    for (auto* label : view.findChildren<QLabel*>())
        if (label->text().startsWith("SRC ")) labels.push_back({"badge", label, true});
    ASSERT_EQ(labels.size(), 7u);
    for (const auto& [name, label, monospaced] : labels) {
        EXPECT_EQ(QFontInfo(label->font()).fixedPitch(), monospaced) << name;
        label->setText("1111 × 1111");
        const int narrow = label->sizeHint().width();
        label->setText("8888 × 8888");
        EXPECT_EQ(label->sizeHint().width(), narrow) << name;
        // Each digit fits its cell: digits set in cells never overlap.
        for (char16_t digit = u'0'; digit <= u'9'; ++digit) {
            label->setText(QString(8, QChar(digit)));
            EXPECT_GE(label->sizeHint().width(), QFontMetricsF(label->font()).horizontalAdvance(label->text()))
                << name << " " << char(digit);
        }
    }
    EXPECT_EQ(view.timeLabel()->palette().color(QPalette::WindowText), EditorStyle::secondary(view.palette()));
}

// The picture is cut at the preview's rounded corners.
TEST(ExportEditorView, ThePictureKeepsThePreviewsRoundedCorners) {
    ViewHarness h;
    ExportEditorView view(h.session, [] {});
    view.resize(1120, 680);
    view.show();
    QApplication::processEvents();
    QImage image = view.grab().toImage();
    // The bottom corners: the badges sit at the top.
    for (QPoint corner : {QPoint(0, view.preview()->height() - 1),
                          QPoint(view.preview()->width() - 1, view.preview()->height() - 1)}) {
        QPoint at = view.preview()->mapTo(&view, corner);
        QPoint inside = view.preview()->mapTo(&view, corner + QPoint(corner.x() == 0 ? 12 : -12, -12));
        EXPECT_EQ(image.pixel(at), EditorStyle::windowBackground(EditorStyle::isDark(view.palette())).rgb());
        EXPECT_EQ(image.pixel(inside), EditorStyle::previewBackdrop().rgb());
    }
}

// The window's tint is the highlight of every stock control in it, with white text on it, through
// the sidebar's own palette too: a slider's filled groove takes the tint's hue.
TEST(ExportEditorView, StockControlsTakeTheWindowsTint) {
    constexpr double kHueDegrees = 2;
    auto hue = [](const QColor& colour) { return colour.hsvHueF() * 360; };
    // Left of the middle, where a slider at half or more is filled.
    auto fillHue = [&](QSlider& slider) {
        QImage image = slider.grab().toImage();
        return hue(image.pixelColor(image.width() / 4, image.height() / 2));
    };
    // The style paints the filled groove in the highlight, where the probe looks.
    const QColor green(0, 160, 0);
    QSlider probe(Qt::Horizontal);
    probe.setRange(0, 100);
    probe.setValue(50);
    QPalette palette = probe.palette();
    for (auto group : {QPalette::Active, QPalette::Inactive}) palette.setColor(group, QPalette::Highlight, green);
    probe.setPalette(palette);
    probe.resize(140, probe.sizeHint().height());
    ASSERT_NEAR(fillHue(probe), hue(green), kHueDegrees);

    // A desktop whose selection is orange with black text.
    const QPalette desktop = QApplication::palette();
    QPalette orange = desktop;
    orange.setColor(QPalette::Highlight, QColor(255, 149, 0));
    orange.setColor(QPalette::HighlightedText, Qt::black);
    QApplication::setPalette(orange);
    {
        ViewHarness h;
        ExportEditorView view(h.session, [] {});
        view.resize(1120, 680);
        view.show();
        h.session->setQuality(1.0);
        view.timeline()->setZoom(20);
        QApplication::processEvents();
        struct Row {
            const char* name;
            QWidget* control;
        };
        for (const auto& [name, control] :
             {Row{"zoom", view.zoomSlider()}, Row{"quality", view.sidebar()->qualitySlider()},
              Row{"size", view.sidebar()->scaleSlider()},
              Row{"volume", view.findChild<EditorAudioControl*>()->slider()},
              Row{"ratio", view.sidebar()->ratioPicker()}, Row{"crop field", view.sidebar()->cropField(0)}}) {
            // Both groups, whichever window is active now: the tint must not fade when it is not.
            for (auto group : {QPalette::Active, QPalette::Inactive}) {
                const char* when = group == QPalette::Active ? " (active)" : " (inactive)";
                EXPECT_EQ(control->palette().color(group, QPalette::Highlight), EditorStyle::accent()) << name << when;
                EXPECT_EQ(control->palette().color(group, QPalette::HighlightedText), QColor(Qt::white))
                    << name << when;
            }
            if (auto* slider = qobject_cast<QSlider*>(control)) {
                EXPECT_NEAR(fillHue(*slider), hue(EditorStyle::accent()), kHueDegrees) << name;
            }
        }
    }
    QApplication::setPalette(desktop);
}

TEST(EditorSidebar, NoAudioSectionWithoutAudio) {
    ViewHarness h({nullSource(1, Kind::screen)});
    EditorSidebar sidebar(h.session, {});
    EXPECT_EQ(sidebar.audioSection(), nullptr);
    ViewHarness withAudio;
    EditorSidebar full(withAudio.session, {});
    ASSERT_NE(full.audioSection(), nullptr);
    EXPECT_EQ(full.audioSection()->findChildren<EditorAudioControl*>().size(), 2);
}

TEST(EditorSidebar, CropControlsShowAndWriteThePixelCrop) {
    ViewHarness h;
    EditorSidebar sidebar(h.session, {});
    EXPECT_EQ(sidebar.cropHeading()->text(), "—");
    EXPECT_TRUE(sidebar.cropDetails()->isHidden());
    sidebar.cropButton()->click();
    EXPECT_TRUE(h.session->cropEditing());
    EXPECT_FALSE(sidebar.cropDetails()->isHidden());
    EXPECT_EQ(sidebar.cropField(0)->text(), "1920");
    EXPECT_EQ(sidebar.cropField(1)->text(), "1080");
    EXPECT_EQ(sidebar.cropField(2)->text(), "0");
    EXPECT_EQ(sidebar.cropField(3)->text(), "0");
    EXPECT_EQ(sidebar.cropField(2)->toolTip(), "Maximum 0 px");

    sidebar.ratioPicker()->setCurrentIndex(3);
    emit sidebar.ratioPicker()->activated(3);  // 1:1
    EXPECT_EQ(sidebar.cropField(0)->text(), "1080");
    EXPECT_EQ(sidebar.cropField(1)->text(), "1080");
    EXPECT_EQ(sidebar.cropHeading()->text(), "1080 × 1080");
    EXPECT_EQ(sidebar.cropField(2)->toolTip(), "Maximum 840 px");
    EXPECT_EQ(sidebar.summaryValue(0)->text(), "1080 × 1080");

    sidebar.cropField(1)->setText("601");
    emit sidebar.cropField(1)->returnPressed();
    EXPECT_EQ(sidebar.cropField(0)->text(), "600") << "the ratio keeps the sides equal and even";

    sidebar.resetButton()->click();
    EXPECT_FALSE(h.session->crop().isCropped());
    EXPECT_FALSE(h.session->cropEditing());
    EXPECT_TRUE(sidebar.cropDetails()->isHidden());
    EXPECT_EQ(sidebar.ratioPicker()->currentIndex(), 0);
}

TEST(EditorSidebar, SlidersFormatAndExportButton) {
    ViewHarness h;
    bool closed = false;
    EditorSidebar sidebar(h.session, [&] { closed = true; });
    EXPECT_EQ(sidebar.sizeHeading()->text(), "1920 × 1080");
    sidebar.scaleSlider()->setValue(500);
    EXPECT_DOUBLE_EQ(h.session->scale(), 0.5);
    EXPECT_EQ(sidebar.sizeHeading()->text(), "960 × 540");
    sidebar.qualitySlider()->setValue(998);
    EXPECT_EQ(sidebar.qualityHeading()->text(), "100%");
    h.session->setQuality(0.1);
    EXPECT_EQ(sidebar.qualityHeading()->text(), "10%");
    EXPECT_EQ(sidebar.qualitySlider()->value(), 100);
    EXPECT_TRUE(sidebar.exportNote()->text().startsWith("Re-encode · "));

    int codecChanges = 0;
    QObject::connect(h.session.get(), &ExportEditorSession::codecChanged, [&] { ++codecChanges; });
    auto selected = h.session->codec() == RecordingVideoCodec::h264 ? 0 : 1;
    sidebar.formatButton(selected)->click();
    EXPECT_EQ(codecChanges, 0) << "pressing the selected format changes nothing";
    EXPECT_TRUE(sidebar.formatButton(selected)->isChecked());
    sidebar.formatButton(1 - selected)->click();
    EXPECT_EQ(codecChanges, 1);

    EXPECT_TRUE(sidebar.exportButton()->isEnabled());
    sidebar.exportButton()->click();
    EXPECT_TRUE(h.session->isExporting());
    EXPECT_FALSE(sidebar.exportButton()->isEnabled());
    h.saveHandler.succeed("/tmp/out/a.mp4");
    ASSERT_TRUE(runUntil([&] { return !h.session->isExporting(); }));
    EXPECT_TRUE(sidebar.exportButton()->isEnabled());

    h.session->clearSaved();
    sidebar.deleteButton()->click();
    EXPECT_TRUE(closed);
}

TEST(EditorSidebar, TheExportNoteIsCutToTwoLines) {
    QFont font;
    font.setPixelSize(12);
    font.setWeight(QFont::DemiBold);
    const QString reasons = QStringLiteral("Re-encode · camera, audio, quality, size, crop, format, speed, cuts");
    EXPECT_EQ(EditorSidebar::cutToTwoLines(QStringLiteral("Re-encode · cuts"), font, 251), "Re-encode · cuts");
    auto lines = EditorSidebar::cutToTwoLines(reasons + ", " + reasons, font, 251).split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[0].startsWith("Re-encode · camera"));
    EXPECT_TRUE(lines[1].endsWith(QChar(0x2026)));
    for (const auto& line : lines) EXPECT_LE(QFontMetricsF(font).horizontalAdvance(line), 251) << line.toStdString();
}

// 18 between the column's elements wherever they fit the window, less only as far as they need
// and never under 10: "Export…" stays inside the window and nothing above it is squeezed.
TEST(EditorSidebar, TheColumnKeepsItsSpacingWhereItFitsAndExportStaysInTheWindow) {
    struct Row {
        const char* name;
        bool crowded;  // crop details open and a two-line note, beside two audio sources
    };
    for (const Row row : {Row{"crop details closed", false}, Row{"crop details open, two-line note", true}}) {
        ViewHarness h;
        ASSERT_EQ(h.session->audioSources().size(), 2u);
        if (row.crowded) {
            h.session->setCropEditing(true);
            h.session->setQuality(0.5);
            h.session->setScale(0.5);
            h.session->seek(20);
            h.session->split();
            h.session->speed(2);
        }
        TrimPreviewWindowController window(h.session);
        window.show();
        QApplication::processEvents();
        auto* sidebar = window.findChild<EditorSidebar*>();
        ASSERT_NE(sidebar, nullptr);
        EXPECT_EQ(sidebar->cropDetails()->isVisible(), row.crowded) << row.name;
        EXPECT_EQ(sidebar->exportNote()->text().count(QLatin1Char('\n')), row.crowded ? 1 : 0) << row.name;
        const QRect exportButton(sidebar->exportButton()->mapTo(&window, QPoint(0, 0)), sidebar->exportButton()->size());
        EXPECT_TRUE(window.rect().contains(exportButton)) << row.name;

        auto* column = sidebar->layout();
        const int spacing = column->spacing();
        const int room = sidebar->height() - column->sizeHint().height();
        EXPECT_GE(room, 0) << row.name << ": every element gets the height it asks for";
        if (!row.crowded) {
            EXPECT_EQ(spacing, 18);
            continue;
        }
        int shown = 0;
        for (int i = 0; i < column->count(); ++i) shown += column->itemAt(i)->isEmpty() ? 0 : 1;
        EXPECT_GE(spacing, 10);
        EXPECT_LT(spacing, 18);
        EXPECT_LT(room, shown - 1) << "one point more between the elements would not fit";
        test::writeScreenshot(window, "trim_window_crowded_sidebar");
    }
}

TEST(EditorSidebar, DeleteDuringAnExportKeepsTheWindow) {
    ViewHarness h;
    TrimPreviewWindowController window(h.session);
    window.show();
    auto* sidebar = window.findChild<EditorSidebar*>();
    sidebar->exportButton()->click();
    ASSERT_TRUE(h.session->isExporting());
    window.closeWindow();  // what Delete calls
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(sidebar->isEnabled());
    EXPECT_TRUE(window.sheet()->isEnabled());
    h.session->cancelExport();
    ASSERT_TRUE(runUntil([&] { return !h.session->isExporting(); }));
    window.close();
}

TEST(EditorAudioControl, ShowsTheGainAndResetsOnDoubleClick) {
    EXPECT_EQ(EditorAudioControl::valueText(0.125f, false), "13%");
    EXPECT_EQ(EditorAudioControl::valueText(2.0f, false), "200%");
    EXPECT_EQ(EditorAudioControl::valueText(1.0f, true), "muted");
    ViewHarness h;
    EditorAudioControl control(h.session, nullSource(4, Kind::microphone));
    control.slider()->setValue(500);
    EXPECT_FLOAT_EQ(h.session->audioLevels().at(4).gain, 0.5f);
    EXPECT_EQ(control.valueLabel()->text(), "50%");
    QMouseEvent doubleClick(QEvent::MouseButtonDblClick, QPointF(5, 5), QPointF(5, 5), QPointF(5, 5), Qt::LeftButton,
                            Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(control.slider(), &doubleClick);
    EXPECT_FLOAT_EQ(h.session->audioLevels().at(4).gain, 1.0f);
    EXPECT_EQ(control.slider()->value(), 1000);
    control.muteButton()->click();
    EXPECT_EQ(control.valueLabel()->text(), "muted");
    EXPECT_EQ(control.muteButton()->accessibleName(), "Unmute");
}

namespace {

QPalette darkPalette() {
    QPalette palette;
    palette.setColor(QPalette::Window, QColor(37, 37, 39));
    palette.setColor(QPalette::WindowText, QColor(235, 235, 240));
    palette.setColor(QPalette::Base, QColor(44, 44, 46));
    palette.setColor(QPalette::Text, QColor(235, 235, 240));
    palette.setColor(QPalette::Button, QColor(58, 58, 60));
    palette.setColor(QPalette::ButtonText, QColor(235, 235, 240));
    return palette;
}

// A player that hands the view one still picture: a desktop with a window and the camera's bubble.
std::shared_ptr<platform::PreviewPlayer> stillPicturePlayer() {
    auto listener = std::make_shared<std::function<void()>>();
    auto size = std::make_shared<QSize>(533, 300);
    platform::PreviewPlayer::Operations operations;
    operations.prepare = [](const std::vector<platform::MediaTrack>&, double) {};
    operations.setAudioMix = [](const std::map<int, float>&) {};
    operations.seek = [listener](double) {
        if (*listener) (*listener)();
    };
    operations.setRate = [](double) {};
    operations.currentTime = [] { return 0.0; };
    operations.takeNewestPicture = [size]() -> std::optional<platform::PixelBuffer> {
        QImage image(*size, QImage::Format_ARGB32);
        image.fill(QColor(51, 102, 153));
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        QRectF window(image.width() * 0.12, image.height() * 0.14, image.width() * 0.5, image.height() * 0.55);
        painter.fillRect(window, QColor(236, 236, 236));
        painter.fillRect(QRectF(window.topLeft(), QSizeF(window.width(), 18)), QColor(60, 60, 70));
        painter.setBrush(QColor(220, 40, 220));
        painter.setPen(Qt::NoPen);
        painter.drawEllipse(QPointF(image.width() * 0.82, image.height() * 0.72), image.height() * 0.17, image.height() * 0.17);
        painter.end();
        auto picture = platform::PixelBuffer::create(image.width(), image.height());
        for (int y = 0; y < image.height(); ++y) std::memcpy(picture.row(y), image.constScanLine(y), image.width() * 4);
        return picture;
    };
    operations.setViewSize = [size](int width, int height) {
        if (width > 0 && height > 0) *size = QSize(width, height);
    };
    operations.setPictureListener = [listener](std::function<void()> value) { *listener = std::move(value); };
    return std::make_shared<platform::PreviewPlayer>(std::move(operations), false);
}

void shoot(const QPalette& palette, const QString& scheme) {
    QPalette previous = QApplication::palette();
    QApplication::setPalette(palette);
    ViewHarness h(fourTrackSources(), 60, stillPicturePlayer());
    h.session->start();
    ASSERT_TRUE(runUntil([&] { return h.session->waveforms().size() == 2 && h.session->thumbnails().size() == 2; }));
    TrimPreviewWindowController window(h.session);
    window.show();
    h.session->seek(12);
    QApplication::processEvents();
    test::writeScreenshot(window, "trim_window_collapsed_" + scheme);

    // Thumbnails and waveforms, a 2× and a removed section, a muted microphone.
    h.session->setSourcesExpanded(true);
    h.session->seek(20);
    h.session->split();
    h.session->speed(2);
    h.session->seek(45);
    h.session->split();
    h.session->toggleRemoval();
    h.session->toggleMute(4);
    h.session->seek(30);
    QApplication::processEvents();
    test::writeScreenshot(window, "trim_window_lanes_" + scheme);
    // Four lanes take room from the picture: every row of the left column keeps its place.
    auto* view = window.findChild<ExportEditorView*>();
    EXPECT_LE(view->leftColumn()->layout()->sizeHint().height(), view->height());
    EXPECT_LT(view->preview()->height(), 300);

    h.session->setCropEditing(true);
    auto crop = h.session->crop();
    crop.setRatio(RecordingCrop::Ratio::classic, h.session->frameSize());
    h.session->setCrop(crop);
    QApplication::processEvents();
    test::writeScreenshot(window, "trim_window_crop_" + scheme);

    h.session->exportRecording();
    ASSERT_TRUE(runUntil([&] { return !h.saveHandler.progressHandlers.empty(); }));
    h.saveHandler.progressHandlers[0]({0.42, 1, 2, 12.4});
    ASSERT_TRUE(runUntil([&] { return h.session->progress().fraction > 0.4; }));
    QApplication::processEvents();
    test::writeScreenshot(window, "trim_window_exporting_" + scheme);
    h.saveHandler.succeed("/tmp/out/Recording 2026-12-07.mp4", 48200000);
    ASSERT_TRUE(runUntil([&] { return h.session->saved().has_value(); }));
    QApplication::processEvents();
    test::writeScreenshot(window, "trim_window_finished_" + scheme);
    h.session->clearSaved();
    window.close();
    QApplication::setPalette(previous);
}

}  // namespace

TEST(ExportEditorViewScreenshots, LightAndDark) {
    QApplication::setStyle(QStyleFactory::create("Fusion"));
    QPalette light = QApplication::style()->standardPalette();
    shoot(light, "light");
    shoot(darkPalette(), "dark");
}
