#pragma once
// Version numbers compared the way people read them: part by part, each part as a number, so
// "3.10" is newer than "3.9". A missing part counts as 0 ("3.9" equals "3.9.0"); a leading "v" or
// "V" is allowed. Parts of any length compare correctly (no overflow): leading zeros are ignored
// and a longer run of digits is the larger number.

#include <compare>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantorel::update {

// The numeric parts of a version, each without leading zeros; none when the text is not a
// version (empty, an empty part, or a part that is not all digits).
std::optional<std::vector<std::string>> versionParts(std::string_view version);

bool isVersion(std::string_view version);

// Both must be versions (isVersion); otherwise the result is unordered.
std::partial_ordering compareVersions(std::string_view a, std::string_view b);

// True only when both are versions and `latest` is newer than `current`.
bool isNewerVersion(std::string_view latest, std::string_view current);

} // namespace vantorel::update
