#pragma once

#include <functional>
#include <string>

#include <QCoroTask>
#include <QUuid>

#include "model/capture_target.hpp"

namespace yux {

// The capture engine as the recording session drives it.
class VideoCaptureBoundary {
public:
    virtual ~VideoCaptureBoundary() = default;

    // Returns when screen recording is allowed; throws the access error otherwise.
    virtual QCoro::Task<void> ensureAccess() = 0;
    // Returns once the first samples have arrived; on failure leaves nothing running and throws.
    virtual QCoro::Task<void> startCapture(QUuid sessionID, CaptureTarget target, std::string filePath) = 0;
    // The movie is complete when this returns.
    virtual QCoro::Task<void> stopCapture(QUuid sessionID) = 0;
    // Told on the main thread, once, when a running capture's movie can no longer be written
    // (a full disk, an encoder failure): nothing more is recorded, and stopCapture() keeps what
    // was written and throws why. The last handler set is the one told.
    virtual void setFailureHandler(std::function<void(QUuid sessionID)> handler) { (void)handler; }
};

}  // namespace yux
