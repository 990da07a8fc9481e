#pragma once
// Reads member-access chains such as ".data[0].name" or "a['odd name'][2]" into steps, and
// finds the value they name inside a document.

#include "common/Result.h"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace vantorel::script {

// A member name or an array index.
using JsonPathStep = std::variant<std::string, std::size_t>;
using JsonPath = std::vector<JsonPathStep>;

// "" and "." are the whole document (no steps). The first member may be written with or
// without its leading dot. Names after a dot: letters, digits (not first), "_", "$" and
// non-ASCII characters. Brackets hold a decimal index or a quoted name ('...' or "...", with
// backslash escaping the quote and the backslash).
Result<JsonPath> parseJsonPath(std::string_view text);

// The value a path names, or null when it is absent. An index step on an object reads the
// member of that name; a name step on an array reads the element when the name is a
// canonical decimal index.
const nlohmann::ordered_json* findJsonValue(const nlohmann::ordered_json& root,
                                            const JsonPath& path);
nlohmann::ordered_json* findJsonValue(nlohmann::ordered_json& root, const JsonPath& path);

// Index spelt by a member name ("0", "12"; not "012", "-1", "1.0"), for name steps on arrays.
bool jsonIndexFromName(std::string_view name, std::size_t& index);

} // namespace vantorel::script
