#include "shell/updates_section.hpp"

#include <gtest/gtest.h>

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/desktop/view_style.hpp"
#include "shell/app_icon.hpp"
#include "shell/fake_menu_bar_coordinator.hpp"
#include "shell/launch_at_startup_row.hpp"
#include "shell/menu_bar_panel.hpp"
#include "platform/desktop/file_contents.hpp"
#include "support/screenshot_writer.hpp"
#include "support/temporary_directory.hpp"

using namespace yux;
using platform::AppUpdateController;
using Row = UpdatesSection::StatusRow;

namespace {

constexpr const char* kKey = "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8=";

// An updater the test drives by hand: it calls the controller back directly.
class HandUpdater : public platform::Updater {
public:
    explicit HandUpdater(platform::UpdaterDelegate& delegate) : delegate(delegate) {}
    void startUpdater() override { setCanCheck(true); }
    void checkForUpdates() override { ++checks; }
    void setCanCheckForUpdates(bool value) { setCanCheck(value); }
    void setLast(QDateTime date) { setLastCheck(std::move(date)); }

    platform::UpdaterDelegate& delegate;
    int checks = 0;
};

struct Driven {
    HandUpdater* updater = nullptr;
    std::unique_ptr<AppUpdateController> controller;

    explicit Driven(bool configured = true) {
        platform::BundleInfo::Values values{{platform::BundleInfo::kPublicEDKeyKey, QString::fromLatin1(kKey)}};
        values[platform::BundleInfo::kFeedURLKey] =
            configured ? QStringLiteral("https://updates.example.org/feed.xml") : QStringLiteral("ftp://x/y");
        controller = std::make_unique<AppUpdateController>(
            platform::BundleInfo::create_null(values),
            [this](const platform::BundleInfo&, platform::UpdaterDelegate& delegate) {
                auto made = std::make_unique<HandUpdater>(delegate);
                updater = made.get();
                return made;
            },
            platform::SystemLog::create_null());
    }
    platform::UpdateItem item(std::string version) {
        platform::UpdateItem made;
        made.version = made.displayVersionString = std::move(version);
        return made;
    }
};

QStringList texts(const QWidget& widget) {
    QStringList result;
    for (const QLabel* label : widget.findChildren<QLabel*>())
        if (!label->isHidden() && !label->text().isEmpty()) result << label->text();
    return result;
}

}  // namespace

TEST(UpdatesSection, BeforeStartNothingIsCheckedAndTheSwitchSnapsBack) {
    Driven driven;
    UpdatesSection section(*driven.controller);
    EXPECT_EQ(section.statusRow(), Row::noCheckYet);
    EXPECT_EQ(section.statusText(), "Not checked yet");
    EXPECT_TRUE(section.notificationsSwitch()->isEnabled());
    EXPECT_FALSE(section.notificationsSwitch()->isChecked());
    section.notificationsSwitch()->click();
    EXPECT_FALSE(section.notificationsSwitch()->isChecked());
    ASSERT_NE(section.checkButton(), nullptr);
    EXPECT_FALSE(section.checkButton()->isEnabled());
    EXPECT_TRUE(texts(section).contains("Checked daily. You choose when to install."));
}

TEST(UpdatesSection, ANotConfiguredBuildShowsWhyAndDisablesTheControls) {
    Driven driven(false);
    driven.controller->start();
    UpdatesSection section(*driven.controller);
    EXPECT_EQ(section.statusRow(), Row::unavailable);
    EXPECT_EQ(section.statusText(),
              "Automatic updates are not configured for this build. Download releases from the Product Page.");
    auto* message = section.findChild<StatusMessage*>();
    ASSERT_NE(message, nullptr);
    EXPECT_FALSE(message->isError());
    EXPECT_FALSE(section.notificationsSwitch()->isEnabled());
    EXPECT_FALSE(section.checkButton()->isEnabled());
}

TEST(UpdatesSection, StatusRowsInTheirOrderWithTheirTexts) {
    Driven driven;
    driven.controller->start();
    UpdatesSection section(*driven.controller);
    auto& updater = *driven.updater;

    updater.setLast(QDateTime(QDate(2026, 3, 4), QTime(9, 30), Qt::LocalTime));
    EXPECT_EQ(section.statusRow(), Row::lastCheck);
    EXPECT_TRUE(section.statusText().startsWith("Last checked "));
    EXPECT_TRUE(section.statusText().contains(QLocale().monthName(3, QLocale::ShortFormat)));

    section.checkButton()->click();
    EXPECT_EQ(updater.checks, 1);
    EXPECT_EQ(section.statusRow(), Row::checking);
    EXPECT_EQ(section.statusText(), "Checking for updates…");

    updater.delegate.didAbortWithError({"Network", 3, "Host not found"});
    EXPECT_EQ(section.statusRow(), Row::failed);
    EXPECT_EQ(section.statusText(), "Could not check for updates. Try again.");

    updater.delegate.didNotFindUpdate();
    updater.delegate.didAbortWithError({platform::kYuxUpdaterErrorDomain, platform::kNoUpdateErrorCode, "none"});
    EXPECT_EQ(section.statusRow(), Row::upToDate);  // not the date
    EXPECT_EQ(section.statusText(), "Up to date");

    updater.delegate.didFindValidUpdate(driven.item("2.1"));
    EXPECT_EQ(section.statusRow(), Row::lastCheck);  // found, but not shown yet
    updater.delegate.willHandleShowingUpdate(false, driven.item("2.1"));
    EXPECT_EQ(section.statusRow(), Row::updateWaiting);
    EXPECT_EQ(section.statusText(), "Version 2.1 available");
    EXPECT_EQ(section.checkButton(), nullptr);
    ASSERT_NE(section.installButton(), nullptr);
    // The prominent button: filled with the accent.
    section.installButton()->resize(section.installButton()->sizeHint());
    const QImage face = section.installButton()->grab().toImage();
    EXPECT_EQ(face.pixelColor(face.width() / 2, 2).rgb(), section.palette().color(QPalette::Highlight).rgb());
    updater.setCanCheckForUpdates(false);
    EXPECT_FALSE(section.installButton()->isEnabled());
    updater.setCanCheckForUpdates(true);
    section.installButton()->click();
    EXPECT_EQ(updater.checks, 2);

    updater.delegate.willHandleShowingUpdate(false, driven.item(""));
    updater.delegate.willFinishUpdateSession();
    EXPECT_EQ(section.statusRow(), Row::checking);
    ASSERT_NE(section.checkButton(), nullptr);
}

TEST(UpdatesSection, AWaitingUpdateWithoutVersionAndTheSwitchFollowingTheUpdater) {
    Driven driven;
    driven.controller->start();
    UpdatesSection section(*driven.controller);
    platform::UpdateItem item;
    driven.updater->delegate.willHandleShowingUpdate(true, item);
    // An item without a display text reads as an unknown version.
    EXPECT_EQ(section.statusRow(), Row::updateWaiting);
    EXPECT_EQ(section.statusText(), "New version available");

    section.notificationsSwitch()->click();
    EXPECT_TRUE(driven.controller->notificationsEnabled());
    EXPECT_TRUE(section.notificationsSwitch()->isChecked());
}

TEST(UpdateBadge, ShowsOnlyWhileAnUpdateWaitsAndTakesNoSpaceOtherwise) {
    Driven driven;
    driven.controller->start();
    QWidget row;
    auto* layout = new QHBoxLayout(&row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new QLabel("About"));
    const int without = layout->sizeHint().width();
    auto* badge = new UpdateBadge(*driven.controller);
    layout->addWidget(badge);
    row.show();
    EXPECT_FALSE(badge->isVisible());
    EXPECT_EQ(layout->sizeHint().width(), without);

    driven.updater->delegate.willHandleShowingUpdate(true, driven.item("3.0"));
    EXPECT_TRUE(badge->isVisible());
    EXPECT_EQ(badge->size(), QSize(7, 7));
    EXPECT_EQ(badge->accessibleName(), "New version available");
    driven.updater->delegate.willFinishUpdateSession();
    EXPECT_FALSE(badge->isVisible());

    // In the panel's About row the dot stands apart from the chevron, as far from it as the
    // row's padding and a stack's spacing, and as far from the edge as the padding.
    yux::testing::FakeMenuBarCoordinator coordinator;
    MenuBarPanel::Services services;
    services.updates = driven.controller.get();
    MenuBarPanel panel(coordinator, coordinator, services);
    panel.show();
    QWidget* about = nullptr;
    for (auto* button : panel.findChildren<QAbstractButton*>())
        if (button->accessibleName() == "About") about = button;
    ASSERT_NE(about, nullptr);
    SymbolLabel* chevron = about->findChildren<SymbolLabel*>().back();
    ASSERT_EQ(chevron->symbol(), platform::Symbol::chevronRight);
    auto* dot = about->findChild<UpdateBadge*>();
    const auto right = [&](const QWidget* widget) { return widget->mapTo(about, QPoint(widget->width(), 0)).x(); };
    EXPECT_FALSE(dot->isVisibleTo(&panel));
    EXPECT_EQ(about->width() - right(chevron), InspectorStyle::padding);
    driven.updater->delegate.willHandleShowingUpdate(true, driven.item("3.0"));
    QApplication::processEvents();
    ASSERT_TRUE(dot->isVisibleTo(&panel));
    EXPECT_EQ(about->width() - right(dot), InspectorStyle::padding);
    EXPECT_EQ(dot->mapTo(about, QPoint()).x() - right(chevron), InspectorStyle::padding + 8);
    panel.resize(panel.sizeHint());
    yux::test::writeScreenshot(panel, "panel_update_waiting");
}

TEST(AboutPageWithUpdates, TheHeadingAndSectionOnlyWithAController) {
    const InspectorProduct product{"Yux", "1.0", "D", QUrl("https://d.example"), QUrl("https://p.example"), {}};
    std::unique_ptr<AboutInspectorView> plain(makeAboutInspectorView(product, InspectorPresentation::embedded(), nullptr));
    EXPECT_FALSE(texts(*plain).contains("UPDATES"));
    EXPECT_EQ(plain->findChild<UpdatesSection*>(), nullptr);

    Driven driven;
    std::unique_ptr<AboutInspectorView> page(
        makeAboutInspectorView(product, InspectorPresentation::embedded(), driven.controller.get()));
    EXPECT_TRUE(texts(*page).contains("UPDATES"));
    EXPECT_NE(page->findChild<UpdatesSection*>(), nullptr);

    // Heading and section are two more rows of the page, as far apart as its header and divider.
    std::unique_ptr<AboutInspectorView> pushed(makeAboutInspectorView(
        product, InspectorPresentation::trayDrillIn([] {}), driven.controller.get()));
    pushed->show();
    const auto gap = [&](const char* upperName, const QWidget* lower) {
        const QWidget* upper = pushed->findChild<QWidget*>(upperName);
        return lower->mapTo(pushed.get(), QPoint()).y() - upper->mapTo(pushed.get(), QPoint()).y() - upper->height();
    };
    EXPECT_EQ(gap("updatesHeading", pushed->findChild<UpdatesSection*>()),
              gap("inspectorHeader", pushed->findChild<QWidget*>("divider")));
}

TEST(LaunchAtStartupRow, LooksFollowTheEntryReadAgainWhenTheRowShows) {
    platform::AutostartEntry::NullConfiguration configuration{.status = platform::AutostartEntry::Status::enabled};
    auto entry = platform::AutostartEntry::create_null(configuration);
    platform::LaunchAtStartup login(entry, platform::SystemLog::create_null());
    LaunchAtStartupRow row(login);
    // Not yet on screen: the switched-off look.
    EXPECT_EQ(row.cardRow()->borderColour(), QColor(Qt::transparent));
    auto* symbol = row.cardRow()->findChild<SymbolLabel*>();
    EXPECT_EQ(symbol->symbol(), platform::Symbol::circle);
    EXPECT_TRUE(texts(row).contains("Launch at Startup"));

    row.show();
    EXPECT_TRUE(login.enabled());
    symbol = row.cardRow()->findChild<SymbolLabel*>();
    EXPECT_EQ(symbol->symbol(), platform::Symbol::checkmarkCircleFill);
    EXPECT_EQ(symbol->colour(), platform::systemGreen());
    EXPECT_NE(row.cardRow()->borderColour(), QColor(Qt::transparent));
    EXPECT_EQ(row.approvalButton(), nullptr);
    EXPECT_EQ(row.errorLine(), nullptr);

    row.card()->click();
    EXPECT_FALSE(row.card()->isEnabled());  // the removal waits for its answer
    QApplication::processEvents();
    QApplication::processEvents();
    EXPECT_TRUE(row.card()->isEnabled());
    EXPECT_FALSE(login.enabled());
}

TEST(LaunchAtStartupRow, AnEntryWrittenElsewhereShowsWhenTheApplicationBecomesActive) {
    yux::testing::TemporaryDirectory folder;
    auto entry = platform::AutostartEntry::create(folder.path(), "/usr/bin/yux");
    platform::LaunchAtStartup login(entry, platform::SystemLog::create_null());
    LaunchAtStartupRow row(login);
    row.show();
    EXPECT_FALSE(login.enabled());
    platform::writeFileAtomically(folder.path() / platform::AutostartEntry::kFileName,
                                  platform::AutostartEntry::entryText("/usr/bin/yux"));
    emit qApp->applicationStateChanged(Qt::ApplicationInactive);
    EXPECT_FALSE(login.enabled());
    emit qApp->applicationStateChanged(Qt::ApplicationActive);
    EXPECT_TRUE(login.enabled());

    row.hide();  // off screen, the row no longer listens
    std::filesystem::remove(folder.path() / platform::AutostartEntry::kFileName);
    emit qApp->applicationStateChanged(Qt::ApplicationActive);
    EXPECT_TRUE(login.enabled());
}

TEST(LaunchAtStartupRow, ApprovalButtonAndErrorLine) {
    auto entry = platform::AutostartEntry::create_null(
        {.status = platform::AutostartEntry::Status::requiresApproval, .unregisterError = "Could not remove it."});
    platform::LaunchAtStartup login(entry, platform::SystemLog::create_null());
    LaunchAtStartupRow row(login);
    row.show();
    ASSERT_NE(row.approvalButton(), nullptr);
    EXPECT_EQ(row.approvalButton()->text(), "Allow in Login Items…");
    EXPECT_EQ(row.cardRow()->findChild<SymbolLabel*>()->symbol(), platform::Symbol::circle);

    row.card()->click();
    QApplication::processEvents();
    QApplication::processEvents();
    ASSERT_NE(row.errorLine(), nullptr);
    EXPECT_TRUE(row.errorLine()->isError());
    EXPECT_EQ(row.errorLine()->textLabel()->text(), "Could not remove it.");
}

// Pictures for a person: the Settings page with the row on, the About page with a waiting
// update, and the update window.
TEST(UpdatesPictures, SettingsAboutAndTheUpdateWindow) {
    auto entry = platform::AutostartEntry::create_null({.status = platform::AutostartEntry::Status::enabled});
    platform::LaunchAtStartup login(entry, platform::SystemLog::create_null());
    QWidget settings;
    settings.setFixedWidth(InspectorStyle::trayWidth);
    auto* layout = new QVBoxLayout(&settings);
    layout->setContentsMargins(InspectorStyle::padding, InspectorStyle::padding, InspectorStyle::padding,
                               InspectorStyle::padding);
    layout->addWidget(new InspectorHeader("Settings", [] {}, &settings));
    layout->addWidget(new LaunchAtStartupRow(login, &settings));
    settings.show();
    QApplication::processEvents();  // the row's rebuilt pieces show on the next turn
    settings.adjustSize();
    EXPECT_TRUE(login.enabled());
    yux::test::writeScreenshot(settings, "settings_launch_at_startup");

    Driven driven;
    driven.controller->start();
    driven.updater->setLast(QDateTime(QDate(2026, 3, 4), QTime(9, 30), Qt::LocalTime));
    driven.updater->delegate.willHandleShowingUpdate(true, driven.item("2.1"));
    // Yux's own icon, as the program sets it at start.
    QApplication::setWindowIcon(AppIcon::icon());
    const InspectorProduct product = AppProductConfiguration::product(QStringLiteral("1.2"));
    QApplication::setWindowIcon(QIcon());
    std::unique_ptr<AboutInspectorView> about(makeAboutInspectorView(
        product, InspectorPresentation::trayDrillIn([] {}), driven.controller.get()));
    about->setFixedWidth(InspectorStyle::trayWidth);
    about->show();
    about->adjustSize();
    EXPECT_NE(about->findChild<QWidget*>("productIcon"), nullptr);
    yux::test::writeScreenshot(*about, "about_with_updates");

    auto driver = platform::UpdateUserDriver::create();
    driver->show(driven.item("2.1"), [] {}, [] {});
    ASSERT_NE(driver->window(), nullptr);
    driver->window()->adjustSize();
    // The window's button names the page's action ("Install…") the same way.
    QStringList buttons;
    for (const auto* button : driver->window()->findChildren<QPushButton*>()) buttons << button->text();
    EXPECT_EQ(buttons, (QStringList{"Later", "Install"}));
    yux::test::writeScreenshot(*driver->window(), "update_window");
    driver->close();
    delete driver->window();
}
