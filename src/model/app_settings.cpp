#include "model/app_settings.hpp"

namespace yux::json {

Json Coder<SaveFolderBookmark>::encode(const SaveFolderBookmark& bookmark) {
    return ObjectWriter().set("path", bookmark.path).set("bookmarkData", bookmark.bookmarkData).build();
}

SaveFolderBookmark Coder<SaveFolderBookmark>::decode(const Json& value) {
    ObjectReader object(value);
    return SaveFolderBookmark{object.required<std::string>("path"), object.required<Bytes>("bookmarkData")};
}

Json Coder<AppSettings>::encode(const AppSettings& settings) {
    return ObjectWriter().set("saveFolder", settings.saveFolder).set("recordingShortcut", settings.recordingShortcut).build();
}

AppSettings Coder<AppSettings>::decode(const Json& value) {
    ObjectReader object(value);
    auto saveFolder = object.required<SaveFolderBookmark>("saveFolder");
    auto shortcut = object.value("recordingShortcut", RecordingShortcut::defaultShortcut());
    return AppSettings{std::move(saveFolder), shortcut};
}

}  // namespace yux::json
