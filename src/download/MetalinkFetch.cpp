#include "download/MetalinkFetch.h"

#include "common/Text.h"
#include "download/Downloader.h"
#include "download/Metalink.h"
#include "net/DownloadConnection.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace vantorel::download {
namespace {

// How long asking an address may take before it counts as not serving a document.
constexpr std::chrono::seconds kAskFor{15};

Error tooLarge() {
    return makeError("metalink 文件超过 " + std::to_string(kMaxMetalinkBytes >> 20) +
                         " MB，不予处理",
                     FailureKind::BadAddress);
}

} // namespace

Result<std::string> readMetalinkFile(const std::string& path) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec))
        return makeError("不是可读的文件：" + path, FailureKind::BadAddress);
    if (std::filesystem::file_size(path, ec) > kMaxMetalinkBytes)
        return tooLarge();
    std::ifstream in(path, std::ios::binary);
    std::string document;
    document.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (!in.is_open() || in.bad())
        return makeError("无法读取文件：" + path);
    if (document.size() > kMaxMetalinkBytes)
        return tooLarge();
    return document;
}

Result<std::optional<std::string>> metalinkAt(const std::string& url,
                                              const std::function<bool()>& stop) {
    const auto until = std::chrono::steady_clock::now() + kAskFor;
    net::ConnectionRules rules;
    rules.stopping = [until, &stop] {
        return std::chrono::steady_clock::now() >= until || (stop && stop());
    };
    rules.heldSince = [](std::chrono::steady_clock::time_point) { return false; };
    net::DownloadConnection connection(std::move(rules));
    const bool named = namedMetalink(url);
    bool declared = false;
    bool over = false;
    std::string body;
    const auto outcome = connection.get(
        url, requestHeaders(),
        [&](std::span<const char> data) {
            if (body.empty()) {
                const net::ReplyHead& head = connection.head();
                declared = head.status == 200 &&
                           startsWithIgnoreCase(head.contentType, kMetalinkMediaType);
                if (!declared && !(named && head.status == 200))
                    return std::size_t(0); // another file: the download asks for it itself
            }
            if (data.size() > kMaxMetalinkBytes - body.size()) {
                over = true;
                return std::size_t(0);
            }
            body.append(data.data(), data.size());
            return data.size();
        },
        true);
    if (over && declared)
        return tooLarge();
    if (over)
        return std::optional<std::string>();
    if (stop && stop())
        return std::optional<std::string>();
    if (declared && outcome != net::DownloadConnection::Outcome::Completed)
        return withMessage(connection.failure(), "无法读取 metalink 文件：" + url);
    if (outcome != net::DownloadConnection::Outcome::Completed || body.empty())
        return std::optional<std::string>();
    // An address named like a document serves one only when it reads as one.
    if (!declared && body.find(kMetalinkNamespace) == std::string::npos)
        return std::optional<std::string>();
    return std::optional<std::string>(std::move(body));
}

} // namespace vantorel::download
