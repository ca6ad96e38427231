#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "model/date.hpp"
#include "model/json_coding.hpp"

namespace yux {

// The container format of finished recordings.
enum class OutputFormat { mov };
inline constexpr std::array<OutputFormat, 1> kAllOutputFormats = {OutputFormat::mov};
std::string_view textOf(OutputFormat format);
std::string_view fileExtensionOf(OutputFormat format);

// One finished recording, as listed among the recent recordings.
struct RecordingFile {
    std::string path;
    Date createdAt;
    bool operator==(const RecordingFile&) const = default;
};

// The outcome of a finished export.
struct RecordingExportResult {
    RecordingFile file;
    std::int64_t byteSize = 0;
    bool operator==(const RecordingExportResult&) const = default;
};

// One progress report of an export.
struct RecordingExportProgress {
    // Share done, 0 to 1.
    double fraction = 0;
    int section = 0;
    int sectionCount = 0;
    // Absent while no estimate exists.
    std::optional<double> remainingSeconds;
};

}  // namespace yux

template <>
struct yux::json::Coder<yux::OutputFormat> {
    static Json encode(yux::OutputFormat format);
    static yux::OutputFormat decode(const Json& value);
};

template <>
struct yux::json::Coder<yux::RecordingFile> {
    static Json encode(const yux::RecordingFile& file);
    static yux::RecordingFile decode(const Json& value);
};
