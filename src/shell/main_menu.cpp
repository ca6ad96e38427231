#include "shell/main_menu.hpp"

#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QKeySequence>
#include <QMenu>
#include <QWidget>

namespace yux {

namespace {

struct EditCommand {
    const char* title;
    const char* slot;  // the focus widget's slot of that name (text fields have them all)
    QKeySequence keys;
};

// Marks a window that has its commands already.
constexpr const char* kInstalledProperty = "yuxMainMenuInstalled";

class EveryWindowInstaller : public QObject {
public:
    explicit EveryWindowInstaller(std::function<void()> quit) : quit_(std::move(quit)) {
        qApp->installEventFilter(this);
    }
    ~EveryWindowInstaller() override {
        if (qApp) qApp->removeEventFilter(this);
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Show) return false;
        auto* widget = qobject_cast<QWidget*>(watched);
        if (!widget || !widget->isWindow() || widget->property(kInstalledProperty).toBool()) return false;
        // A menu shows every action it holds as an entry, and a tooltip never has the keyboard.
        if (qobject_cast<QMenu*>(widget) || widget->windowType() == Qt::ToolTip) return false;
        widget->setProperty(kInstalledProperty, true);
        MainMenu::install(*widget, quit_, !widget->property(MainMenu::kOwnsUndoProperty).toBool());
        return false;
    }

private:
    std::function<void()> quit_;
};

}  // namespace

std::unique_ptr<QObject> MainMenu::installOnEveryWindow(std::function<void()> quit) {
    return std::make_unique<EveryWindowInstaller>(std::move(quit));
}

std::vector<QAction*> MainMenu::install(QWidget& window, std::function<void()> quit, bool withUndo) {
    std::vector<QAction*> actions;
    auto add = [&](const QString& title, const QKeySequence& keys, std::function<void()> run) {
        auto* action = new QAction(title, &window);
        action->setShortcut(keys);
        action->setShortcutContext(Qt::WindowShortcut);
        QObject::connect(action, &QAction::triggered, &window, std::move(run));
        window.addAction(action);
        actions.push_back(action);
    };
    add(QStringLiteral("Quit Yux"), QKeySequence(Qt::CTRL | Qt::Key_Q), std::move(quit));

    const EditCommand commands[] = {
        {"Undo", "undo", QKeySequence(Qt::CTRL | Qt::Key_Z)},
        {"Redo", "redo", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z)},
        {"Cut", "cut", QKeySequence(Qt::CTRL | Qt::Key_X)},
        {"Copy", "copy", QKeySequence(Qt::CTRL | Qt::Key_C)},
        {"Paste", "paste", QKeySequence(Qt::CTRL | Qt::Key_V)},
        {"Select All", "selectAll", QKeySequence(Qt::CTRL | Qt::Key_A)},
    };
    for (const auto& command : commands) {
        if (!withUndo && QLatin1String(command.slot) == QLatin1String("undo")) continue;
        const QByteArray slot = command.slot;
        add(QString::fromLatin1(command.title), command.keys, [slot] {
            // Widgets without the command ignore it, as a menu entry with nothing to act on would.
            QWidget* focus = QApplication::focusWidget();
            if (focus && focus->metaObject()->indexOfMethod(slot + "()") >= 0) {
                QMetaObject::invokeMethod(focus, slot.constData());
            }
        });
    }
    return actions;
}

}  // namespace yux
