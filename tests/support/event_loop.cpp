#include "support/event_loop.hpp"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

namespace yux::testing {

void processEventsFor(int milliseconds) {
    processEventsUntil([] { return false; }, milliseconds);
}

bool processEventsUntil(const std::function<bool()>& condition, int timeoutMilliseconds) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() >= timeoutMilliseconds) return false;
        QEventLoop loop;
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

}  // namespace yux::testing
