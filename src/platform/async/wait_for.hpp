#pragma once

#include <QEventLoop>
#include <exception>
#include <optional>
#include <type_traits>
#include <utility>

#include <QCoroTask>

namespace yux::platform {

// Runs a nested event loop until the task ends and returns its result, or rethrows its
// exception. (QCoro 0.8's own waitFor never returns when the task throws.)
template <class T>
T waitForTask(QCoro::Task<T>& task) {
    QEventLoop loop;
    bool finished = false;
    std::exception_ptr error;
    std::conditional_t<std::is_void_v<T>, bool, std::optional<T>> result{};
    auto runner = [&]() -> QCoro::Task<void> {
        try {
            if constexpr (std::is_void_v<T>) {
                co_await task;
            } else {
                result.emplace(co_await task);
            }
        } catch (...) {
            error = std::current_exception();
        }
        finished = true;
        loop.quit();
    };
    auto running = runner();
    if (!finished) {
        loop.exec();
    }
    if (error) {
        std::rethrow_exception(error);
    }
    if constexpr (!std::is_void_v<T>) {
        return std::move(*result);
    }
}

template <class T>
T waitForTask(QCoro::Task<T>&& task) {
    return waitForTask(task);
}

}  // namespace yux::platform
