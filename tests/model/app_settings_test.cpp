#include "model/app_settings.hpp"

#include <gtest/gtest.h>

#include "model/app_error.hpp"

using namespace yux;
using json::DecodingError;

namespace {
const SaveFolderBookmark kFolder{"/home/ada/Videos/Yux", {0x2F, 0x68, 0x00, 0xFF, 0x10}};
}

TEST(AppSettings, InitialTakesTheDefaultShortcut) {
    auto settings = AppSettings::initial(kFolder);
    EXPECT_EQ(settings.recordingShortcut, RecordingShortcut::defaultShortcut());
    EXPECT_EQ(settings.saveFolderPath(), "/home/ada/Videos/Yux");
}

TEST(AppSettings, EqualityLooksAtBookmarkBytesAndModifiers) {
    auto settings = AppSettings::initial(kFolder);
    auto otherBytes = settings;
    otherBytes.saveFolder.bookmarkData.back() = 0x11;
    EXPECT_NE(settings, otherBytes);
    auto otherModifiers = AppSettings{kFolder, RecordingShortcut(22, RecordingShortcut::command)};
    EXPECT_NE(settings, otherModifiers);
}

TEST(AppSettingsCoding, RoundTripsBytesExactly) {
    AppSettings settings{kFolder, RecordingShortcut(0, RecordingShortcut::control)};
    auto text = json::encodeText(settings);
    auto decoded = json::decodeText<AppSettings>(text);
    EXPECT_EQ(decoded, settings);
    EXPECT_EQ(decoded.saveFolder.bookmarkData, kFolder.bookmarkData);
    auto encoded = json::parseText(text);
    EXPECT_EQ(encoded["saveFolder"]["bookmarkData"], "L2gA/xA=");
    EXPECT_EQ(encoded["recordingShortcut"], (json::Json{{"keyCode", 0}, {"modifiers", 4096}}));
}

TEST(AppSettingsCoding, MissingOrNullShortcutReadsAsDefault) {
    auto onlyFolder = json::decodeText<AppSettings>(R"({"saveFolder":{"path":"/x","bookmarkData":""}})");
    EXPECT_EQ(onlyFolder.recordingShortcut, RecordingShortcut::defaultShortcut());
    EXPECT_TRUE(onlyFolder.saveFolder.bookmarkData.empty());
    auto nullShortcut =
        json::decodeText<AppSettings>(R"({"saveFolder":{"path":"/x","bookmarkData":"AQI="},"recordingShortcut":null})");
    EXPECT_EQ(nullShortcut.recordingShortcut, RecordingShortcut::defaultShortcut());
    EXPECT_EQ(json::encode(nullShortcut).size(), 2u);
}

TEST(AppSettingsCoding, MalformedDocumentsFail) {
    EXPECT_THROW(json::decodeText<AppSettings>(R"({"recordingShortcut":{"keyCode":22,"modifiers":768}})"),
                 DecodingError);
    EXPECT_THROW(json::decodeText<AppSettings>(R"({"saveFolder":{"path":"/x"}})"), DecodingError);
    EXPECT_THROW(json::decodeText<AppSettings>(R"({"saveFolder":{"bookmarkData":""}})"), DecodingError);
    EXPECT_THROW(json::decodeText<AppSettings>(R"({"saveFolder":{"path":"/x","bookmarkData":"not base64!"}})"),
                 DecodingError);
    EXPECT_THROW(json::decodeText<AppSettings>(
                     R"({"saveFolder":{"path":"/x","bookmarkData":""},"recordingShortcut":{"keyCode":22}})"),
                 DecodingError);
    EXPECT_THROW(json::decodeText<AppSettings>(
                     R"({"saveFolder":{"path":"/x","bookmarkData":""},"recordingShortcut":{"keyCode":53,"modifiers":0}})"),
                 AppError);
}
