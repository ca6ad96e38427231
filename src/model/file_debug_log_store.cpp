#include "model/file_debug_log_store.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string_view>
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

// The bytes that begin a line break: \n, \v, \f, \r, and the first bytes of U+0085, U+2028 and
// U+2029. Every byte of the file is looked up here, at every append once the log is full.
constexpr auto kMayBreakLine = [] {
    std::array<bool, 256> marks{};
    for (unsigned char byte : {0x0A, 0x0B, 0x0C, 0x0D, 0xC2, 0xE2}) marks[byte] = true;
    return marks;
}();

// The length of the line break at `at`, or 0.
std::size_t lineBreakLength(std::string_view text, std::size_t at) {
    auto byte = [&](std::size_t i) { return i < text.size() ? static_cast<unsigned char>(text[i]) : 0; };
    switch (byte(at)) {
    case '\n':
    case '\v':
    case '\f':
    case '\r':
        return 1;
    case 0xC2:
        return byte(at + 1) == 0x85 ? 2 : 0;
    case 0xE2:
        return byte(at + 1) == 0x80 && (byte(at + 2) == 0xA8 || byte(at + 2) == 0xA9) ? 3 : 0;
    default:
        return 0;
    }
}

// True when one of the eight bytes is below 0x0E or has its high bit set: only such a word can
// hold a line break. (A byte below 0x0E borrows into its own high bit; a borrow carried on from
// a lower byte can only mark a word that is looked at anyway.)
bool mayHoldLineBreak(std::uint64_t word) {
    constexpr std::uint64_t kEveryByte = 0x0101010101010101ULL;
    constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;
    return (((word - kEveryByte * 0x0E) | word) & kHighBits) != 0;
}

// Splits at every line break the log's readers know, dropping empty lines. Works on bytes, so
// one invalid UTF-8 byte in an old line cannot stop the trim. The lines point into `text`.
// Once the log is full this runs over the whole file at every append: plain ASCII is passed
// over eight bytes at a time.
std::vector<std::string_view> splitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t size = text.size();
    std::size_t start = 0;
    std::size_t i = 0;
    while (i < size) {
        for (std::uint64_t word; i + 8 <= size; i += 8) {
            std::memcpy(&word, bytes + i, 8);
            if (mayHoldLineBreak(word)) break;
        }
        for (const std::size_t end = std::min(size, i + 8); i < end; ++i) {
            if (!kMayBreakLine[bytes[i]]) continue;
            const std::size_t length = lineBreakLength(text, i);
            if (length == 0) continue;
            if (i > start) lines.push_back(text.substr(start, i - start));
            start = i + length;
            i = start - 1;
        }
    }
    if (size > start) lines.push_back(text.substr(start));
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
    std::string line = serialize(message) + "\n";
    enqueue(std::move(line), std::move(message));
    // The work is a named local: GCC 12 frees a lambda temporary of a co_await expression twice.
    auto work = [this] { storeWaiting(); };
    co_await platform::runOn(*queue_, std::move(work));
}

void FileDebugLogStore::appendNow(const std::string& message) {
    enqueue(serialize(message) + "\n", message);
    queue_->sync([this] { storeWaiting(); });
}

void FileDebugLogStore::enqueue(std::string line, std::string message) {
    std::lock_guard guard(mutex_);
    waiting_.push_back({std::move(line), std::move(message)});
}

std::vector<std::string> FileDebugLogStore::entries() {
    return queue_->sync([this] {
        std::string content;
        try {
            content = fileSystem_.readFile(expandTilde(filePath_));
        } catch (const std::exception&) {
            return std::vector<std::string>{};
        }
        auto lines = splitLines(content);
        if (lines.size() > static_cast<std::size_t>(maxEntries_)) lines.erase(lines.begin(), lines.end() - maxEntries_);
        return std::vector<std::string>(lines.begin(), lines.end());
    });
}

// Every append queues one run of this; the first run after a line was queued writes it with
// every other line waiting by then, and the later runs find nothing left.
void FileDebugLogStore::storeWaiting() {
    std::vector<WaitingLine> batch;
    {
        std::lock_guard guard(mutex_);
        batch.swap(waiting_);
    }
    if (!batch.empty()) store(batch);
}

void FileDebugLogStore::store(const std::vector<WaitingLine>& batch) {
    auto path = expandTilde(filePath_);
    std::size_t added = batch.size();
    try {
        fileSystem_.ensureDirectory(std::filesystem::path(path).parent_path().string());
        if (!lineCount_) countLines(path);
        std::string text;
        if (setAsideNotice_) {
            text = serialize(*setAsideNotice_) + "\n";
            added += 1;
        }
        for (const auto& waiting : batch) text += waiting.line;
        if (fileSystem_.fileExists(path)) {
            fileSystem_.appendFile(path, text);
        } else {
            fileSystem_.writeFile(path, text, platform::DiskSync::skip);
            lineCount_ = 0;
        }
    } catch (const std::exception&) {
        lineCount_.reset();  // unknown again: the next append reads the file
        return;              // the log never fails its caller; the lines are lost
    }
    std::optional<std::string> notice = std::exchange(setAsideNotice_, std::nullopt);
    if (lineCount_) *lineCount_ += added;
    try {
        trimIfNeeded(path);
    } catch (const std::exception&) {
        // The lines stay and the next append tries the trim again; the tracker holds only
        // messages whose whole append went through.
        lineCount_ = static_cast<std::size_t>(maxEntries_) + 1;
        return;
    }
    std::lock_guard guard(mutex_);
    if (auto tracker = messages_.lock()) {
        if (notice) tracker->add(*notice);
        for (const auto& waiting : batch) tracker->add(waiting.message);
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
        for (const auto& whole : lines) {
            kept += whole;
            kept += '\n';
        }
        fileSystem_.writeFile(path, kept, platform::DiskSync::skip);
    }
    lineCount_ = lines.size();
}

void FileDebugLogStore::trimIfNeeded(const std::string& path) {
    const std::size_t limit = static_cast<std::size_t>(maxEntries_);
    if (!lineCount_ || *lineCount_ <= limit) return;  // no count: the file could not be read
    std::string content = fileSystem_.readFile(path);
    const auto lines = splitLines(content);
    if (lines.size() > limit) {
        const auto first = lines.end() - maxEntries_;
        const auto from =
            first == lines.end() ? content.size() : static_cast<std::size_t>(first->data() - content.data());
        // Usually the kept lines are the file's tail as it stands, each ended by one line feed
        // and nothing else: then the tail is cut out in place, without a second copy of the file.
        std::size_t keptSize = 0;
        bool lineFeeds = true;
        for (auto line = first; line != lines.end(); ++line) {
            keptSize += line->size() + 1;
            // After a last line without its line feed this reads the string's terminating NUL.
            lineFeeds = lineFeeds && line->data()[line->size()] == '\n';
        }
        if (lineFeeds && content.size() - from == keptSize) {
            content.erase(0, from);
        } else {
            std::string kept;
            kept.reserve(keptSize);
            for (auto line = first; line != lines.end(); ++line) {
                kept += *line;
                kept += '\n';
            }
            content = std::move(kept);
        }
        fileSystem_.writeFile(path, content, platform::DiskSync::skip);
    }
    lineCount_ = std::min(lines.size(), limit);
}

std::shared_ptr<DebugLogMessages> FileDebugLogStore::track_messages() {
    std::lock_guard guard(mutex_);
    if (auto tracker = messages_.lock()) return tracker;
    auto tracker = std::make_shared<DebugLogMessages>();
    messages_ = tracker;
    return tracker;
}

}  // namespace yux
