#pragma once
// The program's one network session: the only code that configures a libcurl handle. Every
// request -- the three clients' exchanges (catalogue search, logo, contact links, version check,
// share-link steps) and every connection of a download -- has its handle prepared here, so they
// all go out the same way:
//  - only http and https (redirects too), HTTP/1.1, no signals, the deadline row the caller names;
//  - the proxy the request names itself (a client profile's, with its own credential header),
//    else the session's: the address the user chose (preference or --proxy) with its user and
//    password, no proxy at all (--noproxy), or else the environment as curl reads it
//    (http_proxy, https_proxy, all_proxy, no_proxy);
//  - TLS verified towards the server and towards an HTTPS proxy, unless the caller turns it off;
//  - one CA store for the whole process, loaded on the first TLS connection from SSL_CERT_FILE
//    and SSL_CERT_DIR when they are set, else from libcurl's own bundle and folder, and handed to
//    every connection instead of each connection parsing the bundle again.
// A download's connections also share one TLS session cache and one name cache
// (SharedConnections), so only its first connection pays a full handshake.

#include "common/Result.h"
#include "net/Deadlines.h"
#include "net/HttpMethod.h"

#include <curl/curl.h>

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace vantorel::net {

// Which proxy requests that do not name their own go through.
struct ProxyChoice {
    enum class Source {
        Environment, // what the environment says, as curl reads it
        None,        // a direct connection, whatever the environment says
        Address,     // `address`, with `user` and `password` when given
    };
    Source source = Source::Environment;
    std::string address; // http://, https://, socks5:// or socks5h://, without credentials
    std::string user;
    std::string password;
    std::string origin; // where `address` came from, for messages: "--proxy", "设置"
};

// The session's proxy: set by a front end when it starts (from the preferences and its
// options) and whenever the user changes it; read by every request prepared afterwards.
void setSessionProxy(ProxyChoice choice);
ProxyChoice sessionProxy();

// The proxy one request goes through, as libcurl is given it.
struct ProxyRoute {
    std::string proxy; // scheme://host[:port]; empty: a direct connection
    std::string user;
    std::string password;
};

// Where the session's choice sends a request for `url`. The environment is read as curl reads
// it: http_proxy for http (never HTTP_PROXY), https_proxy or HTTPS_PROXY for https, else
// all_proxy or ALL_PROXY, credentials in the address; no_proxy or NO_PROXY ("*", host names
// and their domains, addresses, CIDR ranges) sends a host direct, whichever proxy was chosen.
// An address that cannot be used is an error naming where it came from.
Result<ProxyRoute> sessionRoute(std::string_view url);

// The host of an address, for telling the user where a request failed; empty when the address
// has none that curl can read.
std::string hostOf(std::string_view url);

struct HandleOptions {
    std::string_view url;
    Timeouts timeouts;
    bool followRedirects = true;
    long maxRedirects = 10;
    bool verifyTls = true;
    char* errorText = nullptr; // CURL_ERROR_SIZE bytes, alive as long as the handle is used
    // A proxy the request names itself; none: the session's choice.
    std::optional<std::string> proxy;
    curl_slist* headers = nullptr;      // sent exactly (curl adds only Host and the length)
    curl_slist* proxyHeaders = nullptr; // to the proxy only
    HttpMethod method = HttpMethod::Get;
    std::optional<std::string_view> body; // sent as is, with its length
    bool decode = false;                  // a reply in a content coding is decoded
    curl_write_callback onHeader = nullptr;
    void* headerData = nullptr;
    curl_write_callback onBody = nullptr;
    void* bodyData = nullptr;
    curl_xferinfo_callback onProgress = nullptr;
    void* progressData = nullptr;
    // Under `lowSpeedBytes` per second for `lowSpeedTime` the transfer fails (0: no floor).
    long lowSpeedBytes = 0;
    std::chrono::seconds lowSpeedTime{0};
    long bufferBytes = 0; // receive buffer; 0: libcurl's default
    bool freshConnection = false;
    CURLSH* share = nullptr;
};

// Prepares `handle` for its next transfer. A handle used for several transfers keeps its
// connection; every option a transfer sets is set again for the next one. Gives the proxy the
// transfer goes through (empty: none), or the error of a proxy address that cannot be used.
Result<std::string> prepareHandle(CURL* handle, const HandleOptions& options);

// Lets go of the lists the last transfer of `handle` used, before they are freed.
void releaseLists(CURL* handle);

// A TLS session cache and a name cache shared by the handles of one download.
class SharedConnections {
  public:
    SharedConnections();
    ~SharedConnections();
    SharedConnections(const SharedConnections&) = delete;
    SharedConnections& operator=(const SharedConnections&) = delete;

    CURLSH* get() const { return share_; }

  private:
    static void lock(CURL*, curl_lock_data data, curl_lock_access, void* self);
    static void unlock(CURL*, curl_lock_data data, void* self);
    std::mutex& mutexFor(curl_lock_data data);

    CURLSH* share_ = nullptr;
    std::mutex sessions_;
    std::mutex names_;
    std::mutex other_;
};

} // namespace vantorel::net
