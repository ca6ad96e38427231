#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace yux::platform {

// Every call the camera layer makes to the kernel, so tests can script a camera. Calls that
// fail answer -errno.
struct V4l2Operations {
    // Watch events: a node changed or went (rescan now), or one was created (rescan a little
    // later, when udev has set its permissions and links).
    static constexpr int kWatchChanged = 1;
    static constexpr int kWatchCreated = 2;

    // The capture nodes in /dev ("/dev/video0", ...).
    std::function<std::vector<std::string>()> listNodes;
    // Node path → the name of its /dev/v4l/by-id link.
    std::function<std::map<std::string, std::string>()> byIdLinks;
    // Opened read-write and non-blocking: a descriptor, or -errno.
    std::function<int(const std::string& path)> open;
    std::function<void(int fd)> close;
    std::function<int(int fd, unsigned long request, void* argument)> ioctl;
    // nullptr on failure.
    std::function<void*(int fd, std::size_t length, std::uint32_t offset)> mmap;
    std::function<void(void* address, std::size_t length)> munmap;
    // 1 when a buffer is ready, 0 after the timeout, or -errno.
    std::function<int(int fd, int timeoutMilliseconds)> poll;
    // A watch on /dev: a descriptor, or -errno (then the list is only read at start).
    std::function<int()> watchOpen;
    // Waits up to the timeout; answers kWatchChanged and/or kWatchCreated bits, 0, or -errno.
    std::function<int(int watch, int timeoutMilliseconds)> watchWait;
    std::function<void(int watch)> watchClose;

    static V4l2Operations live();
};

// A camera a test scripts: what it reports, the pictures it delivers and an errno at a chosen call.
struct ScriptedV4l2Device {
    struct FrameSize {
        std::uint32_t pixelFormat;  // V4L2_PIX_FMT_MJPEG or V4L2_PIX_FMT_YUYV
        int width;
        int height;
        std::vector<int> framesPerSecond;
    };

    std::string node = "/dev/video0";
    // False: unplugged (not listed, opening fails with ENODEV). A scripted ENODEV unplugs it.
    bool present = true;
    std::string link = "usb-Scripted_Camera_0001-video-index0";  // empty: no by-id link
    std::string card = "Scripted Camera";
    std::string busInfo = "usb-0000:00:14.0-1";
    std::uint32_t deviceCaps = 0x00000001 | 0x04000000;  // video capture, streaming
    std::vector<FrameSize> sizes;
    // Payloads delivered in turn, one per dequeued buffer; none left: polls time out.
    std::vector<std::vector<std::uint8_t>> frames;
    bool monotonicTimestamps = true;
    // The call ("open", "poll", "mmap" or an ioctl name such as "VIDIOC_DQBUF") that fails with
    // `failErrno` once it has succeeded `failAfter` times; "" never.
    std::string failCall;
    int failErrno = 0;
    int failAfter = 0;
    // How often that call has failed so far.
    int failures = 0;
};

// The state of a scripted camera set, shared with the operations made over it.
class ScriptedV4l2 {
public:
    std::vector<ScriptedV4l2Device> devices;
    // What the camera layer asked for.
    std::uint32_t setPixelFormat = 0;
    int setWidth = 0;
    int setHeight = 0;
    int setFramesPerSecond = 0;
    int openDescriptors = 0;
    int streaming = 0;

    std::mutex mutex;
};

// Over the scripted cameras; watching is not offered (tests rescan by hand).
V4l2Operations createNullV4l2Operations(std::shared_ptr<ScriptedV4l2> scripted);

}  // namespace yux::platform
