#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QCoroTask>
#include <QObject>

class QSocketNotifier;

namespace yux {

// The one way out of Yux: the menu's Quit, the tray's "Quit Yux", the desktop's request to end
// the program (the session manager's quit) and SIGTERM/SIGINT/SIGHUP all come here. The will-terminate work runs once and is
// awaited (the application's own quit signal comes too late to await), then the process exits.
class QuitPath : public QObject {
    Q_OBJECT
public:
    using Work = std::function<QCoro::Task<void>()>;
    // Told of a step that threw: its name and the error as a log line shows it. Awaited before
    // the next step, so the line is written before the process ends.
    using StepFailed = std::function<QCoro::Task<void>(std::string step, std::string error)>;
    // Work that has not ended by then is left behind: a hung stop must not keep Yux from quitting.
    static constexpr int kDeadlineMs = 15000;
    using Exit = std::function<void(int code)>;

    // `exit` ends the event loop with the code; the live one is QCoreApplication::exit.
    explicit QuitPath(Exit exit, QObject* parent = nullptr);
    ~QuitPath() override;

    // Work to run before exiting; each step in the order added, each awaited, each whatever the
    // one before did.
    void addWillTerminate(std::string step, Work work);
    void onStepFailed(StepFailed report) { stepFailed_ = std::move(report); }

    // Later requests while one runs, or after it, do nothing.
    void requestQuit();
    bool isQuitting() const { return quitting_; }

    // SIGTERM, SIGINT and SIGHUP (the terminal that started Yux closed) become requestQuit():
    // the handler writes one byte to a socket pair that the event loop reads. Nothing stays
    // blocked, so programs Yux starts still get the signals. A SIGHUP ignored by whoever started
    // Yux (nohup) stays ignored. Returns false when the socket pair or the handlers could not be
    // set up.
    bool catchTerminationSignals();

    // The application's own quit (the desktop session ending sends it) becomes requestQuit()
    // instead of closing every window, which would ask about or throw away a pending take.
    void catchApplicationQuit();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QCoro::Task<void> runWillTerminate();
    void exitOnce();

    struct Step {
        std::string name;
        Work work;
    };

    Exit exit_;
    std::vector<Step> steps_;
    StepFailed stepFailed_;
    bool quitting_ = false;
    bool exited_ = false;
    std::unique_ptr<QSocketNotifier> signalNotifier_;
    QCoro::Task<void> running_;
};

}  // namespace yux
