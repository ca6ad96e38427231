#include "shell/quit_path.hpp"

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEvent>
#include <QSocketNotifier>
#include <QTimer>

#include "model/log_text.hpp"

namespace yux {

namespace {

// Written by the signal handler, read by the event loop; one pair per process.
int signalSockets[2] = {-1, -1};

void onTerminationSignal(int) {
    const int saved = errno;
    const char byte = 1;
    // Async-signal-safe; a full socket already holds a wake-up, so a failed write loses nothing.
    [[maybe_unused]] ssize_t written = ::write(signalSockets[0], &byte, 1);
    errno = saved;
}

}  // namespace

QuitPath::QuitPath(Exit exit, QObject* parent) : QObject(parent), exit_(std::move(exit)) {}

QuitPath::~QuitPath() = default;

void QuitPath::addWillTerminate(std::string step, Work work) { steps_.push_back({std::move(step), std::move(work)}); }

void QuitPath::requestQuit() {
    if (quitting_) return;
    quitting_ = true;
    QTimer::singleShot(kDeadlineMs, this, [this] { exitOnce(); });
    running_ = runWillTerminate();
}

QCoro::Task<void> QuitPath::runWillTerminate() {
    for (const Step& step : steps_) {
        // A step that fails must not keep the program from ending, nor skip the steps after it.
        std::exception_ptr failure;
        try {
            co_await step.work();
        } catch (...) {
            failure = std::current_exception();
        }
        if (!failure || !stepFailed_) continue;
        try {
            co_await stepFailed_(step.name, logErrorText(failure));
        } catch (...) {
            // Nowhere left to say it; the quit goes on.
        }
    }
    exitOnce();
}

void QuitPath::exitOnce() {
    if (exited_) return;
    exited_ = true;
    exit_(0);
}

bool QuitPath::catchTerminationSignals() {
    if (signalSockets[0] < 0 && ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, signalSockets) != 0) {
        return false;
    }
    signalNotifier_ = std::make_unique<QSocketNotifier>(signalSockets[1], QSocketNotifier::Read);
    connect(signalNotifier_.get(), &QSocketNotifier::activated, this, [this] {
        char buffer[16];
        while (::read(signalSockets[1], buffer, sizeof buffer) > 0) {
        }
        requestQuit();
    });
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    struct sigaction hangUp {};
    const bool hangUpIgnored = ::sigaction(SIGHUP, nullptr, &hangUp) == 0 && hangUp.sa_handler == SIG_IGN;
    return ::sigaction(SIGTERM, &action, nullptr) == 0 && ::sigaction(SIGINT, &action, nullptr) == 0 &&
           (hangUpIgnored || ::sigaction(SIGHUP, &action, nullptr) == 0);
}

void QuitPath::catchApplicationQuit() {
    if (auto* application = QCoreApplication::instance()) application->installEventFilter(this);
}

bool QuitPath::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::Quit || watched != QCoreApplication::instance()) return false;
    requestQuit();
    return true;
}

}  // namespace yux
