#pragma once
// A worker of a ranged download: fetches the ranges the scheduler gives it, one after another
// over one connection, each in requests sized by what a request costs on that connection.

#include "download/DownloadRun.h"
#include "download/RequestSizer.h"
#include "download/SegmentScheduler.h"
#include "download/Transfer.h"
#include "download/ViewWriter.h"
#include "net/ReplyHead.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace vantorel::download {

// What became of one request.
enum class Verdict { Done, Retry, FallBack, Changed, Fatal, Gone, Stopped };

// Fetches the ranges the scheduler gives it, one after another over one connection.
class RangeWorker {
  public:
    RangeWorker(DownloadRun& job, unsigned index) : job_(job), index_(index), transfer_(job) {
        if (job.probeWait > Seconds::zero())
            sizer_.waited(job.probeWait);
    }

    void run();

  private:
    // One request for the front of `range`, sized to the connection's speed. Its bytes are
    // claimed before it goes out, so no other worker can take them while they are on the way
    // and nothing arrives that is not kept.
    Verdict attempt(ByteInterval range, Error& why);

    // A reply other than 206 to a range request: the whole file again when the server ignores
    // ranges, or (If-Range) a new version of it.
    Verdict judgeWholeReply(const net::ReplyHead& head) const;

    // The reply must be exactly the asked part of the same file, as it is on the server.
    std::optional<Verdict> judgeReply() const;

    static std::size_t onBody(char* data, std::size_t size, std::size_t count, void* user);

    DownloadRun& job_;
    const unsigned index_;
    Transfer transfer_;
    ByteInterval range_;         // asked in the current request
    std::uint64_t received_ = 0; // bytes of it written so far
    std::uint64_t brought_ = 0;  // bytes written since the last failure
    RequestSizer sizer_;
    Clock::time_point firstByte_; // of the current reply's body
    ViewWriter writer_{job_};
    bool checked_ = false;           // the current reply was found to be the asked range
    bool streaming_ = false;         // it asks for the rest of the range, claimed as it comes
    bool cut_ = false;               // the range was taken over up to where it had come
    bool replace_ = false;           // the connection is too slow: the rest goes on a new one
    Clock::time_point checkedAt_;    // when the scheduler was last asked about the connection
    std::optional<Verdict> verdict_; // the current reply was judged unusable
};

} // namespace vantorel::download
