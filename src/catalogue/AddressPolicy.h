#pragma once
// Which addresses from the network may be handed to the desktop's default handler.

#include "catalogue/CatalogueRecord.h"

#include <string>
#include <string_view>
#include <vector>

namespace vantorel::catalogue {

// True only for "http://" and "https://" addresses (scheme compared without regard to case)
// with a host and no control characters or white space. Anything else (file:, a local path,
// a program, javascript:) is refused by the caller with a message.
bool isWebAddress(std::string_view address);

// An entry's download addresses in the order they are tried: url, then https when it differs.
// Only web addresses are kept.
std::vector<std::string> downloadAddresses(const CatalogueRecord& entry);

} // namespace vantorel::catalogue
