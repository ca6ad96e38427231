#include "shell/pending_recording_markers.hpp"

#include <algorithm>
#include <filesystem>
#include <vector>

#include "model/export_temporary.hpp"
#include "model/json_coding.hpp"
#include "model/log_text.hpp"

namespace yux {

namespace {

constexpr const char* kExportTemporaryKey = "exportTemporaryPath";

PendingRecordingMarkers::Marker decodeMarker(const std::string& text) {
    // The reader keeps a reference: the parsed value must outlive it.
    const json::Json parsed = json::parseText(text);
    json::ObjectReader object(parsed);
    PendingRecordingMarkers::Marker marker{object.required<std::string>("scratchPath"), object.required<Date>("createdAt")};
    // A note of the wrong kind only loses the note, never the take.
    if (const json::Json* noted = object.find(kExportTemporaryKey); noted != nullptr && noted->is_string()) {
        marker.exportTemporaryPath = noted->get<std::string>();
    }
    return marker;
}

}  // namespace

std::string PendingRecordingMarkers::markerPath(const std::string& scratchPath) {
    std::filesystem::path path(scratchPath);
    return (path.parent_path() / (path.stem().string() + kSuffix)).string();
}

QCoro::Task<void> PendingRecordingMarkers::log(std::string line) const {
    if (debugLog_) co_await debugLog_->append(std::move(line));
}

std::string PendingRecordingMarkers::notedTemporary(const std::string& scratchPath) const {
    const std::string path = markerPath(scratchPath);
    try {
        const Marker marker = decodeMarker(fileSystem_.readFile(path));
        return marker.scratchPath == scratchPath ? marker.exportTemporaryPath : std::string();
    } catch (...) {
        return {};
    }
}

std::string PendingRecordingMarkers::removeTemporary(const std::string& temporaryPath) {
    return ExportTemporary::logLine(temporaryPath, ExportTemporary::remove(temporaryPath));
}

void PendingRecordingMarkers::write(const Marker& marker) const {
    json::ObjectWriter object;
    object.set("scratchPath", marker.scratchPath).set("createdAt", marker.createdAt);
    if (!marker.exportTemporaryPath.empty()) object.set(kExportTemporaryKey, marker.exportTemporaryPath);
    fileSystem_.writeFile(markerPath(marker.scratchPath), object.build().dump());
}

QCoro::Task<void> PendingRecordingMarkers::keep(std::string scratchPath, Date createdAt) {
    std::string failure;
    try {
        write({scratchPath, createdAt, notedTemporary(scratchPath)});
    } catch (...) {
        failure = logErrorText(std::current_exception());
    }
    if (!failure.empty()) co_await log("pending_marker_failed scratch=" + scratchPath + " error=" + failure);
}

QCoro::Task<bool> PendingRecordingMarkers::noteExportTemporary(std::string scratchPath, Date createdAt,
                                                               std::string temporaryPath) {
    if (const std::string previous = notedTemporary(scratchPath); !previous.empty() && previous != temporaryPath) {
        if (std::string line = removeTemporary(previous); !line.empty()) co_await log(std::move(line));
    }
    std::string failure;
    try {
        write({scratchPath, createdAt, temporaryPath});
    } catch (...) {
        failure = logErrorText(std::current_exception());
    }
    if (failure.empty()) co_return true;
    co_await log("pending_marker_failed scratch=" + scratchPath + " error=" + failure);
    co_return false;
}

QCoro::Task<void> PendingRecordingMarkers::release(std::string scratchPath) {
    if (const std::string noted = notedTemporary(scratchPath); !noted.empty()) {
        if (std::string line = removeTemporary(noted); !line.empty()) co_await log(std::move(line));
    }
    const std::string path = markerPath(scratchPath);
    std::string line;
    try {
        fileSystem_.removeRegularFile(path);
    } catch (const FileError& error) {
        if (error.code() == FileErrorCode::fileNoSuchFile) co_return;
        // A folder of that name is not ours to take; the next start leaves it alone too.
        line = fileSystem_.fileExists(path) && !fileSystem_.regularFileExists(path)
                   ? "pending_marker_left_alone path=" + path + " reason=not_a_regular_file"
                   : "pending_marker_failed scratch=" + scratchPath + " error=" + error.what();
    } catch (const std::exception& error) {
        line = "pending_marker_failed scratch=" + scratchPath + " error=" + error.what();
    }
    if (!line.empty()) co_await log(line);
}

std::string PendingRecordingMarkers::moveAside(const std::string& markerFile, const std::string& reason) const {
    try {
        return "pending_marker_set_aside path=" + markerFile + " moved_to=" + fileSystem_.moveAside(markerFile) +
               " reason=" + reason;
    } catch (const std::exception& error) {
        return "pending_marker_failed path=" + markerFile + " error=" + error.what();
    }
}

QCoro::Task<void> PendingRecordingMarkers::setAside(std::string scratchPath, std::string reason) const {
    co_await log(moveAside(markerPath(scratchPath), reason));
}

QCoro::Task<bool> PendingRecordingMarkers::removeEmptyTake(std::string scratchPath) const {
    const std::string marker = markerPath(scratchPath);
    std::string line = "pending_take_removed scratch=" + scratchPath + " marker=" + marker + " reason=no_samples";
    bool removed = false;
    try {
        fileSystem_.removeRegularFile(scratchPath);
        removed = true;
        fileSystem_.removeRegularFile(marker);
    } catch (const std::exception& error) {
        // A marker left without its movie goes at the next start.
        line = (removed ? "pending_marker_failed path=" + marker : "pending_take_failed scratch=" + scratchPath) +
               " error=" + error.what();
    }
    co_await log(std::move(line));
    co_return removed;
}

std::vector<std::string> PendingRecordingMarkers::presentIn(const std::string& scratchDirectory) {
    std::error_code error;
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(scratchDirectory, error)) {
        const std::string name = entry.path().filename().string();
        if (name.size() > std::string(kSuffix).size() && name.ends_with(kSuffix)) files.push_back(entry.path().string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

QCoro::Task<std::vector<PendingRecordingMarkers::Marker>> PendingRecordingMarkers::waiting(
    std::vector<std::string> markerFiles) const {
    std::vector<Marker> found;
    std::vector<std::string> lines;
    for (const std::string& path : markerFiles) {
        std::error_code statusError;
        const auto type = std::filesystem::symlink_status(path, statusError).type();
        if (type == std::filesystem::file_type::not_found) continue;
        if (type != std::filesystem::file_type::regular) {
            lines.push_back("pending_marker_left_alone path=" + path + " reason=not_a_regular_file");
            continue;
        }
        std::optional<Marker> marker;
        try {
            marker = decodeMarker(fileSystem_.readFile(path));
        } catch (const std::exception&) {
        }
        // A marker naming a movie elsewhere is never followed.
        if (!marker || markerPath(marker->scratchPath) != path) {
            lines.push_back(moveAside(path, "unreadable"));
            continue;
        }
        // What an export killed halfway left in the save folder.
        if (!marker->exportTemporaryPath.empty()) {
            if (std::string line = removeTemporary(marker->exportTemporaryPath); !line.empty()) {
                lines.push_back(std::move(line));
            }
        }
        // Our movies are plain files: a link, even one to a movie, is not opened, and neither it
        // nor what it points to is touched.
        if (std::filesystem::symlink_status(marker->scratchPath, statusError).type() ==
            std::filesystem::file_type::symlink) {
            lines.push_back(moveAside(path, "movie_is_a_link"));
            continue;
        }
        if (!fileSystem_.regularFileExists(marker->scratchPath)) {
            // Nothing left to offer.
            try {
                fileSystem_.removeRegularFile(path);
                lines.push_back("pending_marker_removed path=" + path + " reason=movie_missing");
            } catch (const std::exception& failure) {
                lines.push_back("pending_marker_failed path=" + path + " error=" + failure.what());
            }
            continue;
        }
        found.push_back(std::move(*marker));
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const Marker& a, const Marker& b) { return a.createdAt > b.createdAt; });
    for (auto& line : lines) co_await log(std::move(line));
    co_return found;
}

}  // namespace yux
