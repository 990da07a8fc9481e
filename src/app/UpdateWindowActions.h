#pragma once
// What the update window's bound events do.
//
// created: the quiet version check starts on a worker (the settings file was written by the
// main window's created action just before). The window stays hidden unless a newer release
// exists; then it shows both versions, the notes and the logo, and fades in.
// 按钮_确认更新: the release goes beside this program when that is the user's own copy, else into
// the user's download folder (ReleaseFolder.h); an existing file of its name is replaced only
// when the user agrees. The update flow runs (resolution, download); a timer shows its state,
// progress and percent five times a second; at the end a message says where the release was
// saved and offers "打开" and "重试" (or "重试" alone after a failure). "打开" opens the new
// release with the desktop; when it was saved beside this program (never for an installed
// copy), the user is asked whether the old program should be removed, and only then is the
// clean-up step started and the program ended.
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
#include <QStringList>
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

    // An update download is under way.
    bool downloading() const;
    // Stops a running update download, keeping its part for a later attempt.
    void interruptDownload();

    // The check at start counts as asked for by the user (vantorel --check-update).
    bool startCheckAskedByUser = false;

    // The running program, and the folders a release goes to when not beside it, in order:
    // the user's download folder, then the temporary folder. Tests replace them.
    QString programFile;
    QStringList downloadFolders;
    // How a finished file is opened, whether an existing file may be replaced, whether the old
    // program may be removed, and how the program ends after retiring itself; the desktop,
    // questions and the application by default (tests replace them).
    std::function<bool(const QString& file)> openFile;
    std::function<bool(const QString& file)> confirmOverwrite;
    std::function<bool()> confirmRetire;
    std::function<void()> quitProgram;
    // The speed limit the update download shares with every other download; none: no limit.
    std::shared_ptr<download::SpeedLimit> speedLimit;

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
