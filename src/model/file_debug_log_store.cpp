#include "model/file_debug_log_store.hpp"

#include <algorithm>
#include <filesystem>

#include "model/json_coding.hpp"

namespace yux {

namespace {

constexpr const char* kSerializationFailedLine = R"({"timestamp":"","message":"serialization_failed"})";

// JSON writers leave U+0085, U+2028 and U+2029 raw inside strings, but readers of this file
// split lines at them; escaping keeps every entry on one line.
std::string escapeLineBreakingCharacters(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        auto byte = static_cast<unsigned char>(text[i]);
        if (byte == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x85) {
            out += "\\u0085";
            i += 1;
        } else if (byte == 0xE2 && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x80 &&
                   (static_cast<unsigned char>(text[i + 2]) == 0xA8 || static_cast<unsigned char>(text[i + 2]) == 0xA9)) {
            out += static_cast<unsigned char>(text[i + 2]) == 0xA8 ? "\\u2028" : "\\u2029";
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

// Splits at every line break the log's readers know, dropping empty lines.
std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::string current;
    auto flush = [&] {
        if (!current.empty()) lines.push_back(std::move(current));
        current.clear();
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        auto byte = static_cast<unsigned char>(text[i]);
        if (byte == '\n' || byte == '\v' || byte == '\f' || byte == '\r') {
            flush();
        } else if (byte == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x85) {
            flush();
            i += 1;
        } else if (byte == 0xE2 && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x80 &&
                   (static_cast<unsigned char>(text[i + 2]) == 0xA8 || static_cast<unsigned char>(text[i + 2]) == 0xA9)) {
            flush();
            i += 2;
        } else {
            current += text[i];
        }
    }
    flush();
    return lines;
}

bool isValidUtf8(const std::string& text) {
    try {
        (void)json::Json(text).dump();
        return true;
    } catch (const json::Json::exception&) {
        return false;
    }
}

}  // namespace

FileDebugLogStore::FileDebugLogStore(std::string filePath, LocalFileSystem fileSystem, int maxEntries, Now now)
    : filePath_(std::move(filePath)), fileSystem_(std::move(fileSystem)), maxEntries_(std::max(0, maxEntries)),
      now_(std::move(now)) {}

std::shared_ptr<FileDebugLogStore> FileDebugLogStore::create_null(std::string filePath, int maxEntries) {
    return std::make_shared<FileDebugLogStore>(std::move(filePath), LocalFileSystem::create_null(), maxEntries);
}

std::string FileDebugLogStore::serialize(const std::string& message) const {
    try {
        json::Json object = json::Json::object();
        object["timestamp"] = now_().iso8601(true);
        object["message"] = message;
        return escapeLineBreakingCharacters(object.dump());
    } catch (const json::Json::exception&) {
        return kSerializationFailedLine;
    }
}

QCoro::Task<void> FileDebugLogStore::append(std::string message) {
    appendNow(message);
    co_return;
}

void FileDebugLogStore::appendNow(const std::string& message) {
    std::lock_guard guard(mutex_);
    auto line = serialize(message) + "\n";
    auto path = expandTilde(filePath_);
    try {
        fileSystem_.ensureDirectory(std::filesystem::path(path).parent_path().string());
        if (fileSystem_.fileExists(path)) {
            fileSystem_.appendFile(path, line);
        } else {
            fileSystem_.writeFile(path, line);
        }
        trimIfNeeded(path);
    } catch (const std::exception&) {
        return;  // the log never fails its caller; the line is lost
    }
    if (auto tracker = messages_.lock()) {
        tracker->add(message);
    }
}

void FileDebugLogStore::trimIfNeeded(const std::string& path) {
    auto content = fileSystem_.readFile(path);
    if (!isValidUtf8(content)) return;
    auto lines = splitLines(content);
    if (lines.size() <= static_cast<std::size_t>(maxEntries_)) return;
    std::string kept;
    for (auto it = lines.end() - maxEntries_; it != lines.end(); ++it) {
        kept += *it;
        kept += '\n';
    }
    fileSystem_.writeFile(path, kept);
}

std::shared_ptr<DebugLogMessages> FileDebugLogStore::track_messages() {
    std::lock_guard guard(mutex_);
    if (auto tracker = messages_.lock()) return tracker;
    auto tracker = std::make_shared<DebugLogMessages>();
    messages_ = tracker;
    return tracker;
}

}  // namespace yux
