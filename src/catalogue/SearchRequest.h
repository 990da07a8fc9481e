#pragma once

#include <string>
#include <string_view>

namespace vantorel::catalogue {

// base + "/tapi/web/searchcgi.php?type=search&callback=searchCallback&keyword=" + encoded
// keyword + "&page=1&pernum=30&more=0"
std::string searchAddress(std::string_view catalogueBase, std::string_view keyword);

} // namespace vantorel::catalogue
