#pragma once
// One catalogue search: the keyword becomes the search address, one request goes out through
// the request object client with its default headers, and the reply's entries become records.
// Both calls block: callers run them on a worker, bounded by their row of net/Deadlines.h and
// ended early by a requested stop.

#include "catalogue/CatalogueRecord.h"
#include "common/Result.h"
#include "net/Deadlines.h"
#include "picture/Picture.h"

#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

namespace vantorel::catalogue {

inline constexpr std::string_view kEmptyKeywordMessage = "请输入要搜索的软件名称";

// The keyword without the white space around it (ASCII white space, the no-break space and the
// ideographic space), as both front ends search for it.
std::string_view trimmedKeyword(std::string_view keyword);

// Records in reply order (none is a valid answer). The keyword is searched for trimmed; one
// that is empty or only white space sends nothing and is refused; a failed
// request, a reply other than 200, or a reply the pattern cannot be run over is an error whose
// message tells the user what happened.
Result<std::vector<CatalogueRecord>>
search(std::string_view keyword, std::string_view catalogueBase,
       const net::Timeouts& deadline = net::deadlines::kCatalogueSearch, std::stop_token stop = {});

// The current download addresses (downloadAddresses) of the entry whose ID (its hash) is `id`.
// The service has no lookup by ID: the entry's `name` is searched for and the record with the
// same ID is taken. An entry no longer found that way, or one left without an address, is an
// error that names it; so is a failed search.
Result<std::vector<std::string>>
currentAddresses(std::string_view id, std::string_view name, std::string_view catalogueBase,
                 const net::Timeouts& deadline = net::deadlines::kCatalogueSearch,
                 std::stop_token stop = {});

// What a logo may be: a 48-pixel picture needs far less, and a picture that claims more is
// refused before any pixel is allocated.
inline constexpr picture::Limits kLogoLimits{
    .maxWidth = 1024, .maxHeight = 1024, .maxEncodedBytes = 1u << 20, .maxPixels = 1024 * 1024};

// The logo from logoBase + "/softmgr/logo/48/" + logo48, decoded within kLogoLimits; any reply
// but 200, a larger reply or a picture beyond the limits is an error.
Result<picture::Image> fetchLogo(std::string_view logoBase, std::string_view logo48,
                                 const net::Timeouts& deadline = net::deadlines::kLogo,
                                 std::stop_token stop = {});

} // namespace vantorel::catalogue
