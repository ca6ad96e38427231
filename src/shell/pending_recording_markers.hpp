#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "model/debug_log_boundary.hpp"
#include "model/local_file_system.hpp"
#include "session/pending_recording_keeping.hpp"

namespace yux {

// A take the session holds for the user is noted beside its scratch movie as
// "<UUID>.pending.json" ({"scratchPath", "createdAt"}, and "exportTemporaryPath" once an export
// began; markers of older runs carry the whole pending artifact, which reads the same), so the
// next start can offer it again and remove what a killed export left.
class PendingRecordingMarkers : public PendingRecordingKeeping {
public:
    static constexpr const char* kSuffix = ".pending.json";

    // What a marker tells the next start.
    struct Marker {
        std::string scratchPath;
        Date createdAt;
        // Where the take's last export was written until whole; empty when none was noted.
        std::string exportTemporaryPath = {};
    };

    // Without a log, what happens to markers goes unsaid.
    explicit PendingRecordingMarkers(std::shared_ptr<DebugLogBoundary> debugLog = {}, LocalFileSystem fileSystem = {})
        : debugLog_(std::move(debugLog)), fileSystem_(std::move(fileSystem)) {}

    static std::string markerPath(const std::string& scratchPath);

    // Written whole or not at all, keeping the export temporary noted before; a failure is logged.
    QCoro::Task<void> keep(std::string scratchPath, Date createdAt) override;
    // A missing marker is fine. Only a regular file is removed: anything else of that name is
    // left alone and logged.
    QCoro::Task<void> release(std::string scratchPath) override;
    QCoro::Task<bool> noteExportTemporary(std::string scratchPath, Date createdAt, std::string temporaryPath) override;

    // The marker files in the folder now, looked at by name only: a run offers these, so a take
    // it keeps itself waits for the next start.
    static std::vector<std::string> presentIn(const std::string& scratchDirectory);
    // Of these marker files, the takes to offer, newest first. On the way, a marker whose movie is
    // gone is removed; one that cannot be read, names a movie elsewhere or a movie that is a
    // symbolic link is moved aside (the link and what it points to stay as they are); anything
    // that is not a regular file is left alone; each is logged. A file no longer there is skipped.
    // The export temporary a readable marker notes is removed (a killed export's).
    QCoro::Task<std::vector<Marker>> waiting(std::vector<std::string> markerFiles) const;
    // For a marker whose take could not be taken back: moved aside so the next start does not try
    // again, its movie kept where it is. Logged with `reason`.
    QCoro::Task<void> setAside(std::string scratchPath, std::string reason) const;
    // For a take whose movie holds nothing (killed before its first fragment): removes the movie,
    // then its marker, each only as a regular file; logged. Answers false when the movie stays.
    QCoro::Task<bool> removeEmptyTake(std::string scratchPath) const;

private:
    QCoro::Task<void> log(std::string line) const;
    void write(const Marker& marker) const;
    // The export temporary the take's marker notes; empty when none or unreadable.
    std::string notedTemporary(const std::string& scratchPath) const;
    // Removes the noted temporary where it may be removed; answers the log line, if any.
    static std::string removeTemporary(const std::string& temporaryPath);
    // Moves the marker file aside; answers the line that says so, or why it could not.
    std::string moveAside(const std::string& markerFile, const std::string& reason) const;

    std::shared_ptr<DebugLogBoundary> debugLog_;
    LocalFileSystem fileSystem_;
};

}  // namespace yux
