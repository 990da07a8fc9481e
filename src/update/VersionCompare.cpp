#include "update/VersionCompare.h"

#include <algorithm>

namespace vantorel::update {

std::optional<std::vector<std::string>> versionParts(std::string_view version) {
    if (!version.empty() && (version.front() == 'v' || version.front() == 'V'))
        version.remove_prefix(1);
    if (version.empty())
        return std::nullopt;
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (true) {
        std::size_t dot = version.find('.', start);
        std::string_view part = version.substr(
            start, dot == std::string_view::npos ? std::string_view::npos : dot - start);
        if (part.empty() ||
            !std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return std::nullopt;
        std::size_t firstSignificant = part.find_first_not_of('0');
        parts.emplace_back(firstSignificant == std::string_view::npos
                               ? std::string()
                               : std::string(part.substr(firstSignificant)));
        if (dot == std::string_view::npos)
            break;
        start = dot + 1;
    }
    return parts;
}

bool isVersion(std::string_view version) {
    return versionParts(version).has_value();
}

std::partial_ordering compareVersions(std::string_view a, std::string_view b) {
    auto left = versionParts(a);
    auto right = versionParts(b);
    if (!left || !right)
        return std::partial_ordering::unordered;
    const std::size_t n = std::max(left->size(), right->size());
    left->resize(n);
    right->resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        const std::string& x = (*left)[i];
        const std::string& y = (*right)[i];
        // Without leading zeros, the longer digit run is the larger number.
        if (x.size() != y.size())
            return x.size() < y.size() ? std::partial_ordering::less
                                       : std::partial_ordering::greater;
        if (int c = x.compare(y); c != 0)
            return c < 0 ? std::partial_ordering::less : std::partial_ordering::greater;
    }
    return std::partial_ordering::equivalent;
}

bool isNewerVersion(std::string_view latest, std::string_view current) {
    return compareVersions(latest, current) == std::partial_ordering::greater;
}

} // namespace vantorel::update
