#pragma once
// The update download: the release's address downloaded by the one download job into a folder,
// under the release's file name, shown through the update window's texts:
//
//     Resolving ("正在解析、") -> Downloading ("正在下载、") -> Done ("下载完毕~")
//                                                          -> Failed ("下载失败！")
//         +-> AddressError ("后台地址有误，需联系作者处理、")
//     cancel() at any point  -> Cancelled (nothing is put in place; the part is removed)
//     interrupt() at any point -> Interrupted (nothing is put in place; the part is kept)
//
// An installer is expected, so a web page in its place is an address error (see DownloadJob);
// the saved release gets the execute permission. The closing message is the status text,
// except after a failure: "下载失败,请重试、"; once done it says where the release was saved,
// and for an installed copy that the old program stays as it is.
// view(), cancel() and interrupt() may be called from any thread. Destroying the flow stops a
// running download and keeps its part for a later attempt.

#include "download/DownloadJob.h"
#include "update/ReleaseFolder.h"
#include "update/VersionCheck.h"

#include <memory>
#include <string>

namespace vantorel::update {

inline constexpr std::string_view kRetryText = "下载失败,请重试、";
inline constexpr std::string_view kOpenActionText = "打开";
inline constexpr std::string_view kRetryActionText = "重试";
inline constexpr std::string_view kSavedAtText = "新版本已保存到：";
inline constexpr std::string_view kInstalledCopyText =
    "本程序由软件包管理器安装，旧版本不会被删除。";

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

class UpdateFlow {
  public:
    UpdateFlow(ReleaseInfo release, ReleaseFolder folder, UpdateFlowOptions options = {});

    // Starts the work; a second call does nothing.
    void start() { job_.start(); }
    void cancel() { job_.cancel(); }
    void interrupt() { job_.interrupt(); }
    UpdateView view() const;
    std::string targetPath() const { return job_.target(); }

  private:
    const bool installedCopy_;
    download::DownloadJob job_;
};

} // namespace vantorel::update
