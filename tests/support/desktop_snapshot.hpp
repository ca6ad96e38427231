#pragma once

// What a person would look at when a desktop or end-to-end test fails: a picture of the whole
// screen and the list of windows (mapped ones, the focus, the active window, the pointer, and
// which are the test's own). Not grabs: X11 shows another client's grab only to one that tries
// to grab, and a test that does not hold the display and keyboard would take the keyboard or
// pointer from one that does.

#include <filesystem>
#include <string>

namespace yux::testing {

struct DesktopSnapshot {
    std::filesystem::path picture;  // empty when none could be written
    std::string windows;            // one line a window, or why the display could not be read
};

// Writes `folder`/`name`.png and `name`.txt (the windows) and answers both.
DesktopSnapshot snapshotDesktop(const std::filesystem::path& folder, const std::string& name);

// From now on every failing check of a test prints a snapshot of the desktop right after its
// message (the first few of each test).
void snapshotDesktopOnFailure(const std::filesystem::path& folder);

}  // namespace yux::testing
