#pragma once

#include <gtest/gtest.h>

#include "model/app_error.hpp"

namespace yux::testing {

// Runs the action and checks that it throws exactly this AppError (case and detail).
template <class Action>
void expectAppError(Action&& action, const AppError& expected) {
    try {
        action();
        ADD_FAILURE() << "expected the error: " << expected.what() << " (" << expected.detail() << ")";
    } catch (const AppError& error) {
        EXPECT_EQ(error, expected) << "detail: " << error.detail();
    }
}

}  // namespace yux::testing
