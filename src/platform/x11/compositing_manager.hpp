#pragma once

#include <functional>
#include <memory>

#include <QObject>

namespace yux::platform {

// Whether a compositing manager blends windows on $DISPLAY's screen, and each time one starts
// or stops: the owner of the _NET_WM_CM_S<screen> selection, watched through XFixes on a
// connection of its own. Without one a translucent window shows black where it is
// transparent. Main thread only.
class CompositingManager : public QObject {
    Q_OBJECT

public:
    struct Operations {
        // Whether one runs now; false when there is no X server.
        std::function<bool()> running;
        // Starts reporting; `changed` runs on the main thread after each start or stop.
        std::function<void(std::function<void(bool running)> changed)> watch;
        // Keeps other windows' contents off screen while one runs (or stops them being kept).
        std::function<void(bool keep)> keepContents;
    };

    explicit CompositingManager(Operations operations);
    ~CompositingManager() override;

    static std::shared_ptr<CompositingManager> create();
    static std::shared_ptr<CompositingManager> create_null(bool running = true);

    bool running() const { return running_; }

    // While a hold lives and a compositing manager runs, other windows keep their contents off
    // screen, so a still picture of the desktop taken when it stops shows them, not whatever
    // covered them on screen (an overlay). Cheap while one runs: it keeps them anyway.
    std::shared_ptr<void> holdWindowContents();
    int holds() const { return holds_; }
    bool keepingContents() const { return keeping_; }

    // Plays a compositing manager starting or stopping, as the null double reports it.
    void simulate_change(bool running);

signals:
    // Once per start or stop. A stop is told while the contents are still held.
    void changed(bool running);

private:
    void receive(bool running);
    void updateKeep();

    Operations operations_;
    bool running_ = false;
    int holds_ = 0;
    bool keeping_ = false;
};

}  // namespace yux::platform
