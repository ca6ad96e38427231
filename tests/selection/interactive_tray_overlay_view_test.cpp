#include <gtest/gtest.h>

#include <algorithm>

#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>

#include "selection/interactive_tray_overlay_view.hpp"
#include "selection/recording_view_test_support.hpp"
#include "selection/selection_overlay_view.hpp"
#include "support/screenshot_writer.hpp"

using namespace yux;
using yux::testing::areaModel;
using yux::testing::rendered;

namespace {

using Clock = std::chrono::steady_clock;

std::unique_ptr<InteractiveTrayOverlayView> tray(SelectionOverlayViewModel* model, Size size, bool stopping,
                                                 double elapsedSeconds, std::function<void()> onStop = {}) {
    const auto start = Clock::time_point(std::chrono::seconds(1000));
    const auto now = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(elapsedSeconds));
    return std::make_unique<InteractiveTrayOverlayView>(model, start, size, stopping, std::move(onStop),
                                                        OverlayPaintMode::translucent, [now] { return now; });
}

}  // namespace

TEST(InteractiveTrayOverlayView, OneRowAtHeight40AndTwoGroupsWhenTaller) {
    auto model = areaModel({100, 100, 300, 200});
    auto row = tray(model.get(), {400, 40}, false, 61);
    const TrayLayout one = row->layout();
    EXPECT_DOUBLE_EQ(one.time.center().y(), one.stop.center().y());
    EXPECT_FALSE(one.separator.isEmpty());
    EXPECT_LT(one.time.right(), one.separator.left());
    EXPECT_LT(one.separator.right(), one.label.left());
    EXPECT_LE(one.label.right(), one.stop.left());
    EXPECT_LE(one.stop.right(), 400 - 6 + 0.01);
    EXPECT_EQ(row->elapsedText(), "01:01");

    auto stacked = tray(model.get(), {360, 76}, false, 0.9);
    const TrayLayout two = stacked->layout();
    EXPECT_LT(two.time.center().y() + 10, two.stop.center().y());
    EXPECT_DOUBLE_EQ(two.stop.top() - two.time.bottom(), 4);  // the time's row is as high as its text
    // A short label keeps Stop beside it as drawn: the pill's red starts a little after the
    // label's last light pixel, not over the text and not far off. The row centred as a whole.
    const QImage picture = rendered(*stacked);
    const int stopRow = static_cast<int>(two.stop.center().y());
    int pillLeft = picture.width();
    int inkRight = -1;
    for (int y = stopRow - 5; y <= stopRow + 5; ++y)
        for (int x = 0; x < picture.width(); ++x)
            if (const QColor c = picture.pixelColor(x, y); c.red() > 200 && c.green() < 100) pillLeft = std::min(pillLeft, x);
    for (int y = stopRow - 5; y <= stopRow + 5; ++y)
        for (int x = 0; x < pillLeft; ++x)
            if (const QColor c = picture.pixelColor(x, y); std::min({c.red(), c.green(), c.blue()}) > 160)
                inkRight = std::max(inkRight, x);
    ASSERT_LT(pillLeft, picture.width()) << "no Stop pill in its row";
    ASSERT_GE(inkRight, 0) << "no label drawn before Stop";
    EXPECT_GT(pillLeft - inkRight, 4);
    EXPECT_LT(pillLeft - inkRight, 20);
    EXPECT_NEAR(two.inputs.left() - 6, 360 - 6 - two.stop.right(), 0.01);
    EXPECT_TRUE(two.separator.isEmpty());
    EXPECT_EQ(stacked->elapsedText(), "00:00");
    yux::test::writeScreenshot(*stacked, "tray-two-rows");
    // The time is redrawn as each whole second since the start comes round.
    EXPECT_NEAR(stacked->findChild<QTimer*>()->interval(), 100, 10);
    EXPECT_NEAR(row->findChild<QTimer*>()->interval(), 1000, 10);
}

// Held, a pill looks pressed only while the pointer is over it, and a release off it clicks nothing.
TEST(InteractiveTrayOverlayView, APillHeldAndMovedOffLooksAndActsUnpressed) {
    auto model = areaModel({100, 100, 300, 200});
    int clicks = 0;
    auto recording = tray(model.get(), {400, 40}, false, 5, [&] { ++clicks; });
    PillButtonWidget record(PillButton{"Record", OverlayColours::record(), OverlayColours::recordInk(), false, true,
                                       false, "\u21a9"},
                            [&] { ++clicks; }, nullptr);
    const QPointF stopAt(recording->layout().stop.left() + 3, 20);
    struct Row {
        const char* name;
        QWidget* widget;
        QPointF inside;
        std::function<bool()> looksPressed;
    };
    const Row rows[] = {
        {"Stop", recording.get(), stopAt,
         [&] { return rendered(*recording).pixelColor(stopAt.toPoint()).red() < 200; }},
        {"Record", &record, QPointF(3, 14), [&] { return record.look().pressed; }},
    };
    for (const Row& row : rows) {
        const auto send = [&](QEvent::Type type, QPointF at, Qt::MouseButton button, Qt::MouseButtons held) {
            QMouseEvent event(type, at, row.widget->mapToGlobal(at), button, held, Qt::NoModifier);
            QCoreApplication::sendEvent(row.widget, &event);
        };
        const QPointF off = row.inside + QPointF(0, 60);
        clicks = 0;
        send(QEvent::MouseButtonPress, row.inside, Qt::LeftButton, Qt::LeftButton);
        EXPECT_TRUE(row.looksPressed()) << row.name;
        send(QEvent::MouseMove, off, Qt::NoButton, Qt::LeftButton);
        EXPECT_FALSE(row.looksPressed()) << row.name;
        send(QEvent::MouseMove, row.inside, Qt::NoButton, Qt::LeftButton);
        EXPECT_TRUE(row.looksPressed()) << row.name;
        send(QEvent::MouseMove, off, Qt::NoButton, Qt::LeftButton);
        send(QEvent::MouseButtonRelease, off, Qt::LeftButton, Qt::NoButton);
        EXPECT_EQ(clicks, 0) << row.name;
        send(QEvent::MouseButtonPress, row.inside, Qt::LeftButton, Qt::LeftButton);
        send(QEvent::MouseButtonRelease, row.inside, Qt::LeftButton, Qt::NoButton);
        EXPECT_EQ(clicks, 1) << row.name;
        EXPECT_FALSE(row.looksPressed()) << row.name;
    }
}

TEST(InteractiveTrayOverlayView, StopReportsAndStoppingShowsOnlyFinishing) {
    auto model = areaModel({100, 100, 300, 200});
    int stops = 0;
    auto recording = tray(model.get(), {400, 40}, false, 5, [&] { ++stops; });
    const QPointF stop = recording->layout().stop.center();
    QMouseEvent press(QEvent::MouseButtonPress, stop, stop, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, stop, stop, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(recording.get(), &press);
    QCoreApplication::sendEvent(recording.get(), &release);
    EXPECT_EQ(stops, 1);
    // The stop pill is painted red.
    const QImage picture = rendered(*recording);
    const QColor pill = picture.pixelColor(static_cast<int>(recording->layout().stop.left()) + 3, 20);
    EXPECT_GT(pill.red(), 200);
    EXPECT_LT(pill.green(), 100);

    auto stopping = tray(model.get(), {150, 40}, true, 5, [&] { ++stops; });
    const TrayLayout l = stopping->layout();
    EXPECT_TRUE(l.stop.isEmpty());
    EXPECT_FALSE(l.finishing.isEmpty());
    QCoreApplication::sendEvent(stopping.get(), &press);
    QCoreApplication::sendEvent(stopping.get(), &release);
    EXPECT_EQ(stops, 1);
    EXPECT_DOUBLE_EQ(l.spinner.center().y(), l.finishing.center().y());
    // A taller stopping tray puts the spinner over the text, both centred.
    auto tall = tray(model.get(), {142, 76}, true, 5);
    const TrayLayout stacked = tall->layout();
    EXPECT_LT(stacked.spinner.bottom(), stacked.finishing.top());
    EXPECT_DOUBLE_EQ(stacked.spinner.center().x(), 71);
    EXPECT_DOUBLE_EQ(stacked.finishing.center().x(), 71);
    // The spinner reads on the dark panel: light spokes.
    const QImage spinning = rendered(*tall);
    int lightest = 0;
    for (int y = static_cast<int>(stacked.spinner.top()); y < static_cast<int>(stacked.spinner.bottom()); ++y)
        for (int x = static_cast<int>(stacked.spinner.left()); x < static_cast<int>(stacked.spinner.right()); ++x)
            lightest = std::max(lightest, qGray(spinning.pixel(x, y)));
    EXPECT_GT(lightest, 180);
    yux::test::writeScreenshot(*tall, "tray-stopping-two-rows");
}
