#include "shell/shell_startup.hpp"

namespace yux {

QCoro::Task<void> ShellStartup::run() const {
    // A copy: the caller may drop this object while the setup waits for the user.
    const ShellStartup steps = *this;
    if (!co_await steps.setup()) co_return;
    if (steps.showStatusItem) steps.showStatusItem();
    co_await steps.registerShortcut();
    co_await steps.offerLeftover();
}

}  // namespace yux
