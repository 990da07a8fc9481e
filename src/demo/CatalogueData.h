#pragma once
// The made-up programs of the offline catalogue.

#include "catalogue/CatalogueRecord.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vantorel::demo {

struct DemoProgram {
    catalogue::CatalogueRecord record; // addresses hold "{base}" until served
    std::string tags;                  // extra words the keyword may match
    std::uint32_t colour;              // logo colour
};

// Every program, with its addresses pointing at `base` ("http://127.0.0.1:PORT").
std::vector<DemoProgram> demoPrograms(std::string_view base);

// Programs whose name, package name or tags contain the keyword (ASCII case ignored), at most
// `limit`, in catalogue order.
std::vector<catalogue::CatalogueRecord> searchPrograms(const std::vector<DemoProgram>& programs,
                                                       std::string_view keyword,
                                                       std::size_t limit = 30);

// The bytes of a program's installer: `size` bytes, the same for the same name every time.
std::string installerBytes(std::string_view name, std::size_t size);

} // namespace vantorel::demo
