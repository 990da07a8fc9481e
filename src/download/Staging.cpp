#include "download/Staging.h"

#include "common/Text.h"

#include <fstream>
#include <string>
#include <string_view>

namespace vantorel::download {
namespace fs = std::filesystem;

bool looksLikeWebPage(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::string head(512, '\0');
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<std::size_t>(in.gcount()));
    std::string_view text = head;
    if (text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3);
    std::size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos)
        return false;
    text.remove_prefix(first);
    return startsWithIgnoreCase(text, "<!doctype html") || startsWithIgnoreCase(text, "<html");
}

fs::path stagingPathFor(const fs::path& target) {
    return target.parent_path() / ("." + target.filename().string() + ".vantorel-part");
}

StagedOutcome saveStaged(const fs::path& staging, const fs::path& target, bool refuseWebPages,
                         std::error_code& ec) {
    std::error_code ignored;
    if (refuseWebPages && looksLikeWebPage(staging)) {
        fs::remove(staging, ignored);
        return StagedOutcome::WebPage;
    }
    fs::rename(staging, target, ec);
    if (ec) {
        fs::remove(staging, ignored);
        return StagedOutcome::NotSaved;
    }
    return StagedOutcome::Saved;
}

} // namespace vantorel::download
