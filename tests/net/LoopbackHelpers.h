#pragma once
// Small helpers shared by the client tests: what a loopback server received and a port that
// refuses connections.

#include "demo/HttpServer.h"
#include "net/Exchange.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace vantorel::testing {

using HeaderPairs = std::vector<std::pair<std::string, std::string>>;

// A request for `url` with every other field at its default.
inline net::FetchRequest requestFor(std::string url) {
    net::FetchRequest request;
    request.url = std::move(url);
    return request;
}

// The headers of a received request in order, without "Host" (curl's own first line).
inline HeaderPairs withoutHost(const demo::HttpRequest& request) {
    HeaderPairs out;
    for (const auto& header : request.headers)
        if (header.first != "Host")
            out.push_back(header);
    return out;
}

// A loopback port where nothing listens: bound, then closed again.
inline std::uint16_t closedPort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

} // namespace vantorel::testing
