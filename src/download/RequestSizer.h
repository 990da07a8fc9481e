#pragma once
// How many bytes a worker's next request asks for, from what a request costs on its connection.
//
// A request pays a wait before its first body byte: the round trip as the server's replies show
// it, through any proxy or CDN edge in between (the TCP handshake with such a front tells
// nothing of the distance behind it). Requests are made long enough that this wait stays a
// small share of their time, and short enough that a range can be split between requests rather
// than cut in the middle of one. The speed a request is sized by is the speed while its body
// flows, so that the waits themselves do not make the connection look slow and keep the
// requests small.
//
// A server that holds a reply back (to limit a connection) makes the wait look like distance;
// requests sized by it would let the slowest connections claim the longest stretches, which no
// faster connection can take over. So the wait counted is the least seen on the connection, and
// no request is sized beyond `longest` of flowing time.
//
// Pure logic: time is passed in, so tests drive the clock.

#include <chrono>
#include <cstdint>
#include <optional>

namespace vantorel::download {

struct RequestSizing {
    // The first request, before anything is known of the connection.
    std::uint64_t first = 128 * 1024;
    std::uint64_t most = 32 << 20;
    // The wait before the first byte is kept under this share of a request's time ...
    double overheadShare = 0.1;
    // ... while a request's body flows at least this long (a shorter one measures the
    // connection's first burst rather than its speed) and at most `longest`.
    std::chrono::milliseconds shortest{150};
    std::chrono::milliseconds longest{3000};
    // A request asks at most this many times the bytes of the last one answered: a short
    // request's speed is unreliable.
    double growth = 4.0;
};

class RequestSizer {
  public:
    using Clock = std::chrono::steady_clock;

    explicit RequestSizer(RequestSizing sizing = {}) : sizing_(sizing), next_(sizing.first) {}

    // Bytes the next request asks for.
    std::uint64_t next() const { return next_; }

    // A request answered in full: sent at `sent`, its first body byte at `firstByte`, its last
    // at `ended`, `bytes` of body.
    void answered(Clock::time_point sent, Clock::time_point firstByte, Clock::time_point ended,
                  std::uint64_t bytes);

  private:
    const RequestSizing sizing_;
    std::uint64_t next_;
    std::optional<double> wait_; // least seconds from sending to the first body byte
    double flowBytes_ = 0;       // recent body bytes, older requests counting less ...
    double flowSeconds_ = 0;     // ... and the time they took to flow
};

} // namespace vantorel::download
