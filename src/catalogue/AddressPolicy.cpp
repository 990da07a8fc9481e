#include "catalogue/AddressPolicy.h"

#include "net/HttpAddress.h"

namespace vantorel::catalogue {

std::vector<std::string> downloadAddresses(const CatalogueRecord& entry) {
    std::vector<std::string> addresses;
    for (const std::string* address : {&entry.url, &entry.https}) {
        if (net::isHttpAddress(*address) && (addresses.empty() || addresses.front() != *address))
            addresses.push_back(*address);
    }
    return addresses;
}

} // namespace vantorel::catalogue
