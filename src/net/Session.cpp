#include "net/Session.h"

#include "net/Curl.h"

#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <cstdlib>
#include <memory>
#include <new>

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

void applyProxy(CURL* h, const HandleOptions& options) {
    if (options.proxy) {
        curl_easy_setopt(h, CURLOPT_PROXY, options.proxy->c_str());
        curl_easy_setopt(h, CURLOPT_PROXYUSERNAME, nullptr);
        curl_easy_setopt(h, CURLOPT_PROXYPASSWORD, nullptr);
        return;
    }
    const ProxyChoice choice = sessionProxy();
    switch (choice.source) {
    case ProxyChoice::Source::Environment:
        // Unset, libcurl reads http_proxy, https_proxy, all_proxy and no_proxy itself.
        curl_easy_setopt(h, CURLOPT_PROXY, nullptr);
        break;
    case ProxyChoice::Source::None:
        curl_easy_setopt(h, CURLOPT_PROXY, "");
        break;
    case ProxyChoice::Source::Address:
        curl_easy_setopt(h, CURLOPT_PROXY, choice.address.c_str());
        break;
    }
    const bool credentials = choice.source == ProxyChoice::Source::Address &&
                             (!choice.user.empty() || !choice.password.empty());
    curl_easy_setopt(h, CURLOPT_PROXYUSERNAME, credentials ? choice.user.c_str() : nullptr);
    curl_easy_setopt(h, CURLOPT_PROXYPASSWORD, credentials ? choice.password.c_str() : nullptr);
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

void prepareHandle(CURL* h, const HandleOptions& options) {
    if (options.errorText)
        curl_easy_setopt(h, CURLOPT_ERRORBUFFER, options.errorText);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_URL, std::string(options.url).c_str());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
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
    applyProxy(h, options);

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
