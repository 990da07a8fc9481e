#include "catalogue/CatalogueSearch.h"

#include "catalogue/AddressPolicy.h"
#include "catalogue/DisplayForms.h"
#include "catalogue/ReplyExtraction.h"
#include "catalogue/SearchRequest.h"
#include "common/TextEncoding.h"
#include "net/RequestObjectClient.h"

namespace vantorel::catalogue {
namespace {

constexpr std::size_t kMaxReplyBytes = 16u << 20;

Result<net::FetchReply> get(const std::string& url, std::size_t cap, const net::Timeouts& deadline,
                            std::stop_token stop) {
    net::FetchRequest request;
    request.url = url;
    request.maxBodyBytes = cap;
    request.timeouts = deadline;
    request.stop = std::move(stop);
    return net::RequestObjectClient().fetch(request);
}

// The service answers in UTF-8; a reply that is not is read as GBK, the other encoding it
// has been seen to use, before the pattern runs.
std::string replyText(const std::string& body) {
    if (isValidUtf8(body))
        return body;
    if (auto converted = gbkToUtf8(body))
        return *converted;
    return sanitizeUtf8(body);
}

constexpr std::string_view kSpaces[] = {" ", "\t", "\n", "\r", "\v", "\f", "\u00a0", "\u3000"};

} // namespace

std::string_view trimmedKeyword(std::string_view keyword) {
    for (bool trimmed = true; trimmed;) {
        trimmed = false;
        for (std::string_view space : kSpaces) {
            if (keyword.starts_with(space)) {
                keyword.remove_prefix(space.size());
                trimmed = true;
            }
            if (keyword.ends_with(space)) {
                keyword.remove_suffix(space.size());
                trimmed = true;
            }
        }
    }
    return keyword;
}

Result<std::vector<CatalogueRecord>> search(std::string_view keyword,
                                            std::string_view catalogueBase,
                                            const net::Timeouts& deadline, std::stop_token stop) {
    keyword = trimmedKeyword(keyword);
    if (keyword.empty())
        return makeError(std::string(kEmptyKeywordMessage));
    auto reply =
        get(searchAddress(catalogueBase, keyword), kMaxReplyBytes, deadline, std::move(stop));
    if (!reply)
        return withMessage(reply.error(), "搜索失败：" + reply.error().message);
    if (reply->status != 200)
        return makeError("搜索失败：服务器返回 " + std::to_string(reply->status));
    return extractRecords(replyText(reply->body));
}

Result<std::vector<std::string>> currentAddresses(std::string_view id, std::string_view name,
                                                  std::string_view catalogueBase,
                                                  const net::Timeouts& deadline,
                                                  std::stop_token stop) {
    auto found = search(name, catalogueBase, deadline, std::move(stop));
    if (!found)
        return found.error();
    const std::string who(name);
    for (const CatalogueRecord& record : *found) {
        if (id.empty() || record.hash != id)
            continue;
        std::vector<std::string> addresses = downloadAddresses(record);
        if (addresses.empty())
            return makeError("软件目录中的“" + who + "”已没有可用的下载地址");
        return addresses;
    }
    return makeError("软件目录中已找不到“" + who + "”");
}

Result<picture::Image> fetchLogo(std::string_view logoBase, std::string_view logo48,
                                 const net::Timeouts& deadline, std::stop_token stop) {
    if (logo48.empty())
        return makeError("没有图标地址");
    auto reply =
        get(logoAddress(logoBase, logo48), kLogoLimits.maxEncodedBytes, deadline, std::move(stop));
    if (!reply)
        return withMessage(reply.error(), "图标下载失败：" + reply.error().message);
    if (reply->status != 200)
        return makeError("图标下载失败：服务器返回 " + std::to_string(reply->status));
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(reply->body.data());
    auto logo = picture::decode(std::span(bytes, reply->body.size()), kLogoLimits);
    if (!logo)
        return withMessage(logo.error(), "图标无法显示：" + logo.error().message);
    return logo;
}

} // namespace vantorel::catalogue
