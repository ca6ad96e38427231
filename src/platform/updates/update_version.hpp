#pragma once

#include <string>
#include <vector>

namespace yux::platform {

// Release versions: dot-separated numbers compared numerically, a missing part counting as 0
// ("1.2" == "1.2.0"); a "-suffix" (a pre-release) sorts before the same plain version.
// Answers <0, 0 or >0.
int compareVersions(const std::string& left, const std::string& right);

struct UpdateItem;
// The newest item newer than `current`, or nothing.
const UpdateItem* newestUpdate(const std::vector<UpdateItem>& items, const std::string& current);

}  // namespace yux::platform
