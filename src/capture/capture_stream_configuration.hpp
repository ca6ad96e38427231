#pragma once

// How a capture target becomes a stream: the display, the content filter, the stream
// configuration and the attributes of the "start_request" lifecycle event.

#include <sys/types.h>

#include <exception>
#include <map>
#include <optional>
#include <string>

#include "model/capture_target.hpp"
#include "platform/x11/capture_stream.hpp"
#include "platform/x11/shareable_content.hpp"

namespace yux {

// Where the microphone of a recording comes from.
struct MicrophoneRoute {
    enum class Kind { off, usb, native };
    Kind kind = Kind::off;
    std::string deviceID;  // native only: the sound server source

    // No microphone: off; an identifier starting with "yux-usb:": the phone; else native.
    static MicrophoneRoute from(const std::optional<std::string>& microphoneID);
    // "off", "usb" or "native".
    std::string logValue() const;
    bool operator==(const MicrophoneRoute&) const = default;
};

// The attributes of "start_request" for a target and its scratch file.
std::map<std::string, std::string> startAttributes(const CaptureTarget& target, const std::string& filePath);

// The display the target records, found in the content by its decimal number.
// Throws AppError screenSelectionFailed "The selected display is no longer available".
const platform::ShareableDisplay& resolveDisplay(const platform::ShareableContent& content,
                                                 const CaptureTarget& target);

// Area and full display: the display without this process's windows. Application: only that
// application's windows; throws AppError screenSelectionFailed "Selected application is no
// longer running" when it has none.
platform::ContentFilter contentFilter(const platform::ShareableContent& content, const CaptureTarget& target,
                                      const platform::ShareableDisplay& display, pid_t thisProcess);

// Pixel size and source rectangle. Every size is even and at least 2; an area is limited to
// its display, and an area entirely off its display throws the display error.
void applyTarget(const CaptureTarget& target, platform::StreamConfiguration& configuration,
                 const platform::ShareableDisplay& display);

// The whole configuration of a recording stream, in the engine's order.
platform::StreamConfiguration streamConfiguration(const CaptureTarget& target, const MicrophoneRoute& route,
                                                  const platform::ShareableDisplay& display);

// The part of the desktop the recording shows, in points: the source rectangle moved to the
// display's origin, or the display's frame. The camera track is laid out over it.
platform::PointRect recordedRegion(const platform::StreamConfiguration& configuration,
                                   const platform::ShareableDisplay& display);

// A stream start error as the engine reports it: a missing system-audio monitor is
// AppError systemPlaybackAudioUnavailable, a missing microphone source AppError
// microphoneFailed; a sound server that refuses or does not answer is systemPlaybackAudioFailed
// or microphoneFailed with its cause; anything else passes unchanged.
[[noreturn]] void rethrowStreamStartError(std::exception_ptr error);

}  // namespace yux
