#include "model/file_recent_recording_store.hpp"

#include <exception>
#include <filesystem>

namespace yux {

FileRecentRecordingStore::FileRecentRecordingStore(std::string filePath, LocalFileSystem fileSystem,
                                                   std::shared_ptr<DebugLogBoundary> debugLog)
    : filePath_(std::move(filePath)), fileSystem_(std::move(fileSystem)), debugLog_(std::move(debugLog)) {}

FileRecentRecordingStore FileRecentRecordingStore::create_null(std::string filePath,
                                                               std::optional<std::string> contents,
                                                               std::shared_ptr<DebugLogBoundary> debugLog) {
    std::map<std::string, std::string> files;
    if (contents) files[expandTilde(filePath)] = *contents;
    return FileRecentRecordingStore(std::move(filePath), LocalFileSystem::create_null(files), std::move(debugLog));
}

std::vector<RecordingFile> FileRecentRecordingStore::load() const {
    const std::string path = expandTilde(filePath_);
    if (!fileSystem_.fileExists(path)) return {};
    std::string reason;
    std::exception_ptr damage;
    try {
        return json::decodeText<std::vector<RecordingFile>>(fileSystem_.readFile(path));
    } catch (const json::DecodingError& damaged) {
        reason = damaged.what();
        damage = std::current_exception();
    } catch (const FileError& error) {
        if (error.code() != FileErrorCode::fileReadCorruptFile) throw;
        reason = error.what();
        damage = std::current_exception();
    }
    // Kept for the user to inspect; if it cannot be moved, the original failure stands. A link
    // goes aside as the link: its target, perhaps large and outside our folders, stays as it is.
    const auto target = fileSystem_.linkTarget(path);
    std::string aside;
    try {
        aside = fileSystem_.moveAside(path);
    } catch (const std::exception&) {
        std::rethrow_exception(damage);
    }
    if (target) {
        // The name takes a list of our own at once, so it no longer leads out of our folder.
        // If that fails, the next save writes it.
        try {
            fileSystem_.writeFile(path, json::encodeText(std::vector<RecordingFile>{}));
        } catch (const std::exception&) {
        }
    }
    if (debugLog_) {
        // Nobody waits for the line: the log finishes it on its own.
        (void)debugLog_->append("recent_recordings_damaged path=" + path + " moved_to=" + aside +
                                (target ? " link_target=" + *target : "") + " error=" + reason);
    }
    return {};
}

void FileRecentRecordingStore::save(const std::vector<RecordingFile>& files) const {
    const std::string path = expandTilde(filePath_);
    fileSystem_.ensureDirectory(std::filesystem::path(path).parent_path().string());
    fileSystem_.writeFile(path, json::encodeText(files));
}

}  // namespace yux
