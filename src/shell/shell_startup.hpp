#pragma once

#include <functional>

#include <QCoroTask>

namespace yux {

// The start-up after the services are built: the first-run setup, then, only once it reports
// ready, the status item, the recording shortcut and the takes earlier runs kept.
struct ShellStartup {
    std::function<QCoro::Task<bool>()> setup;
    // Shows the status item; empty while there is none to show.
    std::function<void()> showStatusItem;
    std::function<QCoro::Task<void>()> registerShortcut;
    std::function<QCoro::Task<void>()> offerLeftover;

    QCoro::Task<void> run() const;
};

}  // namespace yux
