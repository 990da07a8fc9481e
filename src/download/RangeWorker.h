#pragma once
// A worker of a ranged download: fetches the ranges the scheduler gives it, one after another
// over one connection, each in requests sized to the connection's speed.

#include "download/DownloadRun.h"
#include "download/SegmentScheduler.h"
#include "download/ViewWriter.h"
#include "net/DownloadConnection.h"
#include "net/ReplyHead.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace vantorel::download {

// What became of one request.
// Fatal with an error of kind Gone or Expired may be a source's end rather than the download's:
// a signed address that expired, a mirror that lost the file. NoSource: no source is proven at
// the moment.
enum class Verdict { Done, Retry, FallBack, Changed, Fatal, Stopped, NoSource };

// The size of a worker's first request; later ones follow the connection's speed.
inline constexpr std::uint64_t kFirstRequestBytes = 128 * 1024;

// Fetches the ranges the scheduler gives it, one after another over one connection.
class RangeWorker {
  public:
    RangeWorker(DownloadRun& job, unsigned index)
        : job_(job), index_(index), transfer_(job.connectionRules()) {}

    void run();

  private:
    // One request for the front of `range`, sized to the connection's speed. Its bytes are
    // claimed before it goes out, so no other worker can take them while they are on the way
    // and nothing arrives that is not kept.
    Verdict attempt(ByteInterval range, Error& why);

    // Seconds a request should take: kRequestTime, or eight round trips to the server, so that
    // on a distant server the round trips stay a small share. The round trip is the TCP
    // handshake's: the wait for a reply's first byte would also count the time a server that
    // limits the connection holds its reply back, and make the slowest connections ask for the
    // longest requests, which nobody else can take over.
    double requestTime() const;

    // A reply other than 206 to a range request: the whole file again when the server ignores
    // ranges, or (If-Range) a new version of it.
    Verdict judgeWholeReply(const net::ReplyHead& head) const;

    // The reply must be exactly the asked part of the same file, as it is on the server.
    std::optional<Verdict> judgeReply() const;

    // A failure of this worker's source rather than of the download: the source is refreshed or
    // dropped, and the range goes on from another. False when no other source can stand in.
    bool leftSource(Verdict verdict, const Error& why);

    std::size_t onBody(std::span<const char> data);

    DownloadRun& job_;
    const unsigned index_;
    net::DownloadConnection transfer_;
    SourceUse source_;                                // the current request's
    ByteInterval range_;                              // asked in the current request
    std::uint64_t received_ = 0;                      // bytes of it written so far
    std::uint64_t brought_ = 0;                       // bytes written since the last failure
    std::uint64_t requestBytes_ = kFirstRequestBytes; // the size of the next request
    ViewWriter writer_{job_};
    bool checked_ = false;           // the current reply was found to be the asked range
    std::optional<Verdict> verdict_; // the current reply was judged unusable
};

} // namespace vantorel::download
