#include "net/HttpAddress.h"

#include "common/Text.h"
#include "net/Url.h"

#include <algorithm>

namespace vantorel::net {

std::size_t httpSchemeLength(std::string_view address) {
    if (startsWithIgnoreCase(address, "https://"))
        return 8;
    if (startsWithIgnoreCase(address, "http://"))
        return 7;
    return 0;
}

bool isHttpAddress(std::string_view address) {
    const std::size_t scheme = httpSchemeLength(address);
    if (scheme == 0 || address.size() == scheme)
        return false;
    if (std::ranges::any_of(
            address, [](char c) { return static_cast<unsigned char>(c) <= 0x20 || c == 0x7F; }))
        return false;
    // A user part or a port without a host names nothing to connect to; libcurl would take
    // "https:///path" as the host "path", which is not what the address says.
    const char first = address[scheme];
    return first != '@' && first != '/' && static_cast<bool>(parseUrl(address));
}

} // namespace vantorel::net
