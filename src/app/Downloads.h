#pragma once
// The program's one download list, as the windows use it: the DownloadQueue with the user's
// preferences applied, telling the windows what changed.
//
// - The queue's listener hands each change to the user-interface thread, where items() is
//   brought up to date and refreshed() announced (once for the changes that arrive together);
//   after every change asked for here the whole list is read at once. Nothing here waits for
//   the network: removing a running download, which waits for its transfer to stop, happens on
//   a worker, and the row is gone from items() at once.
// - A download added (or resumed) here that then ends, done or failed, is announced once with
//   ended(), and a failure also with failed(); one the user cancels ends 已取消 and is not. One
//   whose new address turns out to serve another file has not failed: the user has a choice to
//   make, announced with newAddressDiffers() alone.
// - Preferences: downloads at once and the job options (connections) go to the queue and count
//   from the next download on; the speed limit is the one limit every download shares (the
//   update download too) and applies at once. Catalogue downloads always refuse a web page in
//   the installer's place, and when every address of one has failed its entry's current
//   addresses are asked of the catalogue again. The download folder is the preference's, else
//   the desktop.

#include "app/Workers.h"
#include "download/DownloadQueue.h"
#include "settings/Preferences.h"

#include <QObject>
#include <QString>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace vantorel::app {

class Downloads : public QObject {
    Q_OBJECT
  public:
    // `listFile`: where the list is kept between runs; empty: nowhere.
    Downloads(const settings::Preferences& preferences, std::string listFile);

    // The job options the preferences ask for, with `limit` as the speed limit.
    static download::JobOptions jobOptions(const settings::Preferences& preferences,
                                           std::shared_ptr<download::SpeedLimit> limit);
    // The speed limit every download of the program shares.
    const std::shared_ptr<download::SpeedLimit>& speedLimit() const { return limit_; }
    // The desktop folder: VANTOREL_DESKTOP, else the user's desktop.
    static QString desktopFolder();

    const settings::Preferences& preferences() const { return preferences_; }
    void apply(const settings::Preferences& preferences);
    // Where downloads are saved: the preference, else the desktop.
    QString folder() const;

    // The caller has asked the user before adding over an existing file.
    std::uint64_t add(download::QueueEntry entry);
    void pause(std::uint64_t id);
    // Refused with FailureKind::ForeignTarget when a file the download did not save stands
    // at its target and `other` does not let it be replaced.
    Status resume(std::uint64_t id, download::OtherFile other = download::OtherFile::Refuse);
    // Moves a paused or failed download to the first free "name (n).ext" beside its target
    // and lets it go on there.
    Status resumeUnderFreeName(std::uint64_t id);
    // Pauses what waits or runs, resumes what is paused or failed (refused as resume() is).
    Status togglePause(std::uint64_t id);
    // A stopped download goes on from `address` alone (DownloadQueue::replaceAddress).
    Status replaceAddress(std::uint64_t id, const std::string& address);
    // A stopped download drops its part and goes on from the start (DownloadQueue::startOver).
    Status startOver(std::uint64_t id);
    // A download whose new address serves another file is again as it was before
    // (DownloadQueue::keepFormerAddress).
    Status keepFormerAddress(std::uint64_t id);
    void cancel(std::uint64_t id);
    void remove(std::uint64_t id);
    // Pauses every unfinished download; the list remembers them as paused.
    void pauseAll();
    // Anything waits, downloads or retries (asked of the queue, not of the last refresh).
    bool unfinished();

    // The list as of the last refresh.
    const std::vector<download::QueueItem>& items() const { return items_; }
    const download::QueueItem* find(std::uint64_t id) const;
    const download::QueueItem* findTarget(const std::string& target) const;
    void refresh();
    // What the user must be told about the list file found at start; "" when nothing.
    QString loadNotice() const;

  signals:
    void refreshed();
    void added(std::uint64_t id);
    void ended(const download::QueueItem& item);
    void failed(const download::QueueItem& item);
    void newAddressDiffers(const download::QueueItem& item);

  private:
    // After a stopped download was asked to go on: its ending is announced if it does.
    Status goingOn(std::uint64_t id, Status asked);
    // A change the queue told of, on the user-interface thread.
    void take(const download::QueueChange& change);
    // refreshed(), and the endings of the watched downloads.
    void announce();

    settings::Preferences preferences_;
    std::shared_ptr<download::SpeedLimit> limit_;
    download::DownloadQueue queue_;
    std::vector<download::QueueItem> items_;
    std::set<std::uint64_t> watched_;  // endings to announce
    std::set<std::uint64_t> removing_; // handed to a worker, no longer shown
    bool announcing_ = false;          // an announce() is on its way
    Workers workers_;                  // last: a removal under way ends before the queue goes
};

} // namespace vantorel::app
