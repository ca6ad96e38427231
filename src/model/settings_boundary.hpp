#pragma once

#include <QCoroTask>

#include "model/app_settings.hpp"
#include "model/capture_target.hpp"

namespace yux {

// The settings and the capture preference as the session and the shell see them.
class SettingsBoundary {
public:
    virtual ~SettingsBoundary() = default;
    virtual QCoro::Task<AppSettings> loadSettings() = 0;
    virtual QCoro::Task<void> persistSettings(AppSettings settings) = 0;
    virtual QCoro::Task<CapturePreference> loadCapturePreference() = 0;
    virtual QCoro::Task<void> persistCapturePreference(CapturePreference preference) = 0;
};

}  // namespace yux
