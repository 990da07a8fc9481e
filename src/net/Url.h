#pragma once
// Addresses split into their parts the way libcurl reads them, so that what the program decides
// about an address (its host, its server, whether a redirect left it) is what the transfer does.

#include "common/Result.h"

#include <string>
#include <string_view>

namespace vantorel::net {

struct UrlRules {
    bool defaultPort = false; // an address without a port gets its scheme's
};

struct Url {
    std::string scheme; // lower case
    std::string user;   // as written (percent escapes kept); empty: none
    std::string password;
    std::string host; // an IPv6 address in its brackets
    std::string port; // digits; empty: none given (unless UrlRules::defaultPort)
    std::string path; // "/" at least
    std::string query;

    // "scheme://host[:port]"
    std::string origin() const;
};

// The parts of `address`; an error when libcurl cannot read it (no scheme, no host, a host
// or port it would refuse).
Result<Url> parseUrl(std::string_view address, UrlRules rules = {});

// `address` without the user and password of its authority, otherwise exactly as written, so
// that an address saved earlier compares equal to the same address given again. Works on text
// that is not a whole address too ("user:pass@host/x" is "host/x").
std::string withoutCredentials(std::string_view address);

} // namespace vantorel::net
