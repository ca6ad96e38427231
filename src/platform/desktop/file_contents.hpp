#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace yux::platform {

// Whole-file reads and writes for small state files. Failures throw std::system_error carrying
// the operating system's errno.

std::string readFileContents(const std::filesystem::path& path);

// Writes through a synced temporary file in the same folder, renamed over the target, so a
// reader never sees half a file and a failed write leaves the old one whole (the temporary is
// removed). Without `mode` the file keeps its mode, or gets a new file's mode.
void writeFileAtomically(const std::filesystem::path& path, std::string_view data,
                         std::optional<mode_t> mode = std::nullopt);

// Adds to the end of an existing file; never creates one (ENOENT when it is missing).
void appendToFile(const std::filesystem::path& path, std::string_view data);

}  // namespace yux::platform
