#include "net/InternetSessionClient.h"

#include "net/RequestObjectClient.h"

#include "net/HeaderBlock.h"
#include "net/Url.h"

#include <charconv>
#include <memory>
#include <vector>

namespace vantorel::net {
namespace {

constexpr std::string_view kHttpPrefix = "http://";
constexpr std::string_view kHttpsPrefix = "https://";
constexpr std::string_view kProxyListPrefix = "http=";
constexpr std::string_view kCookiePrefix = "\r\nCookie: ";

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

    auto parsed = parseUrl(url, {.defaultPort = true});
    if (!parsed)
        return bad;
    address.host = std::move(parsed->host);
    const std::string& port = parsed->port;
    auto [ptr, ec] = std::from_chars(port.data(), port.data() + port.size(), address.port);
    if (ec != std::errc() || address.port <= 0 || address.port > 65535)
        return bad;
    address.path = std::move(parsed->path);
    if (!parsed->query.empty())
        address.path += "?" + parsed->query;
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
