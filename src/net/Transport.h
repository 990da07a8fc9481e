#pragma once
// One HTTP/1.1 exchange over a libcurl easy handle. Every call owns its handle, so calls may run
// on any number of worker threads at once. The three clients are profiles over this: they
// compose the header lines; the transport sends exactly those.
//
// What goes out:
//  - "Host" first (curl's), then the given lines in their order. curl adds no header of its own
//    beyond "Host" and the body's "Content-Length": a given "Accept" replaces curl's default,
//    "Expect: 100-continue" is never sent, "Accept-Encoding" is sent only when given (and then
//    a gzip/deflate/br reply is decoded), "Content-Length"/"Transfer-Encoding" lines of a caller
//    are dropped because the transport frames the body itself.
//  - Only http and https, for the address and for every redirect.
//  - The proxy, when given, carries http and https (tunnelled); `proxyHeaderLines` go to the
//    proxy only. An empty proxy means the session's proxy (net/Session.h).
//  - TLS certificates and host names are verified unless `verifyTls` is off.
//
// What comes back: the status and status line of the final response, its header lines
// ("\r\n"-separated, status line excluded, no trailing line break), the body bytes, the final
// address, and every "Set-Cookie" line of every response of the exchange (redirects included).
// A reply that was cut inside its head (no blank line before the connection closed), whose
// Content-Length is not one plain number (see ContentLength), or whose body is shorter than its
// length is a failure, never an empty or shorter success.
//
// Time-outs: the row of net/Deadlines.h the caller names (kClientDefault when none); the idle
// limits are checked about once a second at worst, so they are honoured to within a second.
//
// Cancelling: a stop requested on `stop` ends the exchange at once (the transport wakes from
// its wait for the network), whatever the server does; the error's code is Cancelled.

#include "common/Result.h"
#include "net/Deadlines.h"
#include "net/HttpMethod.h"

#include <cstddef>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

namespace vantorel::net {

inline constexpr std::size_t kDefaultMaxBodyBytes = 64u << 20;
// Header lines of one exchange beyond this are a broken reply, not a memory hog.
inline constexpr std::size_t kMaxHeaderBytes = 1u << 20;
// A connection that closed inside the header block: nothing of that reply can be trusted.
inline constexpr std::string_view kUnendedHeadText = "服务器的回复不完整（协议头没有结束）";

struct TransportRequest {
    HttpMethod method = HttpMethod::Get;
    std::string url;
    std::vector<std::string> headerLines; // "Name: value"
    std::string body;                     // sent as is; POST and PUT always carry a length
    std::string proxy; // curl proxy address ("http://host:port"); empty: the session's
    std::vector<std::string> proxyHeaderLines;
    Timeouts timeouts = deadlines::kClientDefault;
    std::stop_token stop; // a requested stop ends the exchange
    bool followRedirects = true;
    long maxRedirects = 10;
    bool verifyTls = true;
    std::size_t maxBodyBytes = kDefaultMaxBodyBytes;
};

struct TransportResponse {
    int status = 0;
    std::string statusLine; // "HTTP/1.1 200 OK"
    std::string headers;
    std::string setCookieLines; // "Set-Cookie: ..." lines of every response, "\r\n"-separated
    std::string body;
    std::string url; // final address
};

// The step at which an exchange failed; it is the code of the Error a failed perform() gives.
enum class TransportStep : int {
    Platform = 1, // the HTTP library was built without http
    Setup,        // no handle or no memory
    Address,      // the address cannot be parsed or is not http/https
    Connect,      // name resolution or the connection (to the server or the proxy) failed
    Send,         // the request could not be sent (includes the TLS handshake)
    Response,     // no reply came: nothing, a broken status line, a time-out awaiting it
    Body,         // the reply broke off, could not be decoded, timed out or exceeded the cap
    Cancelled,    // the caller asked to stop
};

// The step at which a transfer failed with `curlCode`, given whether the connection stood and
// whether the reply's head had ended.
TransportStep failedStep(int curlCode, bool connected, bool headComplete);

// The user's words for a transfer that failed with `curlCode` at `step` (no host, no detail).
std::string failureMessage(TransportStep step, int curlCode);

// failureMessage with curl's description (`detail` when it has one) appended, for callers that
// keep one text.
std::string failureText(TransportStep step, int curlCode, const char* detail);

// Runs one exchange. A failure is an Error whose code is the TransportStep, whose message says
// in the user's language what failed and with which host, and whose detail is curl's own
// description (for the terminal, never for a window).
Result<TransportResponse> perform(const TransportRequest& request);

} // namespace vantorel::net
