#pragma once
// The multi-threaded downloader: fetches one file from a direct address into a local file.
//
// One probe asks for the file's length. A known, non-zero length without a content coding is
// split into byte ranges; each worker fetches its range on its own connection and copies what
// it reads straight into a memory-mapped view of the file, holding the job's lock for the
// copy and the arrived-bytes counter. Every reply is checked against the asked range before a
// byte of it is written, so no worker ever writes outside its range: a server that ignores
// ranges or answers a different one makes the job fall back to one plain stream. A reply
// without a length, or with a content coding (decoded here), is fetched as one stream too.
//
// The file is built under a hidden temporary name beside the target, with its space reserved
// up front, and renamed over the target only when every byte has arrived; a failed or
// cancelled download removes its temporary file and leaves an existing target untouched.
//
// Choices:
// - Workers: 8 by default, at most 16. More connections than that rarely help one server and
//   look like abuse to it.
// - A range is never smaller than 512 KiB: a connection costs a round trip and a slow start,
//   which a smaller range does not repay; small files therefore use fewer workers.
// - Remainder: a length that does not divide evenly gives one extra byte to each of the first
//   ranges (see planRanges).
// - Read buffer: libcurl's receive buffer of each worker, 512 KiB, copied straight into the
//   view; large pieces keep the lock and the callback overhead per byte low.
// - A cut or failed range is resumed from the first byte it is missing, after a back-off that
//   doubles from 200 ms (at most 5 s). A range that brings no byte in 5 retries in a row is
//   left for a worker that has finished its own range (a server may allow fewer connections
//   than we open); ranges still left when every worker has ended get another round of workers,
//   unless the last round brought no byte at all: then the download fails. Replies 408, 429
//   and 5xx are retried the same way; other error replies end the download at once. A plain
//   stream (no ranges) is not resumed.
// - No connection check of its own: the probe is the check, and a host that cannot be resolved
//   or reached is reported as a network problem.

#include "common/Result.h"
#include "download/DownloadProgress.h"
#include "download/RangePlan.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace vantorel::download {

inline constexpr unsigned kDefaultWorkers = 8;
inline constexpr unsigned kMaxWorkers = 16;
inline constexpr std::uint64_t kMinRangeBytes = 512 * 1024;
inline constexpr long kReadBufferBytes = 512 * 1024;
inline constexpr unsigned kMaxRetries = 5;

// Sent with every request of a download.
inline constexpr std::string_view kRequestHeaderBlock =
    "Accept: */*\r\nAccept-Language: zh-cn\r\nAccept-Encoding: gzip, deflate\r\n"
    "User-Agent: Mozilla/4.0(compatible; MSIE 6.0; Windows NT 5.0; MyIE2; .NET CLR 1.1.4322)";

// The header block of a request; a worker's request carries its range after it.
std::string requestHeaders();
std::string requestHeaders(const ByteRange& range);

struct DownloadRequest {
    std::string url;    // direct address, http or https
    std::string target; // path of the file to write; its folder must exist
    unsigned workers = kDefaultWorkers;
    std::uint64_t minRangeBytes = kMinRangeBytes;
    unsigned maxRetries = kMaxRetries;
    std::chrono::milliseconds retryDelay{200};
    // A connection that brings no byte for this long is given up (and retried).
    std::chrono::seconds stallTimeout{60};
};

enum class DownloadMode {
    Empty,  // the server announced zero bytes
    Ranges, // fetched in parallel ranges
    Stream, // fetched as one plain stream
};

struct DownloadResult {
    std::string path;        // the target, now complete
    std::uint64_t bytes = 0; // its size
    DownloadMode mode = DownloadMode::Stream;
    unsigned ranges = 0; // ranges fetched in parallel (0 unless mode is Ranges)
};

class Downloader {
  public:
    explicit Downloader(DownloadRequest request);
    Downloader(const Downloader&) = delete;
    Downloader& operator=(const Downloader&) = delete;

    // Runs the download on the calling thread (the workers get threads of their own) and
    // returns when the file is complete, the download failed or it was cancelled. Run once.
    Result<DownloadResult> run();

    // Safe to call from any thread while run() is going.
    const DownloadProgress& progress() const { return progress_; }
    void cancel() { progress_.cancel(); }

  private:
    DownloadRequest request_;
    DownloadProgress progress_;
};

} // namespace vantorel::download
