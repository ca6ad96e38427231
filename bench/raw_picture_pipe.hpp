#pragma once

// Raw BGRA pictures piped into the ffmpeg tool, the writer benches' yardstick.

#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/media/pixel_buffer.hpp"

namespace yux::bench {

// The tool reading raw BGRA pictures of `width` x `height` at `rate` a second from its standard
// input, with `output` the rest of its arguments. A run that ends early (the tool stopped
// reading, a throw) closes the pipe and ends and reaps the tool, so nothing is left behind.
class RawPictureTool {
public:
    RawPictureTool(int width, int height, const std::string& rate, const std::vector<std::string>& output) {
        int ends[2];
        if (pipe(ends) != 0) throw std::runtime_error("pipe failed");
        std::vector<std::string> words{"ffmpeg", "-hide_banner", "-loglevel", "error",  "-f", "rawvideo",
                                       "-pix_fmt", "bgra",        "-s", std::to_string(width) + "x" + std::to_string(height),
                                       "-framerate", rate, "-i", "-"};
        words.insert(words.end(), output.begin(), output.end());
        std::vector<char*> argv;
        for (auto& word : words) argv.push_back(word.data());
        argv.push_back(nullptr);
        child_ = fork();
        if (child_ < 0) {
            close(ends[0]);
            close(ends[1]);
            throw std::runtime_error("fork failed");
        }
        if (child_ == 0) {
            dup2(ends[0], 0);
            close(ends[0]);
            close(ends[1]);
            execvp("ffmpeg", argv.data());
            _exit(127);
        }
        close(ends[0]);
        fd_ = ends[1];
        signal(SIGPIPE, SIG_IGN);
    }
    RawPictureTool(const RawPictureTool&) = delete;
    RawPictureTool& operator=(const RawPictureTool&) = delete;
    ~RawPictureTool() {
        if (fd_ >= 0) close(fd_);
        if (child_ > 0) {
            kill(child_, SIGKILL);
            while (waitpid(child_, nullptr, 0) < 0 && errno == EINTR) {
            }
        }
    }

    // Every row of `picture`, without its padding; throws when the tool stopped reading.
    void write(const platform::PixelBuffer& picture) {
        for (int y = 0; y < picture.height(); ++y) {
            const auto* row = picture.row(y);
            std::size_t left = static_cast<std::size_t>(picture.width()) * 4;
            while (left > 0) {
                const ssize_t written = ::write(fd_, row, left);
                if (written < 0 && errno == EINTR) continue;
                if (written <= 0) throw std::runtime_error("ffmpeg stopped reading");
                row += written;
                left -= static_cast<std::size_t>(written);
            }
        }
    }

    // Ends the input and waits for the tool; throws unless it succeeded.
    void finish() {
        close(fd_);
        fd_ = -1;
        int status = 0;
        while (waitpid(child_, &status, 0) < 0 && errno == EINTR) {
        }
        child_ = -1;
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) throw std::runtime_error("ffmpeg failed");
    }

private:
    pid_t child_ = -1;
    int fd_ = -1;
};

}  // namespace yux::bench
