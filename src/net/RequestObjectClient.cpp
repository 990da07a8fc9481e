#include "net/RequestObjectClient.h"

#include "net/HeaderBlock.h"

#include <vector>

namespace vantorel::net {
namespace {

// Stored lines; on an empty block the Accept line loses its leading break ("Accept: */*").
constexpr std::string_view kAccept = "\r\nAccept: */*";
constexpr std::string_view kRefererPrefix = "\r\nReferer: ";
constexpr std::string_view kAcceptLanguage = "\r\nAccept-Language: zh-cn";
constexpr std::string_view kUserAgent =
    "\r\nUser-Agent: Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)";
constexpr std::string_view kContentType = "\r\nContent-Type: application/x-www-form-urlencoded";

} // namespace

std::vector<DefaultHeader> RequestObjectClient::defaultLines(std::string_view url, bool hasBody) {
    std::vector<DefaultHeader> defaults = {
        {"Accept:", std::string(kAccept)},
        {"Referer:", std::string(kRefererPrefix) + std::string(url.substr(0, url.find('#')))},
        {"Accept-Language:", std::string(kAcceptLanguage)},
        {"User-Agent:", std::string(kUserAgent)},
    };
    if (hasBody)
        defaults.push_back({"Content-Type:", std::string(kContentType)});
    return defaults;
}

std::string RequestObjectClient::completeHeaders(std::string_view url, std::string_view callerBlock,
                                                 bool hasBody) {
    return completeHeaderBlock(callerBlock, defaultLines(url, hasBody));
}

Result<FetchReply> RequestObjectClient::fetch(const FetchRequest& request) const {
    std::string block = completeHeaders(request.url, request.headers, !request.body.empty());
    return detail::runExchange(
        request, block, request.followRedirects.value_or(kFollowRedirectsByDefault), request.proxy);
}

} // namespace vantorel::net
