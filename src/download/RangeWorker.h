#pragma once
// A worker of a ranged download: fetches the ranges the scheduler gives it, one after another
// over one connection, each in requests sized by what a request costs on that connection.
//
// A request reaches a little into the bytes already held on either side of what it asks for (up
// to 4 KiB, at most 1/128 of it on each side) and compares them: a source that changed its file
// since those bytes came is caught at its next request, though its replies look right. With nothing
// left to take, and once every byte is in, the worker checks blocks of the closing proof
// (ClosingProof.h) over its open connection.

#include "download/DownloadRun.h"
#include "download/RequestSizer.h"
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

// Fetches the ranges the scheduler gives it, one after another over one connection.
class RangeWorker {
  public:
    RangeWorker(DownloadRun& job, unsigned index)
        : job_(job), index_(index), transfer_(watchedRules()) {
        if (job.probeWait > Seconds::zero())
            sizer_.waited(job.probeWait);
    }

    void run();

  private:
    // One request for the front of `range`, sized to the connection's speed. Its bytes are
    // reserved before it goes out, so no other worker takes them while they are on the way
    // (unless the connection is far too slow, see SegmentScheduler.h) and nothing arrives that is
    // not kept.
    Verdict attempt(ByteInterval range, Error& why);

    // A reply other than 206 to a range request: the whole file again when the server ignores
    // ranges, or (If-Range) a new version of it.
    Verdict judgeWholeReply(const net::ReplyHead& head) const;

    // The reply must be exactly the asked part of the same file, as it is on the server.
    std::optional<Verdict> judgeReply() const;

    // A failure of this worker's source rather than of the download: the source is refreshed or
    // dropped, and the range goes on from another. False when no other source can stand in.
    bool leftSource(Verdict verdict, const Error& why);

    std::size_t onBody(std::span<const char> data);
    // Whether `data`, the reply's bytes at `at`, are the bytes the part holds there; judges the
    // source when they are not.
    bool sameAsHeld(std::uint64_t at, std::span<const char> data);
    // Checks a block of the closing proof while there is nothing to fetch; false when there is
    // none for this worker's source.
    bool proveBlock();

    // The job's rules, with the transfer also ending when its request has to give way.
    net::ConnectionRules watchedRules();
    // Asked as bytes arrive and, through the transfer's progress, while none do: the rest of the
    // request went to another worker (cut_), or the connection is too slow and the rest goes on a
    // new one (replace_).
    bool givesWay();
    // The connection was too slow: the worker goes on from the next proven source, if any.
    void moveOn();

    DownloadRun& job_;
    const unsigned index_;
    net::DownloadConnection transfer_;
    SourceUse source_;           // the current request's
    ByteInterval range_;         // to be written from the current request
    ByteInterval asked_;         // asked: range_ and bytes held on either side, to compare
    std::uint64_t received_ = 0; // bytes of range_ written so far
    std::uint64_t seen_ = 0;     // bytes of the reply's body taken so far
    std::uint64_t brought_ = 0;  // bytes written since the last failure
    RequestSizer sizer_;
    Clock::time_point firstByte_; // of the current reply's body
    ViewWriter writer_{job_};
    bool checked_ = false;        // the current reply was found to be the asked range
    bool cut_ = false;            // the range was taken over up to where it had come
    bool replace_ = false;        // the connection is too slow: the rest goes on a new one
    Clock::time_point checkedAt_; // when the scheduler was last asked about the connection
    // Connections found too slow: each sends the worker on to the next proven source, where its
    // connection may fare better (a trickling mirror), or to a new connection of the same one.
    unsigned moves_ = 0;
    std::optional<Verdict> verdict_; // the current reply was judged unusable
    bool differed_ = false;          // the source's bytes differed from the part's
    bool proofFailed_ = false;       // a block of the closing proof could not be asked
};

} // namespace vantorel::download
