#include <gtest/gtest.h>

#include "selection/selection_overlay_view_model.hpp"

using namespace yux;

namespace {

const DisplayBounds kMain{DisplayID{"1"}, 0, 0, 1920, 1080, 3840, 2160};
const DisplayBounds kSide{DisplayID{"2"}, 1920, 0, 1280, 1024};

DesktopApplicationWindow window(int id, std::string bundle, std::string name, CaptureRect frame) {
    return {id, std::move(bundle), std::move(name), frame};
}

CapturePreference areaPreference(std::string display, CaptureRect rect) {
    CapturePreference preference;
    preference.lastArea = SelectedCaptureArea{DisplayID{std::move(display)}, rect};
    return preference;
}

SelectionOverlayViewModel modelOf(CapturePreference preference, std::vector<DesktopApplicationWindow> windows = {},
                                  std::vector<DisplayBounds> displays = {kMain, kSide}) {
    return SelectionOverlayViewModel(std::move(displays), std::move(preference),
                                     DesktopApplicationCatalog::create_null(std::move(windows)));
}

}  // namespace

TEST(SelectionOverlayViewModel, AreaOnAnAttachedDisplayIsRestoredThere) {
    auto model = modelOf(areaPreference("2", {2000, 100, 300, 200}));
    EXPECT_EQ(model.display(), kSide);
    EXPECT_EQ(model.previewRect(), (Rect{2000, 100, 300, 200}));
    model.setMode(CaptureMode::screen);
    EXPECT_EQ(model.display(), kMain);
}

TEST(SelectionOverlayViewModel, AreaOfADetachedDisplayFallsBackToTheMainDisplay) {
    auto model = modelOf(areaPreference("9", {100, 100, 300, 200}));
    EXPECT_EQ(model.display(), kMain);
    EXPECT_EQ(model.rect(), (Rect{100, 100, 300, 200}));
    const auto outcome = model.confirmOutcome();
    const auto* confirmed = std::get_if<ScreenSelectionOutcome::Confirmed>(&outcome.value);
    ASSERT_NE(confirmed, nullptr);
    EXPECT_EQ(confirmed->selection.target.asArea()->displayID, DisplayID{"1"});
}

TEST(SelectionOverlayViewModel, ChooseRatio) {
    // From screen: area mode, largest 4:3 centred.
    CapturePreference screen;
    screen.mode = CaptureMode::screen;
    auto model = modelOf(screen);
    int displayChanges = 0;
    model.onDisplayChanged = [&](const DisplayBounds&) { ++displayChanges; };
    model.chooseRatio(CaptureRatio::classic);
    EXPECT_EQ(model.mode(), CaptureMode::area);
    EXPECT_EQ(model.rect(), (Rect{240, 0, 1440, 1080}));
    EXPECT_EQ(model.capturePreference().lastArea->rect, (CaptureRect{240, 0, 1440, 1080}));
    EXPECT_EQ(displayChanges, 0);

    // 16:9 keeps the area of a 400 × 400 square, centred, then pushed inside.
    auto square = modelOf(areaPreference("1", {1700, 100, 400, 400}));
    int areaChanges = 0;
    square.onCaptureAreaChanged = [&] { ++areaChanges; };
    square.chooseRatio(CaptureRatio::landscape);
    EXPECT_NEAR(square.rect()->width, 533.333, 1e-3);
    EXPECT_NEAR(square.rect()->height, 300, 1e-9);
    EXPECT_NEAR(square.rect()->maxX(), 1920, 1e-9);
    EXPECT_NEAR(square.rect()->midY(), 300, 1e-9);
    EXPECT_EQ(areaChanges, 1);

    // Free: the part on the display, shape kept.
    auto outside = modelOf(areaPreference("1", {1800, 1000, 400, 400}));
    outside.chooseRatio(CaptureRatio::free);
    EXPECT_EQ(outside.rect(), (Rect{1800, 1000, 120, 80}));

    // App mode: nothing changes.
    CapturePreference app;
    app.mode = CaptureMode::app;
    auto appModel = modelOf(app);
    appModel.chooseRatio(CaptureRatio::classic);
    EXPECT_EQ(appModel.rect(), std::nullopt);
    EXPECT_EQ(appModel.mode(), CaptureMode::app);
}

TEST(SelectionOverlayViewModel, FreeOverTheScreenGoesBackToTheStoredArea) {
    struct Case {
        const char* name;
        std::optional<CaptureRect> stored;
        Rect expected;
    };
    const Case cases[] = {
        {"stored area", CaptureRect{300, 200, 500, 300}, {300, 200, 500, 300}},
        {"stored area partly off the display", CaptureRect{1800, 1000, 400, 400}, {1800, 1000, 120, 80}},
        {"nothing stored", std::nullopt, {0, 0, 1920, 1080}},
    };
    for (const auto& c : cases) {
        CapturePreference preference = c.stored ? areaPreference("1", *c.stored) : CapturePreference::initial();
        preference.mode = CaptureMode::screen;
        auto model = modelOf(preference);
        model.chooseRatio(CaptureRatio::free);
        EXPECT_EQ(model.mode(), CaptureMode::area) << c.name;
        EXPECT_EQ(model.rect(), c.expected) << c.name;
        EXPECT_EQ(model.capturePreference().lastArea->rect,
                  (CaptureRect{c.expected.x, c.expected.y, c.expected.width, c.expected.height}))
            << c.name;
    }
}

TEST(SelectionOverlayViewModel, ConfirmOutcomeFollowsTheMode) {
    auto empty = modelOf(CapturePreference::initial());
    EXPECT_EQ(empty.confirmOutcome(), ScreenSelectionOutcome::cancelled(CapturePreference::initial()));
    EXPECT_FALSE(empty.canConfirm());

    CapturePreference app;
    app.mode = CaptureMode::app;
    app.lastApplication = "Gedit";
    // Chosen, but its only window is on the other display.
    auto elsewhere = modelOf(app, {window(5, "Gedit", "Text Editor", {2000, 0, 300, 300})});
    elsewhere.refreshWindows();
    EXPECT_TRUE(elsewhere.windows().empty());
    EXPECT_EQ(elsewhere.confirmOutcome(), ScreenSelectionOutcome::cancelled(app));

    auto here = modelOf(app, {window(5, "Gedit", "Text Editor", {10, 10, 300, 300}),
                              window(6, "Firefox", "Firefox", {20, 20, 300, 300}),
                              window(7, "Gedit", "Text Editor", {400, 50, 100, 100})});
    here.refreshWindows();
    EXPECT_EQ(here.previewRect(), (Rect{10, 10, 490, 300}));
    EXPECT_EQ(here.captureRects().size(), 2u);
    EXPECT_EQ(here.confirmOutcome(),
              ScreenSelectionOutcome::confirmed({CaptureTarget::application("Gedit", DisplayID{"1"}), app}));

    CapturePreference screen;
    screen.mode = CaptureMode::screen;
    auto onSide = modelOf(screen);
    EXPECT_EQ(onSide.confirmOutcome(), ScreenSelectionOutcome::confirmed({CaptureTarget::fullMainDisplay(), screen}));
}

TEST(SelectionOverlayViewModel, Labels) {
    auto none = modelOf(CapturePreference::initial());
    EXPECT_EQ(none.targetLabel(), "Drag an area");
    none.setRect(Rect{0, 0, 301, 201});
    EXPECT_EQ(none.targetLabel(), "602 \u00d7 402");
    none.setRect(Rect{0, 0, 300.6, 200.2});
    EXPECT_EQ(none.targetLabel(), "600 \u00d7 400");
    none.setMode(CaptureMode::screen);
    EXPECT_EQ(none.targetLabel(), "3840 \u00d7 2160");

    CapturePreference app;
    app.mode = CaptureMode::app;
    auto apps = modelOf(app, {window(5, "Gedit", "Text Editor", {10, 10, 300, 300}),
                              window(6, "Gedit", "Text Editor", {20, 20, 300, 300}),
                              window(7, "Gedit", "Text Editor", {30, 30, 300, 300}),
                              window(8, "Firefox", "Firefox", {30, 30, 300, 300})});
    apps.refreshWindows();
    EXPECT_EQ(apps.targetLabel(), "Choose an app");
    apps.selectApplication("Firefox");
    EXPECT_EQ(apps.targetLabel(), "Firefox \u00b7 1 window");
    apps.selectApplication("Gedit");
    EXPECT_EQ(apps.targetLabel(), "Text Editor \u00b7 3 windows");
}

TEST(SelectionOverlayViewModel, SettingTheAreaRecordsItUnderTheAreaDisplayAndMode) {
    auto model = modelOf(areaPreference("2", {2000, 100, 300, 200}));
    int changes = 0;
    QObject::connect(&model, &SelectionOverlayViewModel::changed, [&] { ++changes; });
    model.setRect(Rect{2100, 200, 50, 60});
    EXPECT_EQ(model.capturePreference().lastArea,
              (SelectedCaptureArea{DisplayID{"2"}, CaptureRect{2100, 200, 50, 60}}));
    EXPECT_GE(changes, 1);
}
