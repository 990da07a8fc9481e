#pragma once

#include <string>
#include <string_view>

namespace vantorel::catalogue {

// Every byte outside the unreserved set (A-Z a-z 0-9 - . _ ~) as %XX of the UTF-8 text.
std::string percentEncode(std::string_view utf8);

// base + "/tapi/web/searchcgi.php?type=search&callback=searchCallback&keyword=" + encoded
// keyword + "&page=1&pernum=30&more=0"
std::string searchAddress(std::string_view catalogueBase, std::string_view keyword);

} // namespace vantorel::catalogue
