#pragma once
// Base64 with the standard alphabet and "=" padding.

#include <optional>
#include <string>
#include <string_view>

namespace vantorel::net {

std::string base64Encode(std::string_view bytes);

// The bytes `text` encodes; none when it is not Base64 of the standard alphabet (padding may be
// left out, nothing else may stand in it).
std::optional<std::string> base64Decode(std::string_view text);

} // namespace vantorel::net
