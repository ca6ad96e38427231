#include "shell/app_inspector_kit.hpp"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QVBoxLayout>

#include "support/screenshot_writer.hpp"

using namespace yux;

namespace {

InspectorProduct product(bool withIcon) {
    QIcon icon;
    if (withIcon) icon = platform::SymbolPainter::icon(platform::Symbol::recordCircle, Qt::red, 40);
    return InspectorProduct{"Yux", "1.2.3", "A & B <Studio>", QUrl("https://ab.example/"),
                            QUrl("https://ab.example/yux?x=1&y=2"), icon};
}

void click(QWidget& widget, QPoint at) {
    QMouseEvent press(QEvent::MouseButtonPress, at, widget.mapToGlobal(at), Qt::LeftButton, Qt::LeftButton, {});
    QApplication::sendEvent(&widget, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, at, widget.mapToGlobal(at), Qt::LeftButton, {}, {});
    QApplication::sendEvent(&widget, &release);
}

TEST(AppProductConfiguration, AVersionThatIsMissingEmptyOrNotTextShowsAsDevelopment) {
    EXPECT_EQ(AppProductConfiguration::product(QVariant()).version, "Development");
    EXPECT_EQ(AppProductConfiguration::product(QVariant(QString())).version, "Development");
    EXPECT_EQ(AppProductConfiguration::product(QVariant(7)).version, "Development");
    EXPECT_EQ(AppProductConfiguration::product(QVariant(QStringList{"1.0"})).version, "Development");
    InspectorProduct yux = AppProductConfiguration::product(QVariant(QStringLiteral("0.1.0")));
    EXPECT_EQ(yux.version, "0.1.0");
    EXPECT_EQ(yux.name, "Yux");
    EXPECT_FALSE(yux.designer.isEmpty());
    EXPECT_EQ(yux.designerWebsite.scheme(), "https");
    EXPECT_EQ(yux.productWebsite.scheme(), "https");
    EXPECT_TRUE(yux.icon.isNull()) << "no application icon yet";
    // The running application's icon, unless one is given.
    const QIcon own = platform::SymbolPainter::icon(platform::Symbol::recordCircle, Qt::blue, 40);
    QApplication::setWindowIcon(own);
    EXPECT_EQ(AppProductConfiguration::product(QVariant()).icon.cacheKey(), QApplication::windowIcon().cacheKey());
    EXPECT_TRUE(AppProductConfiguration::product(QVariant(), QIcon()).icon.isNull());
    QApplication::setWindowIcon(QIcon());
}

TEST(AboutInspectorView, EmbeddedStartsWithTheProductAndLinksOpenTheirOwnAddresses) {
    std::vector<QUrl> opened;
    AboutInspectorView page(product(false), InspectorPresentation::embedded(), nullptr,
                            [&](const QUrl& url) { opened.push_back(url); });
    page.setFixedWidth(InspectorStyle::trayWidth);
    page.adjustSize();
    EXPECT_EQ(page.findChild<QWidget*>("inspectorHeader"), nullptr);
    EXPECT_EQ(page.findChild<QWidget*>("divider"), nullptr);
    EXPECT_EQ(page.findChild<QWidget*>("productIcon"), nullptr);
    // No room is kept for a missing icon: the text starts at the page's padding.
    EXPECT_EQ(page.findChild<QLabel*>("productName")->x(), InspectorStyle::padding);
    EXPECT_EQ(page.findChild<QLabel*>("credit")->text(), "Version 1.2.3 \u00B7 Designed by A & B <Studio>");

    // Names with markup characters show as written; the address is the product's, whole.
    auto* designer = page.findChild<QLabel*>("designerLink");
    EXPECT_TRUE(designer->text().contains("A &amp; B &lt;Studio&gt;"));
    emit designer->linkActivated("ignored");
    emit page.findChild<QLabel*>("productLink")->linkActivated("ignored");
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(opened[0], QUrl("https://ab.example/"));
    EXPECT_EQ(opened[1], QUrl("https://ab.example/yux?x=1&y=2"));
}

TEST(AboutInspectorView, DrilledInHasACentredHeaderWhoseBackRunsOncePerClick) {
    int backs = 0;
    auto* extra = new QLabel("Updates go here");
    AboutInspectorView page(product(true), InspectorPresentation::trayDrillIn([&] { ++backs; }), extra, [](const QUrl&) {});
    page.setFixedWidth(InspectorStyle::trayWidth);
    page.resize(page.sizeHint());
    page.show();
    auto* header = page.findChild<InspectorHeader*>("inspectorHeader");
    ASSERT_NE(header, nullptr);
    EXPECT_NE(page.findChild<QWidget*>("divider"), nullptr);
    EXPECT_NE(page.findChild<QWidget*>("productIcon"), nullptr);
    EXPECT_EQ(extra->parentWidget(), &page);
    EXPECT_GT(extra->y(), page.findChild<QLabel*>("credit")->y());

    EXPECT_EQ(header->backButton()->accessibleName(), "Back from About");
    EXPECT_EQ(header->titleLabel()->geometry().center().x(), header->rect().center().x());
    header->backButton()->click();
    EXPECT_EQ(backs, 1);
    header->backButton()->click();
    EXPECT_EQ(backs, 2);
    yux::test::writeScreenshot(page, "about_page");
}

TEST(InspectorRows, CardTintsAndStatusLinesFollowTheirInputs) {
    CardRow plain(std::nullopt, {new QLabel("Launch at login")});
    QColor neutral = plain.palette().color(QPalette::WindowText);
    EXPECT_EQ(plain.backgroundColour().rgb(), neutral.rgb());
    EXPECT_NEAR(plain.backgroundColour().alphaF(), 0.06, 0.01);
    EXPECT_EQ(plain.borderColour().alpha(), 0);

    CardRow tinted(QColor(Qt::blue), {new QLabel("Tinted")});
    EXPECT_EQ(tinted.backgroundColour().rgb(), QColor(Qt::blue).rgb());
    EXPECT_NEAR(tinted.backgroundColour().alphaF(), 0.1, 0.01);
    EXPECT_NEAR(tinted.borderColour().alphaF(), 0.35, 0.01);

    StatusMessage info("Up to date.", false);
    EXPECT_EQ(info.symbolLabel()->symbol(), platform::Symbol::infoCircle);
    EXPECT_NE(info.symbolLabel()->colour().rgb(), QColor(255, 149, 0).rgb());
    const QString longText = QString("The update could not be checked because the feed did not answer. ").repeated(4);
    StatusMessage error(longText, true);
    EXPECT_EQ(error.symbolLabel()->symbol(), platform::Symbol::exclamationmarkTriangle);
    EXPECT_EQ(error.symbolLabel()->colour().rgb(), QColor(255, 149, 0).rgb());
    EXPECT_EQ(error.textLabel()->text(), longText);
    EXPECT_GT(error.heightForWidth(300), 2 * info.heightForWidth(300));

    QWidget sheet;
    sheet.setFixedWidth(InspectorStyle::trayWidth);
    auto* layout = new QVBoxLayout(&sheet);
    layout->setSpacing(InspectorStyle::spacing);
    layout->addWidget(new CardRow(std::nullopt, {new QLabel("Launch at login")}));
    layout->addWidget(new CardRow(QColor(Qt::red), {new QLabel("Tinted card")}));
    layout->addWidget(new NavRow(platform::Symbol::infoCircle, "About", {}));
    layout->addWidget(new ProgressRow("Checking for updates…"));
    layout->addWidget(new StatusMessage("Up to date.", false));
    layout->addWidget(new StatusMessage(longText, true));
    sheet.resize(InspectorStyle::trayWidth, sheet.heightForWidth(InspectorStyle::trayWidth));
    yux::test::writeScreenshot(sheet, "inspector_rows");
}

TEST(InspectorRows, ANavRowRunsItsActionFromAnywhereInTheRowIncludingTheSpace) {
    int runs = 0;
    auto* trailing = new QLabel("On");
    NavRow row(platform::Symbol::infoCircle, "Settings", [&] { ++runs; }, trailing);
    row.resize(InspectorStyle::trayWidth, row.sizeHint().height());
    row.show();
    EXPECT_EQ(trailing->parentWidget(), &row);
    click(row, QPoint(InspectorStyle::trayWidth / 2 + 60, row.height() / 2));  // the spacer
    click(row, trailing->geometry().center());
    EXPECT_EQ(runs, 2);

    NavRow bare(platform::Symbol::infoCircle, "About", [&] { ++runs; });
    bare.resize(InspectorStyle::trayWidth, bare.sizeHint().height());
    click(bare, QPoint(5, bare.height() / 2));
    EXPECT_EQ(runs, 3);
    EXPECT_EQ(bare.findChildren<QLabel*>().size(), 1);  // the title only
}

}  // namespace
