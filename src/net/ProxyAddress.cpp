#include "net/ProxyAddress.h"

#include "common/Text.h"
#include "net/UrlEncoding.h"

#include <charconv>

namespace vantorel::net {
namespace {

bool hasValidEscapes(std::string_view text) {
    for (std::size_t at = text.find('%'); at != std::string_view::npos; at = text.find('%', at + 1))
        if (at + 2 >= text.size() || hexDigitValue(text[at + 1]) < 0 ||
            hexDigitValue(text[at + 2]) < 0)
            return false;
    return true;
}

Error problem(std::string text) {
    return makeError(std::move(text));
}

} // namespace

std::string ProxyAddress::withoutCredentials() const {
    return scheme + "://" + host + (port.empty() ? "" : ":" + port);
}

Result<ProxyAddress> parseProxyAddress(std::string_view text, ProxyRules rules) {
    const std::string kinds = rules.socks4 ? "http、https、socks4、socks4a、socks5 或 socks5h"
                                           : "http、https、socks5 或 socks5h";
    const std::string form = "代理地址无效：应写成“协议://主机:端口”，协议为 " + kinds;
    ProxyAddress out;
    std::string_view rest = text;
    if (const std::size_t separator = text.find("://"); separator != std::string_view::npos) {
        out.scheme = text.substr(0, separator);
        for (char& c : out.scheme)
            c = asciiLower(c);
        rest = text.substr(separator + 3);
    } else if (rules.schemeOptional) {
        out.scheme = "http";
    } else {
        return problem(form);
    }
    bool known = false;
    for (std::string_view allowed : {"http", "https", "socks5", "socks5h"})
        known = known || out.scheme == allowed;
    if (rules.socks4)
        known = known || out.scheme == "socks4" || out.scheme == "socks4a";
    if (!known)
        return problem("代理地址的协议不受支持：只能用 " + kinds);

    if (!rest.empty() && rest.back() == '/')
        rest.remove_suffix(1);
    if (const std::size_t at = rest.rfind('@'); at != std::string_view::npos) {
        if (!rules.credentialsAllowed)
            return problem("代理地址中不能写用户名或密码：请分别填写代理用户名和代理密码");
        const std::string_view userInfo = rest.substr(0, at);
        rest.remove_prefix(at + 1);
        const std::size_t colon = userInfo.find(':');
        const std::string_view user = userInfo.substr(0, colon);
        const std::string_view password =
            colon == std::string_view::npos ? std::string_view() : userInfo.substr(colon + 1);
        if (!hasValidEscapes(user) || !hasValidEscapes(password))
            return problem("代理地址中的用户名或密码含有无效的 % 转义（应为 % 加两位十六进制数）");
        out.user = percentDecode(user);
        out.password = percentDecode(password);
    }
    if (rest.find_first_of("/?#") != std::string_view::npos)
        return problem("代理地址只能含协议、主机和端口，不能带路径");

    std::string_view host;
    std::string_view port;
    bool hasPort = false;
    if (!rest.empty() && rest.front() == '[') {
        const std::size_t close = rest.find(']');
        if (close == std::string_view::npos)
            return problem(form);
        host = rest.substr(0, close + 1);
        for (char c : host.substr(1, close - 1))
            if (hexDigitValue(c) < 0 && c != ':' && c != '.')
                return problem("代理地址的主机名无效");
        rest.remove_prefix(close + 1);
        if (!rest.empty() && rest.front() != ':')
            return problem(form);
        hasPort = !rest.empty();
        port = hasPort ? rest.substr(1) : std::string_view();
        if (host.size() == 2)
            host = {};
    } else {
        const std::size_t colon = rest.find(':');
        host = rest.substr(0, colon);
        hasPort = colon != std::string_view::npos;
        port = hasPort ? rest.substr(colon + 1) : std::string_view();
        for (char c : host) {
            const auto byte = static_cast<unsigned char>(c);
            // Bytes of a UTF-8 name are let through: an international host name is still a name.
            const bool nameByte = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                                  (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' ||
                                  byte >= 0x80;
            if (!nameByte)
                return problem("代理地址的主机名无效");
        }
    }
    if (host.empty())
        return problem("代理地址缺少主机名");
    if (hasPort) {
        unsigned number = 0;
        auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), number);
        if (port.empty() || error != std::errc() || end != port.data() + port.size() ||
            number == 0 || number > 65535)
            return problem("代理地址的端口无效：应为 1 到 65535 之间的整数");
    }
    out.host = host;
    out.port = port;
    return out;
}

std::string proxyProblemFrom(std::string_view origin, std::string_view problem) {
    return std::string(origin) + "：" + std::string(problem);
}

} // namespace vantorel::net
