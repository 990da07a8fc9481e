#pragma once
// Percent-encoding of address parts.

#include <string>
#include <string_view>

namespace vantorel::net {

// Every byte outside the unreserved set (A-Z a-z 0-9 - . _ ~) as %XX (upper-case hex).
std::string percentEncode(std::string_view bytes);

// "%XX" becomes its byte; a "%" that begins no such escape stays. With `plusIsSpace` (form
// data and query strings) "+" becomes a space.
std::string percentDecode(std::string_view text, bool plusIsSpace = false);

} // namespace vantorel::net
