#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/async/output_tracker.hpp"
#include "platform/updates/updater.hpp"

class QWidget;

namespace yux::platform {

// The small window that offers a found update: its version, "Install" and "Later", and the
// download's progress. Main thread.
class UpdateUserDriver {
public:
    struct Operations {
        std::function<void(const UpdateItem& item, std::function<void()> download, std::function<void()> later)> show;
        std::function<void(qint64 received, qint64 total)> progress;
        std::function<void()> close;
    };

    struct Event {
        enum class Kind { show, progress, close };
        Kind kind;
        std::string version;
        qint64 received = 0;
        bool operator==(const Event&) const = default;
    };

    static std::shared_ptr<UpdateUserDriver> create();
    // Records what it shows; simulate_download() and simulate_later() press its buttons.
    static std::shared_ptr<UpdateUserDriver> create_null();

    explicit UpdateUserDriver(Operations operations) : operations_(std::move(operations)) {}

    void show(const UpdateItem& item, std::function<void()> download, std::function<void()> later);
    void progress(qint64 received, qint64 total);
    void close();

    OutputTracker<Event> track_events() { return events_.track(); }
    void simulate_download() { if (auto press = download_) press(); }
    void simulate_later() { if (auto press = later_) press(); }
    // The live window, for pictures of it; null for the null driver and while nothing shows.
    QWidget* window() const;

private:
    Operations operations_;
    OutputListener<Event> events_;
    std::function<void()> download_;
    std::function<void()> later_;
    std::shared_ptr<QWidget*> window_ = std::make_shared<QWidget*>(nullptr);
};

}  // namespace yux::platform
