#pragma once
// Which addresses the program fetches or hands on: http and https only, each with a host.

#include <cstddef>
#include <string_view>

namespace vantorel::net {

// The length of the scheme prefix ("http://" or "https://", any case); 0 for anything else.
std::size_t httpSchemeLength(std::string_view address);

// "http://" or "https://" (any case) followed by a host, no white space or control characters
// anywhere. Anything else (file:, a local path, a program, javascript:) is refused by the
// caller with a message.
bool isHttpAddress(std::string_view address);

} // namespace vantorel::net
