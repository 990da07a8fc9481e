#pragma once
// The Internet session client: one exchange under a browser-like agent name, always HTTP/1.1,
// redirects NOT followed unless the caller asks, so that a redirect reply is the result and its
// "Location" header can be read.
//
// Default lines, added where the caller's block lacks the header (the same as the request object
// client's, with the agent name as User-Agent):
//   Accept: */*
//   Referer: <the request's own address>
//   Accept-Language: zh-cn
//   User-Agent: Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)
//   Content-Type: application/x-www-form-urlencoded     (only when the request carries a body)
//   Cookie: <cookie text>                                (when one is given)
//
// The address is split into scheme, host, port (80 for http, 443 for https when none is given)
// and path ("/" when the address has none). A proxy is named in the proxy-list form
// "http=host:port"; it carries http and https requests alike. Proxy credentials, when given,
// go as "Proxy-Authorization: Basic ...".

#include "common/Result.h"
#include "net/Exchange.h"

#include <string>
#include <string_view>

namespace vantorel::net {

struct InternetAddress {
    bool secure = false; // https
    std::string host;    // as in the address (an IPv6 host keeps its brackets)
    int port = 0;
    std::string path; // from the first "/" after the host, query included; "/" when none

    // The address rebuilt from its parts (the port only when it is not the scheme's default).
    std::string url() const;
};

class InternetSessionClient {
  public:
    static constexpr std::string_view kAgentName =
        "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)";
    static constexpr std::string_view kProtocolVersion = "HTTP/1.1";
    static constexpr bool kFollowRedirectsByDefault = false;

    static Result<InternetAddress> splitAddress(std::string_view url);
    // "http=" + host:port of a proxy given as "http://host:port", "host:port" or already
    // "http=host:port"; empty for an empty proxy.
    static std::string proxyList(std::string_view proxy);

    static std::string completeHeaders(std::string_view url, std::string_view callerBlock,
                                       bool hasBody, std::string_view cookie);

    Result<FetchReply> fetch(const FetchRequest& request) const;
};

} // namespace vantorel::net
