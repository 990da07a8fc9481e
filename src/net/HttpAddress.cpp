#include "net/HttpAddress.h"

#include "common/Text.h"

#include <algorithm>

namespace vantorel::net {
namespace {

// The host of an http(s) address, without a user part and a port.
std::string_view hostOf(std::string_view address) {
    std::string_view rest = address.substr(httpSchemeLength(address));
    rest = rest.substr(0, rest.find_first_of("/?#"));
    if (std::size_t at = rest.rfind('@'); at != std::string_view::npos)
        rest.remove_prefix(at + 1);
    return rest.substr(0, rest.find(':'));
}

} // namespace

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
    // A user part or a port without a host names nothing to connect to.
    const char first = address[scheme];
    return first != '@' && !hostOf(address).empty();
}

} // namespace vantorel::net
