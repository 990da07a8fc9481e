#pragma once
// Cuts the catalogue entries out of a search reply. Only the tag sequence of each entry counts:
// the callback wrapper and anything between entries is ignored.

#include "catalogue/CatalogueRecord.h"
#include "common/Result.h"

#include <string_view>
#include <vector>

namespace vantorel::catalogue {

// Nine groups, one per record field, in record order.
inline constexpr std::string_view kExtractionPattern =
    R"(<displayname>[\s]*?<!\[CDATA\[([\s\S]*?)\]\]>[\s]*?</displayname>[\s\S]*?<filename>(.*?)</filename>[\s\S]*?<filesize>(.*?)</filesize>[\s\S]*?<hash>(.*?)</hash>[\s\S]*?<url>[\s]*?<!\[CDATA\[([a-zA-z]+://[^\s]*)\]\]>[\s\S]*?<publishdate>(.*?)</publishdate>[\s\S]*?<versionname>(.*?)</versionname>[\s\S]*?<https>[\s]*?<!\[CDATA\[([a-zA-z]+://[^\s]*)\]\]>[\s]*?</https>[\s\S]*?<logo48>(.*?)</logo48>)";

// One record per match, in reply order. A reply without a complete entry gives no records; a
// reply that makes the pattern exceed the engine's match limit is an error, never a hang.
Result<std::vector<CatalogueRecord>> extractRecords(std::string_view reply);

} // namespace vantorel::catalogue
