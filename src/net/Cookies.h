#pragma once
// Cookie texts: pairs "name=value" separated by "; " (or ";"). The server sets cookies with
// "Set-Cookie" response lines; a value of "deleted" (and, as browsers do, a Max-Age of zero or
// less, or an Expires date in the past) removes the cookie.
//
// Every client hands back the cookie text of the exchange through mergeCookies(sent,
// collectSetCookies(received lines)).

#include <string>
#include <string_view>

namespace vantorel::net {

// The cookie pairs set by the "Set-Cookie" lines of a header block, in order, attributes
// dropped; a deleting line gives "name=deleted" so that a merge removes the cookie.
std::string collectSetCookies(std::string_view headerBlock);

// `sent` updated by `received`: a later value of the same name (names compare exactly) wins and
// keeps the place of the first, a pair ending in "=deleted" removes the name, new names are
// appended. Pairs are joined with "; "; empty pairs are dropped.
std::string mergeCookies(std::string_view sent, std::string_view received);

} // namespace vantorel::net
