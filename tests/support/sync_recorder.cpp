#include "support/sync_recorder.hpp"

#include <dlfcn.h>
#include <unistd.h>

#include <filesystem>
#include <mutex>
#include <utility>

namespace yux::testing {
namespace {

struct Record {
    std::mutex lock;
    std::vector<SyncCall> calls;
};

Record& record() {
    static Record shared;
    return shared;
}

std::string pathOf(int descriptor) {
    std::error_code error;
    auto path = std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(descriptor), error);
    return error ? std::string() : path.string();
}

// Records the call, then makes it through the C library's own function.
int recordAndCall(const char* function, int descriptor) {
    using Call = int (*)(int);
    auto* call = reinterpret_cast<Call>(::dlsym(RTLD_NEXT, function));
    {
        std::lock_guard lock(record().lock);
        record().calls.push_back({function, pathOf(descriptor)});
    }
    return call(descriptor);
}

}  // namespace

std::vector<SyncCall> takeSyncCalls() {
    std::lock_guard lock(record().lock);
    return std::exchange(record().calls, {});
}

}  // namespace yux::testing

extern "C" int fdatasync(int descriptor) { return yux::testing::recordAndCall("fdatasync", descriptor); }
extern "C" int fsync(int descriptor) { return yux::testing::recordAndCall("fsync", descriptor); }
extern "C" int syncfs(int descriptor) __THROW { return yux::testing::recordAndCall("syncfs", descriptor); }
