#pragma once
// File downloads over the loopback HTTP server, with byte ranges as a real file server does
// them, and with the ways real servers get ranges wrong, switched on per test: ranges ignored,
// a different range than asked, cut connections, no length, a content coding, 404, a slow
// line. The offline demo serves its downloads with it too.

#include "demo/HttpServer.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantorel::demo {

struct RangeFaults {
    // Answer every request with 200 and the whole body, whatever the Range header says.
    bool ignoreRanges = false;
    // Answer a range "a-b" with the same number of bytes from the start of the file, and a
    // Content-Range that says so.
    bool wrongContentRange = false;
    // Close the connection after this many body bytes of a reply ...
    std::optional<std::size_t> cutAfter;
    // ... for this many replies from now on; a negative count cuts every reply.
    int cutReplies = 0;
    // Send no Content-Length: the body ends when the connection closes.
    bool noContentLength = false;
    // "gzip" or "deflate": send the whole file coded (ranges are then not served).
    std::string contentCoding;
    // Answer every request with 404.
    bool notFound = false;
    // Send bodies in pieces of this size with a pause between them.
    std::size_t throttleBytes = 0;
    std::chrono::milliseconds throttleDelay{0};
    // Bytes per second for every reply on a connection, by the connection's ordinal (1 for the
    // first accepted); 0, or no function, for no limit. As a file server limiting each
    // connection does it, e.g. connectionRates below.
    std::function<double(std::size_t connection)> connectionRate;
    // Bytes per second of all bodies together, whatever the connection: a mirror with a fixed
    // uplink. 0 for no limit.
    double totalRate = 0;
    // A server that dies midway: after this many body bytes more (all replies together, counted
    // from when these faults are set) the bodies under way are cut, and every later request is
    // answered with goneStatus, or, when it is 0, its connection is closed without a reply.
    std::optional<std::uint64_t> goneAfterBytes;
    int goneStatus = 410;
    // Send neither ETag nor Last-Modified (and so ignore If-Range): a client cannot tell
    // versions of a file apart.
    bool noValidators = false;
    // More header lines for every reply with a file (a server announcing mirrors or digests).
    HeaderList extraHeaders;
};

// Every connection at `bytesPerSecond`, except every `every`-th (the every-th, the 2*every-th,
// ...) at `slowBytesPerSecond`; `every` 0 means none is slower.
std::function<double(std::size_t)> connectionRates(double bytesPerSecond, std::size_t every,
                                                   double slowBytesPerSecond);

// The files and the faults; turns a request into a reply. Safe to use from many threads.
// Every file carries an ETag made from its content and a Last-Modified date that moves on each
// time add() replaces it, and a range asked for with an If-Range that names neither is answered
// with the whole current file, as RFC 9110 section 13.1.5 asks.
class RangeFiles {
  public:
    // Serves `content` at `path` (e.g. "/files/setup.exe"), replacing what was there.
    void add(std::string path, std::string content);
    void setFaults(RangeFaults faults);
    RangeFaults faults() const;

    // Body bytes written of every reply this made, on every connection.
    std::uint64_t bodyBytesSent() const { return meter_->total(); }

    // GET or HEAD of a file, honouring a single "bytes=" range; 404 for an unknown path.
    HttpResponse respond(const HttpRequest& request);

  private:
    mutable std::mutex mutex_;
    struct File {
        std::shared_ptr<const std::string> content;
        std::string etag;
        std::string lastModified;
    };
    std::map<std::string, File, std::less<>> files_;
    unsigned versions_ = 0;
    RangeFaults faults_;
    const std::shared_ptr<BodyMeter> meter_ = std::make_shared<BodyMeter>();
};

class RangeServer {
  public:
    RangeServer();

    RangeFiles& files() { return files_; }
    void add(std::string path, std::string content) {
        files_.add(std::move(path), std::move(content));
    }
    void setFaults(RangeFaults faults) { files_.setFaults(std::move(faults)); }

    std::string url(std::string_view path) const { return server_.base() + std::string(path); }
    HttpServer& http() { return server_; }

    // Connections accepted so far, and the body bytes sent on each, in the order accepted.
    std::size_t connectionCount() const { return server_.connectionCount(); }
    std::vector<std::uint64_t> bytesSentPerConnection() const { return server_.bodyBytesSent(); }

  private:
    RangeFiles files_; // before server_: the server's threads use it until they are joined
    HttpServer server_;
};

// The body coded as "gzip" or "deflate" (zlib format); throws std::runtime_error otherwise.
std::string encodeContent(std::string_view body, std::string_view coding);

} // namespace vantorel::demo
