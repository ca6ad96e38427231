#pragma once

#include <functional>
#include <memory>
#include <vector>

class QAction;
class QObject;
class QWidget;

namespace yux {

// The application's keyboard commands, put on each Yux window: Quit, and the editing commands,
// which go to whatever widget has focus; Ctrl is their modifier, as on every Linux desktop.
struct MainMenu {
    // A window that sets this property to true owns Ctrl+Z itself (the editor's Undo button).
    static constexpr const char* kOwnsUndoProperty = "yuxOwnsUndo";

    // A window whose own Undo button owns Ctrl+Z passes false: no second Ctrl+Z is added there.
    static std::vector<QAction*> install(QWidget& window, std::function<void()> quit, bool withUndo = true);

    // Puts the commands on every Yux window as it is first shown, whoever made it. The returned
    // object watches the application; destroying it stops that.
    static std::unique_ptr<QObject> installOnEveryWindow(std::function<void()> quit);
};

}  // namespace yux
