#include "download/DownloadQueue.h"

#include "common/Config.h"
#include "common/ReplaceFile.h"
#include "common/SmallFile.h"
#include "download/PartFile.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <filesystem>

namespace vantorel::download {
namespace {

constexpr std::string_view kCancelledText = "已取消";
// A list file larger than this is not ours.
constexpr std::uint64_t kMaxListBytes = 16u << 20;

std::string_view stateKey(QueueState state) {
    switch (state) {
    case QueueState::Done:
        return "done";
    case QueueState::Failed:
        return "failed";
    default:
        return "paused"; // what was not finished comes back paused
    }
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
    }
    return {};
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
    bool cancelled = false;
    std::string error;
    JobView last; // the job's last view, kept for the row once the job is gone
};

DownloadQueue::DownloadQueue(QueueOptions options) : options_(std::move(options)) {
    options_.maxRunning = std::max(1u, options_.maxRunning);
    load();
}

DownloadQueue::~DownloadQueue() {
    pauseAll();
    std::lock_guard lock(mutex_);
    for (auto& slot : slots_)
        slot->job.reset(); // waits for each to stop
    save();
}

std::uint64_t DownloadQueue::add(QueueEntry entry) {
    std::lock_guard lock(mutex_);
    for (auto& slot : slots_) {
        if (slot->entry.target != entry.target)
            continue;
        if (slot->state == QueueState::Paused || slot->state == QueueState::Failed ||
            slot->state == QueueState::Done) {
            slot->entry = std::move(entry);
            slot->state = QueueState::Waiting;
            slot->error.clear();
            slot->cancelled = false;
            step();
            save();
        }
        return slot->id;
    }
    auto slot = std::make_unique<Slot>();
    slot->id = nextId_++;
    slot->entry = std::move(entry);
    const std::uint64_t id = slot->id;
    slots_.push_back(std::move(slot));
    step();
    save();
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
    if (!slot || slot->state == QueueState::Done || slot->state == QueueState::Failed)
        return;
    if (slot->job)
        slot->job->interrupt();
    slot->state = QueueState::Paused;
    save();
}

void DownloadQueue::resume(std::uint64_t id) {
    std::lock_guard lock(mutex_);
    Slot* slot = find(id);
    if (!slot || (slot->state != QueueState::Paused && slot->state != QueueState::Failed))
        return;
    slot->state = QueueState::Waiting;
    slot->error.clear();
    slot->cancelled = false;
    step();
    save();
}

void DownloadQueue::cancel(std::uint64_t id) {
    std::lock_guard lock(mutex_);
    Slot* slot = find(id);
    if (!slot || slot->state == QueueState::Done)
        return;
    slot->state = QueueState::Failed;
    slot->error = std::string(kCancelledText);
    slot->cancelled = true;
    if (slot->job) {
        slot->job->cancel();
    } else if (Status gone = PartFile::discard(slot->entry.target); !gone) {
        slot->error += "（" + gone.error().message + "）";
    }
    save();
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
    }
    // Its job stops on its own thread, outside the lock: the list goes on meanwhile.
}

void DownloadQueue::setMaxRunning(unsigned count) {
    std::lock_guard lock(mutex_);
    options_.maxRunning = std::max(1u, count);
    advance();
}

void DownloadQueue::setJobOptions(JobOptions options) {
    std::lock_guard lock(mutex_);
    options_.job = std::move(options);
}

bool DownloadQueue::step() {
    std::size_t running = 0;
    bool changed = false;
    for (auto& slot : slots_) {
        if (!slot->job)
            continue;
        slot->last = slot->job->view();
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
            slot->state = QueueState::Failed;
            slot->error = std::string(kCancelledText);
        } else if (slot->last.phase == JobPhase::Done) {
            slot->state = QueueState::Done;
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
        job.onEnded = [this, also = options_.job.onEnded] {
            {
                std::lock_guard guard(endMutex_);
                ended_ = true;
            }
            endCv_.notify_all();
            if (also)
                also();
        };
        slot->job = std::make_unique<DownloadJob>(slot->entry.addresses, slot->entry.target,
                                                  std::move(job));
        slot->job->start();
        slot->last = slot->job->view();
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
    if (slot.state == QueueState::Failed)
        item.errorDetail = slot.last.errorDetail;
    const DownloadSnapshot& s = slot.last.progress;
    item.total = s.total;
    item.totalKnown = s.totalKnown;
    item.bytes = s.arrived;
    item.resumed = s.resumed;
    item.percent = slot.last.percent;
    item.progressText = slot.last.progressText;
    item.progressBrief = slot.last.progressBrief;
    item.resolvingShareLink =
        slot.job && slot.last.phase == JobPhase::Resolving && slot.last.resolvingShareLink;
    item.cancelled = slot.state == QueueState::Failed && slot.cancelled;
    if (slot.job) {
        item.bytesPerSecond = s.bytesPerSecond;
        item.secondsLeft = s.secondsLeft();
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

void DownloadQueue::waitForEnd(std::chrono::milliseconds most) {
    std::unique_lock guard(endMutex_);
    endCv_.wait_for(guard, most, [this] { return ended_; });
    ended_ = false;
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
        if (slot->state == QueueState::Done || slot->state == QueueState::Failed)
            continue;
        if (slot->job)
            slot->job->interrupt();
        slot->state = QueueState::Paused;
    }
    save();
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
    if (options_.listFile.empty())
        return;
    nlohmann::json list = nlohmann::json::array();
    for (const auto& slot : slots_) {
        const DownloadSnapshot& s = slot->last.progress;
        list.push_back({{"name", slot->entry.name},
                        {"target", slot->entry.target},
                        {"addresses", slot->entry.addresses},
                        {"state", stateKey(slot->state)},
                        {"error", slot->error},
                        {"total", s.totalKnown ? s.total : 0},
                        {"bytes", s.arrived}});
    }
    const std::filesystem::path file(options_.listFile);
    std::error_code ec;
    std::filesystem::create_directories(file.parent_path(), ec);
    // The addresses may carry a password: the list is the user's alone.
    if (Status saved = replaceFile(file, nlohmann::json{{"downloads", list}}.dump(1), 0600); !saved)
        std::fprintf(stderr, "无法保存下载列表：%s（%s）\n", options_.listFile.c_str(),
                     saved.error().message.c_str());
}

void DownloadQueue::load() {
    if (options_.listFile.empty())
        return;
    const std::optional<std::string> text = readSmallFile(options_.listFile, kMaxListBytes);
    if (!text)
        return;
    const nlohmann::json json = nlohmann::json::parse(*text, nullptr, false);
    if (!json.is_object() || !json.contains("downloads") || !json["downloads"].is_array())
        return;
    for (const auto& row : json["downloads"]) {
        try {
            auto slot = std::make_unique<Slot>();
            slot->id = nextId_++;
            slot->entry.name = row.at("name").get<std::string>();
            slot->entry.target = row.at("target").get<std::string>();
            slot->entry.addresses = row.at("addresses").get<std::vector<std::string>>();
            const std::string state = row.at("state").get<std::string>();
            slot->state = state == "done"     ? QueueState::Done
                          : state == "failed" ? QueueState::Failed
                                              : QueueState::Paused;
            slot->error = row.value("error", std::string());
            slot->last.progress.total = row.value("total", std::uint64_t{0});
            slot->last.progress.totalKnown = slot->last.progress.total > 0;
            slot->last.progress.arrived = row.value("bytes", std::uint64_t{0});
            slot->last.percent = std::clamp(slot->last.progress.percent(), 0, 100);
            slot->last.progressText = progressLabel(slot->last.progress);
            if (!slot->entry.target.empty())
                slots_.push_back(std::move(slot));
        } catch (const nlohmann::json::exception&) {
            // A row that is not ours is left out; the others still count.
        }
    }
}

} // namespace vantorel::download
