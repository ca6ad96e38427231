#include "platform/updates/update_version.hpp"

#include <cctype>

#include "platform/updates/updater.hpp"

namespace yux::platform {

namespace {

struct ParsedVersion {
    std::vector<unsigned long long> numbers;
    std::string suffix;
};

ParsedVersion parse(const std::string& text) {
    ParsedVersion parsed;
    const auto dash = text.find('-');
    const std::string numbers = text.substr(0, dash);
    if (dash != std::string::npos) parsed.suffix = text.substr(dash + 1);
    std::size_t start = 0;
    while (start <= numbers.size()) {
        const auto dot = numbers.find('.', start);
        const std::string part = numbers.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
        unsigned long long value = 0;
        for (const char c : part) {
            if (!std::isdigit(static_cast<unsigned char>(c))) break;
            // Saturates instead of wrapping, so an absurd number still sorts high.
            value = value > (~0ULL - 9) / 10 ? ~0ULL : value * 10 + static_cast<unsigned>(c - '0');
        }
        parsed.numbers.push_back(value);
        if (dot == std::string::npos) break;
        start = dot + 1;
    }
    return parsed;
}

}  // namespace

int compareVersions(const std::string& left, const std::string& right) {
    const auto a = parse(left);
    const auto b = parse(right);
    const auto count = std::max(a.numbers.size(), b.numbers.size());
    for (std::size_t i = 0; i < count; ++i) {
        const auto x = i < a.numbers.size() ? a.numbers[i] : 0;
        const auto y = i < b.numbers.size() ? b.numbers[i] : 0;
        if (x != y) return x < y ? -1 : 1;
    }
    if (a.suffix.empty() != b.suffix.empty()) return a.suffix.empty() ? 1 : -1;
    const int order = a.suffix.compare(b.suffix);
    return order < 0 ? -1 : order > 0 ? 1 : 0;
}

const UpdateItem* newestUpdate(const std::vector<UpdateItem>& items, const std::string& current) {
    const UpdateItem* newest = nullptr;
    for (const auto& item : items) {
        if (compareVersions(item.version, current) <= 0) continue;
        if (!newest || compareVersions(item.version, newest->version) > 0) newest = &item;
    }
    return newest;
}

}  // namespace yux::platform
