#pragma once
// One download from an address to a saved file, as a state machine a window or a terminal only
// has to show:
//
//     Resolving ("正在解析、") -> Downloading ("正在下载、") -> Done ("下载完毕~")
//                                                          -> Failed ("下载失败！")
//         +-> AddressError (the address, or what it serves, cannot be used)
//     cancel() / interrupt() at any point -> Cancelled / Interrupted (nothing is put in place)
//
// The addresses are sources of one file (a catalogue entry's two links, mirrors): the first that
// resolves and answers defines the file, and every other one that proves it serves the same
// bytes is used at the same time (see Sources.h); one that serves another file is dropped and
// named in the view's notices. Each goes through downloadAddressFor: a share link becomes the
// direct address of its file (and is resolved again when that expires), any other http(s)
// address is used as it is, anything else is an address error.
//
// With `refuseWebPages` (an installer is expected) a reply to the download's first request that
// says it is a web page (Content-Type text/html) is an address error, so a page posing as the
// file is never downloaded. A complete file that begins like an HTML document is deleted and is
// an address error too.
//
// The multi-threaded Downloader builds the file in its part file beside the target; only a
// complete, checked file takes the target's name, so an older file of that name stays until
// then and a failed or stopped download leaves it as it was. A file put at the target while the
// job runs is never replaced: the download fails with FailureKind::ForeignTarget instead.
//
// A job held to a checksum (JobOptions::checksum) saves only a file with that digest. A file
// already at the target that has it is the download done: nothing is fetched. One that has not is
// dealt with as any file at the target.
//
// cancel() ends the download for good: its part is removed. interrupt() ends it so it can be
// taken up again later (closing a window, an interrupt signal in a terminal): the part and its
// resume state stay, and the next job for the same target and address fetches only what is
// missing; so do failures that a later run can get past. The address whose part is beside the
// target leads; a part another address left is taken up once the leading address proves it
// holds the same file (else it starts over, or with !startOverIfDifferent the job fails with
// FailureKind::NotSameFile and leaves it). Destroying a running job interrupts it and waits for
// it to stop.
//
// view(), cancel() and interrupt() may be called from any thread while the job runs, either on
// a thread of its own (start()) or on the caller's (run()).

#include "download/DownloadProgress.h"
#include "download/DownloadTarget.h"
#include "download/Downloader.h"
#include "download/ShareLink.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace vantorel::download {

inline constexpr std::string_view kDownloadingText = "正在下载、";
inline constexpr std::string_view kDoneText = "下载完毕~";
inline constexpr std::string_view kFailedText = "下载失败！";

enum class JobPhase {
    Idle,
    Resolving,
    Downloading,
    Done,
    Failed,
    AddressError,
    Cancelled,
    Interrupted
};

struct JobView {
    JobPhase phase = JobPhase::Idle;
    bool resolvingShareLink = false; // Resolving: the address being resolved is a share link
    DownloadSnapshot progress;       // of the download under way (or the last one)
    int percent = 0;                 // 0..100, for a progress bar
    std::string progressText;        // "57%", or the bytes so far ("3.2MB") while the total is
                                     // unknown; "100%" once done
    std::string progressBrief;       // progressText in fewer words, for a narrow label
    std::string error;               // Failed / AddressError: why, for the user
    std::string errorDetail;         // the library's own words for it, for a terminal or a log
    FailureKind errorKind = FailureKind::Other; // Failed / AddressError: what kind of failure
    std::string file;                           // Done: the saved file
    std::optional<FileStamp> saved; // Done: its stamp as saved, to know it from another later

    bool finished() const {
        return phase != JobPhase::Idle && phase != JobPhase::Resolving &&
               phase != JobPhase::Downloading;
    }
};

struct JobOptions {
    ShareLinkOptions share;
    unsigned workers = kDefaultWorkers;
    std::chrono::milliseconds retryDelay{200};
    // How long a download waits for a byte, retrying, before it fails (see DownloadRequest).
    std::chrono::milliseconds giveUpAfter{120'000};
    // The one speed limit all downloads share (see SpeedLimit); none: no limit.
    std::shared_ptr<SpeedLimit> limit;
    bool refuseWebPages = false;
    // A part beside the target that holds another file's bytes: start over (true), or fail with
    // FailureKind::NotSameFile and leave it.
    bool startOverIfDifferent = true;
    bool executable =
        false; // the saved file may be run: execute permission wherever it is readable
    // Called on the job's thread once it has ended and its view is final, e.g. to wake a front
    // end that waits for it.
    std::function<void()> onEnded;
    // What the user calls each address ("下载链接1", "镜像1"), parallel to the addresses, for
    // messages that name a source; empty (or shorter): an address is named by itself, without
    // its credentials (labelOf).
    std::vector<std::string> labels;
    // The digest the saved file must have (DownloadRequest::checksum); none: the one its server
    // announces, if any.
    std::optional<Checksum> checksum;
    // Asks where the file is now (a catalogue entry's current addresses) once every address
    // has failed; empty: nobody to ask.
    std::function<Result<std::vector<std::string>>()> renewAddresses;
    // What else the file is held to (see DownloadRequest): its pieces' digests, its length.
    std::optional<PieceHashes> pieces;
    std::optional<std::uint64_t> expectedLength;
};

class DownloadJob {
  public:
    // `target`: the path of the file to save; its folder must exist.
    DownloadJob(std::vector<std::string> addresses, std::string target, JobOptions options = {});
    ~DownloadJob();
    DownloadJob(const DownloadJob&) = delete;
    DownloadJob& operator=(const DownloadJob&) = delete;

    // Runs the job on a thread of its own; a second call does nothing.
    void start();
    // Runs the job on the calling thread and returns its final view. Call once, without start().
    JobView run();

    void cancel();
    void interrupt();
    JobView view() const;
    const std::string& target() const { return target_; }
    // The name of address `i` in messages: its label, else the address without credentials.
    std::string labelOf(std::size_t i) const;

  private:
    void work();
    // A file with the digest the job is held to stands at the target already.
    bool alreadySaved() const;
    // The direct address of `address` (a share link resolved); resolveShown() shows it as the
    // job's phase, for the address the download starts from.
    Result<std::string> resolveShown(std::size_t i);
    Result<std::string> resolve(const std::string& address);
    // The download from addresses_[first] (at `direct`), with `others` as more sources of it,
    // as the phase the job ends in.
    JobPhase fetch(std::size_t first, const std::string& direct,
                   const std::vector<std::size_t>& others, Error& error);
    void finish(JobPhase phase, Error error = {});
    bool stopping() const { return stopSource_.stop_requested(); }

    const std::vector<std::string> addresses_;
    const std::string target_;
    const JobOptions options_;

    mutable std::mutex mutex_;
    JobPhase phase_ = JobPhase::Idle;
    bool resolvingShareLink_ = false;
    std::string error_;
    std::string errorDetail_;
    FailureKind errorKind_ = FailureKind::Other;
    std::optional<FileStamp> saved_;
    std::optional<FileStamp> replaceable_; // what stood at the target when the job began
    std::unique_ptr<Downloader> downloader_;

    std::stop_source stopSource_;        // ends a share-link step under way at once
    std::atomic<bool> cancelled_{false}; // stopped for good (else interrupted)
    std::thread worker_;
};

} // namespace vantorel::download
