#pragma once

#include <optional>
#include <string>

#include "model/local_file_system.hpp"
#include "model/pending_recording_artifact.hpp"

namespace yux {

// A take still waiting for the trim window when Yux quits is noted beside its scratch movie as
// "<UUID>.pending.json" (the artifact's JSON), so the next start can offer it again.
class PendingRecordingMarkers {
public:
    static constexpr const char* kSuffix = ".pending.json";

    explicit PendingRecordingMarkers(LocalFileSystem fileSystem = {}) : fileSystem_(std::move(fileSystem)) {}

    static std::string markerPath(const std::string& scratchPath);

    // Written whole or not at all. Throws the file system's error.
    void write(const PendingRecordingArtifact& artifact) const;
    // A missing marker is fine.
    void remove(const std::string& scratchPath) const;
    // The newest marker in the folder whose movie still exists. Markers whose movie is gone or
    // that cannot be read are removed: they can never be offered.
    std::optional<PendingRecordingArtifact> newest(const std::string& scratchDirectory) const;

private:
    LocalFileSystem fileSystem_;
};

}  // namespace yux
