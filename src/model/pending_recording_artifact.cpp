#include "model/pending_recording_artifact.hpp"

namespace yux {

PendingRecordingArtifact::PendingRecordingArtifact(std::string scratchPath, Date createdAt, double durationSeconds,
                                                   std::int64_t scratchByteSize,
                                                   RecordingCaptureDiagnostics captureDiagnostics,
                                                   const RecordingPresetCatalog& exportPresetCatalog,
                                                   const RecordingPresetID& defaultExportPresetID)
    : scratchPath_(std::move(scratchPath)),
      createdAt_(createdAt),
      durationSeconds_(durationSeconds),
      scratchByteSize_(scratchByteSize),
      captureDiagnostics_(std::move(captureDiagnostics)),
      exportPresetCatalog_(RecordingPresetCatalog::validated(exportPresetCatalog)),
      defaultExportPresetID_(RecordingPresetCatalog::validSelectedPresetID(defaultExportPresetID, exportPresetCatalog_)) {}

PendingRecordingArtifact PendingRecordingArtifact::decoded(std::string scratchPath, Date createdAt,
                                                           double durationSeconds, std::int64_t scratchByteSize,
                                                           RecordingCaptureDiagnostics captureDiagnostics,
                                                           RecordingPresetCatalog exportPresetCatalog,
                                                           RecordingPresetID defaultExportPresetID) {
    PendingRecordingArtifact artifact;
    artifact.scratchPath_ = std::move(scratchPath);
    artifact.createdAt_ = createdAt;
    artifact.durationSeconds_ = durationSeconds;
    artifact.scratchByteSize_ = scratchByteSize;
    artifact.captureDiagnostics_ = std::move(captureDiagnostics);
    artifact.exportPresetCatalog_ = std::move(exportPresetCatalog);
    artifact.defaultExportPresetID_ = std::move(defaultExportPresetID);
    return artifact;
}

}  // namespace yux

namespace yux::json {

Json Coder<PendingRecordingArtifact>::encode(const PendingRecordingArtifact& artifact) {
    return ObjectWriter()
        .set("scratchPath", artifact.scratchPath())
        .set("createdAt", artifact.createdAt())
        .set("durationSeconds", artifact.durationSeconds())
        .set("scratchByteSize", artifact.scratchByteSize())
        .set("captureDiagnostics", artifact.captureDiagnostics())
        .set("exportPresetCatalog", artifact.exportPresetCatalog())
        .set("defaultExportPresetID", artifact.defaultExportPresetID())
        .build();
}

PendingRecordingArtifact Coder<PendingRecordingArtifact>::decode(const Json& value) {
    ObjectReader object(value);
    return PendingRecordingArtifact::decoded(
        object.required<std::string>("scratchPath"), object.required<Date>("createdAt"),
        object.required<double>("durationSeconds"), object.required<std::int64_t>("scratchByteSize"),
        object.required<RecordingCaptureDiagnostics>("captureDiagnostics"),
        object.required<RecordingPresetCatalog>("exportPresetCatalog"),
        object.required<RecordingPresetID>("defaultExportPresetID"));
}

}  // namespace yux::json
