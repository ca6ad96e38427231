#pragma once

#include <memory>

#include "session/recording_session_boundary.hpp"
#include "shell/menu_bar_panel_state.hpp"

namespace yux {

// The composed graph as its two drivers of the recording session see it: the session itself and
// where the panel's intents go. Copies of a composition hand out the same objects.
class AppCompositionBoundary {
public:
    virtual ~AppCompositionBoundary() = default;
    virtual std::shared_ptr<RecordingSessionBoundary> makeRecordingSession() const = 0;
    virtual std::shared_ptr<MenuBarIntentHandling> makeMenuIntentHandler() const = 0;

protected:
    AppCompositionBoundary() = default;
    AppCompositionBoundary(const AppCompositionBoundary&) = default;
    AppCompositionBoundary(AppCompositionBoundary&&) = default;
    AppCompositionBoundary& operator=(const AppCompositionBoundary&) = default;
    AppCompositionBoundary& operator=(AppCompositionBoundary&&) = default;
};

}  // namespace yux
