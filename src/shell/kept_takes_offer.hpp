#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QCoroTask>

#include "model/debug_log_boundary.hpp"
#include "session/recording_session_state.hpp"
#include "shell/pending_recording_markers.hpp"

namespace yux {

// The takes earlier runs kept, offered in the trim window one after another, newest first: the
// next opens once the one before was saved or discarded. A take that cannot be taken back is set
// aside, or removed when its movie holds nothing, and the next one tried. The offer ends at a
// window that failed, at a session the user has put to other work, and at quit; what is left is
// offered at the next start.
struct KeptTakesOffer {
    using Marker = PendingRecordingMarkers::Marker;

    PendingRecordingMarkers markers;
    std::shared_ptr<DebugLogBoundary> debugLog;
    // Takes the take into the session, waiting for the trim window; false while the session is
    // busy. Throws when the movie cannot be opened.
    std::function<QCoro::Task<bool>(Marker)> adopt;
    // Whether a movie that could not be taken back reads and holds no sample (a take killed
    // before its first fragment): such a take is removed. False when it cannot be read.
    std::function<QCoro::Task<bool>(std::string)> holdsNothing;
    // Shows the adopted take in the trim window until it closes; answers the session's state then.
    std::function<QCoro::Task<RecordingSessionState>()> present;
    std::function<bool()> quitting;

    // Offers the takes of these marker files, those there when Yux started.
    QCoro::Task<void> run(std::vector<std::string> markerFiles) const;

    // The live `holdsNothing`: reads the movie on a worker thread.
    static QCoro::Task<bool> movieHoldsNothing(std::string moviePath);
};

}  // namespace yux
