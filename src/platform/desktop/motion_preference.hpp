#pragma once

#include <functional>

namespace yux::platform {

// Whether the user asked for less motion on screen: GNOME's "enable-animations" switched off.
// Desktops without that setting are taken to allow motion.
class MotionPreference {
public:
    static MotionPreference create();
    static MotionPreference create_null(bool reduceMotion);
    explicit MotionPreference(std::function<bool()> reduceMotion) : reduceMotion_(std::move(reduceMotion)) {}

    // Asked afresh each time; the live answer waits briefly for the settings tool.
    bool reduceMotion() const { return reduceMotion_(); }

private:
    std::function<bool()> reduceMotion_;
};

}  // namespace yux::platform
