#pragma once

#include <string>

namespace vantorel::catalogue {

// One entry of a search reply: the nine fields in reply order, texts exactly as extracted.
struct CatalogueRecord {
    std::string displayname;
    std::string filename;
    std::string filesize; // bytes, as decimal text
    std::string hash;     // serves as the entry's identifier
    std::string url;      // first download address
    std::string publishdate;
    std::string versionname;
    std::string https; // second download address
    std::string logo48;

    bool operator==(const CatalogueRecord&) const = default;
};

} // namespace vantorel::catalogue
