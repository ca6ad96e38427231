#pragma once

// An editor over null services for the view tests: a null player, scripted lane previews and
// a scripted save handler; outcomes and revealed files are kept.

#include <filesystem>

#include "editor_session_support.hpp"

namespace yux::testing {

inline std::vector<RecordingSource> fourTrackSources() {
    return {nullSource(1, RecordingSourceKind::screen), nullSource(2, RecordingSourceKind::camera),
            nullSource(3, RecordingSourceKind::systemAudio), nullSource(4, RecordingSourceKind::microphone)};
}

struct NullEditor {
    std::shared_ptr<RecordingDebugLog> log = std::make_shared<RecordingDebugLog>();
    ScriptedSaveHandler saveHandler;
    ScriptedLoaders loaders;
    std::shared_ptr<platform::PreviewPlayer> player = platform::PreviewPlayer::create_null();
    std::vector<TrimPreviewOutcome> outcomes;
    std::vector<std::string> revealed;
    bool revealFails = false;  // neither the file manager nor a folder opener shows it
    std::shared_ptr<ExportEditorSession> session;

    explicit NullEditor(std::vector<RecordingSource> sources = fourTrackSources(), double duration = 60,
                        std::shared_ptr<platform::PreviewPlayer> withPlayer = nullptr) {
        if (withPlayer) player = std::move(withPlayer);
        session = ExportEditorSession::create(nullFacts(duration, std::move(sources)), artifactWith(bestH264Preset()),
                                              &saveHandler, log, [this](TrimPreviewOutcome o) { outcomes.push_back(o); },
                                              services());
    }

    EditorServices services() {
        return {player, loaders.loaders(), [this](const std::string& path, std::function<void(const std::string&)> failed) {
                    revealed.push_back(path);
                    if (revealFails) failed(std::filesystem::path(path).parent_path().string());
                }};
    }
};

}  // namespace yux::testing
