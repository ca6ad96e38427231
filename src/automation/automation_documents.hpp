#pragma once

// The documents other programs exchange with Yux through files: one command per file, one
// response per command. Keys are field names; optionals are absent or null on reading and left
// out on writing.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/capture_input_preferences.hpp"
#include "model/capture_target.hpp"
#include "model/display_bounds.hpp"
#include "model/geometry.hpp"
#include "model/json_coding.hpp"
#include "automation/automation_edit_timeline.hpp"
#include "model/recording_edit.hpp"
#include "model/recording_preset.hpp"
#include "model/recording_source.hpp"
#include "model/trim_selection.hpp"

namespace yux::automation {

// Version of the file protocol that discovery reports.
inline constexpr int kProtocolVersion = 1;

// A UUID in upper case. Read only in the 36-character 8-4-4-4-12 form, in either case.
struct AutomationID {
    std::string text;
    auto operator<=>(const AutomationID&) const = default;
};
std::optional<AutomationID> automationIDFromText(std::string_view text);

struct RecordingAutomationExport {
    struct Edit {
        enum class Action { split, remove, speed };
        Action action = Action::split;
        double time = 0;
        std::optional<double> value;
        bool operator==(const Edit&) const = default;
    };

    std::optional<double> trimStart;
    std::optional<double> trimEnd;
    std::optional<std::vector<Edit>> edits;
    std::optional<CaptureRect> crop;
    std::optional<RecordingVideoCodec> codec;
    std::optional<double> quality;
    std::optional<double> scale;
    std::optional<float> systemAudioGain;
    std::optional<float> microphoneGain;

    // The trim range and the edits applied to a recording of `duration` seconds.
    AutomationEditTimeline validatedEdit(double duration) const;
    // What the export takes from a picture of `frameSize` pixels and tracks of these kinds.
    TrimSelection selection(double duration, Size frameSize,
                            const std::map<std::int32_t, RecordingSourceKind>& sourceKinds) const;
    // The preset with this export's quality, codec and scale.
    RecordingPreset profile(const RecordingPreset& defaultPreset) const;

    bool operator==(const RecordingAutomationExport&) const = default;
};

struct RecordingAutomationRequest {
    enum class Action { record, discover, status, stop, cancel };

    AutomationID id;
    std::optional<Action> action;
    std::optional<AutomationID> jobID;
    std::optional<double> durationSeconds;
    std::optional<SelectedCaptureArea> captureArea;
    std::optional<std::string> applicationBundleIdentifier;
    std::optional<DisplayID> displayID;
    std::optional<std::string> microphoneID;
    std::optional<std::string> cameraID;
    std::optional<CameraPlacement> cameraPlacement;
    std::optional<RecordingAutomationExport> exportOptions;  // key "export"

    RecordingAutomationRequest() = default;
    // A record-style command.
    RecordingAutomationRequest(AutomationID id, double durationSeconds,
                               std::optional<SelectedCaptureArea> captureArea = std::nullopt,
                               std::optional<std::string> applicationBundleIdentifier = std::nullopt);

    // Reads a command file strictly: keys the protocol does not declare are refused.
    static RecordingAutomationRequest decodeCommand(std::string_view bytes);
    // Checks a record command before it is accepted.
    void validate() const;
    CaptureTarget captureTarget(const DisplayID& mainDisplayID, const std::vector<DisplayBounds>& displays) const;

    bool operator==(const RecordingAutomationRequest&) const = default;

private:
    void validateTarget() const;
};

struct RecordingAutomationDiscovery {
    struct Input {
        std::string id;
        std::string name;
        bool operator==(const Input&) const = default;
    };
    struct Application {
        std::string bundleIdentifier;
        std::string name;
        std::vector<CaptureRect> windows;
        bool operator==(const Application&) const = default;
    };

    int protocolVersion = kProtocolVersion;
    std::vector<DisplayBounds> displays;
    std::vector<Application> applications;
    std::vector<Input> microphones;
    std::vector<Input> cameras;
    bool screenRecordingAccess = false;
    std::string screenAuthorization = "persistentPermission";
    bool microphoneAccess = false;
    bool cameraAccess = false;
    std::string sessionState;
    std::optional<AutomationID> activeJobID;
    CaptureInputPreferences inputPreferences;
    RecordingPresetCatalog exportPresets;

    bool operator==(const RecordingAutomationDiscovery&) const = default;
};

struct RecordingAutomationResponse {
    enum class Phase { accepted, configuring, recording, stopping, exporting, completed, failed, cancelled };

    AutomationID id;
    Phase phase = Phase::accepted;
    std::optional<std::string> outputPath;
    std::optional<std::string> error;
    std::optional<AutomationID> jobID;
    std::optional<double> progress;
    std::optional<RecordingAutomationDiscovery> discovery;

    bool operator==(const RecordingAutomationResponse&) const = default;
};

bool isTerminal(RecordingAutomationResponse::Phase phase);
std::string_view textOf(RecordingAutomationRequest::Action action);
std::string_view textOf(RecordingAutomationExport::Edit::Action action);
std::string_view textOf(RecordingAutomationResponse::Phase phase);

// Compact JSON of a response. Text that is not valid UTF-8 (window titles, platform messages)
// is written with replacement characters instead of failing the whole answer.
std::string encodeResponseText(const RecordingAutomationResponse& response);

// The linear part of a track's display transform: x' = a x + c y, y' = b x + d y.
struct TrackTransform {
    double a = 1, b = 0, c = 0, d = 1;
};

// Pixel size the export of a screen track produces: the whole-pixel natural size turned by the
// track's transform, scaled by the profile's scale (limited to 0.25...1), rounded and lowered to
// even, at least 2 × 2.
Size automationFrameSize(Size naturalSize, TrackTransform transform, double resolutionScale);

}  // namespace yux::automation

template <>
struct yux::json::Coder<yux::automation::AutomationID> {
    static Json encode(const yux::automation::AutomationID& id);
    static yux::automation::AutomationID decode(const Json& value);
};
template <>
struct yux::json::Coder<yux::automation::RecordingAutomationExport::Edit> {
    static Json encode(const yux::automation::RecordingAutomationExport::Edit& edit);
    static yux::automation::RecordingAutomationExport::Edit decode(const Json& value);
};
template <>
struct yux::json::Coder<yux::automation::RecordingAutomationExport> {
    static Json encode(const yux::automation::RecordingAutomationExport& options);
    static yux::automation::RecordingAutomationExport decode(const Json& value);
};
template <>
struct yux::json::Coder<yux::automation::RecordingAutomationRequest> {
    static Json encode(const yux::automation::RecordingAutomationRequest& request);
    static yux::automation::RecordingAutomationRequest decode(const Json& value);
};
template <>
struct yux::json::Coder<yux::automation::RecordingAutomationDiscovery::Input> {
    static Json encode(const yux::automation::RecordingAutomationDiscovery::Input& input);
    static yux::automation::RecordingAutomationDiscovery::Input decode(const Json& value);
};
template <>
struct yux::json::Coder<yux::automation::RecordingAutomationDiscovery::Application> {
    static Json encode(const yux::automation::RecordingAutomationDiscovery::Application& application);
    static yux::automation::RecordingAutomationDiscovery::Application decode(const Json& value);
};
template <>
struct yux::json::Coder<yux::automation::RecordingAutomationDiscovery> {
    static Json encode(const yux::automation::RecordingAutomationDiscovery& discovery);
    static yux::automation::RecordingAutomationDiscovery decode(const Json& value);
};
template <>
struct yux::json::Coder<yux::automation::RecordingAutomationResponse> {
    static Json encode(const yux::automation::RecordingAutomationResponse& response);
    static yux::automation::RecordingAutomationResponse decode(const Json& value);
};
