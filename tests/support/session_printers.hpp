#pragma once

#include <ostream>

#include <QUuid>

#include "model/app_error.hpp"
#include "model/json_coding.hpp"
#include "model/log_text.hpp"
#include "model/pending_recording_artifact.hpp"
#include "model/recording_session_records.hpp"
#include "session/recording_session_state.hpp"

// A failed comparison of session states and what they hold shows their values. Every test that
// compares them includes this, so all of them print alike.
namespace yux {

inline void PrintTo(const AppError& error, std::ostream* out) { *out << appErrorText(error); }

inline void PrintTo(const ActiveSessionInfo& info, std::ostream* out) {
    *out << "{sessionID=" << info.sessionID.toString(QUuid::WithoutBraces).toStdString()
         << ", scratchFilePath=" << info.scratchFilePath << '}';
}

// Every value, in its JSON form.
inline void PrintTo(const PendingRecordingArtifact& artifact, std::ostream* out) {
    *out << json::encode(artifact).dump();
}

// The state's log form, but a pending take with every value: two of them can differ in what
// the log line leaves out.
inline void PrintTo(const RecordingSessionState& state, std::ostream* out) {
    if (const auto* artifact = state.pendingArtifact()) {
        *out << "pendingTrim(";
        PrintTo(*artifact, out);
        *out << ')';
    } else {
        *out << state.diagnosticText();
    }
}

}  // namespace yux
