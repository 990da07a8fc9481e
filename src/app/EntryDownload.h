#pragma once
// Downloading a catalogue entry into a folder: plain C++ that the main window polls.
//
// Addresses: the entry's first download address, then its second one when the first cannot be
// used or fails (an entry may carry a dead first link and a live mirror). Each goes through the
// share-link resolution, so a share link becomes the direct address of its file and an address
// of any scheme but http(s) is skipped. The first download that completes wins.
//
// The file is fetched under a hidden name beside the target and takes the target's name only
// once it is complete; a file that turns out to be a web page (an error page served in place of
// the installer) is deleted and reported as a failure. A failed or cancelled download leaves an
// existing file of the target's name as it was.
//
// The work runs on a thread of its own; view() and cancel() may be called from any thread.
// Destroying the object cancels a running download and waits for it to stop.

#include "catalogue/CatalogueRecord.h"
#include "update/Downloader.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vantorel::app {

inline constexpr std::string_view kEntryDoneText = "下载完毕~";
inline constexpr std::string_view kEntryFailedText = "下载失败！";
inline constexpr std::string_view kNoDownloadAddressText = "该软件没有可用的下载地址";

// The entry's download addresses in the order they are tried: url, then https when it differs.
// Only http(s) addresses are kept.
std::vector<std::string> entryDownloadAddresses(const catalogue::CatalogueRecord& entry);

enum class EntryPhase { Idle, Resolving, Downloading, Done, Failed, Cancelled };

struct EntryDownloadView {
    EntryPhase phase = EntryPhase::Idle;
    int percent = 0;          // 0..100, for the progress bar
    std::string progressText; // "57%", the bytes so far ("3.2MB") while the total is unknown,
                              // "下载完毕~" or "下载失败！" at the end
    std::string error;        // Failed: why, for the user
    std::string file;         // Done: the complete file

    bool finished() const {
        return phase == EntryPhase::Done || phase == EntryPhase::Failed ||
               phase == EntryPhase::Cancelled;
    }
};

class EntryDownload {
  public:
    // `target`: the path of the file to write; its folder must exist.
    EntryDownload(std::vector<std::string> addresses, std::string target);
    ~EntryDownload();
    EntryDownload(const EntryDownload&) = delete;
    EntryDownload& operator=(const EntryDownload&) = delete;

    // Starts the work; a second call does nothing.
    void start();
    void cancel();
    EntryDownloadView view() const;
    const std::string& target() const { return target_; }

  private:
    void run();
    Status fetchOne(const std::string& address);
    void finish(EntryPhase phase, std::string error = {});

    const std::vector<std::string> addresses_;
    const std::string target_;

    mutable std::mutex mutex_;
    EntryPhase phase_ = EntryPhase::Idle;
    bool resolvingShareLink_ = false;
    std::string error_;
    std::unique_ptr<update::Downloader> downloader_;

    std::atomic<bool> cancelled_{false};
    std::thread worker_;
};

} // namespace vantorel::app
