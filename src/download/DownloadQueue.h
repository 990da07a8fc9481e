#pragma once
// The list of downloads both front ends show: any number of downloads, at most `maxRunning` at
// once, the rest waiting in the order they were added. Each is a DownloadJob for one target:
//
//     等待 (Waiting) -> 下载中 (Downloading) <-> 重试中 (Retrying) -> 已完成 (Done)
//                                                               -> 失败 (Failed, with why)
//     pause(): Waiting/Downloading/Retrying -> 已暂停 (Paused); the part stays beside the target
//     resume(): Paused/Failed/Cancelled -> Waiting; it goes on from its part
//     cancel(): stops it and removes its part; it stays in the list as 已取消 (Cancelled)
//     remove(): out of the list (a running one is paused first, so its part stays)
//
// A row keeps the size, bytes and percent it last knew while it is failed, paused or cancelled,
// and while a job that goes on again has not learnt them anew.
//
// The same target twice is one download: add() returns the one already listed (and lets a
// paused or failed one go on). The list is kept in `listFile` (JSON, replaced atomically on
// every change), so it survives a restart: what was not finished comes back paused, to go on
// from its part when resumed; what was finished keeps its path until removed.
//
// Resuming (resume(), or add() of a listed target) never puts a file over one the download did
// not put there: an unfinished download has nothing at its target (its bytes are in its part),
// a finished one the file it saved (the list keeps that file's stamp). Only the file a run was
// let replace when it began may still be replaced by the run that takes up its part, and only
// while it is unchanged (the part's resume state keeps its stamp). Unless the caller says the
// other file may be replaced, the download does not go on and the caller gets why
// (FailureKind::ForeignTarget) to ask the user. A new download whose target has an earlier run's
// part beside it is such a resume too.
//
// A list file that cannot be read (not JSON, not a list, not a regular file, a symbolic link,
// too large, a row that is not ours) is never overwritten: it is moved aside, as
// "downloads.json.broken-<date>" under a name no other file has, and loadNotice() tells the
// user what was kept where (stderr is told at once). When it cannot be moved aside, the list is
// not saved at all in this run.
//
// The queue moves itself along: a thread of its own notices finished jobs and starts waiting
// ones, at once when a job ends or a change is asked for, and every kWatchEvery while any
// runs; it tells each listener every item that changed (and every one removed), on that thread,
// outside the queue's lock. A front end listens instead of polling; refresh() gives the whole
// list at once. Nothing here waits for the network. Destroying the queue interrupts every
// running download (their parts stay) and saves the list.

#include "download/Checksum.h"
#include "download/DownloadJob.h"
#include "download/DownloadTarget.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace vantorel::download {

enum class QueueState { Waiting, Downloading, Retrying, Paused, Done, Failed, Cancelled };

// "等待", "下载中", "重试中", "已暂停", "已完成", "失败", "已取消".
std::string_view queueStateText(QueueState state);
// Waiting, downloading or retrying: not yet done, failed, cancelled or paused.
bool isUnfinished(QueueState state);

struct QueueEntry {
    std::string name;                   // what the list shows (an entry's name, a file name)
    std::vector<std::string> addresses; // tried in order (DownloadJob)
    std::string target;                 // the file to save
    std::vector<std::string> labels{};  // what messages call each address (JobOptions::labels)
    std::string catalogueId{};          // the catalogue entry it came from; empty: typed in
    std::optional<Checksum> checksum{}; // the digest the saved file must have (JobOptions)
    // What the file is held to, as a metalink document describes it (JobOptions).
    std::optional<PieceHashes> pieces{};
    std::optional<std::uint64_t> expectedLength{};

    bool operator==(const QueueEntry&) const = default;
};

struct QueueItem {
    std::uint64_t id = 0;
    QueueEntry entry;
    QueueState state = QueueState::Waiting;
    bool unfinished() const { return isUnfinished(state); }
    std::uint64_t total = 0; // meaningful when totalKnown
    bool totalKnown = false;
    std::uint64_t bytes = 0;
    std::uint64_t resumed = 0; // of those, bytes an earlier run had fetched
    double bytesPerSecond = 0;
    std::optional<double> secondsLeft; // while the speed and total are known
    int percent = 0;                   // 0..100
    std::string progressText;        // the job's label: "57%", "连接中断，3 秒后重试", ...
    std::string progressBrief;       // the same in fewer words, for a narrow label
    bool resolvingShareLink = false; // its share link is being resolved
    bool limited = false;            // running, held back by the speed limit
    bool refreshing = false;         // running, an expired address is being resolved again
    int retryIn = 0;                 // Retrying: seconds until the next attempt, when known
    std::string error;               // Failed: why; Paused: what stopping it said, when it has
    std::string errorDetail;         // the library's own words for a failure, for stderr
    // What became of its sources ("下载链接2 的文件与下载链接1 不同，已只用下载链接1"), in order.
    std::vector<std::string> notices;
    FailureKind errorKind = FailureKind::Other; // Failed: what kind of failure
    // Failed: the address the user gave it (replaceAddress) serves another file than its part,
    // which is left; the user decides between startOver() and keepFormerAddress(). The list
    // file keeps the row as it was before meanwhile.
    bool newAddressDiffers = false;

    bool operator==(const QueueItem&) const = default;
};

// What a resumed download may do with a file at its target that it did not put there.
enum class OtherFile { Refuse, Replace };

// The words a row's state shows, the same in the windows and the terminal: the state, or for a
// running download what holds it: "3 秒后重试" (retrying), "已限速" (held by the speed limit).
std::string queueStatusText(const QueueItem& item);

// What a listener is told: an item as it is now, or that it left the list.
struct QueueChange {
    QueueItem item;
    bool removed = false;
};
using QueueListener = std::function<void(const QueueChange&)>;

struct QueueOptions {
    unsigned maxRunning = 3;
    std::string listFile; // where the list is kept; empty: nowhere
    JobOptions job;       // for every download
    // Asks the catalogue for the current addresses of a row's entry (QueueEntry::catalogueId),
    // for its job's renewAddresses; empty: rows are not renewed.
    std::function<Result<std::vector<std::string>>(const QueueEntry&)> renewFromCatalogue;
};

class DownloadQueue {
  public:
    explicit DownloadQueue(QueueOptions options);
    ~DownloadQueue();
    DownloadQueue(const DownloadQueue&) = delete;
    DownloadQueue& operator=(const DownloadQueue&) = delete;

    // Adds a download (or finds the one for the same target) and returns its id. A listed one
    // that is paused, failed or done goes on, unless that is refused (see above): it then stays
    // as it was with the reason as its error. A new one refused is listed as failed.
    std::uint64_t add(QueueEntry entry, OtherFile other = OtherFile::Refuse);
    void pause(std::uint64_t id);
    // A paused or failed download goes on; refused with FailureKind::ForeignTarget (see above).
    Status resume(std::uint64_t id, OtherFile other = OtherFile::Refuse);
    // Saves a paused or failed download as `target` instead, its part moved along with it.
    Status moveTo(std::uint64_t id, const std::string& target);
    // A paused, failed or cancelled download gets `address` as its only address (named by
    // itself, no longer renewed from the catalogue) and goes on from its part, which the
    // download first proves the new address serves; refused as resume() is. When it serves
    // another file, the download fails with newAddressDiffers.
    Status replaceAddress(std::uint64_t id, const std::string& address,
                          OtherFile other = OtherFile::Refuse);
    // A download whose new address serves another file (newAddressDiffers) goes back to what
    // it was before that address was given: its addresses, state, error and progress; its part
    // stays. Refused for any other download.
    Status keepFormerAddress(std::uint64_t id);
    // A paused, failed or cancelled download drops its part (and its resume state) and goes on
    // from the first byte; refused with why when the part cannot be removed, or as resume() is.
    Status startOver(std::uint64_t id, OtherFile other = OtherFile::Refuse);
    void cancel(std::uint64_t id);
    void remove(std::uint64_t id);
    void setMaxRunning(unsigned count);
    // Options for the downloads started from now on (connections, ...). The speed limit is one
    // object shared by every download: a new rate set on it applies at once to running ones.
    void setJobOptions(JobOptions options);
    // Calls `listener` with every change from now on (see above), on the queue's thread; it
    // lives as long as the queue and must not call listen().
    void listen(QueueListener listener);

    // Moves the list along and returns every item in list order.
    std::vector<QueueItem> refresh();
    // Items that are waiting, downloading or retrying.
    std::size_t unfinished();
    // Downloads whose jobs have not stopped yet (a paused one stops soon after pause()).
    std::size_t active();
    // Pauses every running download (their parts stay); the list remembers them as paused.
    void pauseAll();

    // What the user must be told about the list file found at start ("" when nothing).
    const std::string& loadNotice() const { return loadNotice_; }

    // Where the list is kept by default: $XDG_DATA_HOME/Vantorel/downloads.json (or
    // ~/.local/share/...).
    static std::string defaultListFile();

    // How often the queue looks at its running downloads while none ends.
    static constexpr std::chrono::milliseconds kWatchEvery{200};

  private:
    struct Slot;
    Slot* find(std::uint64_t id);
    QueueItem viewOf(Slot& slot) const;
    // Notices finished jobs and starts waiting ones; true when the list changed (to be saved).
    bool step();
    // step(), and the list saved when it changed.
    void advance();
    void save() const;
    void load();
    // Moves the unreadable list file aside and says so; `why` is what is wrong with it.
    void setAside(const std::string& why);
    // Whether `slot` may go on (see above).
    Status mayGoOn(const Slot& slot, OtherFile other) const;
    // Lets a stopped `slot` go on, unless mayGoOn refuses; under the lock.
    Status goOn(Slot& slot, OtherFile other);
    // Wakes the watcher: something changed that the listeners should hear of soon.
    void poke();
    // The watcher's loop: moves the list along and tells the listeners what changed.
    void watch(std::stop_token stop);
    // The items that changed since last told (and the ones removed); under the lock.
    std::vector<QueueChange> changes();

    // Before the slots: a job ending while the queue is destroyed still finds them.
    std::mutex wakeMutex_;
    std::condition_variable_any wakeCv_;
    bool poked_ = false;
    mutable std::mutex mutex_;
    QueueOptions options_;
    std::vector<std::unique_ptr<Slot>> slots_;
    std::uint64_t nextId_ = 1;
    std::string loadNotice_;
    bool saveRefused_ = false;                // the list file found could not be moved aside
    std::map<std::uint64_t, QueueItem> told_; // what the listeners last heard of each item
    std::mutex listenersMutex_;
    std::vector<QueueListener> listeners_;
    std::jthread watcher_; // last: it stops before anything it uses goes
};

} // namespace vantorel::download
