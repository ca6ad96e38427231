#pragma once

#include <memory>
#include <type_traits>
#include <utility>

#include <QCoroTask>

#include "platform/async/run_on.hpp"
#include "platform/async/serial_queue.hpp"

namespace yux {

// Runs `work` on a worker thread of its own (media work is long and must not queue behind another
// export) and resumes on the main thread with its result or exception. Callers keep the work and
// the task in named locals: GCC 12 destroys temporaries of a co_await operand twice.
template <class F>
auto onWorkerThread(F work) -> QCoro::Task<std::invoke_result_t<F&>> {
    auto queue = std::make_shared<platform::SerialQueue>("Yux.media-work");
    auto task = platform::runOn(*queue, std::move(work));
    co_return co_await task;
}

}  // namespace yux
