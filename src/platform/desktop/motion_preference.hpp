#pragma once

#include <chrono>
#include <functional>

namespace yux::platform {

// Whether the user asked for less motion on screen: GNOME's "enable-animations" switched off.
// Desktops without that setting are taken to allow motion.
class MotionPreference {
public:
    // The settings tool answers in a few milliseconds; a hung one must not hold a window back.
    static constexpr std::chrono::milliseconds kAnswerTimeout{500};

    static MotionPreference create(std::chrono::milliseconds answerTimeout = kAnswerTimeout);
    static MotionPreference create_null(bool reduceMotion);
    explicit MotionPreference(std::function<bool()> reduceMotion) : reduceMotion_(std::move(reduceMotion)) {}

    // Asked afresh each time; the live answer waits briefly for the settings tool.
    bool reduceMotion() const { return reduceMotion_(); }

private:
    std::function<bool()> reduceMotion_;
};

}  // namespace yux::platform
