#pragma once
// What a failed libcurl transfer tells the user. Failures that are the proxy's doing name the
// proxy, so the user does not blame the site: it refused the user name or password (407), it
// cannot be reached (refused, timed out, its name unknown), it closed the connection or
// answered the tunnel with an error. A TLS handshake that found no protocol or cipher both ends
// accept says so in our words. Everything else is the transport's step message. libcurl's own
// words are always the detail, never the message.

#include "common/Result.h"

#include <curl/curl.h>

#include <string>
#include <string_view>

namespace vantorel::net {

// A 407 through `proxy` (empty: not known which): the proxy refused the credentials (or
// wants some).
std::string proxyRefusedText(std::string_view proxy);

// A redirect to `location` that the session did not follow, `what` ("下载", "请求") being what it
// would have moved: down from https to plain http (what was asked for over https must not
// arrive unprotected), or to a scheme other than http(s).
std::string refusedRedirectText(std::string_view location, std::string_view what);

// The failure of the transfer of `handle` that ended with `code`. `proxy`: what it went through
// (empty: direct); `host`: the server, appended to a message that is not the proxy's (empty:
// nothing appended); `detail`: libcurl's error text, when it has one. The Error's code is the
// TransportStep; its kind Proxy, Tls, Network (the connection), BadAddress or Other.
Error transferFailure(CURL* handle, CURLcode code, bool headComplete, std::string_view proxy,
                      std::string_view host, const char* detail);

} // namespace vantorel::net
