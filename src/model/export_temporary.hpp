#pragma once

#include <sys/types.h>

#include <string>

#include <QUuid>

namespace yux {

// The hidden file an export is written to in the save folder until it is whole:
// ".yux-export-<UUID>.partial". Its path is noted with the take before it is created, and that
// noted path is the only one ever removed: no folder is searched for such names.
struct ExportTemporary {
    static constexpr const char* kPrefix = ".yux-export-";
    static constexpr const char* kSuffix = ".partial";

    // The temporary for an export into `folder`.
    static std::string pathIn(const std::string& folder, const QUuid& id);
    // Whether the path is absolute and its file name is one this type makes.
    static bool isNamedAsOurs(const std::string& path);

    enum class Removal { removed, missing, leftAlone, failed };
    struct Outcome {
        Removal removal;
        // Why it was left alone or could not be removed.
        std::string reason;
    };
    // Removes the noted temporary only while it is still a regular file (the path itself,
    // no link followed) owned by `owner` and named as ours; anything else there stays.
    static Outcome remove(const std::string& path, uid_t owner);
    static Outcome remove(const std::string& path);

    // The debug-log line of an outcome; empty when nothing was there.
    static std::string logLine(const std::string& path, const Outcome& outcome);
};

}  // namespace yux
