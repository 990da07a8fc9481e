#pragma once
// The multi-threaded downloader: fetches one file from its sources into a local file.
//
// The request's address is the first source; `mirrors` are more. The first that answers the
// probe defines the file; the others prove they serve the same bytes (SourceProof.h) and then
// share the workers (Sources.h). A source that fails, lies or is gone is dropped while another
// goes on; a share link whose address expired is resolved again (`resolve`); when every source is
// gone, `renew` is asked once for current addresses.
//
// One probe, a request for the file's first byte, learns its length (from Content-Range) and
// its validators (ETag, Last-Modified) without starting a body that would be thrown away. A known,
// non-zero length without a content coding is fetched in byte ranges by several workers, each
// on a connection of its own that it keeps from request to request; each copies what it reads
// straight into a memory-mapped view of the file, holding the job's lock for the copy and the
// arrived-bytes counter. A SegmentScheduler decides which bytes each worker fetches: a worker
// that runs out of work takes over the back part of the range that would take longest, and a
// connection much slower than the others hands its remainder on (see SegmentScheduler.h). A
// worker asks for its range in pieces of about 150 ms of its connection's speed (longer when
// the server is far away; the first 128 KiB, then at most twice the last), reserved before the
// request goes out, so a range is only ever split between two requests: no reply is cut short,
// nothing arrives twice but the few KiB held beside a range that a request asks for again to
// compare (RangeWorker.h), and the connection stays open. Only a connection far slower than the
// others loses its request under way, when waiting for it would hold up the end (a trickling
// mirror's 128 KiB would take minutes).
//
// Every reply is checked before a byte of it is written: it must be exactly the asked range
// (status 206, the asked Content-Range, the probe's total), of the same version (every request
// carries If-Range; the reply's ETag and Last-Modified must not contradict the probe's), with a
// well-formed head (a head that never ends, or a Content-Length that is not one plain number,
// is a failure). A server that ignores or misplaces ranges makes the job fall back to one plain
// stream. A reply without a length, or with a content coding (decoded here), is fetched as one
// stream too; a stream is not resumed.
//
// One version only: a reply that shows the file changed on the server, by its validators or by
// bytes that differ from those held (the overlap of each request, the closing proof of sampled
// blocks before the file takes its name, ClosingProof.h), throws away what was fetched and starts
// over from the new version, twice at most; a third change fails. A server without validators is
// caught by its bytes alone. A mirror whose bytes differ is dropped and every byte it sent is
// fetched again. The result is always one version, whole.
//
// The file is built in its part file beside the target (PartFile), with its space reserved up
// front, and renamed over the target only when every byte has arrived (and `check`, when given,
// accepts it). Beside the part, a resume state (ResumeState) records the complete byte intervals
// as soon as the first are in and then about once a second (Checkpoint.h), after the view holding
// them has been flushed. A run for the same target whose part and state match the server's file
// (same address, a strong ETag or the same Last-Modified and length) fetches only the missing
// bytes; a part of a server without validators, and a part another address left, are taken up
// when the first source proves it holds the same bytes (sampled blocks); anything else starts
// over cleanly.
// interrupt() and every failure a later run can get past (the network, the server's 5xx, 408,
// 429 or 403, the speed floor, a full disk) keep the part and its state, and the message says
// so (Error::partKept) -- but only when the state on disk lists bytes a later run can prove.
// cancel(), 404 and 410, a version change, and a part changed by someone else remove them
// (PartPolicy.h). A failure before this run touched the part keeps what was there: a part that
// another address left is not this run's to throw away.
//
// A file is held to a digest: the request's checksum, else the one the first source's server
// announces (Announced.h), and to its pieces' digests (`pieces`). A complete file without them
// never takes the target's name: a piece that fails is fetched again from another source, and
// the source that sent it is dropped; a whole file without its digest fails with
// FailureKind::ChecksumMismatch (the message gives both digests), its part removed. Mirrors that
// server announces join the sources as the request's mirrors do.
//
// A reply proves it is the probe's version only by carrying each validator the probe had, the
// same, from the same server: a range reply without one, or reached through a redirect to
// another server, counts as a version change.
//
// Choices:
// - Workers: 8 by default, at most 16. More connections than that rarely help one server and
//   look like abuse to it.
// - A range is never smaller than 512 KiB: a connection costs a round trip and a slow start,
//   which a smaller range does not repay; small files therefore use fewer workers.
// - Read buffer: libcurl's receive buffer of each worker, 512 KiB, copied straight into the
//   view; large pieces keep the lock and the callback overhead per byte low.
// - A cut or failed request is resumed from the first byte it is missing, after a back-off that
//   doubles from 200 ms (at most 5 s). A worker that fails 5 times in a row, with neither a
//   request answered in full nor kProgressResetBytes (256 KiB) brought in between, gives its
//   range up for another worker; workers that gave up end, and when
//   every worker has ended the ranges left get another round. Rounds that bring no byte are
//   started again after a wait that doubles (at most 30 s) until no byte has arrived for
//   `giveUpAfter`: then the download fails. Meanwhile the progress shows Stalled, with the
//   seconds until the next attempt. Replies 408, 429 and 5xx are retried the same way; other
//   error replies end the download at once.
// - Speed floor: a connection under 1 KiB/s for 30 s (not counting time our own speed limit
//   held it back) is dropped and its range goes on over a
//   new connection (counting as a retry unless it made real progress); when the download as a
//   whole stays under the floor for 2 minutes, no connection can be above it, and it fails.
// - Disk: a length beyond the free space of the target's folder, less what other downloads of
//   the process were promised (FreeSpace.h), fails at once ("磁盘空间不足") and reserves
//   nothing.

#include "common/Result.h"
#include "download/Checksum.h"
#include "download/DownloadProgress.h"
#include "download/PieceHashes.h"
#include "download/ResumeState.h"
#include "download/Sources.h"
#include "download/SpeedLimit.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantorel::download {

// Inclusive byte range [first, last], as in "Range:bytes=first-last".
struct ByteRange {
    std::uint64_t first = 0;
    std::uint64_t last = 0;
};

inline constexpr unsigned kDefaultWorkers = 8;
inline constexpr unsigned kMaxWorkers = 16;
inline constexpr std::uint64_t kMinRangeBytes = 512 * 1024;
inline constexpr long kReadBufferBytes = 512 * 1024;
inline constexpr unsigned kMaxRetries = 5;
inline constexpr std::uint64_t kProgressResetBytes = 256 * 1024;

// Sent with every request of a download.
inline constexpr std::string_view kRequestHeaderBlock =
    "Accept: */*\r\nAccept-Language: zh-cn\r\nAccept-Encoding: gzip, deflate\r\n"
    "User-Agent: Mozilla/4.0(compatible; MSIE 6.0; Windows NT 5.0; MyIE2; .NET CLR 1.1.4322)";

// The header block of a request; a worker's request carries its range after it.
std::string requestHeaders();
std::string requestHeaders(const ByteRange& range);
// A range of the version `validators` name: with If-Range, when they can name one, a server
// that now has another version answers with the whole new file instead of a part of it.
std::string requestHeaders(const ByteRange& range, const Validators& validators);

// The address (as the resume key, without credentials) whose part an earlier, unfinished
// download of `target` left beside it; empty when there is none.
std::string addressOfPartFor(const std::string& target);

struct DownloadRequest {
    std::string url;    // direct address, http or https
    std::string target; // path of the file to write; its folder must exist
    // What names this download in its resume state (the address the user gave, which may have
    // led to `url` through a share link); `url` when empty.
    std::string resumeKey;
    std::string label;        // how the user knows the address (see SourceSpec)
    bool refreshable = false; // resumeKey is a share link that can be resolved again
    // More addresses of the same file, used at once once each proves it serves the same bytes.
    std::vector<SourceSpec> mirrors;
    // Resolves a source's address (a share link) to a direct address: for mirrors given
    // unresolved, and to refresh an address that expired. None: addresses are used as they are.
    std::function<Result<std::string>(const std::string& address)> resolve;
    // When every source is gone: the addresses where they came from gives now (a catalogue asked
    // again for the entry). Asked once per run.
    std::function<Result<std::vector<SourceSpec>>()> renew;
    // A part beside the target that the first source cannot prove it holds (another file's
    // bytes): true starts over, false fails with FailureKind::NotSameFile and leaves the part.
    bool startOverIfDifferent = true;
    unsigned workers = kDefaultWorkers;
    std::uint64_t minRangeBytes = kMinRangeBytes;
    unsigned maxRetries = kMaxRetries;
    std::chrono::milliseconds retryDelay{200};
    // An attempt that brings this many bytes of its range restores the range's retries.
    std::uint64_t progressResetBytes = kProgressResetBytes;
    // The speed floor: a connection under `speedFloor` bytes per second for `floorTime` is
    // replaced; the whole download under it for `giveUpAfter` fails.
    double speedFloor = 1024;
    std::chrono::milliseconds floorTime{30'000};
    std::chrono::milliseconds giveUpAfter{120'000};
    // The speed limit this download shares with every other of the program; none: no limit.
    // Time it holds the download back never counts against the speed floor, so a download is
    // never ended for being as slow as the user asked.
    std::shared_ptr<SpeedLimit> limit;
    // How often the resume state is brought up to date.
    std::chrono::milliseconds checkpointEvery{1000};
    // Free bytes in a folder; statvfs when empty (tests give a smaller disk).
    std::function<std::optional<std::uint64_t>(const std::string& folder)> freeSpace;
    // A file is expected, not a web page: a probe reply of Content-Type text/html fails at once
    // (FailureKind::WebPage).
    bool refuseWebPages = false;
    // The digest the complete file must have to take the target's name; it wins over one the
    // server announces.
    std::optional<Checksum> checksum;
    // Asked about the complete part file before it takes the target's name; a failure is the
    // download's, and the part goes.
    std::function<Status(const std::string& complete)> check;
    // Digests of the file's pieces, checked once every byte is in: a piece that fails is fetched
    // again, and the one source that sent it is dropped (named in the notices).
    std::optional<PieceHashes> pieces;
    // The file's length as a description of it says: a source of another length serves another
    // file.
    std::optional<std::uint64_t> expectedLength;
    // What stood at the target when the caller let this download replace it; the resume state
    // keeps it, so that a later run may replace that same file and no other (ResumeState).
    std::optional<FileStamp> replaces;
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
    unsigned ranges = 0;            // ranges planned at the start (0 unless mode is Ranges)
    std::uint64_t resumedBytes = 0; // bytes a previous run had already fetched
};

class Downloader {
  public:
    explicit Downloader(DownloadRequest request);
    Downloader(const Downloader&) = delete;
    Downloader& operator=(const Downloader&) = delete;

    // Runs the download on the calling thread (the workers get threads of their own) and
    // returns when the file is complete, the download failed or it was stopped. Run once.
    Result<DownloadResult> run();

    // Safe to call from any thread while run() is going.
    const DownloadProgress& progress() const { return progress_; }
    // Stops for good: the part file and its state are removed.
    void cancel() { progress_.cancel(); }
    // Stops so that a later run can go on: the part file and its state stay.
    void interrupt() {
        keepPart_.store(true);
        progress_.cancel();
    }

  private:
    DownloadRequest request_;
    DownloadProgress progress_;
    std::atomic<bool> keepPart_{false};
};

} // namespace vantorel::download
