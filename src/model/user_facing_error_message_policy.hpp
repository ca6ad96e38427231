#pragma once

#include <string>

#include "model/app_error.hpp"

namespace yux {

// The one place where an AppError becomes the text shown to the user.
struct UserFacingErrorMessagePolicy {
    std::string message(const AppError& error) const;
};

}  // namespace yux
