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
        // Points an entry that is on at this program; the program it named before, if changed.
        // Throws std::runtime_error with an English sentence.
        std::function<std::optional<std::string>()> repoint;
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
    // An entry that is on but starts another program (the clone moved, or another build wrote
    // it) is pointed at this program, its other keys kept. Returns the program it named before,
    // or nothing when it was left alone (off, missing, or already this program).
    std::optional<std::string> repointToThisProgram() { return operations_.repoint(); }

    OutputTracker<Call> track_calls() { return calls_.track(); }

    // The entry's text for an executable; throws std::runtime_error for a path that cannot be
    // written on one line.
    static std::string entryText(const std::string& executablePath);
    // How a file's text reads: enabled unless hidden or switched off; absent when it does not parse.
    static std::optional<bool> readsEnabled(const std::string& text);
    // The program an entry's Exec key starts, its quoting and escapes undone; absent without an
    // Exec key in the main group.
    static std::optional<std::string> execProgram(const std::string& text);
    // `text` with the main group's Exec key naming `executablePath`; throws as entryText does.
    static std::string withExecutable(const std::string& text, const std::string& executablePath);

private:
    Operations operations_;
    OutputListener<Call> calls_;
};

}  // namespace yux::platform
