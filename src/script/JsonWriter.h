#pragma once
// Writes a document as JSON text the way JavaScript's JSON.stringify does: members in their
// order; the short escapes \b \t \n \f \r \" \\; "\u" with four lower-case hex digits for the
// other control characters and the invisible format characters (U+0000-001F, U+007F-009F,
// U+00AD, U+0600-0604, U+070F, U+17B4, U+17B5, U+200C-200F, U+2028-202F, U+2060-206F, U+FEFF,
// U+FFF0-FFFF); every other character as itself in UTF-8 ("/" included); numbers in
// JavaScript's shortest form (integers without ".0", non-finite numbers as null); compact
// unless an indentation is given.

#include <nlohmann/json.hpp>

#include <string>
#include <string_view>

namespace vantorel::script {

// `indent` empty: compact. Otherwise each level is indented by `indent` and ": " separates a
// member's name from its value.
std::string writeJson(const nlohmann::ordered_json& value, std::string_view indent = {});

// A number as JavaScript prints it: 1, 0.1, 1e+21, 1.5e-7, -0 as 0.
std::string javaScriptNumber(double value);

} // namespace vantorel::script
