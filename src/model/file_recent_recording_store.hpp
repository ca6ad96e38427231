#pragma once

#include <memory>
#include <optional>
#include <string>

#include "model/debug_log_boundary.hpp"
#include "model/local_file_system.hpp"
#include "model/output_library_boundary.hpp"

namespace yux {

// The recent recordings as one JSON array in one file ("recent-recordings.json" in the support
// folder). A missing file is an empty list. A damaged file (not a JSON array of recordings, not
// a regular file, too large) is moved aside as "<name>.corrupt-<UTC time>", named in the debug
// log, and the list starts empty, so one bad file cannot fail every later export. Behind a link,
// the link is what goes aside (its target untouched, never copied) and a fresh empty list takes
// its name. Other failures (an unreadable file or folder) are passed on unchanged.
class FileRecentRecordingStore : public RecentRecordingStoreBoundary {
public:
    FileRecentRecordingStore(std::string filePath, LocalFileSystem fileSystem,
                             std::shared_ptr<DebugLogBoundary> debugLog = nullptr);
    // In memory, with the file holding `contents`, or no file.
    static FileRecentRecordingStore create_null(std::string filePath,
                                                std::optional<std::string> contents = std::nullopt,
                                                std::shared_ptr<DebugLogBoundary> debugLog = nullptr);

    std::vector<RecordingFile> load() const override;
    void save(const std::vector<RecordingFile>& files) const override;

    const LocalFileSystem& fileSystem() const { return fileSystem_; }

private:
    std::string filePath_;
    LocalFileSystem fileSystem_;
    std::shared_ptr<DebugLogBoundary> debugLog_;
};

}  // namespace yux
