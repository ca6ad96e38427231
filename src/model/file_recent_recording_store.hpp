#pragma once

#include <optional>
#include <string>

#include "model/local_file_system.hpp"
#include "model/output_library_boundary.hpp"

namespace yux {

// The recent recordings as one JSON array in one file ("recent-recordings.json" in the support
// folder). A missing file is an empty list; any other failure is passed on unchanged.
class FileRecentRecordingStore : public RecentRecordingStoreBoundary {
public:
    FileRecentRecordingStore(std::string filePath, LocalFileSystem fileSystem);
    // In memory, with the file holding `contents`, or no file.
    static FileRecentRecordingStore create_null(std::string filePath,
                                                std::optional<std::string> contents = std::nullopt);

    std::vector<RecordingFile> load() const override;
    void save(const std::vector<RecordingFile>& files) const override;

    const LocalFileSystem& fileSystem() const { return fileSystem_; }

private:
    std::string filePath_;
    LocalFileSystem fileSystem_;
};

}  // namespace yux
