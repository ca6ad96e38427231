#include "automation/automation_documents.hpp"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "model/app_error.hpp"

using namespace yux;
using namespace yux::automation;
using json::DecodingError;

namespace {

const std::string kID = "0F8FAD5B-D9CB-469F-A165-70867728950E";
const std::string kLowerID = "0f8fad5b-d9cb-469f-a165-70867728950e";

std::string command(const std::string& fields) {
    return "{\"id\":\"" + kID + "\"" + (fields.empty() ? "" : "," + fields) + "}";
}

// "case: detail" of an AppError, "decoding" for the JSON decoder's and reader's errors.
template <class F>
std::string failureOf(F&& operation) {
    try {
        operation();
    } catch (const AppError& error) {
        return std::to_string(static_cast<int>(error.kind())) + ":" + error.detail();
    } catch (const DecodingError&) {
        return "decoding";
    }
    return "passed";
}

std::string appFailure(AppError error) {
    return std::to_string(static_cast<int>(error.kind())) + ":" + error.detail();
}

std::string validation(const std::string& fields) {
    return failureOf([&] { RecordingAutomationRequest::decodeCommand(command(fields)).validate(); });
}

std::string screen(const char* detail) { return appFailure(AppError::screenSelectionFailed(detail)); }
std::string camera(const char* detail) { return appFailure(AppError::cameraFailed(detail)); }
std::string output(const char* detail) { return appFailure(AppError::outputFinalizationFailed(detail)); }

}  // namespace

TEST(AutomationDocumentsTest, CommandDecodingFollowsTheWireRules) {
    auto onlyID = RecordingAutomationRequest::decodeCommand(command(""));
    EXPECT_EQ(onlyID.id.text, kID);
    EXPECT_EQ(onlyID, RecordingAutomationRequest{[] {
                  RecordingAutomationRequest r;
                  r.id = AutomationID{kID};
                  return r;
              }()});

    auto lower = RecordingAutomationRequest::decodeCommand(
        "{\"id\":\"" + kLowerID + "\",\"jobID\":\"" + kLowerID + "\",\"export\":null,\"action\":null}");
    EXPECT_EQ(lower.id.text, kID);
    EXPECT_EQ(lower.jobID->text, kID);
    EXPECT_FALSE(lower.exportOptions);
    EXPECT_FALSE(lower.action);

    struct Case {
        std::string text;
        std::string failure;
    };
    const Case cases[] = {
        {command("\"action\":\"Record\""), "decoding"},
        {command("\"action\":\"cancel\""), "passed"},
        {"{\"id\":null}", "decoding"},
        {"{}", "decoding"},
        {"{\"id\":\"{" + kID + "}\"}", "decoding"},
        {"{\"id\":\"" + kID.substr(0, 35) + "G\"}", "decoding"},
        {"{\"id\":\"0F8FAD5BD9CB469FA16570867728950E\"}", "decoding"},
        {"[1,2]", "decoding"},
        {"{\"id\":", "decoding"},
        {command("\"durationSeconds\":\"2\""), "decoding"},
        {command("\"durationSeconds\":1e400"), "decoding"},
        {command("\"durationSeconds\":-1e400"), "decoding"},
        {command("\"export\":{\"systemAudioGain\":1e39}"), "decoding"},
        {command("\"export\":{\"edits\":\"split\"}"), "decoding"},
        {command("\"export\":{\"edits\":[{\"action\":\"speed\"}]}"), "decoding"},
        {command("\"export\":{\"codec\":\"H264\"}"), "decoding"},
        {command("\"foo\":1,\"bar\":null"), output("Unknown command fields: bar, foo")},
        {command("\"foo\":1,\"cameraPlacement\":{\"x\":1}"), output("Unknown command fields: foo")},
        {command("\"cameraPlacement\":{\"x\":1,\"zoom\":2,\"a\":0}"), output("Unknown command fields: a, x")},
        {command("\"export\":{\"crop\":{\"x\":0,\"y\":0,\"width\":1,\"height\":1,\"depth\":1}}"),
         output("Unknown command fields: depth")},
        {command("\"export\":{\"edits\":[{\"action\":\"split\",\"time\":1},{\"action\":\"split\",\"time\":2,\"at\":2}]}"),
         output("Unknown command fields: at")},
        {command("\"export\":{\"trim\":1,\"crop\":{\"z\":1}}"), output("Unknown command fields: trim")},
        {command("\"captureArea\":{\"displayID\":{\"rawValue\":\"1\",\"extra\":1},\"rect\":{\"x\":0,\"y\":0,"
                 "\"width\":1,\"height\":1,\"extra\":2}},\"displayID\":{\"rawValue\":\"1\",\"more\":0}"),
         "passed"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(failureOf([&] { RecordingAutomationRequest::decodeCommand(c.text); }), c.failure) << c.text;
    }
}

TEST(AutomationDocumentsTest, ValidationTextsAndTheirCases) {
    struct Case {
        std::string fields;
        std::string failure;
    };
    const std::string duration = "\"durationSeconds\":10";
    const std::string area = "\"captureArea\":{\"displayID\":{\"rawValue\":\"1\"},\"rect\":{\"x\":0,\"y\":0,\"width\":10,\"height\":10}}";
    const auto withExport = [&](const std::string& options) { return duration + ",\"export\":{" + options + "}"; };
    const auto placement = [&](const std::string& keys) {
        return duration + ",\"cameraID\":\"cam\",\"cameraPlacement\":{" + keys + "}";
    };
    const Case cases[] = {
        {"", screen("duration must be 1\xE2\x80\x93" "3600 seconds")},
        {"\"durationSeconds\":0.5", screen("duration must be 1\xE2\x80\x93" "3600 seconds")},
        {"\"durationSeconds\":3600.5", screen("duration must be 1\xE2\x80\x93" "3600 seconds")},
        {"\"durationSeconds\":1e308", screen("duration must be 1\xE2\x80\x93" "3600 seconds")},
        {"\"durationSeconds\":1", "passed"},
        {"\"durationSeconds\":3600", "passed"},
        {duration + ",\"applicationBundleIdentifier\":\" \\t\\n\"", screen("Application bundle identifier must not be empty")},
        {duration + ",\"applicationBundleIdentifier\":\" \"," + area, screen("Choose either an application or an area")},
        {duration + ",\"displayID\":{\"rawValue\":\"1\"}," + area, screen("Choose either a display or an area")},
        {duration + ",\"applicationBundleIdentifier\":\"org.app\",\"displayID\":{\"rawValue\":\"1\"}", "passed"},
        {duration + ",\"microphoneID\":\"\\n\"", screen("Device ID must not be empty")},
        {duration + ",\"microphoneID\":\"\",\"cameraPlacement\":{}", screen("Device ID must not be empty")},
        {duration + ",\"cameraID\":\" \"", screen("Device ID must not be empty")},
        {duration + ",\"cameraPlacement\":{}", camera("Camera placement requires --camera")},
        {placement(""), "passed"},
        {placement("\"sizeShare\":0.05,\"aspect\":10,\"zoom\":4,\"centreX\":0,\"gapX\":1000000"), "passed"},
        {placement("\"sizeShare\":0.04"), camera("Invalid camera placement")},
        {placement("\"zoom\":4.01"), camera("Invalid camera placement")},
        {placement("\"centreY\":1.01"), camera("Invalid camera placement")},
                {withExport("\"trimEnd\":10"), "passed"},
        {withExport("\"trimEnd\":10.01"), output("Trim must be within the recording duration")},
        {withExport("\"trimStart\":9.6"), output("Trim must be within the recording duration")},
        {withExport("\"trimStart\":-0.1"), output("Trim must be within the recording duration")},
                {withExport("\"edits\":[{\"action\":\"split\",\"time\":5}]"), "passed"},
        {withExport("\"trimStart\":1,\"edits\":[{\"action\":\"split\",\"time\":1}]"),
         output("Split must be at least 0.05 seconds from section edges")},
        {withExport("\"edits\":[{\"action\":\"split\",\"time\":5},{\"action\":\"split\",\"time\":5.03}]"),
         output("Split must be at least 0.05 seconds from section edges")},
        {withExport("\"edits\":[{\"action\":\"split\",\"time\":10}]"), output("Edit time must be inside trim")},
        {withExport("\"trimStart\":2,\"edits\":[{\"action\":\"remove\",\"time\":1}]"), output("Edit time must be inside trim")},
        {withExport("\"edits\":[{\"action\":\"speed\",\"time\":1}]"), output("Unsupported speed")},
        {withExport("\"edits\":[{\"action\":\"speed\",\"time\":1,\"value\":3}]"), output("Unsupported speed")},
        {withExport("\"edits\":[{\"action\":\"speed\",\"time\":1,\"value\":1.5}]"), "passed"},
        {withExport("\"edits\":[{\"action\":\"speed\",\"time\":1,\"value\":1}]"), "passed"},
        // Every edit is checked before any is applied.
        {withExport("\"edits\":[{\"action\":\"split\",\"time\":0},{\"action\":\"speed\",\"time\":1,\"value\":3}]"),
         output("Unsupported speed")},
        {withExport("\"edits\":[{\"action\":\"remove\",\"time\":1}]"), output("Cannot remove the last kept section")},
        {withExport("\"edits\":[{\"action\":\"split\",\"time\":5},{\"action\":\"remove\",\"time\":1},"
                    "{\"action\":\"remove\",\"time\":1}]"),
         "passed"},
        {withExport("\"quality\":0.1"), "passed"},
        {withExport("\"quality\":1"), "passed"},
        {withExport("\"quality\":0.05"), output("Quality must be 0.1\xE2\x80\x93" "1")},
        {withExport("\"scale\":0.25"), "passed"},
        {withExport("\"scale\":0.2"), output("Scale must be 0.25\xE2\x80\x93" "1")},
        {withExport("\"systemAudioGain\":2"), "passed"},
        {withExport("\"systemAudioGain\":2.5"), output("Audio gain must be 0\xE2\x80\x93" "2")},
        {withExport("\"microphoneGain\":-0.1"), output("Audio gain must be 0\xE2\x80\x93" "2")},
        {withExport("\"crop\":{\"x\":0.5,\"y\":0,\"width\":0.5,\"height\":1}"), "passed"},
        {withExport("\"crop\":{\"x\":0.5,\"y\":0,\"width\":0.6,\"height\":1}"),
         output("Crop must be a normalized rectangle inside the picture")},
        {withExport("\"crop\":{\"x\":0,\"y\":0,\"width\":0,\"height\":1}"),
         output("Crop must be a normalized rectangle inside the picture")},
    };
    for (const auto& c : cases) EXPECT_EQ(validation(c.fields), c.failure) << c.fields;

    // Blank is white space and line breaks as Unicode counts them, each alone; a zero-width
    // space is none, and a name that ends in a no-break space is not blank.
    for (const char* blank : {"\\t", "\\n", "\\u000b", "\\f", "\\r", "\\u0085", "\\u00a0", "\\u2028",
                              "\\u2029", "\\u3000"}) {
        const std::string text = std::string("\"") + blank + "\"";
        EXPECT_EQ(validation(duration + ",\"microphoneID\":" + text), screen("Device ID must not be empty")) << text;
        EXPECT_EQ(validation(duration + ",\"cameraID\":" + text), screen("Device ID must not be empty")) << text;
        EXPECT_EQ(validation(duration + ",\"applicationBundleIdentifier\":" + text),
                  screen("Application bundle identifier must not be empty"))
            << text;
    }
    for (const char* named : {"\"a\\u00a0\"", "\"\\u200b\""}) {
        EXPECT_EQ(validation(duration + ",\"microphoneID\":" + named), "passed") << named;
        EXPECT_EQ(validation(duration + ",\"applicationBundleIdentifier\":" + named), "passed") << named;
    }
}

TEST(AutomationDocumentsTest, ShortRecordingsCanOnlyBeTakenWhole) {
    RecordingAutomationExport whole;
    EXPECT_NO_THROW(whole.validatedEdit(0.4));
    RecordingAutomationExport exact;
    exact.trimStart = 0;
    exact.trimEnd = 0.4;
    EXPECT_NO_THROW(exact.validatedEdit(0.4));
    RecordingAutomationExport shorter;
    shorter.trimEnd = 0.3;
    EXPECT_EQ(failureOf([&] { shorter.validatedEdit(0.4); }), output("Trim must be within the recording duration"));
}

TEST(AutomationDocumentsTest, TheTargetFollowsTheCommandsFields) {
    const std::vector<DisplayBounds> displays = {DisplayBounds(DisplayID{"main"}, 0, 0, 1920, 1080),
                                                 DisplayBounds(DisplayID{"side"}, 1920, 0, 1280, 1024)};
    const DisplayID main{"main"};
    RecordingAutomationRequest request(AutomationID{kID}, 2);
    EXPECT_EQ(request.captureTarget(main, displays), CaptureTarget::fullMainDisplay());

    request.displayID = DisplayID{"side"};
    EXPECT_EQ(request.captureTarget(main, displays),
              CaptureTarget::area({DisplayID{"side"}, CaptureRect{1920, 0, 1280, 1024}}));

    request.applicationBundleIdentifier = " org.app ";
    EXPECT_EQ(request.captureTarget(main, displays), CaptureTarget::application(" org.app ", DisplayID{"side"}));
    request.displayID.reset();
    EXPECT_EQ(request.captureTarget(main, displays), CaptureTarget::application(" org.app ", main));

    RecordingAutomationRequest gone(AutomationID{kID}, 2);
    gone.displayID = DisplayID{"unplugged"};
    EXPECT_EQ(failureOf([&] { gone.captureTarget(main, displays); }), screen("Display is disconnected"));

    const SelectedCaptureArea area{DisplayID{"elsewhere"}, CaptureRect{1, 2, 3, 4}};
    RecordingAutomationRequest withArea(AutomationID{kID}, 2, area);
    EXPECT_EQ(withArea.captureTarget(main, displays), CaptureTarget::area(area));
    withArea.displayID = main;
    EXPECT_EQ(failureOf([&] { withArea.captureTarget(main, displays); }), screen("Choose either a display or an area"));
}

TEST(AutomationDocumentsTest, SelectionTakesCropLevelsAndKeptSections) {
    RecordingAutomationExport options;
    options.trimStart = 0.5;
    options.trimEnd = 2.5;
    options.edits = std::vector<RecordingAutomationExport::Edit>{
        {RecordingAutomationExport::Edit::Action::split, 1.5, std::nullopt},
        {RecordingAutomationExport::Edit::Action::speed, 2, 2.0}};
    options.crop = CaptureRect{0.5, 0, 0.5, 1};
    options.systemAudioGain = 1.5f;
    const std::map<std::int32_t, RecordingSourceKind> kinds = {
        {1, RecordingSourceKind::screen}, {2, RecordingSourceKind::systemAudio}, {3, RecordingSourceKind::microphone}};

    TrimSelection selection = options.selection(3, Size{1920, 1080}, kinds);
    ASSERT_EQ(selection.sections.size(), 2u);
    EXPECT_EQ(selection.sections[0], (RecordingEdit::Section{0.5, 1.5, 1, true}));
    EXPECT_EQ(selection.sections[1], (RecordingEdit::Section{1.5, 2.5, 2, true}));
    EXPECT_DOUBLE_EQ(selection.durationSeconds(), 1.5);
    EXPECT_EQ(selection.crop.pixels(Size{1920, 1080}), (Rect{960, 0, 960, 1080}));
    EXPECT_EQ(selection.audioLevels, (std::map<std::int32_t, RecordingAudioLevel>{{2, RecordingAudioLevel{1.5f, false}}}));

    // Checked again against the measured length: a trim that fitted the request fails here.
    EXPECT_EQ(failureOf([&] { options.selection(2.4, Size{1920, 1080}, kinds); }),
              output("Trim must be within the recording duration"));

    RecordingAutomationExport plain;
    TrimSelection whole = plain.selection(3, Size{1920, 1080}, kinds);
    EXPECT_FALSE(whole.crop.isCropped());
    EXPECT_TRUE(whole.audioLevels.empty());
    EXPECT_DOUBLE_EQ(whole.durationSeconds(), 3);
}

TEST(AutomationDocumentsTest, ProfileReplacesOnlyWhatTheExportNames) {
    const RecordingPreset preset{RecordingPresetID{"high"}, "High", 30, 0.8, 0.7, RecordingVideoCodec::hevc, 1};
    RecordingAutomationExport quality;
    quality.quality = 0.5;
    RecordingPreset expected = preset;
    expected.sharpness = expected.motionDetail = 0.5;
    EXPECT_EQ(quality.profile(preset), expected);

    RecordingAutomationExport all;
    all.codec = RecordingVideoCodec::h264;
    all.scale = 0.5;
    expected = preset;
    expected.codec = RecordingVideoCodec::h264;
    expected.resolutionScale = 0.5;
    EXPECT_EQ(all.profile(preset), expected);
}

TEST(AutomationDocumentsTest, FrameSizeOfTheScreenTrack) {
    EXPECT_EQ(automationFrameSize({1920, 1080}, {}, 0.5), (Size{960, 540}));
    EXPECT_EQ(automationFrameSize({1001, 601}, {}, 1), (Size{1000, 600}));
    EXPECT_EQ(automationFrameSize({1001.9, 601.9}, {}, 1), (Size{1000, 600}));
    EXPECT_EQ(automationFrameSize({3, 1}, {}, 0.25), (Size{2, 2}));
    EXPECT_EQ(automationFrameSize({1920, 1080}, {}, 3), (Size{1920, 1080}));
    EXPECT_EQ(automationFrameSize({1920, 1080}, {}, 0.1), (Size{480, 270}));
    EXPECT_EQ(automationFrameSize({1920, 1080}, TrackTransform{0, 1, -1, 0}, 1), (Size{1080, 1920}));
}

TEST(AutomationDocumentsTest, ResponsesEncodeOnlyWhatTheyHold) {
    RecordingAutomationResponse accepted;
    accepted.id = AutomationID{kID};
    EXPECT_EQ(json::encode(accepted), json::Json::parse("{\"id\":\"" + kID + "\",\"phase\":\"accepted\"}"));
    EXPECT_EQ(failureOf([&] {
                  json::decodeText<RecordingAutomationResponse>("{\"id\":\"" + kID + "\",\"phase\":\"done\"}");
              }),
              "decoding");

    // Window titles and platform texts may hold bytes that are not UTF-8; the answer is still written.
    RecordingAutomationResponse failed;
    failed.id = AutomationID{kID};
    failed.phase = RecordingAutomationResponse::Phase::failed;
    failed.error = "screenSelectionFailed(\"bad \xFF title\")";
    const auto text = encodeResponseText(failed);
    auto back = json::decodeText<RecordingAutomationResponse>(text);
    EXPECT_EQ(*back.error, "screenSelectionFailed(\"bad \xEF\xBF\xBD title\")");

    RecordingAutomationDiscovery discovery;
    discovery.sessionState = "idle";
    discovery.microphones = {{"yux-usb:1", "USB mic"}};
    discovery.applications = {{"org.app", "App", {CaptureRect{1, 2, 3, 4}}}};
    RecordingAutomationResponse status;
    status.id = AutomationID{kID};
    status.phase = RecordingAutomationResponse::Phase::completed;
    status.discovery = discovery;
    status.progress = 0.25;
    status.jobID = AutomationID{kID};
    EXPECT_EQ(json::decodeText<RecordingAutomationResponse>(encodeResponseText(status)), status);

    auto withoutCameras = json::encode(discovery);
    withoutCameras.erase("cameras");
    EXPECT_THROW(json::decode<RecordingAutomationDiscovery>(withoutCameras), DecodingError);
    EXPECT_FALSE(json::encode(discovery).contains("activeJobID"));
}

TEST(AutomationDocumentsTest, AnEmptyPlacementIsTheDefaultPlacement) {
    auto request = RecordingAutomationRequest::decodeCommand(command("\"cameraPlacement\":{}"));
    EXPECT_EQ(request.cameraPlacement, CameraPlacement{});
}

TEST(AutomationDocumentsTest, NonFiniteValuesNeverPassTheChecks) {
    // Built in memory, where a client's 1e400 would have been refused by the reader already.
    const double infinity = std::numeric_limits<double>::infinity();
    RecordingAutomationRequest request(AutomationID{kID}, infinity);
    EXPECT_EQ(failureOf([&] { request.validate(); }), screen("duration must be 1\xE2\x80\x93" "3600 seconds"));
    request.durationSeconds = 10;
    request.cameraID = "cam";
    request.cameraPlacement = CameraPlacement{};
    request.cameraPlacement->gapY = infinity;
    EXPECT_EQ(failureOf([&] { request.validate(); }), camera("Invalid camera placement"));

    RecordingAutomationExport options;
    options.trimStart = std::nan("");
    EXPECT_EQ(failureOf([&] { options.validatedEdit(10); }), output("Trim must be within the recording duration"));
    options.trimStart.reset();
    options.crop = CaptureRect{0, infinity, 0.5, 0.5};
    EXPECT_EQ(failureOf([&] { options.validatedEdit(10); }),
              output("Crop must be a normalized rectangle inside the picture"));
    options.crop.reset();
    options.microphoneGain = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(failureOf([&] { options.validatedEdit(10); }), output("Audio gain must be 0\xE2\x80\x93" "2"));
}
