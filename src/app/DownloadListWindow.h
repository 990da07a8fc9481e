#pragma once
// The download list window (窗口_下载列表): one row per download of the list -- name, size,
// progress bar, speed, time left, state (a failure's reason in the state's tooltip) -- with the
// actions for the selected row as buttons, in a right-click menu, and on keys (Space pauses or
// resumes, Delete takes it off the list, Enter opens a finished file). Tab goes from the table
// through the buttons; Esc closes the window. It follows every refresh of the list while it is
// shown.
//
// 继续 over a file at the target that the download did not save there asks first: 覆盖 replaces
// it, 另存为 (the default: Enter replaces nothing) saves the download as "name (1).ext" beside
// it, 取消 (and Esc) leaves the row paused.
//
// 更换下载地址… gives a paused, failed or cancelled download another address, checked first, to
// go on from its part; when that address then turns out to serve another file, the user is
// asked whether to start over from the first byte: 否 (the default) keeps the part and leaves
// the row as it was before, with its former address.
//
// 打开文件 opens a finished file with the desktop, 打开所在文件夹 the folder it is in; each only
// while the file (the folder) exists. 从列表中删除 keeps a finished file where it is.

#include "app/Shell.h"
#include "download/DownloadQueue.h"

#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTableWidget>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <optional>

namespace vantorel::app {

class Downloads;

class DownloadListWindow : public QWidget {
    Q_OBJECT
  public:
    enum Column { Name, Size, Progress, Speed, TimeLeft, State, ColumnCount };

    explicit DownloadListWindow(Downloads& downloads, QWidget* parent = nullptr);

    QTableWidget& table() const { return *table_; }
    // The download of the selected row; none when no row is selected.
    std::optional<std::uint64_t> selectedId() const;
    void select(std::uint64_t id);

    // The actions, on the selected row.
    void togglePause();
    void cancel();
    void replaceAddress();
    void openFile();
    void openFolder();
    void removeSelected();

    // How the desktop opens a file or folder; tests put a recorder in its place.
    Shell shell;

    // What to do when 继续 finds a file at the target that the download did not save there.
    enum class OtherFileChoice { Replace, SaveAs, Leave };
    // Asks the user (覆盖 / 另存为 / 取消); tests answer in its place.
    std::function<OtherFileChoice(const QString& target)> askAboutOtherFile;
    // Asks for the new address, `current` prefilled; none when the user gives up.
    std::function<std::optional<QString>(const QString& current)> askAddress;
    // Asks whether a download whose new address serves another file starts over (`why`).
    std::function<bool(const QString& why)> askStartOver;

  protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void fill();
    void updateActions();
    void showRowMenu(QPoint position);
    void tell(const QString& text);
    // A download's new address serves another file: start over from it, or keep the part.
    void newAddressDiffers(const download::QueueItem& item);

    Downloads& downloads_;
    QTableWidget* table_;
    QLabel* summary_;
    QPushButton* pause_;
    QPushButton* cancel_;
    QPushButton* openFile_;
    QPushButton* openFolder_;
    QPushButton* remove_;
    QMenu* rowMenu_;
    QAction* pauseEntry_;
    QAction* cancelEntry_;
    QAction* replaceEntry_;
    QAction* openFileEntry_;
    QAction* openFolderEntry_;
    QAction* removeEntry_;
};

} // namespace vantorel::app
