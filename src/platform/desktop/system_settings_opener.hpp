#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace yux::platform {

// The panes openings are recorded under; a copy of an opener shares its record.
struct OpenedSettingsPanes {
    std::vector<std::string> urls;
};

// Opens the desktop's settings on the page for one input kind, and records what it opened.
// Main thread only.
class SystemSettingsOpener {
public:
    static constexpr const char* kMicrophonePane = "settings:privacy/microphone";
    static constexpr const char* kCameraPane = "settings:privacy/camera";

    struct Operations {
        // The value of XDG_CURRENT_DESKTOP (colon-separated names), or empty.
        std::function<std::string()> currentDesktop;
        // The full path of a program on PATH, or empty.
        std::function<std::string(const std::string& program)> findProgram;
        // Starts the program detached; false when it could not be started.
        std::function<bool(const std::string& path, const std::vector<std::string>& arguments)> startDetached;
    };

    static SystemSettingsOpener create();
    static SystemSettingsOpener create_null(bool canOpen);
    explicit SystemSettingsOpener(std::function<bool(const std::string& pane)> openURL);
    // The live pane opening over given operations.
    static SystemSettingsOpener over(Operations operations);

    // One attempt; true when the page was opened, which is then recorded.
    bool open(const std::string& pane) const;
    std::shared_ptr<OpenedSettingsPanes> track_openedPanes() const { return openedPanes_; }

private:
    std::function<bool(const std::string& pane)> openURL_;
    std::shared_ptr<OpenedSettingsPanes> openedPanes_ = std::make_shared<OpenedSettingsPanes>();
};

}  // namespace yux::platform
