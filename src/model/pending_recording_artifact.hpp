#pragma once

#include <cstdint>
#include <string>

#include "model/date.hpp"
#include "model/json_coding.hpp"
#include "model/recording_preset.hpp"

namespace yux {

// A finished scratch recording waiting for the user's trim decision.
class PendingRecordingArtifact {
public:
    // Stores the validated form of the catalog, and the default preset only when that catalog
    // holds it ("high" otherwise).
    PendingRecordingArtifact(std::string scratchPath, Date createdAt, double durationSeconds,
                             std::int64_t scratchByteSize, RecordingCaptureDiagnostics captureDiagnostics,
                             const RecordingPresetCatalog& exportPresetCatalog,
                             const RecordingPresetID& defaultExportPresetID);

    // Stored values, as they were written.
    static PendingRecordingArtifact decoded(std::string scratchPath, Date createdAt, double durationSeconds,
                                            std::int64_t scratchByteSize,
                                            RecordingCaptureDiagnostics captureDiagnostics,
                                            RecordingPresetCatalog exportPresetCatalog,
                                            RecordingPresetID defaultExportPresetID);

    const std::string& scratchPath() const { return scratchPath_; }
    Date createdAt() const { return createdAt_; }
    double durationSeconds() const { return durationSeconds_; }
    std::int64_t scratchByteSize() const { return scratchByteSize_; }
    const RecordingCaptureDiagnostics& captureDiagnostics() const { return captureDiagnostics_; }
    const RecordingPresetCatalog& exportPresetCatalog() const { return exportPresetCatalog_; }
    const RecordingPresetID& defaultExportPresetID() const { return defaultExportPresetID_; }

    bool operator==(const PendingRecordingArtifact&) const = default;

private:
    PendingRecordingArtifact() = default;

    std::string scratchPath_;
    Date createdAt_;
    double durationSeconds_ = 0;
    std::int64_t scratchByteSize_ = 0;
    RecordingCaptureDiagnostics captureDiagnostics_;
    RecordingPresetCatalog exportPresetCatalog_;
    RecordingPresetID defaultExportPresetID_;
};

}  // namespace yux

// Every key is required; decoding keeps the values as stored.
template <>
struct yux::json::Coder<yux::PendingRecordingArtifact> {
    static Json encode(const yux::PendingRecordingArtifact& artifact);
    static yux::PendingRecordingArtifact decode(const Json& value);
};
