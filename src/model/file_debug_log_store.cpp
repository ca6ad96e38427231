#include "model/file_debug_log_store.hpp"

#include <algorithm>
#include <filesystem>
#include <utility>

#include "model/json_coding.hpp"
#include "platform/async/run_on.hpp"

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

// Splits at every line break the log's readers know, dropping empty lines. Works on bytes, so
// one invalid UTF-8 byte in an old line cannot stop the trim.
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

}  // namespace

FileDebugLogStore::FileDebugLogStore(std::string filePath, LocalFileSystem fileSystem, int maxEntries, Now now)
    : filePath_(std::move(filePath)),
      fileSystem_(std::move(fileSystem)),
      maxEntries_(std::max(0, maxEntries)),
      now_(std::move(now)),
      queue_(std::make_unique<platform::SerialQueue>("Yux.debug-log")) {}

std::shared_ptr<FileDebugLogStore> FileDebugLogStore::create_null(std::string filePath, int maxEntries) {
    return std::make_shared<FileDebugLogStore>(std::move(filePath), LocalFileSystem::create_null(), maxEntries);
}

std::string FileDebugLogStore::serialize(const std::string& message) const {
    try {
        json::Json object = json::Json::object();
        object["timestamp"] = now_().iso8601(true);
        object["message"] = message;
        // Window titles and platform texts may hold invalid UTF-8: the line keeps its time and
        // its text, with replacement characters for the bytes that are not text.
        return escapeLineBreakingCharacters(json::encodeReplacingInvalidText(object));
    } catch (const json::Json::exception&) {
        return kSerializationFailedLine;
    }
}

QCoro::Task<void> FileDebugLogStore::append(std::string message) {
    // Stamped now, written in order on the log's queue.
    // The work is a named local: GCC 12 frees a lambda temporary of a co_await expression twice.
    std::string line = serialize(message) + "\n";
    auto work = [this, line = std::move(line), message = std::move(message)] { store(line, message); };
    co_await platform::runOn(*queue_, std::move(work));
}

void FileDebugLogStore::appendNow(const std::string& message) {
    std::string line = serialize(message) + "\n";
    queue_->sync([&] { store(line, message); });
}

std::vector<std::string> FileDebugLogStore::entries() {
    return queue_->sync([this] {
        std::vector<std::string> lines;
        try {
            lines = splitLines(fileSystem_.readFile(expandTilde(filePath_)));
        } catch (const std::exception&) {
            return std::vector<std::string>{};
        }
        if (lines.size() > static_cast<std::size_t>(maxEntries_)) lines.erase(lines.begin(), lines.end() - maxEntries_);
        return lines;
    });
}

void FileDebugLogStore::store(const std::string& line, const std::string& message) {
    auto path = expandTilde(filePath_);
    std::size_t added = 1;
    try {
        fileSystem_.ensureDirectory(std::filesystem::path(path).parent_path().string());
        if (!lineCount_) countLines(path);
        std::string lines = line;
        if (setAsideNotice_) {
            lines = serialize(*setAsideNotice_) + "\n" + line;
            added = 2;
        }
        if (fileSystem_.fileExists(path)) {
            fileSystem_.appendFile(path, lines);
        } else {
            fileSystem_.writeFile(path, lines, platform::DiskSync::skip);
            lineCount_ = 0;
        }
    } catch (const std::exception&) {
        lineCount_.reset();  // unknown again: the next append reads the file
        return;              // the log never fails its caller; the line is lost
    }
    std::optional<std::string> notice = std::exchange(setAsideNotice_, std::nullopt);
    if (lineCount_) *lineCount_ += added;
    try {
        trimIfNeeded(path);
    } catch (const std::exception&) {
        // The line stays and the next append tries the trim again; the tracker holds only
        // messages whose whole append went through.
        lineCount_ = static_cast<std::size_t>(maxEntries_) + 1;
        return;
    }
    std::lock_guard guard(mutex_);
    if (auto tracker = messages_.lock()) {
        if (notice) tracker->add(*notice);
        tracker->add(message);
    }
}

// Learns how many lines the file holds before the first append. A torn last line (a write cut
// short) is dropped so the next line does not run into it; a file that is no log (a FIFO, a
// link to a device, a huge file) is moved aside, a link as the link so that nothing is copied
// from or appended to its target, and the fresh log's first line says where it went.
void FileDebugLogStore::countLines(const std::string& path) {
    if (!fileSystem_.fileExists(path)) {
        lineCount_ = 0;
        return;
    }
    std::string content;
    try {
        content = fileSystem_.readFile(path);
    } catch (const FileError& error) {
        if (error.code() != FileErrorCode::fileReadCorruptFile) return;  // appended to, but not counted
        const auto target = fileSystem_.linkTarget(path);
        const std::string aside = fileSystem_.moveAside(path);
        setAsideNotice_ = "debug_log_damaged path=" + path + " moved_to=" + aside +
                          (target ? " link_target=" + *target : "") + " error=" + error.what();
        lineCount_ = 0;
        return;
    }
    auto lines = splitLines(content);
    if (!content.empty() && content.back() != '\n') {
        if (!lines.empty()) lines.pop_back();
        std::string kept;
        for (const auto& whole : lines) kept += whole + '\n';
        fileSystem_.writeFile(path, kept, platform::DiskSync::skip);
    }
    lineCount_ = lines.size();
}

void FileDebugLogStore::trimIfNeeded(const std::string& path) {
    const std::size_t limit = static_cast<std::size_t>(maxEntries_);
    if (!lineCount_ || *lineCount_ <= limit) return;  // no count: the file could not be read
    auto lines = splitLines(fileSystem_.readFile(path));
    if (lines.size() > static_cast<std::size_t>(maxEntries_)) {
        std::string kept;
        for (auto it = lines.end() - maxEntries_; it != lines.end(); ++it) {
            kept += *it;
            kept += '\n';
        }
        fileSystem_.writeFile(path, kept, platform::DiskSync::skip);
    }
    lineCount_ = std::min(lines.size(), static_cast<std::size_t>(maxEntries_));
}

std::shared_ptr<DebugLogMessages> FileDebugLogStore::track_messages() {
    std::lock_guard guard(mutex_);
    if (auto tracker = messages_.lock()) return tracker;
    auto tracker = std::make_shared<DebugLogMessages>();
    messages_ = tracker;
    return tracker;
}

}  // namespace yux
