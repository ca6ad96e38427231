#pragma once

#include <ostream>
#include <string>
#include <vector>

// Linking sync_recorder.cpp into a test program puts its own fdatasync, fsync and syncfs in
// front of the C library's: each call is recorded, then made. The project's libraries are
// static, so their calls land there too. Only for programs that want every sync recorded.
namespace yux::testing {

struct SyncCall {
    std::string function;  // "fdatasync", "fsync" or "syncfs"
    std::string path;      // what the descriptor named at the call
    bool operator==(const SyncCall&) const = default;
};

// The calls since the last take, oldest first.
std::vector<SyncCall> takeSyncCalls();

inline std::ostream& operator<<(std::ostream& out, const SyncCall& call) {
    return out << call.function << "(" << call.path << ")";
}

}  // namespace yux::testing
