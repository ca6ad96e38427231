#pragma once

#include <functional>
#include <vector>

class QAction;
class QWidget;

namespace yux {

// The application's keyboard commands, put on each Yux window: Quit, and the editing commands,
// which go to whatever widget has focus. Ctrl stands where the design says Command.
struct MainMenu {
    // A window whose own Undo button owns Ctrl+Z passes false: no second Ctrl+Z is added there.
    static std::vector<QAction*> install(QWidget& window, std::function<void()> quit, bool withUndo = true);
};

}  // namespace yux
