#pragma once
// Writes search replies in the catalogue service's format: a script callback wrapping the
// entries, each a sequence of tags with CDATA sections for the name and the two addresses.

#include "catalogue/CatalogueRecord.h"

#include <span>
#include <string>

namespace vantorel::demo {

std::string catalogueEntry(const catalogue::CatalogueRecord& r);
std::string catalogueReply(std::span<const catalogue::CatalogueRecord> records);

} // namespace vantorel::demo
