// A command file as another program may write it: read strictly, checked as a record command,
// turned into a target, an export selection and a profile, and a failure answered. Every step
// either works or throws an error the runner answers; a failure answer always encodes. The
// export's edits, replayed by the command's own time line, give what the editor's time line gives.
#include <cmath>
#include <map>

#include "automation/automation_documents.hpp"
#include "json_fuzzing.hpp"
#include "model/app_error.hpp"
#include "model/log_text.hpp"

using namespace yux;
using namespace yux::automation;

namespace {

void answerFailure(const AutomationID& id, const std::exception_ptr& error) {
    RecordingAutomationResponse response;
    response.id = id;
    response.phase = RecordingAutomationResponse::Phase::failed;
    response.error = logErrorText(error);
    std::string text;
    try {
        text = encodeResponseText(response);
    } catch (const std::exception& failure) {
        fuzzing::fail("a failure answer does not encode", failure.what());
    }
    if (json::decodeText<RecordingAutomationResponse>(text).id != id) fuzzing::fail("the answer lost its id", text);
}

// Short edit lists only: the editor's time line costs the square of their length.
constexpr std::size_t kComparedEdits = 64;

void compareWithTheEditor(const RecordingAutomationExport& options, double duration) {
    if (!options.edits || options.edits->size() > kComparedEdits || !std::isfinite(duration) || !(duration > 0)) return;
    const double start = options.trimStart.value_or(0);
    const double end = options.trimEnd.value_or(duration);
    if (!std::isfinite(start) || !std::isfinite(end)) return;
    RecordingEdit edit(duration);
    edit.setRange(start, end);
    AutomationEditTimeline timeline(duration, start, end);
    for (const auto& step : *options.edits) {
        const auto before = edit.sections();
        bool changed = false;
        switch (step.action) {
            case RecordingAutomationExport::Edit::Action::split:
                edit.split(step.time);
                changed = timeline.split(step.time);
                break;
            case RecordingAutomationExport::Edit::Action::remove:
                edit.toggleRemoval(step.time);
                changed = timeline.toggleRemoval(step.time);
                break;
            case RecordingAutomationExport::Edit::Action::speed:
                edit.setSpeed(step.value.value_or(0), step.time);
                changed = timeline.setSpeed(step.value.value_or(0), step.time);
                break;
        }
        if (changed != (edit.sections() != before)) fuzzing::fail("the time lines disagree on a change", std::to_string(step.time));
        if (timeline.sections() != edit.sections()) fuzzing::fail("the time lines disagree", std::to_string(step.time));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const AutomationID fileID{"0F8FAD5B-D9CB-469F-A165-70867728950E"};
    std::optional<RecordingAutomationRequest> command;
    try {
        command = RecordingAutomationRequest::decodeCommand(fuzzing::textOf(data, size));
    } catch (...) {
        answerFailure(fileID, std::current_exception());
        return 0;
    }
    // Whatever was read writes back and reads as the same command.
    fuzzing::checkRoundTrip(*command);
    try {
        command->validate();
    } catch (const AppError&) {
        answerFailure(command->id, std::current_exception());
    }
    const std::vector<DisplayBounds> displays = {DisplayBounds(DisplayID{"1"}, 0, 0, 1920, 1080),
                                                 DisplayBounds(DisplayID{"2"}, 1920, 0, 1280, 1024)};
    try {
        command->captureTarget(displays.front().displayID, displays);
    } catch (const AppError&) {
    }
    const RecordingAutomationExport options = command->exportOptions.value_or(RecordingAutomationExport{});
    const RecordingPreset preset = *RecordingPresetCatalog::builtIn().preset(RecordingPresetCatalog::highID);
    const RecordingPreset profile = options.profile(preset);
    const Size frame = automationFrameSize({1920, 1080}, TrackTransform{}, profile.resolutionScale);
    if (frame.width < 2 || frame.height < 2 || std::fmod(frame.width, 2) != 0 || std::fmod(frame.height, 2) != 0) {
        fuzzing::fail("odd or tiny frame", std::to_string(frame.width) + "x" + std::to_string(frame.height));
    }
    const std::map<std::int32_t, RecordingSourceKind> kinds = {{1, RecordingSourceKind::screen},
                                                               {2, RecordingSourceKind::systemAudio},
                                                               {3, RecordingSourceKind::microphone}};
    for (double duration : {command->durationSeconds.value_or(2.0), 0.4, 10.0}) {
        compareWithTheEditor(options, duration);
        try {
            TrimSelection selection = options.selection(duration, frame, kinds);
            if (selection.sections.empty()) fuzzing::fail("a selection without sections", std::to_string(duration));
            for (const auto& [track, level] : selection.audioLevels) {
                if (!(level.gain >= 0 && level.gain <= 2)) fuzzing::fail("a gain outside 0...2", std::to_string(level.gain));
            }
        } catch (const AppError&) {
        }
    }
    return 0;
}
