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

Status finishComplete(const fs::path& complete, bool refuseWebPages, bool executable) {
    if (refuseWebPages && looksLikeWebPage(complete))
        return makeError("下载到的是一个网页，不是所要的文件", FailureKind::WebPage);
    if (!executable)
        return {};
    std::error_code ec;
    const fs::perms readable = fs::status(complete, ec).permissions();
    if (ec)
        return {};
    fs::perms execute = fs::perms::none;
    if ((readable & fs::perms::owner_read) != fs::perms::none)
        execute |= fs::perms::owner_exec;
    if ((readable & fs::perms::group_read) != fs::perms::none)
        execute |= fs::perms::group_exec;
    if ((readable & fs::perms::others_read) != fs::perms::none)
        execute |= fs::perms::others_exec;
    fs::permissions(complete, execute, fs::perm_options::add, ec);
    return {};
}

} // namespace vantorel::download
