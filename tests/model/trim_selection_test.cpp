#include "model/trim_selection.hpp"

#include <gtest/gtest.h>

#include "model/pending_recording_artifact.hpp"
#include "support/session_printers.hpp"

using namespace yux;
using json::DecodingError;
using Section = RecordingEdit::Section;

TEST(TrimSelection, NoSectionsIsEmpty) {
    TrimSelection selection;
    EXPECT_EQ(selection.startSeconds(), 0);
    EXPECT_EQ(selection.endSeconds(), 0);
    EXPECT_EQ(selection.sourceDurationSeconds(), 0);
    EXPECT_EQ(selection.durationSeconds(), 0);
}

TEST(TrimSelection, DurationsDivideBySpeedOverEverySection) {
    TrimSelection selection({Section{0, 10, 2.0, true}, Section{20, 30, 0.5, true}}, RecordingCrop{}, {});
    EXPECT_EQ(selection.startSeconds(), 0);
    EXPECT_EQ(selection.endSeconds(), 30);
    EXPECT_EQ(selection.sourceDurationSeconds(), 20);
    EXPECT_EQ(selection.durationSeconds(), 25);

    selection.sections.push_back(Section{30, 34, 4.0, false});
    EXPECT_EQ(selection.sourceDurationSeconds(), 24);
    EXPECT_EQ(selection.durationSeconds(), 26);
}

TEST(TrimSelection, RangeIsOneKeptSectionOverTheWholeFrame) {
    TrimSelection selection(3, 9);
    EXPECT_EQ(selection.sections, (std::vector<Section>{Section{3, 9, 1.0, true}}));
    EXPECT_EQ(selection.durationSeconds(), 6);
    EXPECT_EQ(selection.crop, RecordingCrop{});
    EXPECT_FALSE(selection.crop.isCropped());
    EXPECT_EQ(selection.crop.ratio(), RecordingCrop::Ratio::free);
    EXPECT_TRUE(selection.audioLevels.empty());
}

namespace {
RecordingCaptureDiagnostics diagnostics() { return {RecordingCaptureConfig::fullFidelity(), 12.5}; }

PendingRecordingArtifact artifact(const RecordingPresetCatalog& catalog, const RecordingPresetID& id) {
    return PendingRecordingArtifact("/tmp/Yux/Scratch/a.mov", Date{800000000.5}, 61.25, 123456789, diagnostics(),
                                    catalog, id);
}
}  // namespace

TEST(PendingRecordingArtifact, DefaultPresetFallsBackToHigh) {
    const auto& builtIn = RecordingPresetCatalog::builtIn();
    EXPECT_EQ(artifact(builtIn, "low").defaultExportPresetID(), RecordingPresetID("low"));
    EXPECT_EQ(artifact(builtIn, "ultra").defaultExportPresetID(), RecordingPresetID("high"));
}

TEST(PendingRecordingArtifact, StoresTheValidatedCatalog) {
    RecordingPresetCatalog broken{{RecordingPreset{"low", "Tiny", 5, 3, -1, RecordingVideoCodec::h264, 9}}};
    auto built = artifact(broken, "low");
    EXPECT_EQ(built.exportPresetCatalog(), RecordingPresetCatalog::validated(broken));
    EXPECT_EQ(built.defaultExportPresetID(),
              RecordingPresetCatalog::validSelectedPresetID("low", RecordingPresetCatalog::validated(broken)));
}

TEST(PendingRecordingArtifactCoding, RoundTripsAndKeepsStoredValues) {
    auto built = artifact(RecordingPresetCatalog::builtIn(), "medium");
    auto encoded = json::encode(built);
    EXPECT_EQ(encoded.size(), 7u);
    EXPECT_EQ(encoded["scratchByteSize"], 123456789);
    EXPECT_EQ(json::decodeText<PendingRecordingArtifact>(json::encodeText(encoded)), built);

    // Decoding does not validate: a stored id the catalog lacks stays.
    encoded["defaultExportPresetID"] = "ultra";
    EXPECT_EQ(json::decode<PendingRecordingArtifact>(encoded).defaultExportPresetID(), RecordingPresetID("ultra"));
}

TEST(PendingRecordingArtifactCoding, EveryKeyIsRequired) {
    auto encoded = json::encode(artifact(RecordingPresetCatalog::builtIn(), "high"));
    for (const auto& [key, value] : encoded.items()) {
        auto missing = encoded;
        missing.erase(key);
        EXPECT_THROW(json::decode<PendingRecordingArtifact>(missing), DecodingError) << key;
    }
    auto fractionalSize = encoded;
    fractionalSize["scratchByteSize"] = 1.5;
    EXPECT_THROW(json::decode<PendingRecordingArtifact>(fractionalSize), DecodingError);
}
