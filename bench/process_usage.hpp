#pragma once

// CPU time of this program, of a child it waited for, and of the test environment's servers.

#include <sys/resource.h>
#include <sys/types.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace yux::bench {

inline double cpuSeconds(const rusage& usage) {
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Of this process (RUSAGE_SELF), of the children it waited for (RUSAGE_CHILDREN) or of the
// calling thread (RUSAGE_THREAD).
inline double cpuSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return cpuSeconds(usage);
}

inline double selfCpuSeconds() { return cpuSeconds(RUSAGE_SELF); }

// A process of this name started by the same shell as this program (the test environment's
// Xvfb or pulseaudio); 0 when there is none.
inline pid_t findSibling(const std::string& wanted) {
    const pid_t parent = getppid();
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        std::getline(stat, line);
        auto open = line.find('(');
        auto close = line.rfind(')');
        if (open == std::string::npos || close == std::string::npos) continue;
        std::istringstream rest(line.substr(close + 2));
        char state;
        int ppid;
        rest >> state >> ppid;
        if (line.substr(open + 1, close - open - 1) == wanted && ppid == parent) return std::stoi(name);
    }
    return 0;
}

// User and system CPU seconds of another process so far; 0 for none.
inline double processCpuSeconds(pid_t pid) {
    if (pid == 0) return 0;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    if (line.empty()) return 0;
    std::istringstream rest(line.substr(line.rfind(')') + 2));
    std::string field;
    double ticks = 0;
    for (int index = 3; rest >> field; ++index) {
        if (index == 14 || index == 15) ticks += std::stod(field);  // utime, stime
        if (index == 15) break;
    }
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

}  // namespace yux::bench
