#include "model/file_recent_recording_store.hpp"

#include <filesystem>

namespace yux {

FileRecentRecordingStore::FileRecentRecordingStore(std::string filePath, LocalFileSystem fileSystem)
    : filePath_(std::move(filePath)), fileSystem_(std::move(fileSystem)) {}

FileRecentRecordingStore FileRecentRecordingStore::create_null(std::string filePath,
                                                               std::optional<std::string> contents) {
    std::map<std::string, std::string> files;
    if (contents) files[expandTilde(filePath)] = *contents;
    return FileRecentRecordingStore(std::move(filePath), LocalFileSystem::create_null(files));
}

std::vector<RecordingFile> FileRecentRecordingStore::load() const {
    const std::string path = expandTilde(filePath_);
    if (!fileSystem_.fileExists(path)) return {};
    return json::decodeText<std::vector<RecordingFile>>(fileSystem_.readFile(path));
}

void FileRecentRecordingStore::save(const std::vector<RecordingFile>& files) const {
    const std::string path = expandTilde(filePath_);
    fileSystem_.ensureDirectory(std::filesystem::path(path).parent_path().string());
    fileSystem_.writeFile(path, json::encodeText(files));
}

}  // namespace yux
