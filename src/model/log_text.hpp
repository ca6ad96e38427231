#pragma once

#include <exception>
#include <string>

#include "model/app_error.hpp"

namespace yux {

// The case as written in log lines and diagnostic texts ("outputFinalizationFailed").
const char* caseName(AppError::Case kind);

// Numbers in debug-log lines: the shortest decimal that reads back as the same double, always
// with a fractional part ("2.0", "2.5", "0.0").
std::string logNumber(double value);

// An AppError's text form in log lines and status texts: the case name, and for a case with a
// detail the detail as a quoted string literal (saveFolderUnusable("folder \"x\" is gone")).
// Quotation marks (double and single), backslashes and control characters are escaped so the
// text reads back.
std::string appErrorText(const AppError& error);

// An error as a log line shows it: an AppError as its case name and quoted detail
// (outputFinalizationFailed("Sections overlap")), a cancellation as "CancelledError()",
// anything else as its own message.
std::string logErrorText(const std::exception_ptr& error);

}  // namespace yux
