// Every view of the trim window follows each change of its editor that reaches it through the
// editor's signals: after each change it looks exactly like a view built afresh over the editor
// as it then stands.
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include <QApplication>
#include <QImage>
#include <QLayout>

#include "editor/editor_crop_overlay.hpp"
#include "editor/editor_sidebar.hpp"
#include "editor/editor_source_headers.hpp"
#include "editor/editor_timeline.hpp"
#include "editor/export_editor_view.hpp"
#include "editor/export_progress_sheet.hpp"
#include "null_editor.hpp"

using namespace yux;
using namespace yux::testing;

namespace {

struct ViewKind {
    const char* name;
    QSize size;  // empty: the view's own size
    std::function<QWidget*(const std::shared_ptr<ExportEditorSession>&)> make;
};

const std::vector<ViewKind>& viewKinds() {
    static const std::vector<ViewKind> kinds = {
        {"ExportEditorView", {1120, 680}, [](const auto& s) { return new ExportEditorView(s, [] {}); }},
        {"EditorSidebar", {299, 680}, [](const auto& s) { return new EditorSidebar(s, [] {}); }},
        {"EditorSourceHeaders", {}, [](const auto& s) { return new EditorSourceHeaders(s); }},
        {"EditorTimeline", {600, 260}, [](const auto& s) { return new EditorTimeline(s); }},
        {"EditorCropOverlay", {320, 180}, [](const auto& s) { return new EditorCropOverlay(s); }},
        {"ExportProgressSheet", {}, [](const auto& s) { return new ExportProgressSheet(s, [] {}); }},
    };
    return kinds;
}

struct Change {
    const char* name;
    std::function<void(NullEditor&)> apply;
};

RecordingCrop square(const ExportEditorSession& session) {
    auto crop = session.crop();
    crop.setRatio(RecordingCrop::Ratio::square, session.frameSize());
    return crop;
}

// The changes a user makes in a session, each through the editor's own operations.
const std::vector<Change>& changes() {
    static const std::vector<Change> list = {
        {"lane previews load", [](NullEditor& e) {
             e.session->start();
             auto pictures = e.session->sources().size() - e.session->audioSources().size();
             runUntil([&] { return e.session->thumbnails().size() == pictures; });
         }},
        // A take of one sound exports by a fast copy until that sound is muted.
        {"one source muted", [](NullEditor& e) { e.session->toggleMute(e.session->audioSources().front().id); }},
        {"every source muted", [](NullEditor& e) {
             for (const auto& source : e.session->audioSources())
                 if (!e.session->audioLevels().count(source.id)) e.session->toggleMute(source.id);
         }},
        {"gain", [](NullEditor& e) { e.session->setGain(1.5f, e.session->audioSources().back().id); }},
        {"seek", [](NullEditor& e) { e.session->seek(20); }},
        {"split", [](NullEditor& e) { e.session->split(); }},
        {"speed 2x", [](NullEditor& e) { e.session->speed(2); }},
        {"remove a section", [](NullEditor& e) {
             e.session->seek(45);
             e.session->split();
             e.session->toggleRemoval();
         }},
        {"play", [](NullEditor& e) { e.session->togglePlayback(); }},
        {"pause", [](NullEditor& e) { e.session->togglePlayback(); }},
        {"trim drag begins", [](NullEditor& e) {
             e.session->beginTrim(RecordingEdit::Edge::start);
             e.session->dragTrim(5);
         }},
        {"trim drag ends", [](NullEditor& e) { e.session->endTrim(); }},
        {"trim end set", [](NullEditor& e) { e.session->setEdge(RecordingEdit::Edge::end, 55); }},
        {"quality", [](NullEditor& e) { e.session->setQuality(0.5); }},
        {"size", [](NullEditor& e) { e.session->setScale(0.5); }},
        {"crop editing on", [](NullEditor& e) { e.session->setCropEditing(true); }},
        {"square crop", [](NullEditor& e) { e.session->setCrop(square(*e.session)); }},
        {"crop editing off", [](NullEditor& e) { e.session->setCropEditing(false); }},
        {"format", [](NullEditor& e) { e.session->setCodec(RecordingVideoCodec::hevc); }},
        {"lanes expanded", [](NullEditor& e) { e.session->setSourcesExpanded(true); }},
        {"undo", [](NullEditor& e) { e.session->undo(); }},
        {"export starts", [](NullEditor& e) { e.session->exportRecording(); }},
        {"export progresses", [](NullEditor& e) {
             runUntil([&] { return !e.saveHandler.progressHandlers.empty(); });
             e.saveHandler.progressHandlers.back()({0.42, 1, 2, 12.4});
             runUntil([&] { return e.session->progress().fraction > 0.4; });
         }},
        {"export finishes", [](NullEditor& e) {
             e.saveHandler.succeed("/tmp/out/Recording 1.mp4", 2500000);
             runUntil([&] { return e.session->saved().has_value(); });
         }},
        {"edit again", [](NullEditor& e) { e.session->clearSaved(); }},
        {"lanes collapsed", [](NullEditor& e) { e.session->setSourcesExpanded(false); }},
    };
    return list;
}

QImage picture(QWidget& view) {
    view.ensurePolished();
    if (auto* layout = view.layout()) layout->activate();
    return view.grab().toImage();
}

std::unique_ptr<QWidget> shown(const ViewKind& kind, const std::shared_ptr<ExportEditorSession>& session, QSize size) {
    std::unique_ptr<QWidget> view(kind.make(session));
    if (!size.isEmpty()) view->setFixedSize(size);
    view->show();
    QApplication::processEvents();
    return view;
}

}  // namespace

class EditorViewFollows : public ::testing::TestWithParam<ViewKind> {};

TEST_P(EditorViewFollows, EveryChangeOfItsEditor) {
    const auto& kind = GetParam();
    struct Take {
        std::vector<RecordingSource> sources;
        std::size_t changes;  // how many of the changes it goes through
    };
    const std::vector<Take> takes = {
        {fourTrackSources(), changes().size()},
        // Its sound changes turn a fast copy into a re-encode; the rest is as above.
        {{nullSource(1, RecordingSourceKind::screen), nullSource(2, RecordingSourceKind::systemAudio)}, 4},
    };
    for (const auto& take : takes) {
        SCOPED_TRACE(std::to_string(take.sources.size()) + " tracks");
        NullEditor editor(take.sources);
        auto view = shown(kind, editor.session, kind.size);
        for (std::size_t i = 0; i < take.changes; ++i) {
            const auto& change = changes()[i];
            change.apply(editor);
            QApplication::processEvents();
            auto fresh = shown(kind, editor.session, kind.size.isEmpty() ? view->size() : kind.size);
            // A view of its own size takes it from what it shows.
            if (kind.size.isEmpty()) {
                view->adjustSize();
                fresh->adjustSize();
            }
            EXPECT_EQ(view->size(), fresh->size()) << "after: " << change.name;
            EXPECT_TRUE(picture(*view) == picture(*fresh)) << kind.name << " missed: " << change.name;
        }
        editor.session->completeWithDiscardIfNeeded();
    }
}

INSTANTIATE_TEST_SUITE_P(TrimWindow, EditorViewFollows, ::testing::ValuesIn(viewKinds()),
                         [](const ::testing::TestParamInfo<ViewKind>& info) { return std::string(info.param.name); });
