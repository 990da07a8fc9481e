#pragma once
// The made-up programs of the offline catalogue.

#include "catalogue/CatalogueRecord.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vantorel::demo {

// What an entry's two addresses show besides a plain download.
enum class DemoKind {
    Plain,        // 下载链接2 is a mirror of the same bytes
    OtherMirror,  // 下载链接2 serves a different file of the same length
    ExpiringLink, // 下载链接1 is a share link whose signed address soon expires
};

struct DemoProgram {
    catalogue::CatalogueRecord record;
    std::string tags;     // extra words the keyword may match
    std::uint32_t colour; // logo colour
    DemoKind kind = DemoKind::Plain;
};

// Every program: 下载链接1 at `base` + "/files/" (or, for an ExpiringLink, `shareBase` + "/s/"
// + the package name), 下载链接2 at `mirrorBase` + "/mirror/". Bases are "scheme://host[:port]".
std::vector<DemoProgram> demoPrograms(std::string_view base, std::string_view mirrorBase,
                                      std::string_view shareBase);

// Programs whose name, package name or tags contain the keyword (ASCII case ignored), at most
// `limit`, in catalogue order.
std::vector<catalogue::CatalogueRecord> searchPrograms(const std::vector<DemoProgram>& programs,
                                                       std::string_view keyword,
                                                       std::size_t limit = 30);

// The bytes of a program's installer: `size` bytes, the same for the same name every time.
std::string installerBytes(std::string_view name, std::size_t size);

} // namespace vantorel::demo
