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
// from it, opens the file's folder with xdg-open instead. When that fails too (xdg-open is
// missing, or finds no program for folders), the caller hears of it.
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
        // Calls `failed` on the main thread when no program opened the folder.
        std::function<void(const QString& folder, std::function<void()> failed)> openFolder;
    };

    // How long the file manager may take to answer before the folder is opened instead.
    static constexpr int kShowItemsTimeoutMilliseconds = 3000;

    // The session bus and the xdg-open of the PATH.
    static std::shared_ptr<FileManagerReveal> create();
    static std::shared_ptr<FileManagerReveal> create(QDBusConnection bus, QString folderOpener);
    // Records requests; the file manager answers when `fileManagerAnswers`, else the folder
    // opens when `folderOpens`.
    static std::shared_ptr<FileManagerReveal> create_null(bool fileManagerAnswers = true, bool folderOpens = true);

    // What a window says when a folder could not be shown.
    static std::string failureMessage(const std::string& folder) {
        return "Could not open the folder " + folder + ".";
    }

    explicit FileManagerReveal(Operations operations) : operations_(std::move(operations)) {}

    // Main thread. `path` is absolute. `failed`, when given, receives the folder that neither
    // the file manager nor the folder opener could show.
    void reveal(const std::string& path, std::function<void(const std::string& folder)> failed = {});

    OutputTracker<Request> track_requests() { return requests_->track(); }

private:
    Operations operations_;
    // Shared with a fallback that may run after the wrapper is gone.
    std::shared_ptr<OutputListener<Request>> requests_ = std::make_shared<OutputListener<Request>>();
};

}  // namespace yux::platform
