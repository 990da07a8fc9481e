#pragma once
// Servers that keep a client waiting: one that never answers, and a reply that trickles.

#include "demo/HttpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace vantorel::testing {

// A reply of one byte every 100 ms: no idle limit ever fires, only a total deadline ends it.
inline demo::HttpResponse trickledReply() {
    demo::HttpResponse response = demo::HttpResponse::text(std::string(4000, ' '));
    response.throttleBytes = 1;
    response.throttleDelay = std::chrono::milliseconds(100);
    return response;
}

// A loopback port that takes connections and never answers: the kernel completes the handshake
// into the listen queue and nothing ever reads or writes. A client waits there until its own
// deadline or its cancellation ends the request; afterwards the test can take the connection and
// see whether the client has closed it.
class SilentServer {
  public:
    SilentServer() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            ::listen(fd_, 16) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
            throw std::runtime_error("cannot listen on 127.0.0.1");
        port_ = ntohs(addr.sin_port);
    }
    ~SilentServer() { ::close(fd_); }
    SilentServer(const SilentServer&) = delete;
    SilentServer& operator=(const SilentServer&) = delete;

    std::string base() const { return "http://127.0.0.1:" + std::to_string(port_); }

    // A client has connected (and waits for an answer).
    bool connected(std::chrono::milliseconds wait) const {
        pollfd p{fd_, POLLIN, 0};
        return ::poll(&p, 1, static_cast<int>(wait.count())) == 1;
    }

    // Takes the oldest waiting connection and reports whether its client has closed it (end of
    // stream after the request it sent), looking for at most `wait`.
    bool clientClosedOldest(std::chrono::milliseconds wait) const {
        const int connection = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0)
            return false;
        bool closed = false;
        char buffer[4096];
        for (pollfd p{connection, POLLIN, 0}; ::poll(&p, 1, static_cast<int>(wait.count())) == 1;) {
            const ssize_t n = ::recv(connection, buffer, sizeof buffer, 0);
            if (n <= 0) {
                closed = true;
                break;
            }
        }
        ::close(connection);
        return closed;
    }

  private:
    int fd_ = -1;
    std::uint16_t port_ = 0;
};

} // namespace vantorel::testing
