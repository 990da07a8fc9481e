#pragma once
// The update download: the release's address downloaded by the one download job into a folder,
// under the release's file name, shown through the update window's texts:
//
//     Resolving ("正在解析、") -> Downloading ("正在下载、") -> Done ("下载完毕~")
//                                                          -> Failed ("下载失败！")
//         +-> AddressError ("后台地址有误，需联系作者处理、")
//     cancel() at any point  -> Cancelled (nothing is put in place; the part is removed)
//
// An installer is expected, so a web page in its place is an address error (see DownloadJob).
// The closing message is the status text, except after a failure: "下载失败,请重试、".
// view() and cancel() may be called from any thread. Destroying the flow stops a running
// download and keeps its part for a later attempt.

#include "download/DownloadJob.h"
#include "update/VersionCheck.h"

#include <memory>
#include <string>

namespace vantorel::update {

inline constexpr std::string_view kRetryText = "下载失败,请重试、";
inline constexpr std::string_view kOpenActionText = "打开";
inline constexpr std::string_view kRetryActionText = "重试";

using UpdatePhase = download::JobPhase;

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
        return phase != UpdatePhase::Idle && phase != UpdatePhase::Resolving &&
               phase != UpdatePhase::Downloading;
    }
};

using UpdateFlowOptions = download::JobOptions;

// The name the release is saved under: the reply's file name made safe for one folder, or
// "Vantorel_v" + version when the reply names none.
std::string releaseFileName(const ReleaseInfo& release);

// Whether the old program should be retired after the user opens `downloaded`: only when the
// new file was saved beside the program (in the same folder), is a different, existing file,
// and the program file exists too.
bool shouldRetireProgram(std::string_view programFile, std::string_view downloaded);

class UpdateFlow {
  public:
    UpdateFlow(ReleaseInfo release, std::string folder, UpdateFlowOptions options = {});

    // Starts the work; a second call does nothing.
    void start() { job_.start(); }
    void cancel() { job_.cancel(); }
    UpdateView view() const;
    std::string targetPath() const { return job_.target(); }

  private:
    download::DownloadJob job_;
};

} // namespace vantorel::update
