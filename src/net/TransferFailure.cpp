#include "net/TransferFailure.h"

#include "common/Text.h"
#include "net/ProxyAddress.h"
#include "net/Transport.h"

#include <optional>

namespace vantorel::net {
namespace {

// The proxy as a message may show it: never its credentials.
std::string proxyLabel(std::string_view proxy) {
    if (proxy.empty())
        return {};
    auto address = parseProxyAddress(proxy, {.schemeOptional = true, .socks4 = true});
    return "（代理 " + (address ? address->withoutCredentials() : std::string("地址无法解析")) +
           "）";
}

bool contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

std::optional<std::string> proxyFailure(CURL* h, CURLcode code, bool connected, bool headComplete,
                                        std::string_view proxy) {
    long tunnel = 0;
    curl_easy_getinfo(h, CURLINFO_HTTP_CONNECTCODE, &tunnel);
    if (tunnel == 407)
        return proxyRefusedText(proxy);
    if (tunnel != 0 && tunnel / 100 != 2)
        return "代理服务器无法连通目标网站（代理回复 HTTP " + std::to_string(tunnel) + "）" +
               proxyLabel(proxy);
    if (code == CURLE_COULDNT_RESOLVE_PROXY)
        return "找不到代理服务器" + proxyLabel(proxy);
    if (!connected && code == CURLE_COULDNT_CONNECT)
        return "无法连接到代理服务器" + proxyLabel(proxy);
    if (!connected && code == CURLE_OPERATION_TIMEDOUT)
        return "连接代理服务器超时" + proxyLabel(proxy);
    if (code == CURLE_PROXY)
        return "代理服务器无法连通目标网站" + proxyLabel(proxy);
    // Before any reply and before any tunnel answer, an http proxy that ends the connection is
    // the one that closed it: a proxy that could not reach the site answers with an error. A
    // tunnel's connection counts as made only once the tunnel stands, so one closed while the
    // proxy was asked for it (CONNECT) is the proxy's too.
    const bool httpProxy = proxy.starts_with("http");
    if (httpProxy && !headComplete && tunnel == 0 &&
        (code == CURLE_GOT_NOTHING || code == CURLE_RECV_ERROR || code == CURLE_SEND_ERROR))
        return "代理服务器关闭了连接" + proxyLabel(proxy);
    return std::nullopt;
}

std::optional<std::string> tlsFailure(CURLcode code, std::string_view detail) {
    if (code != CURLE_SSL_CONNECT_ERROR && code != CURLE_SSL_CIPHER)
        return std::nullopt;
    constexpr std::string_view kPrefix = "无法与服务器建立安全连接";
    for (std::string_view outdated :
         {"unsupported protocol", "legacy sigalg", "no protocols available", "protocol version",
          "version too low", "no suitable signature algorithm"})
        if (contains(detail, outdated))
            return std::string(kPrefix) + "：服务器只支持过时的加密协议";
    if (code == CURLE_SSL_CIPHER || contains(detail, "no shared cipher") ||
        contains(detail, "no cipher") || contains(detail, "handshake failure"))
        return std::string(kPrefix) + "：双方没有共同支持的加密算法";
    return std::string(kPrefix);
}

// What the caller decides by, for a failure that is not the proxy's nor the handshake's.
FailureKind kindOf(CURLcode code) {
    switch (code) {
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
        return FailureKind::Tls;
    case CURLE_URL_MALFORMAT:
    case CURLE_UNSUPPORTED_PROTOCOL:
        return FailureKind::BadAddress;
    case CURLE_ABORTED_BY_CALLBACK: // our own callback's reason is told elsewhere
    case CURLE_OUT_OF_MEMORY:
    case CURLE_WRITE_ERROR:
    case CURLE_READ_ERROR:
    case CURLE_FAILED_INIT:
        return FailureKind::Other;
    default:
        return FailureKind::Network;
    }
}

} // namespace

std::string proxyRefusedText(std::string_view proxy) {
    return "代理服务器拒绝了代理用户名或密码（HTTP 407）" + proxyLabel(proxy);
}

std::string refusedRedirectText(std::string_view location, std::string_view what) {
    if (startsWithIgnoreCase(location, "http://"))
        return "服务器把" + std::string(what) + "从 https 转到了不加密的 http，已拒绝";
    return "服务器把" + std::string(what) + "重定向到了不支持的地址（只支持 http 和 https）";
}

Error transferFailure(CURL* h, CURLcode code, bool headComplete, std::string_view proxy,
                      std::string_view host, const char* detail) {
    curl_off_t connectTime = 0;
    const bool connected =
        curl_easy_getinfo(h, CURLINFO_CONNECT_TIME_T, &connectTime) == CURLE_OK && connectTime > 0;
    const std::string_view words = detail && *detail ? detail : curl_easy_strerror(code);
    const TransportStep step = failedStep(code, connected, headComplete);
    FailureKind kind = FailureKind::Proxy;
    std::optional<std::string> text;
    if (!proxy.empty())
        text = proxyFailure(h, code, connected, headComplete, proxy);
    if (!text) {
        text = tlsFailure(code, words);
        kind = text ? FailureKind::Tls : kindOf(code);
        if (!text)
            text = failureMessage(step, code);
        if (!host.empty())
            *text += "（" + std::string(host) + "）";
    }
    Error error = makeError(std::move(*text), int(step));
    error.detail = words;
    error.kind = kind;
    return error;
}

} // namespace vantorel::net
