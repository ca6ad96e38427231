#include <gtest/gtest.h>

#include <QImage>
#include <QPixmap>

#include "selection/screen_selection_cursor_catalog.hpp"

using namespace yux;

namespace {

using Edges = ScreenSelectionGeometry::ResizeEdges;
using DragMode = ScreenSelectionGeometry::DragMode;

OverlayCursor shapeAt(Point p) {
    const ScreenSelectionGeometry geometry{8, 24};
    return ScreenSelectionCursorCatalog::shape(geometry.mode(p, Rect{100, 100, 200, 100}));
}

bool opaqueAt(const QImage& image, int x, int y) { return qAlpha(image.pixel(x, y)) > 128; }

}  // namespace

TEST(ScreenSelectionCursorCatalog, CornersChooseTheDiagonalTheyLookLike) {
    // y grows downward: (minX, minY) is the top-left corner on screen.
    EXPECT_EQ(shapeAt({100, 100}), OverlayCursor::diagonalNWSE);
    EXPECT_EQ(shapeAt({300, 200}), OverlayCursor::diagonalNWSE);
    EXPECT_EQ(shapeAt({300, 100}), OverlayCursor::diagonalNESW);
    EXPECT_EQ(shapeAt({100, 200}), OverlayCursor::diagonalNESW);
}

TEST(ScreenSelectionCursorCatalog, SidesCreateAndMove) {
    EXPECT_EQ(shapeAt({200, 100}), OverlayCursor::plainVertical);
    EXPECT_EQ(shapeAt({200, 200}), OverlayCursor::plainVertical);
    EXPECT_EQ(shapeAt({100, 150}), OverlayCursor::plainHorizontal);
    EXPECT_EQ(shapeAt({200, 150}), OverlayCursor::move);
    EXPECT_EQ(shapeAt({10, 10}), OverlayCursor::crosshair);
    EXPECT_EQ(ScreenSelectionCursorCatalog::shape(DragMode::resize(Edges::left | Edges::right)),
              OverlayCursor::plainHorizontal);
    EXPECT_EQ(ScreenSelectionCursorCatalog::shape(DragMode::resize(Edges::top | Edges::bottom)),
              OverlayCursor::plainVertical);
}

TEST(ScreenSelectionCursorCatalog, DrawnDiagonalsRunTheWayTheirNamesSay) {
    const QImage nwse = ScreenSelectionCursorCatalog::cursor(OverlayCursor::diagonalNWSE).pixmap().toImage();
    const QImage nesw = ScreenSelectionCursorCatalog::cursor(OverlayCursor::diagonalNESW).pixmap().toImage();
    ASSERT_EQ(nwse.size(), QSize(24, 24));
    EXPECT_EQ(ScreenSelectionCursorCatalog::cursor(OverlayCursor::diagonalNWSE).hotSpot(), QPoint(12, 12));
    // The shaft ends near (7, 7) and (17, 17) for NW–SE, at the other corners for NE–SW.
    EXPECT_TRUE(opaqueAt(nwse, 8, 8));
    EXPECT_TRUE(opaqueAt(nwse, 16, 16));
    EXPECT_FALSE(opaqueAt(nwse, 16, 8));
    EXPECT_TRUE(opaqueAt(nesw, 16, 8));
    EXPECT_FALSE(opaqueAt(nesw, 8, 8));
    EXPECT_EQ(ScreenSelectionCursorCatalog::cursor(OverlayCursor::move).pixmap().size(), QSize(28, 28));
}
