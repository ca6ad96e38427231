#include "shell/pending_recording_markers.hpp"

#include <filesystem>

#include "model/json_coding.hpp"

namespace yux {

std::string PendingRecordingMarkers::markerPath(const std::string& scratchPath) {
    std::filesystem::path path(scratchPath);
    return (path.parent_path() / (path.stem().string() + kSuffix)).string();
}

void PendingRecordingMarkers::write(const PendingRecordingArtifact& artifact) const {
    fileSystem_.writeFile(markerPath(artifact.scratchPath()), json::encodeText(artifact));
}

void PendingRecordingMarkers::remove(const std::string& scratchPath) const {
    const std::string path = markerPath(scratchPath);
    try {
        if (fileSystem_.fileExists(path)) fileSystem_.removeFile(path);
    } catch (const std::exception&) {
        // A marker that cannot go is read again next time and dropped when its movie is gone.
    }
}

std::optional<PendingRecordingArtifact> PendingRecordingMarkers::newest(const std::string& scratchDirectory) const {
    std::optional<PendingRecordingArtifact> found;
    std::error_code error;
    std::vector<std::filesystem::path> markers;
    for (const auto& entry : std::filesystem::directory_iterator(scratchDirectory, error)) {
        const std::string name = entry.path().filename().string();
        if (name.size() > std::string(kSuffix).size() && name.ends_with(kSuffix)) markers.push_back(entry.path());
    }
    for (const auto& marker : markers) {
        std::optional<PendingRecordingArtifact> artifact;
        try {
            artifact = json::decode<PendingRecordingArtifact>(json::parseText(fileSystem_.readFile(marker.string())));
        } catch (const std::exception&) {
        }
        if (!artifact || !fileSystem_.regularFileExists(artifact->scratchPath()) ||
            markerPath(artifact->scratchPath()) != marker.string()) {
            try {
                fileSystem_.removeFile(marker.string());
            } catch (const std::exception&) {
            }
            continue;
        }
        if (!found || artifact->createdAt().timeIntervalSinceReferenceDate > found->createdAt().timeIntervalSinceReferenceDate) {
            found = std::move(artifact);
        }
    }
    return found;
}

}  // namespace yux
