#pragma once
// The request object client: one exchange with the browser-like default headers below, redirects
// followed unless the caller says otherwise.
//
// Default lines, added where the caller's block lacks the header:
//   Accept: */*
//   Referer: <the request's own address, without a fragment>
//   Accept-Language: zh-cn
//   User-Agent: Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)
//   Content-Type: application/x-www-form-urlencoded     (only when the request carries a body)
// The cookie text goes out as "Cookie", the proxy credential as "Proxy-Authorization: Basic ...".
// Failures: an Error whose message says what failed (code: see detail::runExchange).

#include "common/Result.h"
#include "net/Exchange.h"
#include "net/HeaderBlock.h"

#include <string>
#include <string_view>
#include <vector>

namespace vantorel::net {

class RequestObjectClient {
  public:
    static constexpr bool kFollowRedirectsByDefault = true;

    // The stored default lines with their name forms, in order. The Internet session client
    // sends the same lines.
    static std::vector<DefaultHeader> defaultLines(std::string_view url, bool hasBody);

    // The caller's block completed with the defaults, as it goes out (before the cookie line).
    static std::string completeHeaders(std::string_view url, std::string_view callerBlock,
                                       bool hasBody);

    Result<FetchReply> fetch(const FetchRequest& request) const;
};

} // namespace vantorel::net
