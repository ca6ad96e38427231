#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "editor/editor_time_text.hpp"
#include "editor_session_support.hpp"
#include "support/app_error_expectations.hpp"

using namespace yux;
using namespace yux::testing;
using Edge = RecordingEdit::Edge;
using Kind = RecordingSourceKind;

namespace {

// Everything an editor shows, published and derived, plus the rate its player plays at.
struct EditorState {
    RecordingEdit edit{1};
    RecordingCrop crop;
    bool cropEditing = false;
    double quality = 1;
    double scale = 1;
    RecordingVideoCodec codec = RecordingVideoCodec::h264;
    double playhead = 0;
    bool playing = false;
    std::optional<Edge> draggingEdge;
    bool sourcesExpanded = false;
    std::map<std::int32_t, RecordingAudioLevel> audioLevels;
    std::map<std::int32_t, std::size_t> waveformSizes;
    std::map<std::int32_t, std::size_t> thumbnailCounts;
    std::optional<std::string> waveformError;
    bool isExporting = false;
    RecordingExportProgress progress{0, 1, 1, std::nullopt};
    std::optional<RecordingExportResult> saved;
    std::optional<std::string> errorMessage;
    double playerRate = 0;
    // Derived.
    std::vector<int> audioSourceIDs;
    double timelineHeight = 90;
    Size frameSize;
    RecordingEdit::Section selectedSection;
    std::vector<std::string> reasons;
    RecordingPreset preset;
    std::int64_t estimatedBytes = 0;
    std::string previewBadge;
};

EditorState stateOf(const ExportEditorSession& s) {
    EditorState state;
    state.edit = s.edit();
    state.crop = s.crop();
    state.cropEditing = s.cropEditing();
    state.quality = s.quality();
    state.scale = s.scale();
    state.codec = s.codec();
    state.playhead = s.playhead();
    state.playing = s.playing();
    state.draggingEdge = s.draggingEdge();
    state.sourcesExpanded = s.sourcesExpanded();
    state.audioLevels = s.audioLevels();
    for (const auto& [id, peaks] : s.waveforms()) state.waveformSizes[id] = peaks.size();
    for (const auto& [id, images] : s.thumbnails()) state.thumbnailCounts[id] = images.size();
    state.waveformError = s.waveformError();
    state.isExporting = s.isExporting();
    state.progress = s.progress();
    state.saved = s.saved();
    state.errorMessage = s.errorMessage();
    state.playerRate = s.player().rate();
    for (const auto& source : s.audioSources()) state.audioSourceIDs.push_back(source.id);
    state.timelineHeight = s.timelineHeight();
    state.frameSize = s.frameSize();
    state.selectedSection = s.selectedSection();
    state.reasons = s.reasons();
    state.preset = s.preset();
    state.estimatedBytes = s.estimatedBytes();
    state.previewBadge = s.previewBadge();
    return state;
}

std::string describe(const EditorState& s) {
    std::ostringstream out;
    out << "sections:";
    for (const auto& section : s.edit.sections()) {
        out << " [" << section.start << "," << section.end << " x" << section.speed << (section.kept ? "" : " removed") << "]";
    }
    out << "\nrange: " << s.edit.range().lower << "..." << s.edit.range().upper << " canUndo=" << s.edit.canUndo()
        << "\ncrop: " << s.crop.rect().x << "," << s.crop.rect().y << "," << s.crop.rect().width << ","
        << s.crop.rect().height << " ratio=" << static_cast<int>(s.crop.ratio()) << " editing=" << s.cropEditing
        << "\nquality=" << s.quality << " scale=" << s.scale << " codec=" << rawValue(s.codec)
        << "\nplayhead=" << s.playhead << " playing=" << s.playing << " playerRate=" << s.playerRate
        << " dragging=" << (s.draggingEdge ? (*s.draggingEdge == Edge::start ? "start" : "end") : "none")
        << "\nexpanded=" << s.sourcesExpanded << "\nlevels:";
    for (const auto& [id, level] : s.audioLevels) out << " " << id << "=" << level.gain << (level.muted ? "m" : "");
    out << "\nwaveforms:";
    for (const auto& [id, n] : s.waveformSizes) out << " " << id << "=" << n;
    out << "\nthumbnails:";
    for (const auto& [id, n] : s.thumbnailCounts) out << " " << id << "=" << n;
    out << "\nwaveformError=" << s.waveformError.value_or("none") << "\nexporting=" << s.isExporting
        << " progress=" << s.progress.fraction << "/" << s.progress.section << "/" << s.progress.sectionCount << "/"
        << (s.progress.remainingSeconds ? std::to_string(*s.progress.remainingSeconds) : "none")
        << "\nsaved=" << (s.saved ? s.saved->file.path + " " + std::to_string(s.saved->byteSize) : "none")
        << "\nerror=" << s.errorMessage.value_or("none") << "\naudioSources:";
    for (int id : s.audioSourceIDs) out << " " << id;
    out << "\ntimelineHeight=" << s.timelineHeight << " frameSize=" << s.frameSize.width << "x" << s.frameSize.height
        << "\nselected=[" << s.selectedSection.start << "," << s.selectedSection.end << " x" << s.selectedSection.speed
        << " kept=" << s.selectedSection.kept << "]\nreasons:";
    for (const auto& reason : s.reasons) out << " " << reason;
    out << "\npreset: " << s.preset.id.rawValue << " " << s.preset.name << " " << s.preset.frameRate << " "
        << s.preset.sharpness << " " << s.preset.motionDetail << " " << rawValue(s.preset.codec) << " "
        << s.preset.resolutionScale << "\nestimatedBytes=" << s.estimatedBytes << "\nbadge=" << s.previewBadge;
    return out.str();
}

// The whole state, history included (the edit's equality covers it).
void check(const ExportEditorSession& session, const EditorState& expected, const std::string& step) {
    SCOPED_TRACE(step);
    auto actual = stateOf(session);
    EXPECT_EQ(describe(actual), describe(expected));
    EXPECT_TRUE(actual.edit == expected.edit) << "the edit's history or gesture differs";
}

struct Harness {
    RecordingDebugLog* log = nullptr;
    std::shared_ptr<RecordingDebugLog> logHolder = std::make_shared<RecordingDebugLog>();
    ScriptedSaveHandler saveHandler;
    ScriptedLoaders loaders;
    std::shared_ptr<platform::PreviewPlayer> player = platform::PreviewPlayer::create_null();
    platform::OutputTracker<platform::PreviewPlayer::Event> playerEvents = player->track_events();
    std::vector<TrimPreviewOutcome> outcomes;
    std::vector<std::string> revealed;
    std::shared_ptr<ExportEditorSession> session;
    SignalCounts changes;

    std::shared_ptr<ExportEditorSession> open(EditorSourceFacts facts, PendingRecordingArtifact artifact) {
        log = logHolder.get();
        EditorServices services{player, loaders.loaders(), [this](const std::string& path, auto) { revealed.push_back(path); }};
        session = ExportEditorSession::create(std::move(facts), std::move(artifact), &saveHandler, logHolder,
                                              [this](TrimPreviewOutcome outcome) { outcomes.push_back(outcome); },
                                              std::move(services));
        changes.watch(*session);
        return session;
    }

    std::vector<platform::PreviewPlayer::Event> takeEvents() {
        auto events = playerEvents.data();
        playerEvents.clear();
        return events;
    }
};

using Event = platform::PreviewPlayer::Event;

std::vector<RecordingSource> screenAndTwoMicrophones() {
    return {nullSource(1, Kind::screen), nullSource(2, Kind::systemAudio), nullSource(3, Kind::microphone)};
}

// The expected state of a fresh editor over nullFacts(duration, screen + system audio + microphone).
EditorState freshState(double duration) {
    EditorState state;
    state.edit = RecordingEdit(duration);
    state.audioSourceIDs = {2, 3};
    state.frameSize = {1920, 1080};
    state.selectedSection = {0, duration, 1, true};
    state.reasons = {"audio"};
    state.preset = {"best", "Export", 60, 1.0, 1.0, RecordingVideoCodec::h264, 1.0};
    // (4000000 + 128000) bit/s over the whole recording.
    state.estimatedBytes = static_cast<std::int64_t>(duration * 4128000 / 8);
    state.previewBadge = "SRC 0:00.0";
    return state;
}

}  // namespace

TEST(EditorTimeText, RoundsToTenthsBeforeSplittingMinutes) {
    EXPECT_EQ(editorTimeText(0), "0:00.0");
    EXPECT_EQ(editorTimeText(65.3), "1:05.3");
    EXPECT_EQ(editorTimeText(600), "10:00.0");
    EXPECT_EQ(editorTimeText(-3), "0:00.0");
    EXPECT_EQ(editorTimeText(std::nan("")), "0:00.0");
    // The carry into the minute.
    EXPECT_EQ(editorTimeText(59.96), "1:00.0");
    EXPECT_EQ(editorTimeText(119.95), "2:00.0");
    EXPECT_EQ(editorTimeText(9.96), "0:10.0");
    EXPECT_EQ(editorTimeText(59.94), "0:59.9");
    EXPECT_EQ(editorTimeText(1e300), "16666666666666:40.0");
}

TEST(ExportEditorSessionOpening, RefusesWhatCannotBeEdited) {
    Harness h;
    auto artifact = artifactWith(bestH264Preset());
    expectAppError([&] { h.open(nullFacts(90, {nullSource(2, Kind::systemAudio)}), artifact); },
                   AppError::outputFinalizationFailed("Recording has no video track"));
    auto noSize = nullFacts(90, screenAndTwoMicrophones());
    noSize.sourceSize = {0, 0};
    expectAppError([&] { h.open(noSize, artifact); }, AppError::outputFinalizationFailed("Recording metadata unavailable"));
    auto noRate = nullFacts(90, screenAndTwoMicrophones());
    noRate.sourceFrameRate = std::numeric_limits<double>::infinity();
    expectAppError([&] { h.open(noRate, artifact); }, AppError::outputFinalizationFailed("Recording metadata unavailable"));
    expectAppError([&] { h.open(nullFacts(0, screenAndTwoMicrophones()), artifact); },
                   AppError::outputFinalizationFailed("Invalid recording duration"));
    // A stored artifact whose catalog lost its default preset.
    expectAppError([&] { h.open(nullFacts(90, screenAndTwoMicrophones()), artifactWith(bestH264Preset(), 1, "high")); },
                   AppError::outputFinalizationFailed("Default export preset unavailable"));
}

TEST(ExportEditorSessionOpening, TakesQualityAndCodecFromTheDefaultPreset) {
    Harness h;
    auto preset = bestH264Preset();
    preset.sharpness = 0.05;
    preset.codec = RecordingVideoCodec::hevc;
    preset.resolutionScale = 0.5;
    auto& session = *h.open(nullFacts(90, screenAndTwoMicrophones()), artifactWith(preset));
    EXPECT_EQ(session.quality(), 0.1);
    EXPECT_EQ(session.codec(), RecordingVideoCodec::hevc);
    EXPECT_EQ(session.scale(), 1.0);
    EXPECT_TRUE(h.takeEvents().empty()) << "opening leaves the player alone";
}

TEST(ExportEditorSessionEditing, ScriptedSessionKeepsTheWholeStateConsistent) {
    Harness h;
    auto& s = *h.open(nullFacts(90, screenAndTwoMicrophones()), artifactWith(bestH264Preset()));
    auto expected = freshState(90);
    check(s, expected, "opened");

    // Each step: apply it to the editor and to the expected state, check all, then undo and redo.
    auto step = [&](const std::string& name, const std::function<void()>& action, const std::function<void()>& expect,
                    bool undoable) {
        auto before = s.edit();
        action();
        expect();
        check(s, expected, name);
        if (!undoable) return;
        auto after = s.edit();
        s.undo();
        SCOPED_TRACE(name + " undone");
        EXPECT_TRUE(s.edit() == before);
        EXPECT_GE(s.playhead(), s.edit().range().lower);
        EXPECT_LE(s.playhead(), s.edit().range().upper);
        EXPECT_FALSE(s.playing());
        // Redo stands in as doing the step again from the same state.
        auto playhead = s.playhead();
        s.seek(playhead);
        action();
        EXPECT_TRUE(s.edit() == after);
        check(s, expected, name + " redone");
    };

    step("seek 30", [&] { s.seek(30); }, [&] {
        expected.playhead = 30;
        expected.previewBadge = "SRC 0:30.0";
    }, false);
    EXPECT_EQ(h.takeEvents(), (std::vector<Event>{Event::seekTo(30)}));
    EXPECT_EQ(h.changes.take(), "playhead×1 ");

    step("split at 30", [&] { s.split(); }, [&] {
        expected.edit.split(30);
        expected.selectedSection = {30, 90, 1, true};
    }, true);
    s.seek(60);
    expected.playhead = 60;
    expected.previewBadge = "SRC 1:00.0";
    step("split at 60", [&] { s.split(); }, [&] {
        expected.edit.split(60);
        expected.selectedSection = {60, 90, 1, true};
    }, true);
    h.changes.take();

    step("remove the last third", [&] { s.toggleRemoval(); }, [&] {
        expected.edit.toggleRemoval(60);
        expected.selectedSection = {60, 90, 1, false};
        expected.reasons = {"audio", "cuts"};
        expected.estimatedBytes = static_cast<std::int64_t>(60.0 * 4128000 / 8);
    }, true);
    EXPECT_EQ(expected.estimatedBytes, 30960000);

    s.seek(10);
    expected.playhead = 10;
    expected.previewBadge = "SRC 0:10.0";
    step("speed 2 on the first third", [&] { s.speed(2); }, [&] {
        // The first two thirds merged when the last was removed.
        expected.edit.setSpeed(2, 10);
        expected.selectedSection = {0, 60, 2, true};
        expected.reasons = {"audio", "speed", "cuts"};
        expected.estimatedBytes = static_cast<std::int64_t>(30.0 * 4128000 / 8);
    }, true);
    h.changes.take();
    step("a speed outside the list", [&] { s.speed(3); }, [] {}, false);
    EXPECT_EQ(h.changes.take(), "") << "a refused speed changes nothing and a paused player stays silent";
    step("the speed it already has", [&] { s.speed(2); }, [] {}, false);
    EXPECT_EQ(h.changes.take(), "");

    step("set the start edge", [&] { s.setEdge(Edge::start, 5); }, [&] {
        expected.edit.moveEdge(Edge::start, 5);
        expected.playhead = 5;
        expected.previewBadge = "SRC 0:05.0";
        expected.estimatedBytes = static_cast<std::int64_t>(27.5 * 4128000 / 8);
    }, true);
    h.takeEvents();
    step("set the end edge", [&] { s.setEdge(Edge::end, 50); }, [&] {
        expected.edit.moveEdge(Edge::end, 50);
        expected.playhead = 50;
        expected.previewBadge = "SRC 0:50.0";
        expected.estimatedBytes = static_cast<std::int64_t>(22.5 * 4128000 / 8);
    }, true);
    // The end edge shows the last picture inside the range.
    auto events = h.takeEvents();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back(), Event::seekTo(std::round((50 - 1.0 / 60000) * 60000) / 60000));

    step("a handle drag is one undo step", [&] {
        s.beginTrim(Edge::start);
        for (double t : {6.0, 8.0, 12.0}) s.dragTrim(t);
        s.endTrim();
    }, [&] {
        expected.edit.beginRangeGesture();
        for (double t : {6.0, 8.0, 12.0}) expected.edit.moveEdge(Edge::start, t);
        expected.edit.endRangeGesture();
        expected.playhead = 12;
        expected.previewBadge = "SRC 0:12.0";
        expected.estimatedBytes = static_cast<std::int64_t>(19.0 * 4128000 / 8);
    }, true);

    // A drag that ends where it began adds no step.
    auto before = s.edit();
    s.beginTrim(Edge::end);
    EXPECT_EQ(s.previewBadge(), "END 0:50.0");
    s.dragTrim(40);
    s.dragTrim(50);
    s.endTrim();
    expected.playhead = 50;
    expected.previewBadge = "SRC 0:50.0";
    check(s, expected, "drag back to the start");
    EXPECT_TRUE(s.edit() == before);
    s.dragTrim(20);
    EXPECT_TRUE(s.edit() == before) << "no drag under way";

    step("mute system audio twice", [&] {
        s.toggleMute(2);
        s.toggleMute(2);
    }, [&] { expected.audioLevels[2] = RecordingAudioLevel{1.0f, false}; }, false);
    step("levels", [&] {
        s.setGain(2.5f, 3);
        s.toggleMute(3);
        s.setGain(-1.0f, 2);
        s.setGain(std::nanf(""), 3);
    }, [&] {
        expected.audioLevels[3] = RecordingAudioLevel{2.0f, true};
        expected.audioLevels[2] = RecordingAudioLevel{0.0f, false};
    }, false);
    h.takeEvents();
    s.setGain(0.5f, 1);  // the screen has no level
    s.toggleMute(7);
    check(s, expected, "levels of sources that are not audio");
    EXPECT_TRUE(h.takeEvents().empty()) << "the mix is not rebuilt";

    step("view settings", [&] {
        s.setQuality(0.5);
        s.setScale(0.1);
        s.setCodec(RecordingVideoCodec::hevc);
        s.setSourcesExpanded(true);
        s.setCropEditing(true);
    }, [&] {
        expected.quality = 0.5;
        expected.scale = 0.1;
        expected.codec = RecordingVideoCodec::hevc;
        expected.sourcesExpanded = true;
        expected.cropEditing = true;
        expected.timelineHeight = 18 + 48 + 56 + 56;
        expected.frameSize = {480, 270};
        expected.reasons = {"audio", "quality", "size", "format", "speed", "cuts"};
        expected.preset = {"best", "Export", 60, 0.5, 0.5, RecordingVideoCodec::hevc, 0.1};
        // 0.1² × ((0.8 × 0.5 + 0.2) × 3650000 + 350000) is below the floor of 100000; × 0.65 for hevc.
        expected.estimatedBytes = static_cast<std::int64_t>(19.0 * (65000 + 128000) / 8.0);
    }, false);
    h.changes.take();
    s.setQuality(0.5);
    s.setScale(0.1);
    s.setCodec(RecordingVideoCodec::hevc);
    s.setSourcesExpanded(true);
    s.setCropEditing(true);
    s.setCrop(RecordingCrop());
    s.seek(s.playhead());
    EXPECT_EQ(h.changes.take(), "") << "equal writes are silent";

    // Undo down to the start, then once more with nothing left.
    while (s.edit().canUndo()) s.undo();
    expected.edit = RecordingEdit(90);
    EXPECT_TRUE(s.edit() == expected.edit);
    s.seek(89);
    s.undo();
    EXPECT_EQ(s.playhead(), 89) << "an empty history still re-seeks to the clamped playhead";
}

TEST(ExportEditorSessionEditing, SeekOutsideTheRangeDoesNothingAtAll) {
    Harness h;
    auto& s = *h.open(nullFacts(10, screenAndTwoMicrophones()), artifactWith(bestH264Preset()));
    s.start();
    s.setEdge(Edge::start, 2);
    s.setEdge(Edge::end, 8);
    s.seek(2);
    s.togglePlayback();
    h.takeEvents();
    h.changes.take();
    s.seek(1.999);
    s.seek(8.001);
    s.seek(std::nan(""));
    EXPECT_TRUE(s.playing()) << "not even paused";
    EXPECT_TRUE(h.takeEvents().empty());
    s.seek(8);
    EXPECT_EQ(s.playhead(), 8);
    EXPECT_FALSE(s.playing());
    EXPECT_EQ(h.takeEvents(), (std::vector<Event>{Event::rateOf(0), Event::seekTo(8)}));
}

TEST(ExportEditorSessionEditing, UndoPullsThePlayheadBackIntoTheRestoredRange) {
    const struct {
        const char* name;
        Edge edge;
        double narrow, wide;  // the edge's place before and after the step undone
        double playhead;      // inside the part the step added
    } cases[] = {
        {"start widened", Edge::start, 5, 2, 3},
        {"end widened", Edge::end, 50, 80, 70},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Harness h;
        auto& s = *h.open(nullFacts(90, screenAndTwoMicrophones()), artifactWith(bestH264Preset()));
        s.setEdge(c.edge, c.narrow);
        s.setEdge(c.edge, c.wide);
        s.seek(c.playhead);
        h.takeEvents();
        s.undo();
        const auto range = s.edit().range();
        EXPECT_EQ(c.edge == Edge::start ? range.lower : range.upper, c.narrow);
        EXPECT_EQ(s.playhead(), c.narrow);
        EXPECT_EQ(h.takeEvents(), (std::vector<Event>{Event::seekTo(c.narrow)}));
    }
}

TEST(ExportEditorSessionEditing, BadgeNamesTheDraggedEdgeAndRoundsToTenths) {
    Harness h;
    auto& s = *h.open(nullFacts(90, screenAndTwoMicrophones()), artifactWith(bestH264Preset()));
    s.seek(59.96);
    EXPECT_EQ(s.previewBadge(), "SRC 1:00.0");
    s.beginTrim(Edge::end);
    s.dragTrim(75.5);
    EXPECT_EQ(s.previewBadge(), "END 1:15.5");
    s.endTrim();
    s.seek(30);
    s.split();
    s.seek(10);
    s.toggleRemoval();
    // Removing the last kept material is refused; a trim range over removed material only is not.
    s.setEdge(Edge::end, 20);
    EXPECT_EQ(s.previewBadge(), "No kept sections in range");
    EXPECT_EQ(s.estimatedBytes(), 0);
    EXPECT_EQ(s.reasons().back(), "cuts");
}

TEST(ExportEditorSessionEditing, ReasonsForCamerasMixesCodecsAndTinyCuts) {
    Harness h;
    auto facts = nullFacts(90, {nullSource(1, Kind::screen), nullSource(2, Kind::camera), nullSource(3, Kind::systemAudio)});
    facts.sourceCodec.reset();
    auto& s = *h.open(facts, artifactWith(bestH264Preset()));
    EXPECT_EQ(s.reasons(), (std::vector<std::string>{"camera", "format"}));

    Harness plain;
    auto& p = *plain.open(nullFacts(90, {nullSource(1, Kind::screen), nullSource(2, Kind::systemAudio)}),
                          artifactWith(bestH264Preset(), 777));
    EXPECT_TRUE(p.reasons().empty());
    EXPECT_EQ(p.estimatedBytes(), 777) << "a fast copy keeps the scratch bytes";
    p.setEdge(Edge::end, 90 - 0.0005);
    EXPECT_TRUE(p.reasons().empty());
    p.setEdge(Edge::end, 90 - 0.002);
    EXPECT_EQ(p.reasons(), (std::vector<std::string>{"cuts"}));
    p.setEdge(Edge::end, 60);
    p.setCodec(RecordingVideoCodec::hevc);
    EXPECT_EQ(p.reasons(), (std::vector<std::string>{"format", "cuts"}));
    EXPECT_EQ(p.estimatedBytes(), 20460000);
}
