#pragma once
// Reads JSON text into a document without ever running it. Besides standard JSON it accepts
// the forms that script replies use: texts in single quotes, member names without quotes (or
// written as non-negative integers), the escapes \' \v \0 \xHH, and one pair of parentheses
// around the whole value. Nesting deeper than 512 levels is refused, so no input can exhaust
// the stack. Invalid UTF-8 inside texts is read as U+FFFD.

#include "common/Result.h"

#include <nlohmann/json.hpp>

#include <string_view>

namespace vantorel::script {

Result<nlohmann::ordered_json> readJson(std::string_view text);

} // namespace vantorel::script
