#pragma once

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QThread>
#include <functional>
#include <utility>

namespace yux::platform {

// Queues work for the main thread's event loop. Callable from any thread.
inline void postToMain(std::function<void()> work) {
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(work), Qt::QueuedConnection);
}

// Queues work for the main thread; it is dropped when `receiver` is gone by then.
template <class Receiver>
void postGuarded(Receiver* receiver, std::function<void()> work) {
    QPointer<QObject> guard(receiver);
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [guard, work = std::move(work)] {
            if (guard) {
                work();
            }
        },
        Qt::QueuedConnection);
}

}  // namespace yux::platform
