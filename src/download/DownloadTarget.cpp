#include "download/DownloadTarget.h"

#include "common/FileName.h"
#include "download/ShareLink.h"
#include "net/HttpAddress.h"
#include "net/UrlEncoding.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cctype>
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

bool namesAFile(std::string_view address) {
    if (isShareLink(address))
        return true;
    const std::string name = fileNameFromUrl(address);
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == name.size())
        return false;
    std::string extension = name.substr(dot + 1);
    for (char& c : extension)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    static constexpr std::array<std::string_view, 9> kPages = {
        "htm", "html", "xhtml", "shtml", "php", "asp", "aspx", "jsp", "cgi"};
    return std::find(kPages.begin(), kPages.end(), extension) == kPages.end();
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

Status checkDownloadAddress(std::string_view url) {
    if (net::isHttpAddress(url) || isShareLink(url))
        return {};
    // Nothing after the colon would read as a message cut short.
    if (url.find_first_not_of(" \t\r\n") == std::string_view::npos)
        return makeError("下载地址为空");
    return makeError("不是 http(s) 地址：" + std::string(url));
}

Status checkOutput(std::string_view output) {
    namespace fs = std::filesystem;
    if (output.empty())
        return {};
    const fs::path path(output);
    const fs::path folder = path.has_filename() ? path.parent_path() : path;
    std::error_code ec;
    if (folder.empty() || fs::is_directory(folder, ec) || fs::is_directory(path, ec))
        return {};
    if (fs::exists(folder, ec))
        return makeError("保存路径的上级不是文件夹：" + folder.string());
    return makeError("保存的文件夹不存在：" + folder.string());
}

std::optional<FileStamp> stampOf(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0)
        return std::nullopt;
    return FileStamp{
        static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino),
        static_cast<std::uint64_t>(info.st_size),
        static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec};
}

Status checkOwnTarget(const std::string& target, const std::optional<FileStamp>& ours) {
    const std::optional<FileStamp> there = stampOf(target);
    if (!there || there == ours)
        return {};
    return makeError("目标位置已有不是本下载保存的文件，不会覆盖它：" + target,
                     FailureKind::ForeignTarget);
}

std::string freeTargetName(const std::string& target,
                           const std::function<bool(const std::string&)>& taken) {
    if (!taken(target))
        return target;
    const std::filesystem::path path(target);
    const std::string stem = path.stem().string();
    const std::string extension = path.extension().string();
    for (unsigned n = 1;; ++n) {
        const std::string candidate =
            (path.parent_path() / (stem + " (" + std::to_string(n) + ")" + extension)).string();
        if (!taken(candidate))
            return candidate;
    }
}

} // namespace vantorel::download
