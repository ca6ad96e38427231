#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include <QCoroTask>

namespace yux::platform {

// Runs coroutines that nobody waits for, such as the work behind a button, and keeps each
// until it ends. A failure goes to `onFailure` with its sentence instead of vanishing with the
// task. Main thread only.
class DetachedTasks {
public:
    explicit DetachedTasks(std::function<void(const std::string&)> onFailure = {})
        : state_(std::make_shared<State>()) {
        state_->onFailure = std::move(onFailure);
    }

    void start(QCoro::Task<void> task) {
        const std::uint64_t id = state_->nextID++;
        QCoro::Task<void> kept = keep(std::move(task), state_, id);
        // A task that ended at once has nothing left to keep.
        if (!kept.isReady()) state_->running.emplace(id, std::move(kept));
    }
    std::size_t running() const { return state_->running.size(); }

private:
    struct State {
        std::function<void(const std::string&)> onFailure;
        std::uint64_t nextID = 0;
        std::map<std::uint64_t, QCoro::Task<void>> running;
    };

    static QCoro::Task<void> keep(QCoro::Task<void> task, std::shared_ptr<State> state, std::uint64_t id) {
        std::string failure;
        try {
            co_await std::move(task);
        } catch (const std::exception& error) {
            failure = error.what();
        } catch (...) {
            failure = "Unknown error";
        }
        // Dropping our own handle here lets the frame end itself once it finishes.
        state->running.erase(id);
        if (!failure.empty() && state->onFailure) state->onFailure(failure);
    }

    std::shared_ptr<State> state_;
};

}  // namespace yux::platform
