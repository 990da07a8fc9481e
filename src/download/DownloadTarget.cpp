#include "download/DownloadTarget.h"

#include "common/FileName.h"
#include "net/UrlEncoding.h"

#include <filesystem>

namespace vantorel::download {
std::string fileNameFromUrl(std::string_view url) {
    if (const std::size_t scheme = url.find("://"); scheme != std::string_view::npos)
        url.remove_prefix(scheme + 3);
    url = url.substr(0, url.find_first_of("?#"));
    const std::size_t slash = url.rfind('/');
    const std::string_view segment =
        slash == std::string_view::npos ? std::string_view() : url.substr(slash + 1);
    return safeFileName(net::percentDecode(segment), UnsafeName::Refuse);
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
