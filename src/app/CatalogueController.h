#pragma once
// The main window's catalogue flows: search, result list, details with logo, the pop-up menu's
// open and copy actions, and the download of an entry.
//
// Choices:
// - Search: 按钮_搜索 and Enter (virtual key 13) in 编辑框_搜索框 search for the box's text,
//   trimmed; an empty keyword asks for one and sends nothing. The request runs on a worker while
//   按钮_搜索 is disabled and the count label reads "正在搜索…"; a search asked for while one
//   runs is not started. A failed search tells the user why and leaves the list as it was. A
//   new result keeps the shown entry only when that entry is listed again; otherwise the
//   details return to their captions and 按钮_下载 is disabled. A finished search enables
//   按钮_更多: its menu also opens the download list and the settings; its entry items ask for
//   an entry ("请先双击列表中的软件", titled "友情提醒") while none is shown.
// - Deadlines: searchDeadline and logoDeadline (rows of net/Deadlines.h); destroying the
//   controller stops its running requests at once.
// - List: "序号" counts from 1; the size column is bytes / 1048576 with at most two decimals,
//   trailing zeros dropped ("1MB", "0.5MB", "117.74MB"); "图标地址" shows logo48 as the reply
//   gives it.
// - Details: a double-click on a row, or Enter in the list on the selected row, shows that
//   entry: the four labels at once (a text cut off by its label gets a tooltip), the logo when
//   it arrives (fetched and decoded on a worker within catalogue::kLogoLimits; a logo that
//   cannot be fetched or decoded leaves 图片框_图标 empty; a late logo of an entry no longer
//   shown is dropped). A right click on a row shows that entry and opens 子菜单 at the pointer. The
//   shown entry enables 按钮_更多 and 按钮_下载, and the menu and the download act on it, not on
//   whatever row is selected later.
// - Open: only http and https addresses reach the desktop (Shell); others are refused with a
//   message. Copy: the text replaces the clipboard and "已复制：" + the text is confirmed in a
//   message that closes by itself after three seconds, titled with the action's name
//   ("复制_下载地址1：", "复制_下载地址2：", "复制_应用详细："); an empty address reads "（空）".
// - Download: into the download folder (the preference, else the desktop: VANTOREL_DESKTOP, else
//   the user's desktop; created when missing) as the safe form of displayname + "_" +
//   versionname + ".exe"; the first download address, then the second (an installer is
//   expected, so a web page in its place fails). An existing file of that name is replaced only
//   when the user agrees. The entry goes into the download list (Downloads), whatever else
//   downloads; the same file twice is one download. A download that fails is told in a message
//   ("下载失败！" and the reason in Chinese; a library's own words go to stderr).
// - While it shows no one download, 标签_进度 follows the list: how many run ("2 个下载进行中"),
//   else how many are paused ("2 个下载已暂停", an earlier run's at start), else nothing; a
//   click on it opens the list.
// - The progress shown belongs to one entry: showing an entry shows its download when the list
//   has one; otherwise the last download started here stays shown while it is unfinished, with
//   the downloading entry's name before its state ("方格表格：57%", the name shortened to fit),
//   and the label and the bar name it in their tooltip; the label's tooltip adds the speed and
//   the time left. Showing another entry once that download is over clears the bar and the
//   label. The bar and label follow every refresh of the list.

#include "app/Shell.h"
#include "app/Workers.h"
#include "catalogue/CatalogueRecord.h"
#include "catalogue/CatalogueState.h"
#include "download/DownloadQueue.h"
#include "net/Deadlines.h"
#include "picture/Picture.h"

#include <QMessageBox>
#include <QPointer>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vantorel::app {

class MainWindow;
class Downloads;

inline constexpr std::string_view kSearchingText = "正在搜索…";
inline constexpr std::string_view kCopiedPrefix = "已复制：";
inline constexpr std::string_view kConfirmationTitle = "友情提醒";
inline constexpr std::string_view kNoDownloadAddressText = "该软件没有可用的下载地址";
inline constexpr std::string_view kNoEntryText = "请先双击列表中的软件";
inline constexpr std::string_view kEmptyFieldText = "（空）";
// The copy actions' names, titles of their confirmations.
inline constexpr std::string_view kCopyLink1Title = "复制_下载地址1：";
inline constexpr std::string_view kCopyLink2Title = "复制_下载地址2：";
inline constexpr std::string_view kCopyDetailsTitle = "复制_应用详细：";

class CatalogueController {
  public:
    CatalogueController(MainWindow& window, Downloads& downloads);
    ~CatalogueController();

    // Searches for the search box's text.
    void search();
    // Shows the entry of a list row; rows outside the result are ignored.
    void showEntry(int row);
    // The row under a point given in the list's client coordinates (header included); -1 if none.
    int rowAt(int x, int y) const;
    int selectedRow() const;

    void popUpMenu();
    // Shows the entry of the row at a point (list client coordinates) and opens 子菜单 there.
    void showEntryMenu(int x, int y);
    void openAddress(int which); // 1: url, 2: https
    void copyAddress(int which);
    void copyDetails();
    void download();

    // Replaceable for tests: how the desktop opens an address, and whether an existing file may
    // be replaced (a yes/no question by default).
    Shell shell;
    std::function<bool(const QString& file)> confirmOverwrite;
    net::Timeouts searchDeadline = net::deadlines::kCatalogueSearch;
    net::Timeouts logoDeadline = net::deadlines::kLogo;

    const std::vector<catalogue::CatalogueRecord>& results() const { return state_.results(); }
    const std::optional<catalogue::CatalogueRecord>& shownEntry() const { return state_.shown(); }
    bool searching() const { return searching_; }
    bool logoPending() const { return logoPending_; }
    // No search or logo request is running (their results may still wait in the event queue).
    bool workersIdle() const { return workers_.idle(); }
    // The download the bar and label show, as of the list's last refresh.
    std::optional<download::QueueItem> shownDownload() const;
    // The last message shown, while it is open.
    QMessageBox* lastMessage() const { return lastMessage_; }

  private:
    void searchDone(Result<std::vector<catalogue::CatalogueRecord>> found);
    void fillList();
    void showLabels(const catalogue::CatalogueRecord& entry);
    void clearEntry();
    void logoDone(unsigned generation, Result<picture::Image> logo);
    // The file an entry's download is saved as, in the list's form.
    std::string targetOf(const catalogue::CatalogueRecord& entry) const;
    void refreshDownload();
    void showProgress(const download::QueueItem& item);
    void clearProgress();
    void tell(QMessageBox::Icon icon, const QString& text);
    void tellFailure(const Error& error);
    void tellNoEntry();
    void confirmCopied(std::string_view title, std::string_view text);
    void showQueueSummary();
    const std::string* address(int which) const;

    MainWindow& window_;
    catalogue::CatalogueState state_;
    bool searching_ = false;
    bool logoPending_ = false;
    unsigned logoGeneration_ = 0;
    QString countTextBeforeSearch_;
    Downloads& downloads_;
    std::optional<catalogue::CatalogueRecord> progressEntry_; // whose download the bar shows
    std::uint64_t progressId_ = 0;                            // its id in the list
    QPointer<QMessageBox> lastMessage_;
    Workers workers_; // last: its jobs' deliveries reach the members above
};

} // namespace vantorel::app
