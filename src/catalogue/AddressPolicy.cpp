#include "catalogue/AddressPolicy.h"

#include <algorithm>
#include <cctype>

namespace vantorel::catalogue {

bool isWebAddress(std::string_view address) {
    auto hasPrefix = [&](std::string_view prefix) {
        return address.size() > prefix.size() &&
               std::equal(prefix.begin(), prefix.end(), address.begin(), [](char a, char b) {
                   return a == std::tolower(static_cast<unsigned char>(b));
               });
    };
    std::size_t hostStart;
    if (hasPrefix("https://"))
        hostStart = 8;
    else if (hasPrefix("http://"))
        hostStart = 7;
    else
        return false;
    if (std::any_of(address.begin(), address.end(), [](char c) {
            auto u = static_cast<unsigned char>(c);
            return u <= 0x20 || u == 0x7F;
        }))
        return false;
    char first = address[hostStart];
    return first != '/' && first != '?' && first != '#' && first != '@';
}

std::vector<std::string> downloadAddresses(const CatalogueRecord& entry) {
    std::vector<std::string> addresses;
    for (const std::string* address : {&entry.url, &entry.https}) {
        if (isWebAddress(*address) && (addresses.empty() || addresses.front() != *address))
            addresses.push_back(*address);
    }
    return addresses;
}

} // namespace vantorel::catalogue
