#include "platform/desktop/json_nesting.hpp"

#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

namespace yux::platform {

bool jsonTextNestsDeeperThan(std::string_view text, int limit) {
    int depth = 0;
    bool inString = false;
    bool escaped = false;
    for (char c : text) {
        if (inString) {
            if (escaped) {
                escaped = false;
            } else if (c == '\\') {
                escaped = true;
            } else if (c == '"') {
                inString = false;
            }
            continue;
        }
        if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > limit) return true;
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
    return false;
}

bool jsonValueNestsDeeperThan(const nlohmann::json& value, int limit) {
    std::vector<std::pair<const nlohmann::json*, int>> pending{{&value, value.is_structured() ? 1 : 0}};
    while (!pending.empty()) {
        auto [current, depth] = pending.back();
        pending.pop_back();
        if (depth > limit) return true;
        for (const auto& element : *current) {
            if (element.is_structured()) pending.emplace_back(&element, depth + 1);
        }
    }
    return false;
}

}  // namespace yux::platform
