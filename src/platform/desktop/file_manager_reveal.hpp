#pragma once

#include <functional>
#include <memory>
#include <string>

#include <QDBusConnection>
#include <QString>

#include "platform/async/output_tracker.hpp"

namespace yux::platform {

// Shows a file selected in the desktop's file manager: asks the session bus's file manager
// service (org.freedesktop.FileManager1.ShowItems); with no bus, no such service or an error
// from it, opens the file's folder with xdg-open instead. Nothing is reported back.
class FileManagerReveal {
public:
    struct Request {
        enum class Kind { showItems, openFolder };
        Kind kind = Kind::showItems;
        std::string target;  // a file URI for showItems, a folder path for openFolder
        bool operator==(const Request&) const = default;
    };

    struct Operations {
        // Calls `failed` on the main thread when the file manager cannot show the item.
        std::function<void(const QString& fileUri, std::function<void()> failed)> showItems;
        std::function<void(const QString& folder)> openFolder;
    };

    // How long the file manager may take to answer before the folder is opened instead.
    static constexpr int kShowItemsTimeoutMilliseconds = 3000;

    // The session bus and the xdg-open of the PATH.
    static std::shared_ptr<FileManagerReveal> create();
    static std::shared_ptr<FileManagerReveal> create(QDBusConnection bus, QString folderOpener);
    // Records requests; the file manager answers when `fileManagerAnswers`, else the folder opens.
    static std::shared_ptr<FileManagerReveal> create_null(bool fileManagerAnswers = true);

    explicit FileManagerReveal(Operations operations) : operations_(std::move(operations)) {}

    // Main thread. `path` is absolute.
    void reveal(const std::string& path);

    OutputTracker<Request> track_requests() { return requests_->track(); }

private:
    Operations operations_;
    // Shared with a fallback that may run after the wrapper is gone.
    std::shared_ptr<OutputListener<Request>> requests_ = std::make_shared<OutputListener<Request>>();
};

}  // namespace yux::platform
