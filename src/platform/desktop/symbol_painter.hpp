#pragma once

// The small pictures Yux's views draw, as painter paths of our own: no icon theme is assumed,
// so they look the same on every desktop and in offscreen tests.

#include <QColor>
#include <QIcon>
#include <QPainterPath>
#include <QRectF>
#include <QWidget>

class QPainter;

namespace yux::platform {

enum class Symbol {
    checkmark,                    // a tick
    checkmarkCircleFill,          // a disc with a tick cut out
    checkmarkShieldFill,          // a shield with a tick cut out
    xmark,                        // a cross
    handTapFill,                  // a hand with a pointing finger
    micFill,                      // a microphone on its stand
    videoFill,                    // a film camera: body and lens cone
    exclamationmarkTriangleFill,  // a warning triangle with an exclamation mark cut out
    chevronDown,                  // the indicator of a menu
    chevronLeft,                  // back
    chevronRight,                 // a row that opens a page
    exclamationmarkTriangle,      // a warning triangle outline with an exclamation mark
    infoCircle,                   // a ring with an "i"
    command,                      // the looped square of the shortcut key
    recordCircle,                 // a ring around a disc: the recorder's own mark
    circleFill,                   // a disc
    stopFill,                     // a rounded square
    ellipsis,                     // three dots: work under way
    folder,                       // a folder outline with its tab
    folderBadgePlus,              // a folder with a plus cut out
    film,                         // a strip of film
    filmStack,                    // a strip of film with one behind it
    arrowRightCircle,             // a ring around an arrow pointing right
    playFill,                     // a triangle pointing right
    pauseFill,                    // two upright bars
    circle,                       // a ring: a switch that is off
    checkmarkCircle,              // a ring around a tick
    arrowUpCircle,                // a ring around an arrow pointing up: a newer version
    arrowClockwise,               // an open ring with an arrow head: check again
    bell,                         // a bell: notifications
    clock,                        // a ring with two hands
    display,                      // a monitor on its stand
    camera,                       // a still camera: body, raised top and lens
    mic,                          // a microphone outline on its stand
    speakerWave2,                 // a speaker with two sound waves
    speakerSlash,                 // a speaker struck through
};

class SymbolPainter {
public:
    // The symbol as one fillable path (holes keep its own fill rule), fitted into `box` keeping its shape
    // and centred in it.
    static QPainterPath path(Symbol symbol, const QRectF& box);
    static void paint(QPainter& painter, Symbol symbol, const QRectF& box, const QColor& colour);
    // For menus and tool buttons: the symbol in `colour` on a transparent square of `size`
    // logical pixels, drawn sharp for the screens' device pixel ratios.
    static QIcon icon(Symbol symbol, const QColor& colour, int size = 16);
};

// One painted symbol in a fixed square.
class SymbolView : public QWidget {
public:
    SymbolView(Symbol symbol, int side, QColor colour, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Symbol symbol_;
    QColor colour_;
};

}  // namespace yux::platform
