#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QToolButton>

#include "editor/editor_source_headers.hpp"
#include "null_editor.hpp"

using namespace yux;
using namespace yux::testing;
using Kind = RecordingSourceKind;

namespace {

void click(QWidget* target, QPoint at) {
    for (auto type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
        QMouseEvent event(type, QPointF(at), QPointF(target->mapToGlobal(at)), Qt::LeftButton,
                          type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(target, &event);
    }
}

QString accessible(QWidget* widget, QAccessible::Text text) {
    auto* face = QAccessible::queryAccessibleInterface(widget);
    return face ? face->text(text) : QString();
}

QStringList chipTips(QWidget* row) {
    QStringList tips;
    for (auto* child : row->findChildren<QWidget*>())
        if (!child->toolTip().isEmpty()) tips << child->toolTip();
    return tips;
}

}  // namespace

TEST(EditorSourceHeaders, TheCollapsedRowNamesEveryTrackAndAClickOnItExpands) {
    struct Case {
        std::vector<RecordingSource> sources;
        QString name;
        QStringList chips;
    };
    const std::vector<Case> cases = {
        {fourTrackSources(), "Recording · 4 tracks · expand", {"Screen", "Camera", "System audio", "Microphone"}},
        {{nullSource(1, Kind::screen)}, "Recording · 1 tracks · expand", {"Screen"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        NullEditor e(c.sources);
        EditorSourceHeaders headers(e.session);
        headers.show();
        auto* row = headers.collapsedRow();
        ASSERT_NE(row, nullptr);
        EXPECT_EQ(row->geometry(), QRect(24, 18, 160, 72));
        EXPECT_EQ(accessible(row, QAccessible::Name), c.name);
        EXPECT_EQ(chipTips(row), c.chips);
        // A click on a chip reaches the row.
        QWidget* chip = row;
        for (auto* child : row->findChildren<QWidget*>())
            if (child->toolTip() == c.chips.front()) chip = child;
        click(chip, QPoint(chip->width() / 2, chip->height() / 2));
        EXPECT_TRUE(e.session->sourcesExpanded());
        EXPECT_EQ(headers.collapsedRow(), nullptr);
    }
}

TEST(EditorSourceHeaders, ExpandedRowsStandLevelWithTheirLanes) {
    NullEditor e({nullSource(1, Kind::screen), nullSource(2, Kind::systemAudio), nullSource(3, Kind::microphone)});
    e.session->setSourcesExpanded(true);
    EditorSourceHeaders headers(e.session);
    headers.show();
    EXPECT_EQ(headers.height(), static_cast<int>(e.session->timelineHeight()));
    const std::vector<std::pair<QRect, bool>> rows = {
        {{24, 18, 160, 44}, false}, {{24, 66, 160, 52}, true}, {{24, 122, 160, 52}, true}};
    ASSERT_EQ(headers.sourceRows().size(), rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(headers.sourceRows()[i]->geometry(), rows[i].first);
        EXPECT_EQ(headers.sourceRows()[i]->findChild<EditorAudioControl*>() != nullptr, rows[i].second);
    }
}

TEST(EditorSourceHeaders, TheStripSaysWhatAPressWillDo) {
    NullEditor e;
    EditorSourceHeaders headers(e.session);
    headers.show();
    auto* strip = headers.laneModeStrip();
    EXPECT_EQ(strip->geometry(), QRect(0, 18, 18, 72));
    struct Step {
        bool expanded;
        QString name;
        QString value;
    };
    for (const auto& step : {Step{false, "Expand source lanes", "Collapsed"}, Step{true, "Collapse source lanes", "Expanded"},
                             Step{false, "Expand source lanes", "Collapsed"}}) {
        EXPECT_EQ(e.session->sourcesExpanded(), step.expanded);
        EXPECT_EQ(accessible(strip, QAccessible::Name), step.name);
        EXPECT_EQ(accessible(strip, QAccessible::Value), step.value);
        click(strip, QPoint(9, strip->height() - 4));  // anywhere along it
    }
}

TEST(EditorAudioControl, TheMuteButtonShowsAStruckSpeakerWhileMuted) {
    NullEditor e;
    EditorAudioControl control(e.session, nullSource(3, Kind::systemAudio));
    EXPECT_EQ(control.muteSymbol(), platform::Symbol::speakerWave2);
    EXPECT_EQ(control.muteButton()->accessibleName(), "Mute System audio");
    EXPECT_TRUE(control.muteButton()->text().isEmpty());
    e.session->toggleMute(3);
    EXPECT_EQ(control.muteSymbol(), platform::Symbol::speakerSlash);
    EXPECT_EQ(control.muteButton()->accessibleName(), "Unmute");
    control.muteButton()->click();
    EXPECT_EQ(control.muteSymbol(), platform::Symbol::speakerWave2);

    // A plain button: no raised panel under the pointer.
    auto* mute = control.muteButton();
    control.show();
    QApplication::processEvents();
    QImage resting = mute->grab().toImage();
    mute->setAttribute(Qt::WA_UnderMouse, true);
    EXPECT_EQ(mute->grab().toImage(), resting);
}
