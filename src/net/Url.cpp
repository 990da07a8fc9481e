#include "net/Url.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <new>

namespace vantorel::net {
namespace {

struct CurlUrlDeleter {
    void operator()(CURLU* u) const noexcept { curl_url_cleanup(u); }
};

// One part of a parsed address; empty when absent.
std::string part(CURLU* url, CURLUPart which, unsigned flags = 0) {
    char* text = nullptr;
    if (curl_url_get(url, which, &text, flags) != CURLUE_OK || !text)
        return {};
    std::string value(text);
    curl_free(text);
    return value;
}

} // namespace

std::string Url::origin() const {
    return scheme + "://" + host + (port.empty() ? "" : ":" + port);
}

Result<Url> parseUrl(std::string_view address, UrlRules rules) {
    std::unique_ptr<CURLU, CurlUrlDeleter> parsed(curl_url());
    if (!parsed)
        throw std::bad_alloc();
    if (curl_url_set(parsed.get(), CURLUPART_URL, std::string(address).c_str(), 0) != CURLUE_OK)
        return makeError("网址无法解析");
    Url url;
    CURLU* u = parsed.get();
    url.scheme = part(u, CURLUPART_SCHEME);
    url.user = part(u, CURLUPART_USER);
    url.password = part(u, CURLUPART_PASSWORD);
    url.host = part(u, CURLUPART_HOST);
    url.port = part(u, CURLUPART_PORT, rules.defaultPort ? CURLU_DEFAULT_PORT : 0);
    url.path = part(u, CURLUPART_PATH);
    url.query = part(u, CURLUPART_QUERY);
    if (url.host.empty())
        return makeError("网址无法解析");
    if (url.path.empty())
        url.path = "/";
    return url;
}

std::string withoutCredentials(std::string_view url) {
    std::size_t start = 0;
    if (const std::size_t separator = url.find("://"); separator != std::string_view::npos) {
        const std::string_view scheme = url.substr(0, separator);
        const bool isScheme = !scheme.empty() &&
                              std::isalpha(static_cast<unsigned char>(scheme.front())) &&
                              std::all_of(scheme.begin(), scheme.end(), [](char c) {
                                  return std::isalnum(static_cast<unsigned char>(c)) || c == '+' ||
                                         c == '-' || c == '.';
                              });
        if (isScheme)
            start = separator + 3;
    }
    const std::string_view authority = url.substr(start, url.find_first_of("/?#", start) - start);
    const std::size_t at = authority.rfind('@');
    if (at == std::string_view::npos)
        return std::string(url);
    return std::string(url.substr(0, start)).append(url.substr(start + at + 1));
}

} // namespace vantorel::net
