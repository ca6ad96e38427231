#include "capture/capture_stream_configuration.hpp"

#include <algorithm>
#include <cmath>

#include "model/app_error.hpp"
#include "model/log_text.hpp"
#include "platform/audio/pulse_record_stream.hpp"

namespace yux {

namespace {

constexpr const char* kDisplayGone = "The selected display is no longer available";
constexpr const char* kApplicationGone = "Selected application is no longer running";
constexpr const char* kPhoneDevicePrefix = "yux-usb:";

// Non-negative, odd values lowered by one, at least 2: what an H.264 4:2:0 track can hold.
int evenPixels(double value) {
    double rounded = std::round(value);  // halves away from zero
    long long pixels = std::isfinite(rounded) ? static_cast<long long>(std::max(0.0, std::min(rounded, 1e9))) : 0;
    if (pixels % 2 != 0) pixels -= 1;
    return static_cast<int>(std::max(2LL, pixels));
}

std::string displayText(const CaptureTarget& target, const platform::ShareableContent& content) {
    if (const auto* area = target.asArea()) return area->displayID.rawValue;
    if (const auto* application = target.asApplication()) return application->displayID.rawValue;
    return std::to_string(content.mainDisplayID);
}

}  // namespace

MicrophoneRoute MicrophoneRoute::from(const std::optional<std::string>& microphoneID) {
    if (!microphoneID) return {};
    if (microphoneID->rfind(kPhoneDevicePrefix, 0) == 0) return {Kind::usb, {}};
    return {Kind::native, *microphoneID};
}

std::string MicrophoneRoute::logValue() const {
    switch (kind) {
    case Kind::off:
        return "off";
    case Kind::usb:
        return "usb";
    case Kind::native:
        return "native";
    }
    return "off";
}

std::map<std::string, std::string> startAttributes(const CaptureTarget& target, const std::string& filePath) {
    std::map<std::string, std::string> attributes{{"target_file", filePath}};
    if (const auto* area = target.asArea()) {
        const auto& r = area->rect;
        attributes["capture_target"] = "area";
        attributes["rect"] =
            logNumber(r.x) + "," + logNumber(r.y) + "," + logNumber(r.width) + "," + logNumber(r.height);
        attributes["quality"] = "full_fidelity";
        attributes["shows_cursor"] = "true";
    } else if (const auto* application = target.asApplication()) {
        attributes["capture_target"] = "application";
        attributes["application"] = application->bundleIdentifier;
        attributes["display"] = application->displayID.rawValue;
    } else {
        attributes["capture_target"] = "fullMainDisplay";
        attributes["quality"] = "full_fidelity";
        attributes["shows_cursor"] = "true";
    }
    return attributes;
}

const platform::ShareableDisplay& resolveDisplay(const platform::ShareableContent& content,
                                                 const CaptureTarget& target) {
    const std::string wanted = displayText(target, content);
    for (const auto& display : content.displays) {
        if (std::to_string(display.displayID) == wanted) return display;
    }
    throw AppError::screenSelectionFailed(kDisplayGone);
}

platform::ContentFilter contentFilter(const platform::ShareableContent& content, const CaptureTarget& target,
                                      const platform::ShareableDisplay& display, pid_t thisProcess) {
    if (const auto* application = target.asApplication()) {
        for (const auto& running : content.applications) {
            if (running.bundleIdentifier == application->bundleIdentifier) {
                return platform::ContentFilter::including(display, {running});
            }
        }
        throw AppError::screenSelectionFailed(kApplicationGone);
    }
    std::vector<platform::RunningApplication> own;
    for (const auto& running : content.applications) {
        if (running.processID == thisProcess) own.push_back(running);
    }
    return platform::ContentFilter::excluding(display, std::move(own));
}

void applyTarget(const CaptureTarget& target, platform::StreamConfiguration& configuration,
                 const platform::ShareableDisplay& display) {
    const auto* area = target.asArea();
    if (area == nullptr) {
        configuration.width = evenPixels(display.width);
        configuration.height = evenPixels(display.height);
        configuration.sourceRect.reset();
        return;
    }
    const auto& frame = display.frame;
    // An area reaching past its display records only what lies on it.
    double left = std::max(area->rect.x, frame.x);
    double top = std::max(area->rect.y, frame.y);
    double right = std::min(area->rect.x + area->rect.width, frame.x + frame.width);
    double bottom = std::min(area->rect.y + area->rect.height, frame.y + frame.height);
    if (frame.width > 0 && frame.height > 0 && (right <= left || bottom <= top)) {
        throw AppError::screenSelectionFailed(kDisplayGone);
    }
    if (frame.width <= 0 || frame.height <= 0) {
        // A display without a frame cannot limit anything; keep the area as it is.
        left = area->rect.x;
        top = area->rect.y;
        right = area->rect.x + area->rect.width;
        bottom = area->rect.y + area->rect.height;
    }
    double scaleX = display.width / std::max(frame.width, 1.0);
    double scaleY = display.height / std::max(frame.height, 1.0);
    configuration.width = evenPixels((right - left) * scaleX);
    configuration.height = evenPixels((bottom - top) * scaleY);
    configuration.sourceRect = platform::PointRect{left - frame.x, top - frame.y, right - left, bottom - top};
}

platform::StreamConfiguration streamConfiguration(const CaptureTarget& target, const MicrophoneRoute& route,
                                                  const platform::ShareableDisplay& display) {
    platform::StreamConfiguration configuration;
    configuration.minimumFrameInterval = platform::MediaTime::zero();
    configuration.capturesAudio = true;
    configuration.captureMicrophone = route.kind == MicrophoneRoute::Kind::native;
    configuration.microphoneCaptureDeviceID = configuration.captureMicrophone ? route.deviceID : std::string();
    configuration.excludesCurrentProcessAudio = false;
    configuration.showsCursor = true;
    configuration.queueDepth = 6;
    applyTarget(target, configuration, display);
    configuration.pixelFormat = platform::PixelFormat::bgra;
    return configuration;
}

platform::PointRect recordedRegion(const platform::StreamConfiguration& configuration,
                                   const platform::ShareableDisplay& display) {
    if (configuration.sourceRect && !configuration.sourceRect->isEmpty()) {
        const auto& r = *configuration.sourceRect;
        return {display.frame.x + r.x, display.frame.y + r.y, r.width, r.height};
    }
    return display.frame;
}

void rethrowStreamStartError(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const platform::AudioSourceUnavailable& missing) {
        if (missing.kind() == platform::AudioSourceChoice::Kind::systemPlayback) {
            throw AppError::systemPlaybackAudioUnavailable();
        }
        throw AppError::microphoneFailed(missing.what());
    } catch (const platform::AudioSourceFailed& failed) {
        if (failed.kind() == platform::AudioSourceChoice::Kind::systemPlayback) {
            throw AppError::systemPlaybackAudioFailed(failed.what());
        }
        throw AppError::microphoneFailed(failed.what());
    }
}

}  // namespace yux
