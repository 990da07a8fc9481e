#include "support/ForwardProxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <charconv>
#include <strings.h>

namespace vantorel::testing {
namespace {

// Sends `request` to 127.0.0.1:`port` and reads until the server closes; empty on failure.
std::string roundTrip(std::uint16_t port, const std::string& request) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return {};
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    std::string reply;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
            static_cast<ssize_t>(request.size())) {
        char buffer[65536];
        for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;)
            reply.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return reply;
}

} // namespace

ForwardProxy::ForwardProxy() : server_([this](const demo::HttpRequest& r) { return forward(r); }) {}

std::vector<ForwardProxy::Carried> ForwardProxy::carried() const {
    std::lock_guard lock(mutex_);
    return carried_;
}

void ForwardProxy::require(std::string authorization) {
    std::lock_guard lock(mutex_);
    required_ = std::move(authorization);
}

void ForwardProxy::fail(Failure failure) {
    std::lock_guard lock(mutex_);
    failure_ = failure;
}

demo::HttpResponse ForwardProxy::forward(const demo::HttpRequest& request) {
    demo::HttpResponse response;
    {
        std::lock_guard lock(mutex_);
        carried_.push_back({request.target, request.header("Proxy-Authorization")});
        if (failure_ == Failure::Close) {
            response.dropWithoutReply = true;
            return response;
        }
        if (failure_ == Failure::BadGateway) {
            response.status = 502;
            return response;
        }
        if (!required_.empty() && request.header("Proxy-Authorization") != required_) {
            response.status = 407;
            response.headers.push_back({"Proxy-Authenticate", "Basic realm=\"test\""});
            return response;
        }
    }
    // Only loopback servers: "http://127.0.0.1:PORT/rest".
    constexpr std::string_view kPrefix = "http://127.0.0.1:";
    const std::string_view target = request.target;
    std::uint16_t port = 0;
    const auto [end, ec] = std::from_chars(target.data() + std::min(target.size(), kPrefix.size()),
                                           target.data() + target.size(), port);
    if (!target.starts_with(kPrefix) || ec != std::errc()) {
        response.status = 400;
        return response;
    }
    const std::string_view rest = target.substr(static_cast<std::size_t>(end - target.data()));
    const std::string path = rest.empty() ? std::string("/") : std::string(rest);
    std::string out = request.method + " " + path + " HTTP/1.1\r\n";
    for (const auto& [name, value] : request.headers)
        if (name.size() < 6 || strncasecmp(name.c_str(), "Proxy-", 6) != 0)
            if (strcasecmp(name.c_str(), "Connection") != 0)
                out += name + ": " + value + "\r\n";
    out += "Connection: close\r\n\r\n" + request.body;
    response.raw = roundTrip(port, out);
    return response;
}

} // namespace vantorel::testing
