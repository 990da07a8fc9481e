#include "net/Session.h"

#include "common/Text.h"
#include "net/Curl.h"
#include "net/ProxyAddress.h"
#include "net/Url.h"

#include <arpa/inet.h>

#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <initializer_list>
#include <memory>
#include <new>
#include <tuple>
#include <utility>

namespace vantorel::net {
namespace {

std::mutex& proxyMutex() {
    static std::mutex mutex;
    return mutex;
}

ProxyChoice& proxyChoice() {
    static ProxyChoice choice;
    return choice;
}

struct StoreDeleter {
    void operator()(X509_STORE* store) const noexcept { X509_STORE_free(store); }
};

// The CA store every TLS connection verifies with. Parsing the bundle costs tens of
// milliseconds; loaded once, it is shared (each connection takes a reference).
X509_STORE* caStore() {
    static const std::unique_ptr<X509_STORE, StoreDeleter> store = [] {
        std::unique_ptr<X509_STORE, StoreDeleter> s(X509_STORE_new());
        if (!s)
            return s;
        const char* file = std::getenv("SSL_CERT_FILE");
        const char* folder = std::getenv("SSL_CERT_DIR");
        if (!file && !folder) {
            const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
            file = info ? info->cainfo : nullptr;
            folder = info ? info->capath : nullptr;
        }
        bool loaded = false;
        if (file && *file)
            loaded = X509_STORE_load_file(s.get(), file) == 1 || loaded;
        if (folder && *folder)
            loaded = X509_STORE_load_path(s.get(), folder) == 1 || loaded;
        if (!loaded)
            X509_STORE_set_default_paths(s.get());
        return s;
    }();
    return store.get();
}

CURLcode useSharedStore(CURL*, void* context, void*) {
    if (X509_STORE* store = caStore())
        SSL_CTX_set1_cert_store(static_cast<SSL_CTX*>(context), store);
    return CURLE_OK;
}

long millis(std::chrono::milliseconds ms) {
    return ms.count() > 0 ? static_cast<long>(ms.count()) : 0L;
}

// The value of the first of `names` that is set and not empty, with its name.
std::pair<std::string_view, std::string>
firstVariable(std::initializer_list<std::string_view> names) {
    for (std::string_view name : names)
        if (const char* value = std::getenv(std::string(name).c_str()); value && *value)
            return {name, value};
    return {};
}

// Whether `host` (as in an address: an IPv6 address in brackets) lies in `range`, an IPv4 or
// IPv6 CIDR range ("10.0.0.0/8").
bool inRange(std::string_view host, std::string_view range) {
    const std::size_t slash = range.find('/');
    const std::string network(range.substr(0, slash));
    if (host.size() > 1 && host.front() == '[')
        host = host.substr(1, host.size() - 2);
    const std::string address(host);
    unsigned char a[16], b[16];
    std::size_t size = 4;
    if (::inet_pton(AF_INET, address.c_str(), a) != 1 ||
        ::inet_pton(AF_INET, network.c_str(), b) != 1) {
        size = 16;
        if (::inet_pton(AF_INET6, address.c_str(), a) != 1 ||
            ::inet_pton(AF_INET6, network.c_str(), b) != 1)
            return false;
    }
    unsigned bits = static_cast<unsigned>(size * 8);
    if (slash != std::string_view::npos) {
        const std::string_view text = range.substr(slash + 1);
        auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), bits);
        if (error != std::errc() || end != text.data() + text.size() || bits > size * 8)
            return false;
    }
    for (std::size_t i = 0; i < size && bits > 0; ++i, bits -= std::min(bits, 8u)) {
        const unsigned mask = bits >= 8 ? 0xffu : (0xffu << (8 - bits)) & 0xffu;
        if ((a[i] & mask) != (b[i] & mask))
            return false;
    }
    return true;
}

// Whether the no_proxy list sends `host` direct: "*", the host itself, a domain it is in (with
// or without the leading dot), or an address range.
bool bypassed(std::string_view host) {
    const std::string list = firstVariable({"no_proxy", "NO_PROXY"}).second;
    if (trimBlanks(list) == "*")
        return true;
    if (!host.empty() && host.back() == '.')
        host.remove_suffix(1);
    std::string_view rest = list;
    while (!rest.empty()) {
        const std::size_t end = rest.find_first_of(", ");
        std::string_view entry = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        if (!entry.empty() && entry.front() == '.')
            entry.remove_prefix(1);
        if (!entry.empty() && entry.back() == '.')
            entry.remove_suffix(1);
        if (entry.empty())
            continue;
        if (equalsIgnoreCase(host, entry) || inRange(host, entry))
            return true;
        if (host.size() > entry.size() && host[host.size() - entry.size() - 1] == '.' &&
            equalsIgnoreCase(host.substr(host.size() - entry.size()), entry))
            return true;
    }
    return false;
}

// The environment's proxy for `url`, as curl picks it.
Result<ProxyRoute> environmentRoute(std::string_view url) {
    auto [name, value] = startsWithIgnoreCase(url, "http://")
                             ? firstVariable({"http_proxy"})
                             : firstVariable({"https_proxy", "HTTPS_PROXY"});
    if (value.empty())
        std::tie(name, value) = firstVariable({"all_proxy", "ALL_PROXY"});
    if (value.empty())
        return ProxyRoute{};
    auto address = parseProxyAddress(value, {.schemeOptional = true, .socks4 = true});
    if (!address)
        return withMessage(address.error(), proxyProblemFrom("环境变量 " + std::string(name),
                                                             address.error().message));
    return ProxyRoute{address->withoutCredentials(), address->user, address->password};
}

void applyRoute(CURL* h, const ProxyRoute& route) {
    curl_easy_setopt(h, CURLOPT_PROXY, route.proxy.c_str());
    // The route already is what no_proxy asks for.
    curl_easy_setopt(h, CURLOPT_NOPROXY, "");
    const bool credentials = !route.user.empty() || !route.password.empty();
    curl_easy_setopt(h, CURLOPT_PROXYUSERNAME, credentials ? route.user.c_str() : nullptr);
    curl_easy_setopt(h, CURLOPT_PROXYPASSWORD, credentials ? route.password.c_str() : nullptr);
}

void applyMethod(CURL* h, const HandleOptions& options) {
    curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, nullptr);
    switch (options.method) {
    case HttpMethod::Get:
        curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
        break;
    case HttpMethod::Head:
        curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
        break;
    case HttpMethod::Post:
        curl_easy_setopt(h, CURLOPT_POST, 1L);
        break;
    default:
        curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, std::string(methodName(options.method)).c_str());
        break;
    }
    if (options.body) {
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(options.body->size()));
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, options.body->data());
    }
}

} // namespace

void setSessionProxy(ProxyChoice choice) {
    std::lock_guard lock(proxyMutex());
    proxyChoice() = std::move(choice);
}

ProxyChoice sessionProxy() {
    std::lock_guard lock(proxyMutex());
    return proxyChoice();
}

std::string hostOf(std::string_view url) {
    auto parsed = parseUrl(url);
    return parsed ? std::move(parsed->host) : std::string();
}

Result<ProxyRoute> sessionRoute(std::string_view url) {
    const ProxyChoice choice = sessionProxy();
    if (choice.source == ProxyChoice::Source::None || bypassed(hostOf(url)))
        return ProxyRoute{};
    if (choice.source == ProxyChoice::Source::Environment)
        return environmentRoute(url);
    auto address = parseProxyAddress(choice.address);
    if (!address)
        return withMessage(address.error(),
                           proxyProblemFrom(choice.origin.empty() ? "代理" : choice.origin,
                                            address.error().message));
    return ProxyRoute{address->withoutCredentials(), choice.user, choice.password};
}

Result<std::string> prepareHandle(CURL* h, const HandleOptions& options) {
    ProxyRoute route;
    if (!options.proxy) {
        auto chosen = sessionRoute(options.url);
        if (!chosen)
            return chosen.error();
        route = std::move(*chosen);
    }

    if (options.errorText)
        curl_easy_setopt(h, CURLOPT_ERRORBUFFER, options.errorText);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_URL, std::string(options.url).c_str());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    // Once on https, never down to plain http: what was asked for over https must not arrive
    // unprotected (the refused redirect fails with CURLE_UNSUPPORTED_PROTOCOL).
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR,
                     startsWithIgnoreCase(options.url, "https://") ? "https" : "http,https");
    curl_easy_setopt(h, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, options.followRedirects ? 1L : 0L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, options.maxRedirects);

    const long verify = options.verifyTls ? 1L : 0L;
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, verify);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, verify * 2);
    curl_easy_setopt(h, CURLOPT_PROXY_SSL_VERIFYPEER, verify);
    curl_easy_setopt(h, CURLOPT_PROXY_SSL_VERIFYHOST, verify * 2);
    // The server's certificate is checked against the shared store alone: with no file or
    // folder named, libcurl loads nothing of its own for the connection.
    curl_easy_setopt(h, CURLOPT_CAINFO, nullptr);
    curl_easy_setopt(h, CURLOPT_CAPATH, nullptr);
    curl_easy_setopt(h, CURLOPT_SSL_CTX_FUNCTION, &useSharedStore);
    // TLS 1.3's three suites in the order browsers ask for them: AES-128-GCM first is as safe in
    // practice and takes a third less work to encrypt and decrypt, at both ends.
    curl_easy_setopt(h, CURLOPT_TLS13_CIPHERS,
                     "TLS_AES_128_GCM_SHA256:TLS_CHACHA20_POLY1305_SHA256:TLS_AES_256_GCM_SHA384");
    if (options.proxy) {
        curl_easy_setopt(h, CURLOPT_PROXY, options.proxy->c_str());
        curl_easy_setopt(h, CURLOPT_NOPROXY, nullptr);
        curl_easy_setopt(h, CURLOPT_PROXYUSERNAME, nullptr);
        curl_easy_setopt(h, CURLOPT_PROXYPASSWORD, nullptr);
    } else {
        applyRoute(h, route);
    }

    long connectLimit = millis(options.timeouts.connect);
    if (connectLimit > 0)
        connectLimit += millis(options.timeouts.resolve);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, connectLimit);
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, millis(options.timeouts.total));

    curl_easy_setopt(h, CURLOPT_HEADEROPT, CURLHEADER_SEPARATE);
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, options.headers);
    curl_easy_setopt(h, CURLOPT_PROXYHEADER, options.proxyHeaders);
    curl_easy_setopt(h, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    // The header lines are sent as given, Accept-Encoding included; this only says whether a
    // coded reply is decoded.
    curl_easy_setopt(h, CURLOPT_ACCEPT_ENCODING, options.decode ? "" : nullptr);
    curl_easy_setopt(h, CURLOPT_HTTP_CONTENT_DECODING, options.decode ? 1L : 0L);
    applyMethod(h, options);

    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, options.onHeader);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, options.headerData);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, options.onBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, options.bodyData);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, options.onProgress);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, options.progressData);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, options.onProgress ? 0L : 1L);

    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, options.lowSpeedBytes);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, static_cast<long>(options.lowSpeedTime.count()));
    if (options.bufferBytes > 0)
        curl_easy_setopt(h, CURLOPT_BUFFERSIZE, options.bufferBytes);
    curl_easy_setopt(h, CURLOPT_FRESH_CONNECT, options.freshConnection ? 1L : 0L);
    curl_easy_setopt(h, CURLOPT_SHARE, options.share);
    return options.proxy ? *options.proxy : route.proxy;
}

void releaseLists(CURL* h) {
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, nullptr);
    curl_easy_setopt(h, CURLOPT_PROXYHEADER, nullptr);
}

SharedConnections::SharedConnections() {
    ensureCurlGlobal();
    share_ = curl_share_init();
    if (!share_)
        throw std::bad_alloc();
    curl_share_setopt(share_, CURLSHOPT_LOCKFUNC, &SharedConnections::lock);
    curl_share_setopt(share_, CURLSHOPT_UNLOCKFUNC, &SharedConnections::unlock);
    curl_share_setopt(share_, CURLSHOPT_USERDATA, this);
    curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
}

SharedConnections::~SharedConnections() {
    curl_share_cleanup(share_);
}

std::mutex& SharedConnections::mutexFor(curl_lock_data data) {
    switch (data) {
    case CURL_LOCK_DATA_SSL_SESSION:
        return sessions_;
    case CURL_LOCK_DATA_DNS:
        return names_;
    default:
        return other_;
    }
}

void SharedConnections::lock(CURL*, curl_lock_data data, curl_lock_access, void* self) {
    static_cast<SharedConnections*>(self)->mutexFor(data).lock();
}

void SharedConnections::unlock(CURL*, curl_lock_data data, void* self) {
    static_cast<SharedConnections*>(self)->mutexFor(data).unlock();
}

} // namespace vantorel::net
