// vantorel-cli download URL... [-o PATH | -d DIR] [--threads N] [--limit-rate RATE]
//                              [--max-concurrent N] [--quiet]
// vantorel-cli download URL --mirror URL2 [--mirror URL3]... [-o PATH | -d DIR] ...
// vantorel-cli download URL --checksum TYPE=HEX [-o PATH] ...
// Every URL goes into one download queue: --max-concurrent of them at once (default: the
// preferences' downloads at once), the rest waiting in order. --threads and --limit-rate default
// to the preferences' connections and speed limit. With one URL, PATH may be a file or a folder
// (the file then keeps the name it has in the address); -d DIR saves every file under its
// address's name in DIR; a second address whose file has the same name is saved as
// "name (1).ext" (the first free such name), and its lines say so. A URL may be a share link: it
// is resolved to its file first. --mirror gives the one URL more addresses of the same file: one
// download whose sources they all are (the file is named after URL). A file at a target that an
// earlier, unfinished run left a part for is replaced only while it is the file that run found
// there (and was let replace); any other is never replaced, the download fails with why.
// --checksum holds the one URL's file to a digest (sha-256, sha-1, sha-512, md5): a file without
// it is not saved, and the message gives both digests. A value that is not such a checksum is bad
// usage, told before anything is fetched. A target that has the digest already is done at once.
// --limit-rate caps every download of the command together. On a terminal, stderr shows one
// progress line per download, cut to the terminal's width and redrawn when it changes;
// otherwise one result line each.
// Ctrl-C (and SIGTERM, SIGHUP) interrupts cleanly: the workers stop, existing targets stay as
// they were, and the parts fetched so far stay beside them, so the same command run again goes
// on where it stopped (and says how much was already there). Exit 0 only when every file is
// complete.
// A metalink document (a local FILE.meta4, or an address that serves one) stands for the files it
// describes: each is one download from the addresses the document lists for it, saved under its
// name in DIR (the current folder by default; -o only for a document of one file) and held to
// the document's length and digests. An address found serving a document in its file's place
// (its download fails with FailureKind::Metalink before a byte is saved) is asked for it, and
// the files it describes join the queue in its place.

#include "cli/Commands.h"
#include "cli/NetworkOptions.h"
#include "cli/ProgressLines.h"
#include "cli/StopSignals.h"
#include "cli/TerminalText.h"
#include "common/ByteSize.h"
#include "download/Checksum.h"
#include "download/DownloadQueue.h"
#include "download/DownloadTarget.h"
#include "download/Metalink.h"
#include "download/MetalinkFetch.h"
#include "download/MetalinkTarget.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace vantorel::cli {
namespace {

using download::QueueItem;
using download::QueueState;

constexpr std::chrono::milliseconds kDrawEvery{200};

int usage(const std::string& problem) {
    return usageError("download", problem);
}

std::string bytes(std::uint64_t count) {
    return formatBytes(static_cast<double>(count), ByteStyle::Scaled);
}

// What the queue's listener told last of each download, for the loop that draws them.
class Told {
  public:
    void take(const download::QueueChange& change) {
        {
            std::lock_guard lock(mutex_);
            if (change.removed)
                items_.erase(change.item.id);
            else
                items_[change.item.id] = change.item;
            changed_ = true;
        }
        cv_.notify_all();
    }
    // Waits up to `most` for a change; whether one came since the last call.
    bool wait(std::chrono::milliseconds most) {
        std::unique_lock lock(mutex_);
        cv_.wait_for(lock, most, [this] { return changed_; });
        return std::exchange(changed_, false);
    }
    // In the list's order, which is the order of ids.
    std::vector<QueueItem> items() const {
        std::lock_guard lock(mutex_);
        std::vector<QueueItem> all;
        for (const auto& [id, item] : items_)
            all.push_back(item);
        return all;
    }

  private:
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::map<std::uint64_t, QueueItem> items_;
    bool changed_ = false;
};

struct Options {
    std::vector<std::string> urls;
    std::vector<std::string> mirrors; // more sources of the one file of the one URL
    std::string output;
    std::string folder;
    download::QueueOptions queue;
    bool quiet = false;
    // The digest the one file of the one URL must have.
    std::optional<download::Checksum> checksum;
};

// A whole number in [low, high]; none otherwise.
std::optional<unsigned> count(std::string_view text, unsigned low, unsigned high) {
    unsigned n = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (ec != std::errc() || end != text.data() + text.size() || n < low || n > high)
        return std::nullopt;
    return n;
}

// The options, or the usage problem.
std::variant<Options, std::string> parse(Args args) {
    const settings::Preferences& preferences = preferencesOrDefaults();
    Options o;
    o.queue.maxRunning = preferences.downloadsAtOnce;
    o.queue.job.workers = preferences.connections;
    // One limit for every download of the command together.
    o.queue.job.limit = std::make_shared<download::SpeedLimit>(preferences.speedLimit);
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (arg == "--quiet" || arg == "-q") {
            o.quiet = true;
            continue;
        }
        if (!arg.starts_with("-")) {
            o.urls.emplace_back(arg);
            continue;
        }
        const bool takesValue = arg == "-o" || arg == "--output" || arg == "-d" || arg == "--dir" ||
                                arg == "--threads" || arg == "--limit-rate" ||
                                arg == "--max-concurrent" || arg == "--mirror" ||
                                arg == "--checksum";
        if (!takesValue)
            return "未知选项: " + std::string(arg);
        if (i + 1 >= args.size())
            return std::string(arg) + " 需要一个值";
        const std::string_view value = args[++i];
        if (arg == "--limit-rate") {
            const auto rate = settings::parseRate(value);
            if (!rate)
                return "--limit-rate：" + rate.error().message;
            o.queue.job.limit->setRate(*rate);
        } else if (arg == "--threads") {
            const auto n = count(value, 1, download::kMaxWorkers);
            if (!n)
                return "--threads 应为 1 到 " + std::to_string(download::kMaxWorkers) +
                       " 之间的整数";
            o.queue.job.workers = *n;
        } else if (arg == "--max-concurrent") {
            const auto n = count(value, 1, settings::kMaxDownloadsAtOnce);
            if (!n)
                return "--max-concurrent 应为 1 到 " +
                       std::to_string(settings::kMaxDownloadsAtOnce) + " 之间的整数";
            o.queue.maxRunning = *n;
        } else if (arg == "--mirror") {
            o.mirrors.emplace_back(value);
        } else if (arg == "--checksum") {
            auto checksum = download::parseChecksum(value);
            if (!checksum)
                return "--checksum：" + checksum.error().message;
            o.checksum = std::move(*checksum);
        } else if (arg == "-d" || arg == "--dir") {
            o.folder = std::string(value);
        } else {
            o.output = std::string(value);
        }
    }
    if (o.urls.empty())
        return std::string("缺少下载地址");
    if (!o.output.empty() && !o.folder.empty())
        return std::string("-o 与 -d 不能同时使用");
    // Mirrors belong to one file: with several URLs it would not be clear whose they are.
    if (!o.mirrors.empty() && o.urls.size() > 1)
        return std::string("--mirror 只能用于一个下载地址");
    if (o.checksum && o.urls.size() > 1)
        return std::string("--checksum 只能用于一个下载地址");
    if (!o.output.empty() && o.urls.size() > 1)
        return std::string("多个地址时请用 -d DIR 指定保存的文件夹");
    return o;
}

// One file from `url` and its mirrors, each named so that a message dropping one reads well
// ("镜像1 的文件与下载地址 不同").
download::QueueEntry entryFor(const std::string& url, const std::vector<std::string>& mirrors,
                              std::string name, std::string target) {
    download::QueueEntry entry{std::move(name), {url}, std::move(target), {"下载地址"}, {}};
    for (std::size_t i = 0; i < mirrors.size(); ++i) {
        entry.addresses.push_back(mirrors[i]);
        entry.labels.push_back("镜像" + std::to_string(i + 1));
    }
    return entry;
}

bool isAddress(const std::string& arg) {
    return static_cast<bool>(download::checkDownloadAddress(arg));
}

// What the command downloads: the entries in the order given, their targets as wanted; or
// why it cannot start (exit 1, or 2 for bad usage).
struct Plan {
    std::vector<download::QueueEntry> entries;
    std::string problem;
    int exitCode = 0;
    // Entries of metalink documents, by index, with their names in the document.
    std::vector<std::pair<std::size_t, std::string>> documentFiles{};
};

// Where a file of a metalink document goes: in the folder (made with `make`), or at -o.
Result<std::string> documentTarget(const Options& o, const std::string& name, bool make) {
    std::error_code ec;
    if (!o.output.empty() && !std::filesystem::is_directory(o.output, ec))
        return o.output;
    return download::metalinkTarget(o.output.empty() ? o.folder : o.output, name, make);
}

// The files a metalink document describes, as entries saved under their names; only checked
// where they go (see planOf).
Status planDocument(const std::string& document, const Options& o, Plan& plan) {
    auto files = download::parseMetalink(document);
    if (!files)
        return files.error();
    if (!o.output.empty() && files->size() > 1) {
        plan.exitCode = 2;
        return makeError("-o 只能用于描述一个文件的 metalink 文件，多个文件请用 -d DIR");
    }
    for (download::MetalinkFile& file : *files) {
        if (auto target = documentTarget(o, file.name, false); !target)
            return target.error();
        plan.entries.push_back({{},
                                std::move(file.urls),
                                {},
                                {},
                                {},
                                file.checksum,
                                std::move(file.pieces),
                                file.size});
        plan.documentFiles.emplace_back(plan.entries.size() - 1, std::move(file.name));
    }
    return {};
}

// The files of metalink documents are given their places once every document has been read,
// so a refused file leaves no folder behind.
Plan placed(Plan plan, const Options& o) {
    for (const auto& [index, name] : plan.documentFiles) {
        auto target = documentTarget(o, name, true);
        if (!target)
            return {{}, target.error().message, 1};
        plan.entries[index].target = std::move(*target);
    }
    return plan;
}

Plan planOf(const Options& o) {
    Plan plan;
    for (const std::string& arg : o.urls) {
        std::optional<std::string> document;
        if (!isAddress(arg)) {
            auto read = download::readMetalinkFile(arg);
            if (!read)
                return {{}, read.error().message, 1};
            document = std::move(*read);
        }
        if (!document) {
            const std::string target =
                download::downloadTarget(arg, o.folder.empty() ? o.output : o.folder);
            plan.entries.push_back(entryFor(arg, o.mirrors, {}, target));
            plan.entries.back().checksum = o.checksum;
        } else if (!o.mirrors.empty()) {
            return {{}, "--mirror 不能用于 metalink 文件", 2};
        } else if (Status planned = planDocument(*document, o, plan); !planned) {
            const int code = plan.exitCode ? plan.exitCode : 1;
            return {{}, arg + "：" + planned.error().message, code};
        }
    }
    return placed(std::move(plan), o);
}

} // namespace

int runDownload(Args args) {
    auto parsed = parse(args);
    if (auto* problem = std::get_if<std::string>(&parsed))
        return usage(*problem);
    Options& o = std::get<Options>(parsed);
    std::error_code ec;
    if (!o.folder.empty() && !std::filesystem::is_directory(o.folder, ec)) {
        std::fprintf(stderr, "%s文件夹不存在：%s\n", std::string(download::kFailedText).c_str(),
                     o.folder.c_str());
        return 1;
    }

    std::vector<Status> problems = {download::checkOutput(o.output)};
    for (const std::string& url : o.urls)
        // A local file given in an address's place is a metalink document.
        if (!std::filesystem::is_regular_file(url, ec))
            problems.push_back(download::checkDownloadAddress(url));
    // Named, so that an empty mirror is not taken for the address before it.
    for (const std::string& mirror : o.mirrors)
        if (Status usable = download::checkDownloadAddress(mirror); !usable)
            problems.push_back(makeError("--mirror：" + usable.error().message));
    for (const Status& problem : problems)
        if (!problem) {
            std::fprintf(stderr, "%s%s\n", std::string(download::kFailedText).c_str(),
                         problem.error().message.c_str());
            return 1;
        }
    // Interrupts are taken below, between looks at the queue (every thread inherits the mask),
    // so a Ctrl-C pauses the downloads instead of killing them half-written; one that comes
    // while an address is asked for its document stops that, and is taken below too.
    const sigset_t interrupts = blockStopSignals();
    const auto stopAsked = [&interrupts] {
        sigset_t pending;
        sigpending(&pending);
        for (const int signal : {SIGINT, SIGTERM, SIGHUP})
            if (sigismember(&interrupts, signal) && sigismember(&pending, signal))
                return true;
        return false;
    };
    Plan plan = planOf(o);
    if (plan.exitCode == 2)
        return usage(plan.problem);
    if (plan.exitCode != 0) {
        std::fprintf(stderr, "%s%s\n", std::string(download::kFailedText).c_str(),
                     plan.problem.c_str());
        return 1;
    }

    // So is a resize of the terminal, which redraws the progress lines for the new width.
    sigset_t resized;
    sigemptyset(&resized);
    sigaddset(&resized, SIGWINCH);
    pthread_sigmask(SIG_BLOCK, &resized, nullptr);
    Told told;
    download::DownloadQueue queue(o.queue);
    queue.listen([&told](const download::QueueChange& change) { told.take(change); });
    std::set<std::string> targets;
    std::set<std::uint64_t> renamed;   // saved under another name than their address's
    std::set<std::uint64_t> described; // files of metalink documents
    // Downloads of the command: with several, each line names its file (the queue may not have
    // told of all of them yet).
    std::size_t downloads = 0;
    const auto add = [&](download::QueueEntry entry, bool ofDocument) {
        const std::string url = entry.addresses.front();
        const std::string wanted = entry.target;
        // The first of a name may replace an older file, as a single download does; a second
        // one of this command takes a name nothing has.
        const std::string target =
            download::freeTargetName(wanted, [&](const std::string& candidate) {
                return targets.contains(candidate) ||
                       (candidate != wanted && download::stampOf(candidate).has_value());
            });
        targets.insert(target);
        const std::string name = std::filesystem::path(target).filename().string();
        entry.name = name;
        entry.target = target;
        const std::uint64_t id = queue.add(std::move(entry));
        ++downloads;
        if (ofDocument)
            described.insert(id);
        if (target != wanted) {
            renamed.insert(id);
            if (!o.quiet)
                std::fprintf(stderr, "%s 与前面的地址同名，保存为 %s\n", url.c_str(), name.c_str());
        }
    };
    for (std::size_t i = 0; i < plan.entries.size(); ++i)
        add(std::move(plan.entries[i]),
            std::ranges::any_of(plan.documentFiles,
                                [i](const auto& file) { return file.first == i; }));

    const bool showProgress = !o.quiet && ::isatty(STDERR_FILENO);
    const auto columns = [] { return terminalColumns(STDERR_FILENO).value_or(80); };
    ProgressLines lines;
    std::set<std::uint64_t> resumesTold;
    std::map<std::uint64_t, std::size_t> noticesTold;
    std::set<std::uint64_t> finished;
    // An address that served a metalink document in its file's place: the files it describes
    // take its place in the queue. Why they cannot, when they cannot.
    const auto follow = [&](const QueueItem& item) -> std::optional<std::string> {
        const std::string& url = item.entry.addresses.front();
        auto served = download::metalinkAt(url, stopAsked);
        if (!served)
            return served.error().message;
        if (!*served)
            return url + "：无法读取 metalink 文件";
        Plan more;
        if (Status planned = planDocument(**served, o, more); !planned)
            return url + "：" + planned.error().message;
        more = placed(std::move(more), o);
        if (more.exitCode != 0)
            return more.problem;
        queue.remove(item.id);
        --downloads;
        finished.insert(item.id);
        for (download::QueueEntry& entry : more.entries)
            add(std::move(entry), true);
        return std::nullopt;
    };
    // Follows each document served in a file's place once; true when files joined the queue.
    const auto followDocuments = [&](const std::vector<QueueItem>& items) {
        bool joined = false;
        for (const QueueItem& item : items) {
            if (item.state != QueueState::Failed || item.errorKind != FailureKind::Metalink ||
                described.contains(item.id) || finished.contains(item.id))
                continue;
            if (const auto problem = follow(item)) {
                finished.insert(item.id);
                if (showProgress)
                    lines.erase();
                std::fprintf(stderr, "%s%s\n", std::string(download::kFailedText).c_str(),
                             problem->c_str());
            } else {
                joined = true;
            }
        }
        return joined;
    };
    // What is new to say about `items`: resumes, and each result once.
    const auto notesFor = [&](const std::vector<QueueItem>& items) {
        std::string notes;
        for (const QueueItem& item : items) {
            const std::string who = downloads > 1 ? item.entry.name + "：" : std::string();
            if (item.resumed > 0 && resumesTold.insert(item.id).second && !o.quiet)
                notes += who + "继续下载：已有 " + bytes(item.resumed) + " / " + bytes(item.total) +
                         "\n";
            for (std::size_t& told = noticesTold[item.id]; told < item.notices.size(); ++told)
                if (!o.quiet)
                    notes += who + terminalSafe(item.notices[told]) + "\n";
            const bool over = item.state == QueueState::Done || item.state == QueueState::Failed ||
                              item.state == QueueState::Cancelled;
            if (!over || !finished.insert(item.id).second)
                continue;
            if (item.state == QueueState::Done && !o.quiet)
                notes += std::string(download::kDoneText) + " " + item.entry.target + "（" +
                         bytes(item.bytes) +
                         (renamed.contains(item.id) ? "，与前面的地址同名，已改名" : "") + "）\n";
            else if (item.state == QueueState::Failed)
                // A terminal also gets the library's own words, as a detail.
                notes += std::string(download::kFailedText) + who + item.error +
                         (item.errorDetail.empty() ? "" : " (" + item.errorDetail + ")") + "\n";
            else if (item.state == QueueState::Cancelled)
                notes += who + std::string(download::queueStateText(item.state)) + "\n";
        }
        return notes;
    };
    bool interrupted = false;
    auto lastDrawn = std::chrono::steady_clock::now();
    // Wakes when the queue tells of a change, and at least every 20 ms for a signal; draws at
    // most 5 times a second, at once after a result or a resize.
    const timespec now{0, 0};
    for (;;) {
        const bool changed = told.wait(std::chrono::milliseconds(20));
        if (sigtimedwait(&interrupts, nullptr, &now) > 0 && !interrupted) {
            interrupted = true;
            queue.pauseAll();
        }
        const bool resize = sigtimedwait(&resized, nullptr, &now) > 0;
        if (queue.unfinished() == 0 && queue.active() == 0) {
            if (followDocuments(queue.refresh()))
                continue;
            // The whole list as it ended, read once.
            const std::vector<QueueItem> items = queue.refresh();
            if (showProgress)
                lines.erase();
            std::fputs(notesFor(items).c_str(), stderr);
            bool allDone = true;
            for (const QueueItem& item : items) {
                allDone = allDone && item.state == QueueState::Done;
                if (item.state == QueueState::Paused)
                    std::fprintf(stderr, "%s%s\n",
                                 downloads > 1 ? (item.entry.name + "：").c_str() : "",
                                 item.error.empty() ? "下载已中断" : item.error.c_str());
            }
            return allDone ? 0 : 1;
        }
        if (!changed && !resize)
            continue;
        const std::vector<QueueItem> items = told.items();
        followDocuments(items);
        const std::string notes = notesFor(items);
        if (!notes.empty()) {
            if (showProgress)
                lines.erase();
            std::fputs(notes.c_str(), stderr);
        }
        const auto at = std::chrono::steady_clock::now();
        if (showProgress && (notes.size() > 0 || resize || at - lastDrawn >= kDrawEvery)) {
            lines.draw(items, columns());
            lastDrawn = at;
        }
    }
}

} // namespace vantorel::cli
