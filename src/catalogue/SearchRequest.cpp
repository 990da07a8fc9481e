#include "catalogue/SearchRequest.h"

namespace vantorel::catalogue {

std::string percentEncode(std::string_view utf8) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(utf8.size() * 3);
    for (char ch : utf8) {
        auto c = static_cast<unsigned char>(ch);
        bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                          (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' || c == '~';
        if (unreserved) {
            out.push_back(ch);
        } else {
            out.push_back('%');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 0xF]);
        }
    }
    return out;
}

std::string searchAddress(std::string_view catalogueBase, std::string_view keyword) {
    return std::string(catalogueBase) +
           "/tapi/web/searchcgi.php?type=search&callback=searchCallback&keyword=" +
           percentEncode(keyword) + "&page=1&pernum=30&more=0";
}

} // namespace vantorel::catalogue
