#pragma once
// A forward HTTP proxy on loopback for tests: takes absolute-form requests
// ("GET http://127.0.0.1:PORT/path HTTP/1.1"), sends each on to its server over a connection of
// its own and hands the reply back as it came. It remembers every request it carried, with the
// credentials the client gave the proxy. It can be taught to misbehave: to ask for credentials
// (407) unless given the ones it wants, or to answer every request, a tunnel's CONNECT too,
// with 502 or by closing the connection.

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

    enum class Failure { None, BadGateway, Close };

    ForwardProxy();

    // Requests whose Proxy-Authorization is not `authorization` get 407.
    void require(std::string authorization);
    void fail(Failure failure);

    std::string address() const { return server_.base(); }
    std::vector<Carried> carried() const;

  private:
    demo::HttpResponse forward(const demo::HttpRequest& request);

    mutable std::mutex mutex_;
    std::vector<Carried> carried_;
    std::string required_;
    Failure failure_ = Failure::None;
    demo::HttpServer server_; // last: its threads use the members above until it is gone
};

} // namespace vantorel::testing
