#pragma once

#include <functional>
#include <string>
#include <vector>

#include "model/pending_recording_artifact.hpp"
#include "shell/menu_bar_panel_state.hpp"

namespace yux::testing {

// The coordinator as the panel sees it: answers at once with the snapshot the test sets and
// records every intent and shortcut suspension.
class FakeMenuBarCoordinator : public MenuBarIntentHandling, public MenuBarStateProviding {
public:
    QCoro::Task<void> dispatch(MenuIntent intent) override {
        if (onDispatch) onDispatch(intent);
        intents.push_back(std::move(intent));
        co_return;
    }
    QCoro::Task<bool> setShortcutRecording(bool recording) override {
        shortcutRecordings.push_back(recording);
        co_return shortcutRecordingAnswer;
    }
    QCoro::Task<MenuBarPanelState> currentPanelState() override {
        ++reads;
        // A copy: GCC moves from a member named in co_return.
        MenuBarPanelState snapshot = state;
        co_return snapshot;
    }

    // Intents by case index, for compact comparisons.
    std::vector<std::size_t> intentCases() const {
        std::vector<std::size_t> cases;
        for (const auto& intent : intents) cases.push_back(intent.value.index());
        return cases;
    }

    MenuBarPanelState state;
    std::function<void(const MenuIntent&)> onDispatch;
    bool shortcutRecordingAnswer = true;
    std::vector<MenuIntent> intents;
    std::vector<bool> shortcutRecordings;
    int reads = 0;
};

inline AppSettings settingsIn(std::string folder, RecordingShortcut shortcut = RecordingShortcut::defaultShortcut()) {
    return AppSettings{SaveFolderBookmark{std::move(folder), {}}, shortcut};
}

inline PendingRecordingArtifact pendingArtifact() {
    return PendingRecordingArtifact("/scratch/a.mov", Date{800000000}, 2.0, 1000,
                                    RecordingCaptureDiagnostics{RecordingCaptureConfig::fullFidelity(), 0.0},
                                    RecordingPresetCatalog::builtIn(), RecordingPresetCatalog::highID);
}

// Every case of the session's state, in declaration order.
inline std::vector<RecordingSessionState> everySessionState() {
    return {RecordingSessionState::recording(ActiveSessionInfo{QUuid::createUuid(), "/scratch/b.mov"}),
            RecordingSessionState::pendingTrim(pendingArtifact()),
            RecordingSessionState::failed(AppError::settingsPersistFailed("disk full")),
            RecordingSessionState::idle(),
            RecordingSessionState::selecting(),
            RecordingSessionState::stopping()};
}

}  // namespace yux::testing
