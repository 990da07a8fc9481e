#pragma once
// Which of an entry's addresses a download tries.

#include "catalogue/CatalogueRecord.h"

#include <string>
#include <vector>

namespace vantorel::catalogue {

// An entry's download addresses in the order they are tried: url, then https when it differs.
// Only http(s) addresses (net::isHttpAddress) are kept.
std::vector<std::string> downloadAddresses(const CatalogueRecord& entry);

// Those addresses with what the user knows each as, "下载链接1" (url) and "下载链接2" (https).
struct LabelledAddresses {
    std::vector<std::string> addresses;
    std::vector<std::string> labels; // parallel to addresses
};
LabelledAddresses labelledDownloadAddresses(const CatalogueRecord& entry);

} // namespace vantorel::catalogue
