#include "download/DownloadQueue.h"

#include "common/Config.h"
#include "common/FileSystemCause.h"
#include "common/ReplaceFile.h"
#include "common/SmallFile.h"
#include "download/PartFile.h"
#include "download/ResumeState.h"
#include "download/StampJson.h"
#include "net/Url.h"

#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <filesystem>

namespace vantorel::download {
namespace {

constexpr std::string_view kCancelledText = "已取消";

// The job's view now, keeping what the row knew of its size and bytes while the job has not
// learnt them (it is starting again, or failed before it asked the server).
JobView withKnownProgress(JobView now, const JobView& before) {
    const DownloadSnapshot& s = now.progress;
    if (s.totalKnown || s.arrived > 0 || now.phase == JobPhase::Done)
        return now;
    now.progress.total = before.progress.total;
    now.progress.totalKnown = before.progress.totalKnown;
    now.progress.arrived = before.progress.arrived;
    now.percent = before.percent;
    if (now.progressText.empty() || now.progress.state != DownloadState::Stalled) {
        now.progressText = before.progressText;
        now.progressBrief = before.progressBrief;
    }
    return now;
}

// A list file larger than this is not ours.
constexpr std::uint64_t kMaxListBytes = 16u << 20;

std::string_view stateKey(QueueState state) {
    switch (state) {
    case QueueState::Done:
        return "done";
    case QueueState::Failed:
        return "failed";
    case QueueState::Cancelled:
        return "cancelled";
    default:
        return "paused"; // what was not finished comes back paused
    }
}

// Renames `from` to `to` unless something is there already; false with errno set otherwise.
bool renameUnlessTaken(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // A file system that cannot refuse to replace: looked at first.
    struct stat info {};
    if (::lstat(to.c_str(), &info) == 0) {
        errno = EEXIST;
        return false;
    }
    return ::rename(from.c_str(), to.c_str()) == 0;
}

// Paused, failed or cancelled: stopped, and may go on (a cancelled one from the start).
bool mayResume(QueueState state) {
    return !isUnfinished(state) && state != QueueState::Done;
}

} // namespace

std::string_view queueStateText(QueueState state) {
    switch (state) {
    case QueueState::Waiting:
        return "等待";
    case QueueState::Downloading:
        return "下载中";
    case QueueState::Retrying:
        return "重试中";
    case QueueState::Paused:
        return "已暂停";
    case QueueState::Done:
        return "已完成";
    case QueueState::Failed:
        return "失败";
    case QueueState::Cancelled:
        return kCancelledText;
    }
    return {};
}

std::string queueStatusText(const QueueItem& item) {
    if (item.refreshing && item.unfinished())
        return std::string(kRefreshingText);
    if (item.state == QueueState::Retrying && item.retryIn > 0)
        return std::to_string(item.retryIn) + " 秒后重试";
    if (item.state == QueueState::Downloading && item.limited)
        return "已限速";
    return std::string(queueStateText(item.state));
}

bool isUnfinished(QueueState state) {
    return state == QueueState::Waiting || state == QueueState::Downloading ||
           state == QueueState::Retrying;
}

struct DownloadQueue::Slot {
    std::uint64_t id = 0;
    QueueEntry entry;
    QueueState state = QueueState::Waiting;
    std::unique_ptr<DownloadJob> job; // while it runs, and until step() sees it end
    bool cancelled = false;           // asked to stop for good: ends Cancelled
    std::string error;
    JobView last;                   // the job's last view, kept for the row once the job is gone
    std::optional<FileStamp> saved; // the file an earlier run of it saved at the target
    // The user replaced its address: a part of another file is told (NotSameFile) and left for
    // the user to decide, not started over unasked.
    bool askIfDifferent = false;
    // The row before the user's address replaced its own, until that address has brought the
    // file or the user has chosen between it and this.
    struct Former {
        QueueEntry entry;
        QueueState state;
        std::string error;
        JobView last;
        bool askIfDifferent;
    };
    std::optional<Former> former;

    // The file this download last saved at its target, if any.
    std::optional<FileStamp> ownFile() const { return last.saved ? last.saved : saved; }

    bool unfinishedOrPaused() const { return isUnfinished(state) || state == QueueState::Paused; }
    // The user's address serves another file: the user is to choose (QueueItem).
    bool newAddressDiffers() const {
        return former && state == QueueState::Failed && last.errorKind == FailureKind::NotSameFile;
    }
};

DownloadQueue::DownloadQueue(QueueOptions options) : options_(std::move(options)) {
    options_.maxRunning = std::max(1u, options_.maxRunning);
    load();
    watcher_ = std::jthread([this](std::stop_token stop) { watch(std::move(stop)); });
}

DownloadQueue::~DownloadQueue() {
    watcher_.request_stop();
    watcher_.join();
    pauseAll();
    std::lock_guard lock(mutex_);
    for (auto& slot : slots_)
        slot->job.reset(); // waits for each to stop
    save();
}

Status DownloadQueue::mayGoOn(const Slot& slot, OtherFile other) const {
    if (other == OtherFile::Replace)
        return {};
    Status own = checkOwnTarget(slot.entry.target, slot.ownFile());
    if (own)
        return own;
    // The run that left the part was let replace the file there: so is this one, while it is
    // still that file.
    const auto state = loadResumeState(PartFile::statePathFor(slot.entry.target));
    if (state && state->replaces && checkOwnTarget(slot.entry.target, state->replaces))
        return {};
    return own;
}

std::uint64_t DownloadQueue::add(QueueEntry entry, OtherFile other) {
    std::lock_guard lock(mutex_);
    for (auto& slot : slots_) {
        if (slot->entry.target != entry.target)
            continue;
        if (!isUnfinished(slot->state)) {
            if (Status free = mayGoOn(*slot, other); !free) {
                slot->error = free.error().message;
                save();
                poke();
                return slot->id;
            }
            slot->saved = slot->ownFile();
            slot->entry = std::move(entry);
            slot->state = QueueState::Waiting;
            slot->error.clear();
            slot->cancelled = false;
            step();
            save();
            poke();
        }
        return slot->id;
    }
    auto slot = std::make_unique<Slot>();
    slot->id = nextId_++;
    slot->entry = std::move(entry);
    // An earlier run's part beside the target makes this a resume.
    if (!addressOfPartFor(slot->entry.target).empty())
        if (Status free = mayGoOn(*slot, other); !free) {
            slot->state = QueueState::Failed;
            slot->error = free.error().message;
        }
    const std::uint64_t id = slot->id;
    slots_.push_back(std::move(slot));
    step();
    save();
    poke();
    return id;
}

DownloadQueue::Slot* DownloadQueue::find(std::uint64_t id) {
    for (auto& slot : slots_)
        if (slot->id == id)
            return slot.get();
    return nullptr;
}

void DownloadQueue::pause(std::uint64_t id) {
    std::lock_guard lock(mutex_);
    Slot* slot = find(id);
    if (!slot || !slot->unfinishedOrPaused())
        return;
    if (slot->job)
        slot->job->interrupt();
    slot->state = QueueState::Paused;
    save();
    poke();
}

Status DownloadQueue::goOn(Slot& slot, OtherFile other) {
    if (Status free = mayGoOn(slot, other); !free)
        return free;
    slot.state = QueueState::Waiting;
    slot.error.clear();
    slot.cancelled = false;
    step();
    save();
    poke();
    return {};
}

Status DownloadQueue::resume(std::uint64_t id, OtherFile other) {
    std::lock_guard lock(mutex_);
    Slot* slot = find(id);
    if (!slot || !mayResume(slot->state))
        return {};
    return goOn(*slot, other);
}

Status DownloadQueue::replaceAddress(std::uint64_t id, const std::string& address,
                                     OtherFile other) {
    std::lock_guard lock(mutex_);
    Slot* slot = find(id);
    if (!slot || !mayResume(slot->state))
        return makeError("只有已暂停、失败或已取消的下载可以更换下载地址");
    slot->former =
        Slot::Former{slot->entry, slot->state, slot->error, slot->last, slot->askIfDifferent};
    slot->entry.addresses = {address};
    slot->entry.labels.clear();
    // The user's own address: the catalogue's would undo the choice.
    slot->entry.catalogueId.clear();
    slot->askIfDifferent = true;
    Status goes = goOn(*slot, other);
    if (!goes)
        save(); // the new address stays for a later resume
    return goes;
}

Status DownloadQueue::keepFormerAddress(std::uint64_t id) {
    std::lock_guard lock(mutex_);
    Slot* slot = find(id);
    if (!slot || !slot->newAddressDiffers())
        return makeError("这个下载没有等待决定的下载地址");
    Slot::Former& former = *slot->former;
    slot->entry = std::move(former.entry);
    slot->state = former.state;
    slot->error = std::move(former.error);
    slot->last = std::move(former.last);
    slot->askIfDifferent = former.askIfDifferent;
    slot->former.reset();
    save();
    poke();
    return {};
}

Status DownloadQueue::startOver(std::uint64_t id, OtherFile other) {
    std::lock_guard lock(mutex_);
    Slot* slot = find(id);
    if (!slot || !mayResume(slot->state))
        return makeError("只有已暂停、失败或已取消的下载可以重新下载");
    if (Status gone = PartFile::discard(slot->entry.target); !gone)
        return gone;
    slot->askIfDifferent = false;
    slot->former.reset();
    slot->saved = slot->ownFile();
    slot->last = {}; // nothing fetched any more
    return goOn(*slot, other);
}

Status DownloadQueue::moveTo(std::uint64_t id, const std::string& target) {
    std::lock_guard lock(mutex_);
    Slot* slot = find(id);
    // A job that is still stopping holds its part's lock: moving the part then is refused.
    if (!slot || !mayResume(slot->state))
        return makeError("只有已暂停、失败或已取消的下载可以另存");
    if (std::any_of(slots_.begin(), slots_.end(),
                    [&](const auto& other) { return other->entry.target == target; }))
        return makeError("列表中已有保存到此位置的下载：" + target);
    if (Status moved = PartFile::move(slot->entry.target, target); !moved)
        return moved;
    slot->entry.target = target;
    slot->saved.reset();
    slot->last.saved.reset();
    save();
    poke();
    return {};
}

void DownloadQueue::cancel(std::uint64_t id) {
    std::lock_guard lock(mutex_);
    Slot* slot = find(id);
    if (!slot || slot->state == QueueState::Done || slot->state == QueueState::Cancelled)
        return;
    slot->state = QueueState::Cancelled;
    slot->error.clear();
    slot->cancelled = true;
    if (slot->job) {
        slot->job->cancel();
    } else if (Status gone = PartFile::discard(slot->entry.target); !gone) {
        slot->error = gone.error().message;
    }
    save();
    poke();
}

void DownloadQueue::remove(std::uint64_t id) {
    std::unique_ptr<Slot> gone;
    {
        std::lock_guard lock(mutex_);
        auto it = std::find_if(slots_.begin(), slots_.end(),
                               [id](const auto& slot) { return slot->id == id; });
        if (it == slots_.end())
            return;
        gone = std::move(*it);
        slots_.erase(it);
        if (gone->job)
            gone->job->interrupt();
        step();
        save();
        poke();
    }
    // Its job stops on its own thread, outside the lock: the list goes on meanwhile.
}

void DownloadQueue::setMaxRunning(unsigned count) {
    std::lock_guard lock(mutex_);
    options_.maxRunning = std::max(1u, count);
    advance();
    poke();
}

void DownloadQueue::setJobOptions(JobOptions options) {
    std::lock_guard lock(mutex_);
    options_.job = std::move(options);
}

void DownloadQueue::listen(QueueListener listener) {
    std::lock_guard lock(listenersMutex_);
    listeners_.push_back(std::move(listener));
}

void DownloadQueue::poke() {
    {
        std::lock_guard lock(wakeMutex_);
        poked_ = true;
    }
    wakeCv_.notify_all();
}

void DownloadQueue::watch(std::stop_token stop) {
    bool running = false;
    while (!stop.stop_requested()) {
        {
            // With nothing running, nothing changes until someone asks for something.
            std::unique_lock lock(wakeMutex_);
            if (running)
                wakeCv_.wait_for(lock, stop, kWatchEvery, [this] { return poked_; });
            else
                wakeCv_.wait(lock, stop, [this] { return poked_; });
            poked_ = false;
        }
        std::vector<QueueChange> told;
        {
            std::lock_guard lock(mutex_);
            advance();
            told = changes();
            running = std::any_of(slots_.begin(), slots_.end(),
                                  [](const auto& slot) { return slot->job != nullptr; });
        }
        std::lock_guard lock(listenersMutex_);
        for (const QueueChange& change : told)
            for (const QueueListener& listener : listeners_)
                listener(change);
    }
}

std::vector<QueueChange> DownloadQueue::changes() {
    std::vector<QueueChange> found;
    std::map<std::uint64_t, QueueItem> now;
    for (auto& slot : slots_) {
        QueueItem item = viewOf(*slot);
        const auto before = told_.find(item.id);
        if (before == told_.end() || !(before->second == item))
            found.push_back({item, false});
        now.emplace(item.id, std::move(item));
    }
    for (auto& [id, item] : told_)
        if (!now.contains(id))
            found.push_back({std::move(item), true});
    told_ = std::move(now);
    return found;
}

bool DownloadQueue::step() {
    std::size_t running = 0;
    bool changed = false;
    for (auto& slot : slots_) {
        if (!slot->job)
            continue;
        slot->last = withKnownProgress(slot->job->view(), slot->last);
        if (!slot->last.finished()) {
            ++running;
            if (slot->state == QueueState::Downloading || slot->state == QueueState::Retrying)
                slot->state = slot->last.progress.state == DownloadState::Stalled
                                  ? QueueState::Retrying
                                  : QueueState::Downloading;
            continue;
        }
        slot->job.reset();
        changed = true;
        if (slot->state == QueueState::Paused)
            slot->error = slot->last.error; // whether the part can be taken up again
        if (slot->state == QueueState::Paused || slot->state == QueueState::Waiting)
            continue; // paused meanwhile, or already asked to go on
        if (slot->cancelled) {
            slot->state = QueueState::Cancelled;
        } else if (slot->last.phase == JobPhase::Done) {
            slot->state = QueueState::Done;
            slot->former.reset(); // the new address brought the file
        } else if (slot->last.phase == JobPhase::Interrupted) {
            slot->state = QueueState::Paused;
        } else {
            slot->state = QueueState::Failed;
            slot->error = slot->last.error;
        }
    }
    for (auto& slot : slots_) {
        if (running >= options_.maxRunning)
            break;
        if (slot->state != QueueState::Waiting || slot->job)
            continue;
        JobOptions job = options_.job;
        job.labels = slot->entry.labels;
        if (slot->entry.checksum)
            job.checksum = slot->entry.checksum;
        job.pieces = slot->entry.pieces;
        job.expectedLength = slot->entry.expectedLength;
        job.startOverIfDifferent = !slot->askIfDifferent;
        job.checksum = slot->entry.checksum;
        if (!slot->entry.catalogueId.empty() && options_.renewFromCatalogue)
            job.renewAddresses = [ask = options_.renewFromCatalogue, entry = slot->entry] {
                return ask(entry);
            };
        job.onEnded = [this, also = options_.job.onEnded] {
            poke();
            if (also)
                also();
        };
        slot->job = std::make_unique<DownloadJob>(slot->entry.addresses, slot->entry.target,
                                                  std::move(job));
        slot->job->start();
        slot->last = withKnownProgress(slot->job->view(), slot->last);
        slot->state = QueueState::Downloading;
        slot->cancelled = false;
        ++running;
        changed = true;
    }
    return changed;
}

QueueItem DownloadQueue::viewOf(Slot& slot) const {
    QueueItem item;
    item.id = slot.id;
    item.entry = slot.entry;
    item.state = slot.state;
    item.error = slot.error;
    if (slot.state == QueueState::Failed) {
        item.errorDetail = slot.last.errorDetail;
        item.errorKind = slot.last.errorKind;
    }
    item.newAddressDiffers = slot.newAddressDiffers();
    const DownloadSnapshot& s = slot.last.progress;
    item.total = s.total;
    item.totalKnown = s.totalKnown;
    item.bytes = s.arrived;
    item.resumed = s.resumed;
    item.notices = s.notices;
    item.percent = slot.last.percent;
    item.progressText = slot.last.progressText;
    item.progressBrief = slot.last.progressBrief;
    item.resolvingShareLink =
        slot.job && slot.last.phase == JobPhase::Resolving && slot.last.resolvingShareLink;
    if (slot.job && isUnfinished(slot.state)) {
        item.bytesPerSecond = s.bytesPerSecond;
        item.secondsLeft = s.secondsLeft();
        item.limited = s.limited && slot.state == QueueState::Downloading;
        item.refreshing = s.refreshing;
        item.retryIn = slot.state == QueueState::Retrying ? s.retryIn : 0;
    }
    if (slot.state == QueueState::Done) {
        item.percent = 100;
        item.bytes = item.totalKnown ? item.total : item.bytes;
    }
    return item;
}

void DownloadQueue::advance() {
    if (step())
        save();
}

std::vector<QueueItem> DownloadQueue::refresh() {
    std::lock_guard lock(mutex_);
    advance();
    std::vector<QueueItem> items;
    items.reserve(slots_.size());
    for (auto& slot : slots_)
        items.push_back(viewOf(*slot));
    return items;
}

std::size_t DownloadQueue::unfinished() {
    std::lock_guard lock(mutex_);
    advance();
    return static_cast<std::size_t>(std::count_if(
        slots_.begin(), slots_.end(), [](const auto& s) { return isUnfinished(s->state); }));
}

std::size_t DownloadQueue::active() {
    std::lock_guard lock(mutex_);
    advance();
    return static_cast<std::size_t>(std::count_if(slots_.begin(), slots_.end(),
                                                  [](const auto& s) { return s->job != nullptr; }));
}

void DownloadQueue::pauseAll() {
    std::lock_guard lock(mutex_);
    for (auto& slot : slots_) {
        if (!slot->unfinishedOrPaused())
            continue;
        if (slot->job)
            slot->job->interrupt();
        slot->state = QueueState::Paused;
    }
    save();
    poke();
}

std::string DownloadQueue::defaultListFile() {
    std::string dataHome = config::get("XDG_DATA_HOME");
    // A relative XDG_DATA_HOME is invalid and ignored, as the base directory rules ask.
    if (dataHome.empty() || dataHome.front() != '/') {
        const std::string home = config::homeFolder();
        if (home.empty())
            return {};
        dataHome = home + "/.local/share";
    }
    return dataHome + "/Vantorel/downloads.json";
}

void DownloadQueue::save() const {
    if (options_.listFile.empty() || saveRefused_)
        return;
    nlohmann::json list = nlohmann::json::array();
    for (const auto& slot : slots_) {
        // An address the user has not yet taken for one of another file is not the row's.
        const bool former = slot->newAddressDiffers();
        const QueueEntry& entry = former ? slot->former->entry : slot->entry;
        const DownloadSnapshot& s = (former ? slot->former->last : slot->last).progress;
        // A password given in an address serves this run only: after a restart the user gives
        // it again (更换下载地址…) rather than finding it in a file.
        std::vector<std::string> addresses;
        for (const std::string& address : entry.addresses)
            addresses.push_back(net::withoutCredentials(address));
        nlohmann::json row = {{"name", entry.name},
                              {"target", entry.target},
                              {"addresses", addresses},
                              {"labels", entry.labels},
                              {"catalogueId", entry.catalogueId},
                              {"state", stateKey(former ? slot->former->state : slot->state)},
                              {"error", former ? slot->former->error : slot->error},
                              {"total", s.totalKnown ? s.total : 0},
                              {"bytes", s.arrived}};
        if (const auto saved = slot->ownFile())
            row["saved"] = stampJson(*saved);
        if (slot->entry.checksum)
            row["checksum"] = checksumText(*slot->entry.checksum);
        list.push_back(std::move(row));
    }
    const std::filesystem::path file(options_.listFile);
    std::error_code ec;
    std::filesystem::create_directories(file.parent_path(), ec);
    // Names and folders are the user's own business: the list is the user's alone.
    if (Status saved = replaceFile(file, nlohmann::json{{"downloads", list}}.dump(1), 0600); !saved)
        std::fprintf(stderr, "无法保存下载列表：%s（%s）\n", options_.listFile.c_str(),
                     saved.error().message.c_str());
}

void DownloadQueue::setAside(const std::string& why) {
    const std::string& file = options_.listFile;
    char date[32] = {};
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    std::strftime(date, sizeof date, "%Y%m%d-%H%M%S", &local);
    // Another file of that name (an earlier broken list, the same second) is never replaced.
    const std::string base = file + ".broken-" + date;
    std::string aside = base;
    bool moved = false;
    for (unsigned n = 1; n < 1000; ++n) {
        moved = renameUnlessTaken(file, aside);
        if (moved || errno != EEXIST)
            break;
        aside = base + "-" + std::to_string(n);
    }
    if (moved) {
        loadNotice_ = "下载列表文件" + why + "，已原样保存为 " + aside + "，不会被覆盖。";
    } else {
        saveRefused_ = true;
        loadNotice_ = "下载列表文件" + why + "，也无法移到一旁（" + fileSystemCause(errno) +
                      "）：" + file + "。本次运行不会保存下载列表，原文件保持不变。";
    }
    std::fprintf(stderr, "vantorel: %s\n", loadNotice_.c_str());
}

void DownloadQueue::load() {
    if (options_.listFile.empty())
        return;
    const auto text = readSmallFile(options_.listFile, kMaxListBytes);
    if (!text) {
        if (text.error().code != ENOENT)
            setAside(text.error().message);
        return;
    }
    const nlohmann::json json = nlohmann::json::parse(*text, nullptr, false);
    if (!json.is_object() || !json.contains("downloads") || !json["downloads"].is_array())
        return setAside(json.is_discarded() ? "不是有效的 JSON（可能被手工改坏了）"
                                            : "不是下载列表的格式");
    std::size_t unread = 0;
    for (const auto& row : json["downloads"]) {
        try {
            auto slot = std::make_unique<Slot>();
            slot->id = nextId_++;
            slot->entry.name = row.at("name").get<std::string>();
            slot->entry.target = row.at("target").get<std::string>();
            slot->entry.addresses = row.at("addresses").get<std::vector<std::string>>();
            slot->entry.labels = row.value("labels", std::vector<std::string>());
            slot->entry.catalogueId = row.value("catalogueId", std::string());
            if (row.contains("checksum")) {
                // A checksum that does not read is a row that is not ours: without it the
                // download would save a file it was to refuse.
                auto checksum = parseChecksum(row.at("checksum").get<std::string>());
                if (!checksum) {
                    ++unread;
                    continue;
                }
                slot->entry.checksum = std::move(*checksum);
            }
            const std::string state = row.at("state").get<std::string>();
            slot->state = state == "done"        ? QueueState::Done
                          : state == "failed"    ? QueueState::Failed
                          : state == "cancelled" ? QueueState::Cancelled
                                                 : QueueState::Paused;
            slot->error = row.value("error", std::string());
            if (row.contains("saved"))
                slot->saved = stampFrom(row.at("saved"));
            slot->last.progress.total = row.value("total", std::uint64_t{0});
            slot->last.progress.totalKnown = slot->last.progress.total > 0;
            slot->last.progress.arrived = row.value("bytes", std::uint64_t{0});
            slot->last.percent = std::clamp(slot->last.progress.percent(), 0, 100);
            slot->last.progressText = progressLabel(slot->last.progress);
            if (slot->entry.target.empty())
                ++unread;
            else
                slots_.push_back(std::move(slot));
        } catch (const nlohmann::json::exception&) {
            ++unread;
        }
    }
    // The rows that could be read go on; the file as it was is kept for the others.
    if (unread > 0)
        setAside("中有 " + std::to_string(unread) + " 条下载无法读取（其余的已载入）");
}

} // namespace vantorel::download
