#pragma once
// A small HTTP/1.1 server on 127.0.0.1 for the offline demo and the tests. Each connection
// gets a thread; a handler turns a request into a response. Responses can misbehave on
// purpose (cut connections, missing lengths, delays, raw bytes) so that clients can be shown
// to survive servers that lie.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace vantorel::demo {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

struct HttpRequest {
    std::string method;
    std::string target; // as sent: path and query
    std::string path;   // target before "?"
    std::string query;  // target after "?", without it
    HeaderList headers; // in the order received
    std::string body;
    std::size_t connection = 0; // ordinal of the connection it came on: 1 for the first accepted

    // First header of that name (case-insensitive); empty if absent.
    std::string header(std::string_view name) const;
    bool hasHeader(std::string_view name) const;
    // Percent-decoded value of a query parameter; empty if absent.
    std::string queryValue(std::string_view key) const;
};

// Counts the body bytes of every reply that carries it, as they are written, and can hold them
// all together to a total rate (a server's uplink) and to a total count (a server that dies
// midway: past it, bodies under way are cut). Safe to use from many threads.
class BodyMeter {
  public:
    using Clock = std::chrono::steady_clock;

    // 0: no rate. Takes effect for bytes asked for from now on.
    void setRate(double bytesPerSecond);
    // At most `bytes` more body bytes from now on; none: no end.
    void setLimit(std::optional<std::uint64_t> bytes);

    struct Grant {
        std::size_t bytes = 0;  // how many of those asked for may be written (0: none ever)
        Clock::time_point when; // not before this
    };
    Grant ask(std::size_t bytes);
    void written(std::size_t bytes);

    double rate() const;
    std::uint64_t total() const; // body bytes written so far
    bool exhausted() const;      // the limit is reached

  private:
    mutable std::mutex mutex_;
    double rate_ = 0;
    std::optional<std::uint64_t> limit_; // in granted bytes
    std::uint64_t granted_ = 0;
    std::uint64_t written_ = 0;
    Clock::time_point next_{};
};

struct HttpResponse {
    int status = 200;
    std::string reason; // empty: the standard phrase for the status
    HeaderList headers;
    std::string body;

    // Add "Content-Length" (unless the handler set one). Without it the body ends when the
    // connection closes.
    bool sendContentLength = true;
    // Close the connection after this many body bytes (a cut transfer).
    std::optional<std::size_t> cutAfter;
    // Wait before the status line (a slow server).
    std::chrono::milliseconds delayBeforeHead{0};
    // Send the body (or `raw`) in pieces of this size with a pause between them (a slow
    // transfer).
    std::size_t throttleBytes = 0;
    std::chrono::milliseconds throttleDelay{0};
    // Pace the body at this many bytes per second (0: as fast as the socket takes it).
    double bytesPerSecond = 0;
    // Shared with other replies: counted, paced and ended together with them.
    std::shared_ptr<BodyMeter> meter;
    // Close the connection without writing anything.
    bool dropWithoutReply = false;
    // Written verbatim instead of a composed reply, then the connection closes.
    std::optional<std::string> raw;

    static HttpResponse
    text(std::string body, std::string contentType = "text/plain; charset=utf-8", int status = 200);
};

std::string percentDecode(std::string_view text);
std::string_view reasonPhrase(int status);

class HttpServer {
  public:
    using Handler = std::function<HttpResponse(const HttpRequest&)>;

    // Listens on 127.0.0.1 at a free port (or `port`); throws std::runtime_error if it cannot.
    explicit HttpServer(Handler handler, std::uint16_t port = 0);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    std::uint16_t port() const { return port_; }
    std::string base() const; // "http://127.0.0.1:PORT"

    // Every request received so far, in arrival order.
    std::vector<HttpRequest> requests() const;
    // Connections accepted so far.
    std::size_t connectionCount() const { return connections_.load(); }
    // Body bytes written on each connection so far, in the order they were accepted. A piece is
    // counted once its write returns, which may be just after the client has read it: a test
    // that reads the counts (these, or a BodyMeter's) once its client is done waits for idle().
    std::vector<std::uint64_t> bodyBytesSent() const;

    // Waits until no request is being answered: every reply a client has received is then
    // counted, and every reply cut short has ended. False if that takes longer than `limit`.
    bool idle(std::chrono::milliseconds limit = std::chrono::seconds(10)) const;

    void stop();

  private:
    struct Connection {
        int fd = -1;
        std::size_t ordinal = 0;
        std::thread thread;
        std::atomic<bool> done{false};
    };

    void acceptLoop();
    void serve(Connection& connection);
    void reapFinished();
    bool sendBody(const Connection& connection, std::string_view body,
                  const HttpResponse& response);

    Handler handler_;
    int listenFd_ = -1;
    int wakeFd_[2] = {-1, -1}; // written to by stop() to end the accept loop at once
    std::uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<std::size_t> connections_{0};
    std::thread acceptThread_;
    mutable std::mutex mutex_;
    mutable std::condition_variable answered_; // notified when answering_ falls to 0
    std::size_t answering_ = 0;                // requests read and not yet answered
    std::list<std::unique_ptr<Connection>> open_;
    std::vector<HttpRequest> log_;
    std::vector<std::uint64_t> sent_; // body bytes per connection, by ordinal - 1
};

} // namespace vantorel::demo
