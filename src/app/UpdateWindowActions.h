#pragma once
// What the update window's bound events do.
//
// created: the quiet version check starts on a worker (the settings file was written by the
// main window's created action just before). The window stays hidden unless a newer release
// exists; then it shows both versions, the notes and the logo, and fades in.
// 按钮_确认更新: the update flow runs (resolution, download); a timer shows its state, progress
// and percent five times a second; at the end a message offers "打开" and "重试" (or "重试"
// alone after a failure). "打开" opens the new release with the desktop; when it was saved beside
// this program, the user is asked whether the old program should be removed, and only then is
// the clean-up step started and the program ended.
// 按钮_关闭更新: cancels a running download and hides the window.
//
// Connection messages appear in a message box only for a check the user asked for
// (checkForUpdate(true), or the check at start when the user started the program with
// --check-update); the quiet check at start only writes them to the terminal. A service that
// does not know our instance id is told in a message at every start. Messages appear over the
// main window while this one is hidden. Destroying the actions stops a running check at once.

#include "app/WindowEvents.h"
#include "app/Workers.h"
#include "update/UpdateFlow.h"
#include "update/VersionCheck.h"

#include <QMessageBox>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>

namespace vantorel::app {

class UpdateWindowActions : public UpdateWindowEvents {
  public:
    explicit UpdateWindowActions(UpdateWindow& window);
    ~UpdateWindowActions() override;

    void onCreated() override;
    void onConfirmClicked() override;
    void onCloseClicked() override;

    // Asks the version service on a worker; the result arrives on the user-interface thread.
    // `userAsked` decides whether failures are shown in a message box.
    void checkForUpdate(bool userAsked);

    // Fills the window for a newer release and shows it.
    void showRelease(const update::VersionCheckResult& result);

    // Where the release is saved: the program's folder when it can be written, else the
    // desktop folder (VANTOREL_DESKTOP or the user's desktop), else the temporary folder.
    static QString downloadFolder();

    // The check at start counts as asked for by the user (vantorel --check-update).
    bool startCheckAskedByUser = false;

    // Where the next download is saved; empty: downloadFolder().
    QString saveFolder;
    // How a finished file is opened and how the program ends after retiring itself; the desktop
    // and the application by default (tests replace them).
    std::function<bool(const QString& file)> openFile;
    std::function<void()> quitProgram;

    // The message that ends a download, while it is open.
    QMessageBox* resultMessage() const { return resultMessage_; }
    const update::UpdateFlow* flow() const { return flow_.get(); }

  private:
    void refreshProgress();
    void finishDownload(const update::UpdateView& view);
    void openDownloaded(const QString& file);
    void onCheckDone(const update::VersionCheckResult& result, bool userAsked);

    UpdateWindow& window_;
    update::ReleaseInfo release_;
    std::unique_ptr<update::UpdateFlow> flow_;
    QTimer progressTimer_;
    QPointer<QMessageBox> resultMessage_;
    bool checking_ = false;
    Workers workers_; // last: destroyed first, so no delivery outlives the members above
};

} // namespace vantorel::app
