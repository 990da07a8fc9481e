#include "app/Downloads.h"

#include "catalogue/CatalogueSearch.h"
#include "common/Config.h"

#include <QStandardPaths>
#include <algorithm>

namespace vantorel::app {

download::JobOptions Downloads::jobOptions(const settings::Preferences& preferences,
                                           std::shared_ptr<download::SpeedLimit> limit) {
    download::JobOptions options;
    options.workers = preferences.connections;
    options.limit = std::move(limit);
    options.refuseWebPages = true; // an installer is expected
    return options;
}

Downloads::Downloads(const settings::Preferences& preferences, std::string listFile)
    : preferences_(preferences),
      limit_(std::make_shared<download::SpeedLimit>(preferences.speedLimit)),
      queue_({preferences.downloadsAtOnce, std::move(listFile), jobOptions(preferences, limit_),
              [](const download::QueueEntry& entry) {
                  return catalogue::currentAddresses(entry.catalogueId, entry.name,
                                                     config::catalogueBase());
              }}) {
    items_ = queue_.refresh();
    // Called on the queue's thread: the change travels to this object's thread.
    queue_.listen([this](const download::QueueChange& change) {
        QMetaObject::invokeMethod(
            this, [this, change] { take(change); }, Qt::QueuedConnection);
    });
}

QString Downloads::desktopFolder() {
    const std::string configured = config::desktopDir();
    if (!configured.empty())
        return QString::fromStdString(configured);
    return QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
}

void Downloads::apply(const settings::Preferences& preferences) {
    preferences_ = preferences;
    queue_.setMaxRunning(preferences.downloadsAtOnce);
    queue_.setJobOptions(jobOptions(preferences, limit_));
    limit_->setRate(preferences.speedLimit);
    refresh();
}

QString Downloads::folder() const {
    if (!preferences_.downloadFolder.empty())
        return QString::fromStdString(preferences_.downloadFolder);
    return desktopFolder();
}

std::uint64_t Downloads::add(download::QueueEntry entry) {
    const std::uint64_t id = queue_.add(std::move(entry), download::OtherFile::Replace);
    watched_.insert(id);
    refresh();
    emit added(id);
    return id;
}

void Downloads::pause(std::uint64_t id) {
    queue_.pause(id);
    refresh();
}

Status Downloads::goingOn(std::uint64_t id, Status asked) {
    if (asked)
        watched_.insert(id);
    refresh();
    return asked;
}

Status Downloads::resume(std::uint64_t id, download::OtherFile other) {
    return goingOn(id, queue_.resume(id, other));
}

Status Downloads::resumeUnderFreeName(std::uint64_t id) {
    const download::QueueItem* item = find(id);
    if (!item)
        return {};
    const std::string target =
        download::freeTargetName(item->entry.target, [this](const std::string& candidate) {
            return download::stampOf(candidate).has_value() || findTarget(candidate) != nullptr;
        });
    if (Status moved = queue_.moveTo(id, target); !moved)
        return moved;
    return resume(id);
}

Status Downloads::togglePause(std::uint64_t id) {
    const download::QueueItem* item = find(id);
    if (!item)
        return {};
    if (item->unfinished())
        pause(id);
    else if (item->state != download::QueueState::Done)
        return resume(id);
    return {};
}

Status Downloads::replaceAddress(std::uint64_t id, const std::string& address) {
    return goingOn(id, queue_.replaceAddress(id, address));
}

Status Downloads::startOver(std::uint64_t id) {
    return goingOn(id, queue_.startOver(id));
}

Status Downloads::keepFormerAddress(std::uint64_t id) {
    Status kept = queue_.keepFormerAddress(id);
    refresh();
    return kept;
}

void Downloads::cancel(std::uint64_t id) {
    watched_.erase(id);
    queue_.cancel(id);
    refresh();
}

void Downloads::remove(std::uint64_t id) {
    watched_.erase(id);
    removing_.insert(id);
    // A running download is stopped first, and that is waited for: not here.
    workers_.run(
        [this, id](std::stop_token) {
            queue_.remove(id);
            return id;
        },
        [this](std::uint64_t removed) {
            removing_.erase(removed);
            refresh();
        });
    refresh();
}

void Downloads::pauseAll() {
    queue_.pauseAll();
    refresh();
}

bool Downloads::unfinished() {
    return queue_.unfinished() > 0;
}

const download::QueueItem* Downloads::find(std::uint64_t id) const {
    const auto it = std::find_if(items_.begin(), items_.end(),
                                 [id](const download::QueueItem& item) { return item.id == id; });
    return it == items_.end() ? nullptr : &*it;
}

const download::QueueItem* Downloads::findTarget(const std::string& target) const {
    const auto it = std::find_if(items_.begin(), items_.end(), [&](const download::QueueItem& i) {
        return i.entry.target == target;
    });
    return it == items_.end() ? nullptr : &*it;
}

QString Downloads::loadNotice() const {
    return QString::fromStdString(queue_.loadNotice());
}

void Downloads::refresh() {
    items_ = queue_.refresh();
    std::erase_if(items_,
                  [this](const download::QueueItem& item) { return removing_.contains(item.id); });
    announce();
}

void Downloads::take(const download::QueueChange& change) {
    const auto it = std::find_if(items_.begin(), items_.end(), [&](const download::QueueItem& i) {
        return i.id == change.item.id;
    });
    if (change.removed) {
        if (it != items_.end())
            items_.erase(it);
    } else if (it != items_.end()) {
        *it = change.item;
    } else if (!removing_.contains(change.item.id)) {
        // New to this list: in the queue's order, which is the order of ids.
        const auto at =
            std::find_if(items_.begin(), items_.end(),
                         [&](const download::QueueItem& i) { return i.id > change.item.id; });
        items_.insert(at, change.item);
    }
    if (!announcing_) {
        announcing_ = true;
        QMetaObject::invokeMethod(
            this, [this] { announce(); }, Qt::QueuedConnection);
    }
}

void Downloads::announce() {
    announcing_ = false;
    std::vector<download::QueueItem> endings;
    for (const download::QueueItem& item : items_) {
        if (!watched_.contains(item.id))
            continue;
        if (item.state == download::QueueState::Failed || item.state == download::QueueState::Done)
            endings.push_back(item);
        if (!item.unfinished() && item.state != download::QueueState::Paused)
            watched_.erase(item.id);
    }
    emit refreshed();
    for (const download::QueueItem& item : endings) {
        if (item.newAddressDiffers) {
            emit newAddressDiffers(item);
            continue;
        }
        emit ended(item);
        if (item.state == download::QueueState::Failed)
            emit failed(item);
    }
}

} // namespace vantorel::app
