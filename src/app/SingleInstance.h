#pragma once
// One desktop program per user. The first start holds a lock file in the user's runtime folder
// for as long as it runs and listens on a local socket beside it; a later start finds the lock
// taken, hands its command line to the socket and ends, and the running program comes to the
// front. The lock, not the socket, decides who runs: two starts at once cannot both win, and a
// crashed program's lock (its process is gone) and socket are taken over by the next start.

#include "common/Result.h"

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QStringList>
#include <memory>
#include <optional>

namespace vantorel::app {

class SingleInstance : public QObject {
    Q_OBJECT
  public:
    // `folder`: where the lock and the socket are; empty: the user's runtime folder.
    explicit SingleInstance(QString folder = {});
    ~SingleInstance() override;

    struct Claim {
        // This program is the one that runs (false: it should end now).
        bool runs = true;
        // Why the guard could not be set up (it runs all the same) or why the running program
        // could not be reached (it does not run).
        std::optional<Error> problem;
    };
    // Becomes the running program, or hands `arguments` to the one that runs.
    Claim claim(const QStringList& arguments);

  signals:
    // A later start's command line reached the running program.
    void arrived(const QStringList& arguments);

  private:
    void accept();

    QString folder_;
    std::unique_ptr<QLockFile> lock_;
    QLocalServer server_;
};

} // namespace vantorel::app
