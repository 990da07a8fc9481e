#pragma once
// Which of an entry's addresses a download tries.

#include "catalogue/CatalogueRecord.h"

#include <string>
#include <vector>

namespace vantorel::catalogue {

// An entry's download addresses in the order they are tried: url, then https when it differs.
// Only http(s) addresses (net::isHttpAddress) are kept.
std::vector<std::string> downloadAddresses(const CatalogueRecord& entry);

} // namespace vantorel::catalogue
