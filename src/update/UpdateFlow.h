#pragma once
// One update download, from the release's address to a complete file, as a state machine the
// windows only have to show:
//
//     Resolving ("正在解析、")  -> Downloading ("正在下载、") -> Done ("下载完毕~")
//           |                          |                  -> Failed ("下载失败！")
//           +-> AddressError ("后台地址有误，需联系作者处理、")
//     cancel() at any point        -> Cancelled (nothing is put in place)
//
// Resolving: a share link goes through resolveShareLink; a plain http(s) address is used as it
// is; anything else is an address error. The direct address is then asked for its headers
// (HEAD): a reply that says it is a web page (Content-Type text/html) is an address error, so a
// page posing as the file is never downloaded. A server that does not answer HEAD is left to
// the downloader to judge.
//
// Downloading: the multi-threaded Downloader writes the release into `folder` under a hidden
// name. Once complete, a file that turns out to be a web page after all (it begins with an
// HTML document type or an <html> tag) is deleted and reported as an address error; anything
// else takes the name releaseFileName(). An older file of that name stays until then. Progress is
// read from the downloader's arrived-bytes counter whenever view() is called; the window polls it a
// few times a second.
//
// The work runs on a thread of the flow's own; view() and cancel() may be called from any
// thread. Destroying the flow cancels a running download and waits for it to stop.

#include "update/Downloader.h"
#include "update/ShareLink.h"
#include "update/VersionCheck.h"

#include <atomic>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

namespace vantorel::update {

inline constexpr std::string_view kDownloadingText = "正在下载、";
inline constexpr std::string_view kDoneText = "下载完毕~";
inline constexpr std::string_view kFailedText = "下载失败！";
inline constexpr std::string_view kRetryText = "下载失败,请重试、";
inline constexpr std::string_view kOpenActionText = "打开";
inline constexpr std::string_view kRetryActionText = "重试";

enum class UpdatePhase { Idle, Resolving, Downloading, Done, Failed, AddressError, Cancelled };

struct UpdateView {
    UpdatePhase phase = UpdatePhase::Idle;
    std::string status;      // for the status label
    int percent = 0;         // 0..100, for the progress bar
    std::string percentText; // for the progress label: "57%", or the bytes so far ("3.2MB")
                             // while the total is unknown
    std::string message;     // once finished: the text of the closing message
    std::string file;        // Done: the complete file
    std::string detail;      // Failed / AddressError: why, in technical terms

    bool finished() const {
        return phase == UpdatePhase::Done || phase == UpdatePhase::Failed ||
               phase == UpdatePhase::AddressError || phase == UpdatePhase::Cancelled;
    }
};

struct UpdateFlowOptions {
    ShareLinkOptions share;
    unsigned workers = kDefaultWorkers;
    std::chrono::milliseconds retryDelay{200};
    std::chrono::seconds stallTimeout{60};
};

// The name the release is saved under: the reply's file name made safe for one folder, or
// "Vantorel_v" + version when the reply names none.
std::string releaseFileName(const ReleaseInfo& release);

// Whether a downloaded file begins like an HTML document.
bool looksLikeWebPage(const std::filesystem::path& file);

// Where a download waits, hidden beside `target` and named after it, until it has been checked.
std::filesystem::path stagingPathFor(const std::filesystem::path& target);

enum class StagedOutcome { Saved, WebPage, NotSaved };

// Gives a downloaded staging file the target's name, unless it begins like a web page. A web
// page, or a file that cannot be renamed (`ec` says why), is removed; an older target is then
// left as it was.
StagedOutcome saveStaged(const std::filesystem::path& staging, const std::filesystem::path& target,
                         std::error_code& ec);

// Whether the old program should be retired after the user opens `downloaded`: only when the
// new file was saved beside the program (in the same folder), is a different, existing file,
// and the program file exists too.
bool shouldRetireProgram(std::string_view programFile, std::string_view downloaded);

class UpdateFlow {
  public:
    UpdateFlow(ReleaseInfo release, std::string folder, UpdateFlowOptions options = {});
    ~UpdateFlow();
    UpdateFlow(const UpdateFlow&) = delete;
    UpdateFlow& operator=(const UpdateFlow&) = delete;

    // Starts the work; a second call does nothing.
    void start();
    void cancel();
    UpdateView view() const;
    std::string targetPath() const { return target_; }

  private:
    void run();
    void finish(UpdatePhase phase, std::string detail = {}, std::string file = {});
    Status checkNotAPage(const std::string& direct) const;

    const ReleaseInfo release_;
    const std::string target_;
    const UpdateFlowOptions options_;

    mutable std::mutex mutex_;
    UpdatePhase phase_ = UpdatePhase::Idle;
    std::string detail_;
    std::string file_;
    std::unique_ptr<Downloader> downloader_;

    std::atomic<bool> cancelled_{false};
    std::thread worker_;
};

} // namespace vantorel::update
