#include "platform/desktop/symbol_painter.hpp"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include "support/screenshot_writer.hpp"

namespace yux::platform {
namespace {

const std::vector<Symbol> kAll = {Symbol::checkmark,  Symbol::checkmarkCircleFill, Symbol::checkmarkShieldFill,
                                  Symbol::xmark,      Symbol::handTapFill,         Symbol::micFill,
                                  Symbol::videoFill,  Symbol::exclamationmarkTriangleFill, Symbol::chevronDown,
                                  Symbol::chevronLeft, Symbol::chevronRight, Symbol::exclamationmarkTriangle,
                                  Symbol::infoCircle, Symbol::command,     Symbol::recordCircle,
                                  Symbol::circleFill, Symbol::stopFill,    Symbol::ellipsis,
                                  Symbol::folder,     Symbol::folderBadgePlus, Symbol::film,
                                  Symbol::filmStack,  Symbol::arrowRightCircle, Symbol::circle,
                                  Symbol::checkmarkCircle, Symbol::arrowUpCircle, Symbol::arrowClockwise,
                                  Symbol::bell,       Symbol::clock,
                                  Symbol::playFill, Symbol::pauseFill,
                                  Symbol::display,    Symbol::camera,      Symbol::mic,
                                  Symbol::speakerWave2, Symbol::speakerSlash};

TEST(SymbolPainter, EverySymbolFillsAFairPartOfItsBoxAndStaysInside) {
    const QRectF box(10, 20, 40, 40);
    for (Symbol symbol : kAll) {
        QPainterPath path = SymbolPainter::path(symbol, box);
        QRectF bounds = path.boundingRect();
        EXPECT_TRUE(box.adjusted(-0.5, -0.5, 0.5, 0.5).contains(bounds)) << static_cast<int>(symbol);
        EXPECT_GT(bounds.width() * bounds.height(), box.width() * box.height() * 0.2) << static_cast<int>(symbol);
    }
}

TEST(SymbolPainter, AWideBoxGetsTheSymbolCentredAtItsHeight) {
    QRectF bounds = SymbolPainter::path(Symbol::checkmarkCircleFill, QRectF(0, 0, 200, 20)).boundingRect();
    EXPECT_NEAR(bounds.center().x(), 100, 0.5);
    EXPECT_NEAR(bounds.height(), 18.4, 0.5);
}

TEST(SymbolPainter, FilledSymbolsShowTheirMarkAsAHole) {
    const QRectF box(0, 0, 100, 100);
    // Points on the cut-out tick and on the exclamation bar.
    EXPECT_FALSE(SymbolPainter::path(Symbol::checkmarkCircleFill, box).contains(QPointF(44, 66)));
    EXPECT_TRUE(SymbolPainter::path(Symbol::checkmarkCircleFill, box).contains(QPointF(50, 20)));
    EXPECT_FALSE(SymbolPainter::path(Symbol::checkmarkShieldFill, box).contains(QPointF(45, 62)));
    EXPECT_TRUE(SymbolPainter::path(Symbol::checkmarkShieldFill, box).contains(QPointF(50, 85)));
    EXPECT_FALSE(SymbolPainter::path(Symbol::exclamationmarkTriangleFill, box).contains(QPointF(50, 45)));
    EXPECT_TRUE(SymbolPainter::path(Symbol::exclamationmarkTriangleFill, box).contains(QPointF(30, 78)));
}

TEST(SymbolPainter, PaintsInTheColourAskedForAndAnIconHasBothScales) {
    QImage sheet(static_cast<int>(kAll.size()) * 72 + 8, 80, QImage::Format_ARGB32_Premultiplied);
    sheet.fill(Qt::white);
    QPainter painter(&sheet);
    for (std::size_t i = 0; i < kAll.size(); ++i) {
        SymbolPainter::paint(painter, kAll[i], QRectF(8 + 72.0 * i, 8, 64, 64), QColor(20, 90, 200));
    }
    painter.end();
    yux::test::writeScreenshot(sheet, "symbols");
    EXPECT_EQ(sheet.pixelColor(8 + 72 + 32, 16), QColor(20, 90, 200));  // the disc's top

    QIcon icon = SymbolPainter::icon(Symbol::checkmark, Qt::black, 16);
    EXPECT_EQ(icon.availableSizes().size(), 2);
}

}  // namespace
}  // namespace yux::platform
