#pragma once
// What a caller hands to any of the three HTTP clients and what it gets back. The clients differ
// in their default header lines, their default for following redirects, how a proxy is named and
// how failures are worded; the shape of a call is the same for all three:
//
//     net::FetchRequest request;
//     request.url = address;
//     auto reply = net::RequestObjectClient().fetch(request);
//     if (!reply) show(reply.error().message);   // nothing was received
//
// A failed exchange gives no reply at all: no body, no header block, no status.
// (Fields are set one by one: designated initializers that skip fields draw
// -Wmissing-field-initializers under -Wextra.)

#include "common/Result.h"
#include "net/HttpMethod.h"
#include "net/Transport.h"

#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

namespace vantorel::net {

struct FetchRequest {
    std::string url; // "http://" or "https://"
    HttpMethod method = HttpMethod::Get;
    std::string headers; // the caller's header block; a caller's header replaces a default
    std::string body;    // bytes as sent (a text goes as its UTF-8 bytes)
    std::string cookie;  // cookie text sent in the "Cookie" header
    std::string proxy;   // "http://host:port" or "host:port"; empty: direct
    std::string proxyUser;
    std::string proxyPassword;
    Timeouts timeouts = deadlines::kClientDefault; // a row of net/Deadlines.h
    std::stop_token stop;                          // a requested stop ends the exchange
    std::optional<bool> followRedirects;           // unset: the client's own default
    bool verifyTls = true;
    std::size_t maxBodyBytes = kDefaultMaxBodyBytes;
};

struct FetchReply {
    int status = 0;
    std::string statusLine; // "HTTP/1.1 200 OK"
    std::string headers;    // final response, "\r\n"-separated, no status line, no trailing break
    std::string body;
    std::string cookies; // the request's cookie text merged with what the server set
    std::string url;     // the final address (after redirects)

    // First header of that name in `headers` (case-insensitive); empty if absent.
    std::string header(std::string_view name) const;
};

// "Basic " + Base64 of the GBK bytes of user + ":" + password. A character that GBK cannot hold
// is an error: the credential is never sent altered.
Result<std::string> basicProxyCredential(std::string_view user, std::string_view password);

namespace detail {

// The part every client shares: the completed header block and the cookie text become the
// request's lines (one "Cookie" line: a Cookie header of the block merged with the cookie text),
// the proxy credential goes to the proxy, the exchange runs, and the received cookies are
// merged into the reply's cookie text. A failure's code is a PreparationFailure (negative: the
// request was never sent) or the TransportStep of the failed exchange.
enum class PreparationFailure : int { HeaderLine = -1, Credential = -2, Timeout = -3 };

Result<FetchReply> runExchange(const FetchRequest& request, std::string_view completedBlock,
                               bool followRedirects, std::string proxyUrl);

} // namespace detail

} // namespace vantorel::net
