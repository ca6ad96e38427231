#pragma once

// Raw BGRA pictures piped into the ffmpeg tool, the writer benches' yardstick.

#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstddef>
#include <stdexcept>

#include "platform/media/pixel_buffer.hpp"

namespace yux::bench {

// Every row of `picture`, without its padding; throws when the tool stopped reading.
inline void writeRawPicture(int fd, const platform::PixelBuffer& picture) {
    for (int y = 0; y < picture.height(); ++y) {
        const auto* row = picture.row(y);
        std::size_t left = static_cast<std::size_t>(picture.width()) * 4;
        while (left > 0) {
            const ssize_t written = write(fd, row, left);
            if (written <= 0) throw std::runtime_error("ffmpeg stopped reading");
            row += written;
            left -= static_cast<std::size_t>(written);
        }
    }
}

// Waits for the tool; throws unless it succeeded.
inline void waitForTool(pid_t child) {
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) throw std::runtime_error("ffmpeg failed");
}

}  // namespace yux::bench
