#pragma once

// Seeds are made by the programs themselves: run one with YUX_FUZZ_WRITE_SEEDS=<folder> and it
// writes its seeds there and exits.
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace yux::fuzz {

inline void writeSeedsIfAsked(const std::vector<std::vector<std::uint8_t>>& seeds) {
    const char* folder = std::getenv("YUX_FUZZ_WRITE_SEEDS");
    if (folder == nullptr) {
        return;
    }
    int index = 0;
    for (const auto& seed : seeds) {
        std::ofstream file(std::string(folder) + "/seed-" + std::to_string(index++), std::ios::binary);
        file.write(reinterpret_cast<const char*>(seed.data()), static_cast<std::streamsize>(seed.size()));
    }
    std::exit(0);
}

inline std::vector<std::uint8_t> bytesOf(const std::string& text) { return {text.begin(), text.end()}; }

}  // namespace yux::fuzz
