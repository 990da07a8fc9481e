#pragma once
// A forward HTTP proxy on loopback for tests: takes absolute-form requests
// ("GET http://127.0.0.1:PORT/path HTTP/1.1"), sends each on to its server over a connection of
// its own and hands the reply back as it came. It remembers every request it carried, with the
// credentials the client gave the proxy.

#include "demo/HttpServer.h"

#include <mutex>
#include <string>
#include <vector>

namespace vantorel::testing {

class ForwardProxy {
  public:
    struct Carried {
        std::string target;             // as the client asked, absolute form
        std::string proxyAuthorization; // the Proxy-Authorization header; empty when none
    };

    ForwardProxy();

    std::string address() const { return server_.base(); }
    std::vector<Carried> carried() const;

  private:
    demo::HttpResponse forward(const demo::HttpRequest& request);

    mutable std::mutex mutex_;
    std::vector<Carried> carried_;
    demo::HttpServer server_; // last: its threads use the members above until it is gone
};

} // namespace vantorel::testing
