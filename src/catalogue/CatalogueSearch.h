#pragma once
// One catalogue search: the keyword becomes the search address, one request goes out through
// the request object client with its default headers, and the reply's entries become records.

#include "catalogue/CatalogueRecord.h"
#include "common/Result.h"

#include <string>
#include <string_view>
#include <vector>

namespace vantorel::catalogue {

inline constexpr std::string_view kEmptyKeywordMessage = "请输入要搜索的软件名称";

// Records in reply order (none is a valid answer). An empty keyword sends nothing; a failed
// request, a reply other than 200, or a reply the pattern cannot be run over is an error whose
// message tells the user what happened.
Result<std::vector<CatalogueRecord>> search(std::string_view keyword, std::string_view catalogueBase);

// The logo's bytes from logoBase + "/softmgr/logo/48/" + logo48; any reply but 200 is an error.
Result<std::string> fetchLogo(std::string_view logoBase, std::string_view logo48);

} // namespace vantorel::catalogue
