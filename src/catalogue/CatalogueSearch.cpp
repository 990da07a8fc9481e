#include "catalogue/CatalogueSearch.h"

#include "catalogue/DisplayForms.h"
#include "catalogue/ReplyExtraction.h"
#include "catalogue/SearchRequest.h"
#include "common/TextEncoding.h"
#include "net/RequestObjectClient.h"

namespace vantorel::catalogue {
namespace {

constexpr std::size_t kMaxReplyBytes = 16u << 20;
constexpr std::size_t kMaxLogoBytes = 2u << 20;

Result<net::FetchReply> get(const std::string& url, std::size_t cap) {
    net::FetchRequest request;
    request.url = url;
    request.maxBodyBytes = cap;
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

} // namespace

Result<std::vector<CatalogueRecord>> search(std::string_view keyword,
                                            std::string_view catalogueBase) {
    if (keyword.empty())
        return makeError(std::string(kEmptyKeywordMessage));
    auto reply = get(searchAddress(catalogueBase, keyword), kMaxReplyBytes);
    if (!reply)
        return makeError("搜索失败：" + reply.error().message);
    if (reply->status != 200)
        return makeError("搜索失败：服务器返回 " + std::to_string(reply->status));
    return extractRecords(replyText(reply->body));
}

Result<std::string> fetchLogo(std::string_view logoBase, std::string_view logo48) {
    if (logo48.empty())
        return makeError("没有图标地址");
    auto reply = get(logoAddress(logoBase, logo48), kMaxLogoBytes);
    if (!reply)
        return reply.error();
    if (reply->status != 200)
        return makeError("图标下载失败：服务器返回 " + std::to_string(reply->status));
    return std::move(reply->body);
}

} // namespace vantorel::catalogue
