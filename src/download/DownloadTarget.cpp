#include "download/DownloadTarget.h"

#include "common/TextEncoding.h"
#include "net/UrlEncoding.h"

#include <algorithm>
#include <filesystem>

namespace vantorel::download {
std::string fileNameFromUrl(std::string_view url) {
    if (const std::size_t scheme = url.find("://"); scheme != std::string_view::npos)
        url.remove_prefix(scheme + 3);
    url = url.substr(0, url.find_first_of("?#"));
    const std::size_t slash = url.rfind('/');
    const std::string_view segment =
        slash == std::string_view::npos ? std::string_view() : url.substr(slash + 1);
    std::string name = withoutBidiControls(net::percentDecode(segment));
    const bool control = std::ranges::any_of(
        name, [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
    if (name.empty() || name == "." || name == ".." || control ||
        name.find_first_of("/\\") != std::string::npos)
        return "download";
    return name;
}

std::string downloadTarget(std::string_view url, std::string_view output) {
    namespace fs = std::filesystem;
    if (output.empty())
        return fileNameFromUrl(url);
    std::error_code ec;
    if (fs::is_directory(fs::path(output), ec))
        return (fs::path(output) / fileNameFromUrl(url)).string();
    return std::string(output);
}

} // namespace vantorel::download
