#pragma once
// One connection of a download's worker: a libcurl handle prepared through the network session
// with the download's common settings and reused for every transfer of its worker, so that the
// connection stays open from range to range.

#include "common/Result.h"
#include "net/ReplyHead.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace vantorel::net {

class SharedConnections;

// What the connection needs of the download it belongs to.
struct ConnectionRules {
    std::function<bool()> stopping; // the download stops: the transfer under way ends
    // Whether the shared speed limit held the download back at any time since the time point.
    std::function<bool(std::chrono::steady_clock::time_point)> heldSince;
    // Under `speedFloor` bytes per second for `floorTime` the transfer ends.
    double speedFloor = 0;
    std::chrono::milliseconds floorTime{0};
    long bufferBytes = 0; // libcurl's receive buffer
    SharedConnections* connections = nullptr;
};

// Takes one buffer of body bytes as it arrived; fewer bytes taken than given end the transfer.
using BodySink = std::function<std::size_t(std::span<const char>)>;

class DownloadConnection {
  public:
    enum class Outcome { Completed, EndedBySink, Failed };

    explicit DownloadConnection(ConnectionRules rules);
    ~DownloadConnection();
    DownloadConnection(const DownloadConnection&) = delete;
    DownloadConnection& operator=(const DownloadConnection&) = delete;

    const ReplyHead& head() const { return head_; }
    // What failed in the last transfer, in the user's words, with libcurl's own as the detail.
    Error failure() const;
    // The next transfer opens a new connection (the last one was too slow).
    void freshConnection() { fresh_ = true; }
    // How long the last reply kept it waiting: from sending the request to the reply's first
    // byte, not counting the opening of the connection.
    std::chrono::duration<double> replyWait() const;
    // Whether the reply under way came through a redirect to another server than `url`'s.
    bool redirectedAwayFrom(const std::string& url) const;
    // Where the last transfer arrived after redirects; empty when libcurl does not say.
    std::string effectiveUrl() const;

    // GET of `url` with the header block; body bytes go to `sink`. `decode`: a coded body is
    // decoded (else its bytes arrive as they came).
    Outcome get(const std::string& url, const std::string& headerBlock, const BodySink& sink,
                bool decode);

  private:
    struct Handle;
    friend struct ConnectionCallbacks;

    // The speed floor of this connection: under it for the floor's time (not counting time the
    // speed limit held the download back), the transfer ends and its range goes on over a new
    // connection. `received`: the body bytes of this transfer so far.
    bool underFloor(std::uint64_t received);

    ConnectionRules rules_;
    std::unique_ptr<Handle> handle_;
    ReplyHead head_;
    const BodySink* sink_ = nullptr;
    bool sinkEnded_ = false;
    std::string proxy_;                  // what the last transfer went through; empty: direct
    std::optional<Error> unusableProxy_; // the last transfer could not start: its proxy is bad
    bool fresh_ = false;
    bool tooSlow_ = false;
    std::chrono::steady_clock::time_point floorFrom_;
    std::uint64_t floorBytes_ = 0;
};

} // namespace vantorel::net
