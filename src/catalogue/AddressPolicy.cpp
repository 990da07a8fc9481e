#include "catalogue/AddressPolicy.h"

#include "net/HttpAddress.h"

namespace vantorel::catalogue {

LabelledAddresses labelledDownloadAddresses(const CatalogueRecord& entry) {
    LabelledAddresses found;
    for (const auto& [address, label] :
         {std::pair{&entry.url, "下载链接1"}, std::pair{&entry.https, "下载链接2"}}) {
        if (net::isHttpAddress(*address) &&
            (found.addresses.empty() || found.addresses.front() != *address)) {
            found.addresses.push_back(*address);
            found.labels.emplace_back(label);
        }
    }
    return found;
}

std::vector<std::string> downloadAddresses(const CatalogueRecord& entry) {
    return labelledDownloadAddresses(entry).addresses;
}

} // namespace vantorel::catalogue
