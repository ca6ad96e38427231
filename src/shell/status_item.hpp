#pragma once

#include <QIcon>
#include <QRect>
#include <QString>

#include <functional>
#include <memory>

#include "platform/async/output_tracker.hpp"

namespace yux {

// The icon in the desktop's system tray: a click on it and its small context menu. Main thread
// only.
class StatusItem {
public:
    struct Menu {
        std::function<void()> open;  // "Open Yux"
        std::function<void()> quit;  // "Quit Yux"
    };

    struct Operations {
        std::function<bool()> isAvailable;
        std::function<void(const QIcon& icon, const QString& tooltip, std::function<void()> onTrigger, Menu menu)> show;
        // Where the icon is on screen; empty where the tray does not tell (StatusNotifierItem).
        std::function<QRect()> geometry;
        std::function<void()> hide;
    };

    static std::unique_ptr<StatusItem> create();
    // A tray that is there (or not) and whose icon sits at `geometry`.
    static std::unique_ptr<StatusItem> create_null(bool available = true, QRect geometry = {});

    explicit StatusItem(Operations operations) : operations_(std::move(operations)) {}

    bool isAvailable() const { return operations_.isAvailable(); }
    void show(const QIcon& icon, const QString& tooltip, std::function<void()> onTrigger, Menu menu);
    QRect geometry() const { return operations_.geometry(); }
    void hide();
    bool isShown() const { return shown_; }

    // The user's click and menu choices, as the null tray plays them.
    void simulate_trigger() const;
    void simulate_open() const;
    void simulate_quit() const;

    struct Shown {
        QString tooltip;
        bool operator==(const Shown&) const = default;
    };
    platform::OutputTracker<Shown> track_shown() { return shownEvents_.track(); }

private:
    Operations operations_;
    bool shown_ = false;
    std::function<void()> onTrigger_;
    Menu menu_;
    platform::OutputListener<Shown> shownEvents_;
};

}  // namespace yux
