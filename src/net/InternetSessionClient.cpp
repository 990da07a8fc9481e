#include "net/InternetSessionClient.h"

#include "net/RequestObjectClient.h"

#include "net/HeaderBlock.h"

#include <curl/curl.h>

#include <charconv>
#include <memory>
#include <vector>

namespace vantorel::net {
namespace {

constexpr std::string_view kHttpPrefix = "http://";
constexpr std::string_view kHttpsPrefix = "https://";
constexpr std::string_view kProxyListPrefix = "http=";
constexpr std::string_view kCookiePrefix = "\r\nCookie: ";

struct CurlUrlDeleter {
    void operator()(CURLU* u) const noexcept { curl_url_cleanup(u); }
};
using CurlUrl = std::unique_ptr<CURLU, CurlUrlDeleter>;

// One part of a parsed address; empty when absent.
std::string part(CURLU* url, CURLUPart which, unsigned flags = 0) {
    char* text = nullptr;
    if (curl_url_get(url, which, &text, flags) != CURLUE_OK || !text)
        return {};
    std::string value(text);
    curl_free(text);
    return value;
}

// "http=host:port" as a proxy address curl takes.
std::string curlProxy(std::string_view list) {
    if (list.empty())
        return {};
    return "http://" + std::string(list.substr(kProxyListPrefix.size()));
}

} // namespace

std::string InternetAddress::url() const {
    std::string text = secure ? std::string(kHttpsPrefix) : std::string(kHttpPrefix);
    text += host;
    if (port != (secure ? 443 : 80))
        text += ":" + std::to_string(port);
    return text + path;
}

Result<InternetAddress> InternetSessionClient::splitAddress(std::string_view url) {
    const Error bad = makeError("网址无法解析: " + std::string(url), FailureKind::BadAddress,
                                int(TransportStep::Address));
    InternetAddress address;
    if (startsWithIgnoreCase(url, kHttpsPrefix))
        address.secure = true;
    else if (!startsWithIgnoreCase(url, kHttpPrefix))
        return bad;

    CurlUrl parsed(curl_url());
    if (!parsed)
        return makeError("无法创建网络请求", int(TransportStep::Setup));
    if (curl_url_set(parsed.get(), CURLUPART_URL, std::string(url).c_str(), 0) != CURLUE_OK)
        return bad;
    address.host = part(parsed.get(), CURLUPART_HOST);
    if (address.host.empty())
        return bad;
    std::string port = part(parsed.get(), CURLUPART_PORT, CURLU_DEFAULT_PORT);
    auto [ptr, ec] = std::from_chars(port.data(), port.data() + port.size(), address.port);
    if (ec != std::errc() || address.port <= 0 || address.port > 65535)
        return bad;
    address.path = part(parsed.get(), CURLUPART_PATH);
    if (address.path.empty())
        address.path = "/";
    std::string query = part(parsed.get(), CURLUPART_QUERY);
    if (!query.empty())
        address.path += "?" + query;
    return address;
}

std::string InternetSessionClient::proxyList(std::string_view proxy) {
    if (proxy.empty())
        return {};
    if (startsWithIgnoreCase(proxy, kProxyListPrefix))
        return std::string(proxy);
    if (startsWithIgnoreCase(proxy, kHttpPrefix))
        proxy.remove_prefix(kHttpPrefix.size());
    while (!proxy.empty() && proxy.back() == '/')
        proxy.remove_suffix(1);
    return std::string(kProxyListPrefix) + std::string(proxy);
}

std::string InternetSessionClient::completeHeaders(std::string_view url,
                                                   std::string_view callerBlock, bool hasBody,
                                                   std::string_view cookie) {
    // The request object client's lines; its User-Agent value is this session's agent name.
    std::vector<DefaultHeader> defaults = RequestObjectClient::defaultLines(url, hasBody);
    if (!cookie.empty())
        defaults.push_back({"Cookie:", std::string(kCookiePrefix) + std::string(cookie)});
    return completeHeaderBlock(callerBlock, defaults);
}

Result<FetchReply> InternetSessionClient::fetch(const FetchRequest& request) const {
    auto address = splitAddress(request.url);
    if (!address)
        return address.error();
    FetchRequest rebuilt = request;
    rebuilt.url = address->url();
    if (request.cookie.find_first_of("\r\n") != std::string::npos)
        return makeError("Cookie 文本不能含有换行", int(detail::PreparationFailure::HeaderLine));
    // The cookie text travels as a line of the block. When the caller's block has a Cookie line
    // already, the exchange merges the text into that line instead.
    bool blockHasCookie = blockHasHeader(request.headers, "Cookie");
    std::string block = completeHeaders(rebuilt.url, request.headers, !request.body.empty(),
                                        blockHasCookie ? std::string() : request.cookie);
    if (!blockHasCookie)
        rebuilt.cookie.clear();
    return detail::runExchange(rebuilt, block,
                               request.followRedirects.value_or(kFollowRedirectsByDefault),
                               curlProxy(proxyList(request.proxy)));
}

} // namespace vantorel::net
