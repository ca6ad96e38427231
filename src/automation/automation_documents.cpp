#include "automation/automation_documents.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>
#include <set>

#include <QString>

#include "model/app_error.hpp"
#include "model/recording_crop.hpp"

namespace yux::automation {

namespace {

using json::Json;
using json::ObjectReader;
using json::ObjectWriter;

const json::TextCase<RecordingAutomationRequest::Action> kActions[] = {
    {RecordingAutomationRequest::Action::record, "record"},
    {RecordingAutomationRequest::Action::discover, "discover"},
    {RecordingAutomationRequest::Action::status, "status"},
    {RecordingAutomationRequest::Action::stop, "stop"},
    {RecordingAutomationRequest::Action::cancel, "cancel"},
};
const json::TextCase<RecordingAutomationExport::Edit::Action> kEditActions[] = {
    {RecordingAutomationExport::Edit::Action::split, "split"},
    {RecordingAutomationExport::Edit::Action::remove, "remove"},
    {RecordingAutomationExport::Edit::Action::speed, "speed"},
};
const json::TextCase<RecordingAutomationResponse::Phase> kPhases[] = {
    {RecordingAutomationResponse::Phase::accepted, "accepted"},
    {RecordingAutomationResponse::Phase::configuring, "configuring"},
    {RecordingAutomationResponse::Phase::recording, "recording"},
    {RecordingAutomationResponse::Phase::stopping, "stopping"},
    {RecordingAutomationResponse::Phase::exporting, "exporting"},
    {RecordingAutomationResponse::Phase::completed, "completed"},
    {RecordingAutomationResponse::Phase::failed, "failed"},
    {RecordingAutomationResponse::Phase::cancelled, "cancelled"},
};

// Gains are single precision: a number float cannot hold fails like a wrong type would.
std::optional<float> optionalGain(const ObjectReader& object, std::string_view key) {
    auto value = object.optional<double>(key);
    if (!value) return std::nullopt;
    if (std::isnan(*value)) return std::numeric_limits<float>::quiet_NaN();
    if (!(std::fabs(*value) <= std::numeric_limits<float>::max())) {
        throw json::DecodingError(json::DecodingError::Kind::dataCorrupted,
                                  "Parsed JSON number <" + object.find(key)->dump() + "> does not fit in Float.");
    }
    return static_cast<float>(*value);
}

const std::set<std::string, std::less<>> kCommandKeys = {
    "id", "action", "jobID", "durationSeconds", "captureArea", "applicationBundleIdentifier",
    "displayID", "microphoneID", "cameraID", "cameraPlacement", "export"};
const std::set<std::string, std::less<>> kPlacementKeys = {
    "horizontal", "vertical", "gapX", "gapY", "sizeShare", "shape", "aspect", "mirrored", "zoom", "centreX", "centreY"};
const std::set<std::string, std::less<>> kExportKeys = {
    "trimStart", "trimEnd", "edits", "crop", "codec", "quality", "scale", "systemAudioGain", "microphoneGain"};
const std::set<std::string, std::less<>> kRectKeys = {"x", "y", "width", "height"};
const std::set<std::string, std::less<>> kEditKeys = {"action", "time", "value"};

void checkKeys(const Json& object, const std::set<std::string, std::less<>>& allowed) {
    std::vector<std::string> unknown;
    // nlohmann keeps object keys sorted by their bytes, which is the order of Unicode scalars.
    for (const auto& [key, value] : object.items()) {
        if (!allowed.contains(key)) unknown.push_back(key);
    }
    if (unknown.empty()) return;
    std::sort(unknown.begin(), unknown.end());
    std::string joined;
    for (const auto& key : unknown) joined += (joined.empty() ? "" : ", ") + key;
    throw AppError::outputFinalizationFailed("Unknown command fields: " + joined);
}

// Nothing but white space and line breaks as Unicode counts them (no-break and ideographic
// spaces, line and paragraph separators, NEL), not only ASCII's.
bool isBlank(const std::string& text) {
    const QString decoded = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    return std::all_of(decoded.begin(), decoded.end(), [](QChar c) { return c.isSpace(); });
}

bool within(double value, double lower, double upper) {
    return std::isfinite(value) && value >= lower && value <= upper;
}

bool validPlacement(const CameraPlacement& placement) {
    return std::isfinite(placement.gapX) && std::isfinite(placement.gapY) && within(placement.sizeShare, 0.05, 1) &&
           within(placement.aspect, 0.1, 10) && within(placement.zoom, 1, 4) && within(placement.centreX, 0, 1) &&
           within(placement.centreY, 0, 1);
}

// Halves away from zero; odd lowered by one; never below 2.
double evenPixels(double length) {
    double value = std::round(length);
    if (std::fmod(value, 2) != 0) value -= 1;
    return std::max(value, 2.0);
}

}  // namespace

std::optional<AutomationID> automationIDFromText(std::string_view text) {
    if (text.size() != 36) return std::nullopt;
    std::string upper(text);
    for (std::size_t index = 0; index < upper.size(); ++index) {
        char& c = upper[index];
        if (index == 8 || index == 13 || index == 18 || index == 23) {
            if (c != '-') return std::nullopt;
        } else if (std::isxdigit(static_cast<unsigned char>(c))) {
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        } else {
            return std::nullopt;
        }
    }
    return AutomationID{upper};
}

bool isTerminal(RecordingAutomationResponse::Phase phase) {
    using Phase = RecordingAutomationResponse::Phase;
    return phase == Phase::completed || phase == Phase::failed || phase == Phase::cancelled;
}
std::string_view textOf(RecordingAutomationRequest::Action action) { return json::textOf(kActions, action); }
std::string_view textOf(RecordingAutomationExport::Edit::Action action) { return json::textOf(kEditActions, action); }
std::string_view textOf(RecordingAutomationResponse::Phase phase) { return json::textOf(kPhases, phase); }

RecordingAutomationRequest::RecordingAutomationRequest(AutomationID id, double durationSeconds,
                                                       std::optional<SelectedCaptureArea> captureArea,
                                                       std::optional<std::string> applicationBundleIdentifier)
    : id(std::move(id)), durationSeconds(durationSeconds), captureArea(std::move(captureArea)),
      applicationBundleIdentifier(std::move(applicationBundleIdentifier)) {}

RecordingAutomationRequest RecordingAutomationRequest::decodeCommand(std::string_view bytes) {
    Json document = json::parseText(bytes);
    if (document.is_object()) {
        checkKeys(document, kCommandKeys);
        if (auto placement = document.find("cameraPlacement"); placement != document.end() && placement->is_object()) {
            checkKeys(*placement, kPlacementKeys);
        }
        if (auto options = document.find("export"); options != document.end() && options->is_object()) {
            checkKeys(*options, kExportKeys);
            if (auto crop = options->find("crop"); crop != options->end() && crop->is_object()) {
                checkKeys(*crop, kRectKeys);
            }
            if (auto edits = options->find("edits"); edits != options->end() && edits->is_array() &&
                std::all_of(edits->begin(), edits->end(), [](const Json& edit) { return edit.is_object(); })) {
                for (const auto& edit : *edits) checkKeys(edit, kEditKeys);
            }
        }
    }
    return json::decode<RecordingAutomationRequest>(document);
}

void RecordingAutomationRequest::validate() const {
    if (!durationSeconds || !within(*durationSeconds, 1, 3600)) {
        throw AppError::screenSelectionFailed("duration must be 1\u20133600 seconds");
    }
    validateTarget();
    for (const auto* device : {&microphoneID, &cameraID}) {
        if (*device && isBlank(**device)) throw AppError::screenSelectionFailed("Device ID must not be empty");
    }
    if (cameraPlacement) {
        if (!cameraID) throw AppError::cameraFailed("Camera placement requires --camera");
        if (!validPlacement(*cameraPlacement)) throw AppError::cameraFailed("Invalid camera placement");
    }
    if (exportOptions) exportOptions->validatedEdit(*durationSeconds);
}

void RecordingAutomationRequest::validateTarget() const {
    if (applicationBundleIdentifier) {
        if (captureArea) throw AppError::screenSelectionFailed("Choose either an application or an area");
        if (isBlank(*applicationBundleIdentifier)) {
            throw AppError::screenSelectionFailed("Application bundle identifier must not be empty");
        }
    }
    if (captureArea && displayID) throw AppError::screenSelectionFailed("Choose either a display or an area");
}

CaptureTarget RecordingAutomationRequest::captureTarget(const DisplayID& mainDisplayID,
                                                        const std::vector<DisplayBounds>& displays) const {
    validateTarget();
    if (applicationBundleIdentifier) {
        return CaptureTarget::application(*applicationBundleIdentifier, displayID.value_or(mainDisplayID));
    }
    if (captureArea) return CaptureTarget::area(*captureArea);
    if (displayID) {
        auto found = std::find_if(displays.begin(), displays.end(),
                                  [&](const DisplayBounds& display) { return display.displayID == *displayID; });
        if (found == displays.end()) throw AppError::screenSelectionFailed("Display is disconnected");
        return CaptureTarget::area({found->displayID, CaptureRect{found->x, found->y, found->width, found->height}});
    }
    return CaptureTarget::fullMainDisplay();
}

AutomationEditTimeline RecordingAutomationExport::validatedEdit(double duration) const {
    const auto fail = [](const char* message) { throw AppError::outputFinalizationFailed(message); };
    const double start = trimStart.value_or(0);
    const double end = trimEnd.value_or(duration);
    if ((trimStart && !std::isfinite(*trimStart)) || start < 0 || !std::isfinite(end)) {
        fail("Trim must be within the recording duration");
    }
    if (duration < 0.5) {
        // Such a recording can only be taken whole.
        if (end > duration || end - start < duration) fail("Trim must be within the recording duration");
    } else if (end - start < 0.5 || end > duration) {
        fail("Trim must be within the recording duration");
    }
    const auto& editList = edits ? *edits : std::vector<Edit>{};
    for (const auto& edit : editList) {
        if (!std::isfinite(edit.time) || edit.time < start || edit.time >= end) fail("Edit time must be inside trim");
        if (edit.action == Edit::Action::speed) {
            const double speed = edit.value.value_or(0);
            if (std::find(std::begin(RecordingEdit::speeds), std::end(RecordingEdit::speeds), speed) ==
                std::end(RecordingEdit::speeds)) {
                fail("Unsupported speed");
            }
        }
    }
    if (quality && !within(*quality, 0.1, 1)) fail("Quality must be 0.1\u20131");
    if (scale && !within(*scale, 0.25, 1)) fail("Scale must be 0.25\u20131");
    for (const auto* gain : {&systemAudioGain, &microphoneGain}) {
        if (*gain && !within(**gain, 0, 2)) fail("Audio gain must be 0\u20132");
    }
    if (crop) {
        const auto& c = *crop;
        const bool finite = std::isfinite(c.x) && std::isfinite(c.y) && std::isfinite(c.width) && std::isfinite(c.height);
        if (!finite || c.x < 0 || c.y < 0 || c.width <= 0 || c.height <= 0 || c.x + c.width > 1 || c.y + c.height > 1) {
            fail("Crop must be a normalized rectangle inside the picture");
        }
    }
    AutomationEditTimeline edit(duration, start, end);
    for (const auto& step : editList) {
        switch (step.action) {
            case Edit::Action::split:
                if (!edit.split(step.time)) fail("Split must be at least 0.05 seconds from section edges");
                break;
            case Edit::Action::remove:
                if (!edit.toggleRemoval(step.time)) fail("Cannot remove the last kept section");
                break;
            case Edit::Action::speed: edit.setSpeed(*step.value, step.time); break;
        }
    }
    return edit;
}

TrimSelection RecordingAutomationExport::selection(double duration, Size frameSize,
                                                   const std::map<std::int32_t, RecordingSourceKind>& sourceKinds) const {
    const AutomationEditTimeline edit = validatedEdit(duration);
    RecordingCrop pictureCrop;
    if (crop) {
        pictureCrop.set(RecordingCrop::Field::width, crop->width * frameSize.width, frameSize);
        pictureCrop.set(RecordingCrop::Field::height, crop->height * frameSize.height, frameSize);
        pictureCrop.set(RecordingCrop::Field::x, crop->x * frameSize.width, frameSize);
        pictureCrop.set(RecordingCrop::Field::y, crop->y * frameSize.height, frameSize);
    }
    std::map<std::int32_t, RecordingAudioLevel> levels;
    for (const auto& [trackID, kind] : sourceKinds) {
        std::optional<float> gain;
        if (kind == RecordingSourceKind::systemAudio) gain = systemAudioGain;
        if (kind == RecordingSourceKind::microphone) gain = microphoneGain;
        if (!gain) continue;
        float level = std::isfinite(*gain) ? std::clamp(*gain, RecordingAudioLevel::kMinimumGain,
                                                         RecordingAudioLevel::kMaximumGain)
                                           : 1.0f;
        levels[trackID] = RecordingAudioLevel{level, false};
    }
    return TrimSelection(edit.keptSections(), pictureCrop, levels);
}

RecordingPreset RecordingAutomationExport::profile(const RecordingPreset& defaultPreset) const {
    RecordingPreset preset = defaultPreset;
    if (quality) preset.sharpness = preset.motionDetail = *quality;
    if (codec) preset.codec = *codec;
    if (scale) preset.resolutionScale = *scale;
    return preset;
}

std::string encodeResponseText(const RecordingAutomationResponse& response) {
    return json::encodeReplacingInvalidText(json::encode(response));
}

Size automationFrameSize(Size naturalSize, TrackTransform transform, double resolutionScale) {
    const double w0 = std::trunc(naturalSize.width);
    const double h0 = std::trunc(naturalSize.height);
    const double width = std::fabs(transform.a) * w0 + std::fabs(transform.c) * h0;
    const double height = std::fabs(transform.b) * w0 + std::fabs(transform.d) * h0;
    const double scale = std::isnan(resolutionScale) ? 1.0 : std::clamp(resolutionScale, 0.25, 1.0);
    return {evenPixels(width * scale), evenPixels(height * scale)};
}

}  // namespace yux::automation

namespace yux::json {

using namespace yux::automation;

Json Coder<AutomationID>::encode(const AutomationID& id) { return id.text; }
AutomationID Coder<AutomationID>::decode(const Json& value) {
    auto text = Coder<std::string>::decode(value);
    if (auto id = automationIDFromText(text)) return *id;
    throw DecodingError(DecodingError::Kind::dataCorrupted, "Attempted to decode UUID from invalid UUID string.");
}

Json Coder<RecordingAutomationExport::Edit>::encode(const RecordingAutomationExport::Edit& edit) {
    return ObjectWriter()
        .set("action", std::string(textOf(edit.action)))
        .set("time", edit.time)
        .setIfPresent("value", edit.value)
        .build();
}
RecordingAutomationExport::Edit Coder<RecordingAutomationExport::Edit>::decode(const Json& value) {
    ObjectReader object(value);
    RecordingAutomationExport::Edit edit;
    edit.action = decodeTextCase(kEditActions, object.required<Json>("action"), "Action");
    edit.time = object.required<double>("time");
    edit.value = object.optional<double>("value");
    return edit;
}

Json Coder<RecordingAutomationExport>::encode(const RecordingAutomationExport& options) {
    ObjectWriter writer;
    writer.setIfPresent("trimStart", options.trimStart)
        .setIfPresent("trimEnd", options.trimEnd)
        .setIfPresent("edits", options.edits)
        .setIfPresent("crop", options.crop)
        .setIfPresent("codec", options.codec)
        .setIfPresent("quality", options.quality)
        .setIfPresent("scale", options.scale);
    Json object = writer.build();
    if (options.systemAudioGain) object["systemAudioGain"] = Coder<double>::encode(*options.systemAudioGain);
    if (options.microphoneGain) object["microphoneGain"] = Coder<double>::encode(*options.microphoneGain);
    return object;
}
RecordingAutomationExport Coder<RecordingAutomationExport>::decode(const Json& value) {
    ObjectReader object(value);
    RecordingAutomationExport options;
    options.trimStart = object.optional<double>("trimStart");
    options.trimEnd = object.optional<double>("trimEnd");
    options.edits = object.optional<std::vector<RecordingAutomationExport::Edit>>("edits");
    options.crop = object.optional<CaptureRect>("crop");
    options.codec = object.optional<RecordingVideoCodec>("codec");
    options.quality = object.optional<double>("quality");
    options.scale = object.optional<double>("scale");
    options.systemAudioGain = optionalGain(object, "systemAudioGain");
    options.microphoneGain = optionalGain(object, "microphoneGain");
    return options;
}

Json Coder<RecordingAutomationRequest>::encode(const RecordingAutomationRequest& request) {
    ObjectWriter writer;
    writer.set("id", request.id);
    if (request.action) writer.set("action", std::string(textOf(*request.action)));
    return writer.setIfPresent("jobID", request.jobID)
        .setIfPresent("durationSeconds", request.durationSeconds)
        .setIfPresent("captureArea", request.captureArea)
        .setIfPresent("applicationBundleIdentifier", request.applicationBundleIdentifier)
        .setIfPresent("displayID", request.displayID)
        .setIfPresent("microphoneID", request.microphoneID)
        .setIfPresent("cameraID", request.cameraID)
        .setIfPresent("cameraPlacement", request.cameraPlacement)
        .setIfPresent("export", request.exportOptions)
        .build();
}
RecordingAutomationRequest Coder<RecordingAutomationRequest>::decode(const Json& value) {
    ObjectReader object(value);
    RecordingAutomationRequest request;
    request.id = object.required<AutomationID>("id");
    if (object.has("action")) request.action = decodeTextCase(kActions, *object.find("action"), "Action");
    request.jobID = object.optional<AutomationID>("jobID");
    request.durationSeconds = object.optional<double>("durationSeconds");
    request.captureArea = object.optional<SelectedCaptureArea>("captureArea");
    request.applicationBundleIdentifier = object.optional<std::string>("applicationBundleIdentifier");
    request.displayID = object.optional<DisplayID>("displayID");
    request.microphoneID = object.optional<std::string>("microphoneID");
    request.cameraID = object.optional<std::string>("cameraID");
    request.cameraPlacement = object.optional<CameraPlacement>("cameraPlacement");
    request.exportOptions = object.optional<RecordingAutomationExport>("export");
    return request;
}

Json Coder<RecordingAutomationDiscovery::Input>::encode(const RecordingAutomationDiscovery::Input& input) {
    return ObjectWriter().set("id", input.id).set("name", input.name).build();
}
RecordingAutomationDiscovery::Input Coder<RecordingAutomationDiscovery::Input>::decode(const Json& value) {
    ObjectReader object(value);
    return {object.required<std::string>("id"), object.required<std::string>("name")};
}

Json Coder<RecordingAutomationDiscovery::Application>::encode(
    const RecordingAutomationDiscovery::Application& application) {
    return ObjectWriter()
        .set("bundleIdentifier", application.bundleIdentifier)
        .set("name", application.name)
        .set("windows", application.windows)
        .build();
}
RecordingAutomationDiscovery::Application Coder<RecordingAutomationDiscovery::Application>::decode(const Json& value) {
    ObjectReader object(value);
    return {object.required<std::string>("bundleIdentifier"), object.required<std::string>("name"),
            object.required<std::vector<CaptureRect>>("windows")};
}

Json Coder<RecordingAutomationDiscovery>::encode(const RecordingAutomationDiscovery& discovery) {
    return ObjectWriter()
        .set("protocolVersion", discovery.protocolVersion)
        .set("displays", discovery.displays)
        .set("applications", discovery.applications)
        .set("microphones", discovery.microphones)
        .set("cameras", discovery.cameras)
        .set("screenRecordingAccess", discovery.screenRecordingAccess)
        .set("screenAuthorization", discovery.screenAuthorization)
        .set("microphoneAccess", discovery.microphoneAccess)
        .set("cameraAccess", discovery.cameraAccess)
        .set("sessionState", discovery.sessionState)
        .setIfPresent("activeJobID", discovery.activeJobID)
        .set("inputPreferences", discovery.inputPreferences)
        .set("exportPresets", discovery.exportPresets)
        .build();
}
RecordingAutomationDiscovery Coder<RecordingAutomationDiscovery>::decode(const Json& value) {
    ObjectReader object(value);
    RecordingAutomationDiscovery discovery;
    discovery.protocolVersion = object.required<int>("protocolVersion");
    discovery.displays = object.required<std::vector<DisplayBounds>>("displays");
    discovery.applications = object.required<std::vector<RecordingAutomationDiscovery::Application>>("applications");
    discovery.microphones = object.required<std::vector<RecordingAutomationDiscovery::Input>>("microphones");
    discovery.cameras = object.required<std::vector<RecordingAutomationDiscovery::Input>>("cameras");
    discovery.screenRecordingAccess = object.required<bool>("screenRecordingAccess");
    discovery.screenAuthorization = object.required<std::string>("screenAuthorization");
    discovery.microphoneAccess = object.required<bool>("microphoneAccess");
    discovery.cameraAccess = object.required<bool>("cameraAccess");
    discovery.sessionState = object.required<std::string>("sessionState");
    discovery.activeJobID = object.optional<AutomationID>("activeJobID");
    discovery.inputPreferences = object.required<CaptureInputPreferences>("inputPreferences");
    discovery.exportPresets = object.required<RecordingPresetCatalog>("exportPresets");
    return discovery;
}

Json Coder<RecordingAutomationResponse>::encode(const RecordingAutomationResponse& response) {
    return ObjectWriter()
        .set("id", response.id)
        .set("phase", std::string(textOf(response.phase)))
        .setIfPresent("outputPath", response.outputPath)
        .setIfPresent("error", response.error)
        .setIfPresent("jobID", response.jobID)
        .setIfPresent("progress", response.progress)
        .setIfPresent("discovery", response.discovery)
        .build();
}
RecordingAutomationResponse Coder<RecordingAutomationResponse>::decode(const Json& value) {
    ObjectReader object(value);
    RecordingAutomationResponse response;
    response.id = object.required<AutomationID>("id");
    response.phase = decodeTextCase(kPhases, object.required<Json>("phase"), "Phase");
    response.outputPath = object.optional<std::string>("outputPath");
    response.error = object.optional<std::string>("error");
    response.jobID = object.optional<AutomationID>("jobID");
    response.progress = object.optional<double>("progress");
    response.discovery = object.optional<RecordingAutomationDiscovery>("discovery");
    return response;
}

}  // namespace yux::json
