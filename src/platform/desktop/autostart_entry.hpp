#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/async/output_tracker.hpp"

namespace yux::platform {

// The program's own XDG autostart entry ("$XDG_CONFIG_HOME/autostart/com.zt.yux.desktop"),
// the desktop's record of whether Yux starts at login.
class AutostartEntry {
public:
    // requiresApproval never arises here; it is kept so callers read the same four states.
    enum class Status { notRegistered, enabled, requiresApproval, notFound };

    struct Operations {
        std::function<Status()> status;
        // Throws std::runtime_error with an English sentence.
        std::function<void()> registerEntry;
        // `done` runs on a later event-loop turn with the failure's sentence, or nothing.
        std::function<void(std::function<void(std::optional<std::string> error)> done)> unregisterEntry;
        std::function<void()> openLoginItems;
    };

    enum class Call { registerEntry, unregisterEntry, openLoginItems };

    static constexpr const char* kFileName = "com.zt.yux.desktop";

    // The entry in `autostartFolder` for the executable at `executablePath` (empty: not found).
    static std::shared_ptr<AutostartEntry> create(std::filesystem::path autostartFolder, std::string executablePath);
    // The current user's folder and this process's executable.
    static std::shared_ptr<AutostartEntry> create();
    // An in-memory entry; a non-empty `registerError`/`unregisterError` makes those calls fail
    // with that sentence. Register moves to `statusAfterRegister`.
    struct NullConfiguration {
        Status status = Status::notRegistered;
        Status statusAfterRegister = Status::enabled;
        std::string registerError;
        std::string unregisterError;
    };
    static std::shared_ptr<AutostartEntry> create_null(NullConfiguration configuration);
    static std::shared_ptr<AutostartEntry> create_null() { return create_null(NullConfiguration{}); }

    explicit AutostartEntry(Operations operations) : operations_(std::move(operations)) {}

    Status status() const { return operations_.status(); }
    void registerEntry();
    void unregisterEntry(std::function<void(std::optional<std::string> error)> done);
    void openLoginItems();

    OutputTracker<Call> track_calls() { return calls_.track(); }

    // The entry's text for an executable; throws std::runtime_error for a path that cannot be
    // written on one line.
    static std::string entryText(const std::string& executablePath);
    // How a file's text reads: enabled unless hidden or switched off; absent when it does not parse.
    static std::optional<bool> readsEnabled(const std::string& text);

private:
    Operations operations_;
    OutputListener<Call> calls_;
};

}  // namespace yux::platform
