#include "catalogue/SearchRequest.h"

#include "net/UrlEncoding.h"

namespace vantorel::catalogue {

std::string searchAddress(std::string_view catalogueBase, std::string_view keyword) {
    return std::string(catalogueBase) +
           "/tapi/web/searchcgi.php?type=search&callback=searchCallback&keyword=" +
           net::percentEncode(keyword) + "&page=1&pernum=30&more=0";
}

} // namespace vantorel::catalogue
