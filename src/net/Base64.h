#pragma once
// Base64 with the standard alphabet and "=" padding.

#include <string>
#include <string_view>

namespace vantorel::net {

std::string base64Encode(std::string_view bytes);

} // namespace vantorel::net
