#pragma once

#include <functional>
#include <memory>

#include "platform/async/output_tracker.hpp"

class QWidget;

namespace yux::platform {

// How the application stands on the desktop. Yux is an accessory: its windows stay out of the
// task bar. A window that needs the user's attention for a while (the permission gate) makes it
// regular, which gives that window a task-bar entry, and puts the policy back afterwards.
// Copies share one state. Main thread only.
class ApplicationActivation {
public:
    enum class Policy { regular, accessory };

    struct Call {
        enum class Kind { setPolicy, activate, terminate, prepareWindow };
        Kind kind;
        Policy policy;  // the policy set, or the one in force at the call
        bool operator==(const Call&) const = default;
    };

    struct Operations {
        std::function<void()> activate;
        std::function<void()> terminate;
        // Marks a top-level window for the window manager: on every desktop, and whether it
        // has a task-bar entry.
        std::function<void(QWidget& window, bool inTaskBar)> prepareWindow;
    };

    // `terminate` is the application's quit path; without one the event loop is ended.
    static ApplicationActivation create(std::function<void()> terminate = {});
    // Records every call and touches nothing.
    static ApplicationActivation create_null(Policy policy = Policy::accessory);
    ApplicationActivation(Operations operations, Policy policy);

    Policy policy() const { return state_->policy; }
    void setPolicy(Policy policy);
    void activate();
    void terminate();
    // Before every show() of a top-level window of ours: the window manager forgets these marks
    // whenever a window is withdrawn.
    void prepareWindow(QWidget& window);

    OutputTracker<Call> track_calls() { return state_->calls.track(); }

private:
    struct State {
        Operations operations;
        Policy policy;
        OutputListener<Call> calls;
    };
    std::shared_ptr<State> state_;
};

}  // namespace yux::platform
