#pragma once

#include <memory>

#include <QColor>
#include <QPalette>
#include <QWidget>

#include "support/x11_test_client.hpp"

namespace yux::testing {

// A window of this very process in one colour, above the others at an exact place, shown by the
// time it returns: what the capture must leave out.
inline std::unique_ptr<QWidget> ownTestWindow(int x, int y, int width, int height, QColor colour) {
    auto own = std::make_unique<QWidget>(nullptr, Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint |
                                                      Qt::WindowStaysOnTopHint);
    own->setAutoFillBackground(true);
    QPalette palette;
    palette.setColor(QPalette::Window, colour);
    own->setPalette(palette);
    own->setGeometry(x, y, width, height);
    own->show();
    processEventsFor(200);
    return own;
}

}  // namespace yux::testing
