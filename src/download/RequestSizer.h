#pragma once
// How a worker's next request asks for bytes, from what a request costs on its connection.
//
// A request pays a wait before its first byte: the round trip as the server's replies show it,
// through any proxy or CDN edge in between (the TCP handshake with such a front tells nothing of
// the distance behind it). Near the server, requests ask for about `flow` of the connection's
// speed: short enough that a range can be split between requests rather than cut in the middle
// of one, long enough that the wait hardly counts. The speed is the speed while a body flows, so
// that the waits themselves do not make the connection look slow and keep the requests small.
//
// Where the wait would be more than `overheadShare` of such a request's time (a far server),
// requests of a size would spend much of the connection's time waiting; the worker then asks for
// the rest of its range at once and takes its bytes as they come: no wait but the first, and a
// faster connection can still take over the back of the range (which costs the reply its end and
// the connection with it).
//
// A server that holds a reply back (to limit a connection) makes the wait look like distance, so
// the wait counted is the least seen on the connection: a limiter holds replies once it has sent
// on the connection, not its first.
//
// Pure logic: times are passed in, so tests drive them.

#include <chrono>
#include <cstdint>
#include <optional>

namespace vantorel::download {

struct RequestSizing {
    // The first request, before anything is known of the connection.
    std::uint64_t first = 128 * 1024;
    std::uint64_t most = 32 << 20;
    // A request's body flows about this long ...
    std::chrono::milliseconds flow{150};
    // ... unless the wait before it would be more than this share of the request's time.
    double overheadShare = 0.1;
    // A request asks at most this many times the bytes of the last one answered: a short
    // request's speed is unreliable (a server may send its first burst at once, and a request
    // too large to split would hold its bytes against faster connections).
    double growth = 2.0;
};

class RequestSizer {
  public:
    using Seconds = std::chrono::duration<double>;

    explicit RequestSizer(RequestSizing sizing = {}) : sizing_(sizing), next_(sizing.first) {}

    // Bytes the next request asks for, unless it is open-ended.
    std::uint64_t next() const { return next_; }
    // The next request asks for the rest of the range (a far server, see above).
    bool openEnded() const;

    // The connection now goes to another server: nothing is known of it yet.
    void reset() {
        next_ = sizing_.first;
        wait_.reset();
        flowBytes_ = flowSeconds_ = 0;
    }
    // A reply seen on the way to the server (the probe's) kept its request waiting this long:
    // the first request is open-ended when that was long.
    void waited(Seconds wait);
    // A request answered: `wait` from sending it to its first byte, then its `bytes` of body
    // flowed for `flow`.
    void answered(Seconds wait, Seconds flow, std::uint64_t bytes);

  private:
    const RequestSizing sizing_;
    std::uint64_t next_;
    std::optional<double> wait_; // least seconds from sending to the first byte
    double flowBytes_ = 0;       // recent body bytes, older requests counting less ...
    double flowSeconds_ = 0;     // ... and the time they took to flow
};

} // namespace vantorel::download
