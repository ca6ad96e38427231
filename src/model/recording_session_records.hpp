#pragma once

#include <string>

#include <QUuid>

namespace yux {

// The running recording.
struct ActiveSessionInfo {
    QUuid sessionID;
    std::string scratchFilePath;

    // The file the capture writes into.
    const std::string& targetFilePath() const { return scratchFilePath; }

    bool operator==(const ActiveSessionInfo&) const = default;
};

// A scratch movie reserved for a new recording.
struct ScratchReservation {
    QUuid sessionID;
    std::string filePath;
    bool operator==(const ScratchReservation&) const = default;
};

// A destination reserved in the save folder.
struct OutputReservation {
    QUuid sessionID;
    std::string filePath;
    bool operator==(const OutputReservation&) const = default;
};

}  // namespace yux
