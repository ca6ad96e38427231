#pragma once

#include <string_view>

#include <nlohmann/json_fwd.hpp>

namespace yux::platform {

// Our documents nest a handful of levels. A deeper one is damaged or hostile: the JSON
// library's writer recurses once per level, so a file of 100 000 nested arrays would
// overflow the stack.
constexpr int kMaxJsonNesting = 64;

// True when the text opens more than `limit` arrays or objects inside each other. Brackets
// inside strings do not count; the text need not be valid JSON.
bool jsonTextNestsDeeperThan(std::string_view text, int limit = kMaxJsonNesting);

// The same for a parsed value; walks without recursion.
bool jsonValueNestsDeeperThan(const nlohmann::json& value, int limit = kMaxJsonNesting);

}  // namespace yux::platform
