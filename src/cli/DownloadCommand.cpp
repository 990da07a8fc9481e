// vantorel-cli download URL... [-o PATH | -d DIR] [--threads N] [--limit-rate RATE]
//                              [--max-concurrent N] [--quiet]
// Every URL goes into one download queue: --max-concurrent of them at once (default: the
// preferences' downloads at once), the rest waiting in order. --threads and --limit-rate default
// to the preferences' connections and speed limit. With one URL, PATH may be a file or a folder
// (the file then keeps the name it has in the address); -d DIR saves every file under its
// address's name in DIR; a second address whose file has the same name is saved as
// "name (1).ext" (the first free such name), and its lines say so. A URL may be a share link: it
// is resolved to its file first. A file at a target that an earlier, unfinished run left a part
// for was not put there by that run: it is never replaced, the download fails with why.
// On a terminal, stderr shows one progress line per download; otherwise one result line each.
// Ctrl-C (and SIGTERM, SIGHUP) interrupts cleanly: the workers stop, existing targets stay as
// they were, and the parts fetched so far stay beside them, so the same command run again goes
// on where it stopped (and says how much was already there). Exit 0 only when every file is
// complete.

#include "cli/Commands.h"
#include "cli/NetworkOptions.h"
#include "cli/StopSignals.h"
#include "cli/TerminalText.h"
#include "common/ByteSize.h"
#include "common/Duration.h"
#include "download/DownloadQueue.h"
#include "download/DownloadTarget.h"

#include <signal.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <variant>
#include <vector>

namespace vantorel::cli {
namespace {

using download::QueueItem;
using download::QueueState;

int usage(const std::string& problem) {
    return usageError("download", problem);
}

std::string bytes(std::uint64_t count) {
    return formatBytes(static_cast<double>(count), ByteStyle::Scaled);
}

// One download's line: its name (padded to `nameWidth` columns; none when 0), then what it is
// doing.
std::string progressLine(const QueueItem& item, std::size_t nameWidth) {
    std::string line;
    if (nameWidth > 0)
        line = item.entry.name +
               std::string(nameWidth - std::min(nameWidth, displayWidth(item.entry.name)) + 2, ' ');
    switch (item.state) {
    case QueueState::Downloading:
    case QueueState::Retrying:
        break;
    default:
        return line + std::string(download::queueStateText(item.state));
    }
    const std::string sizes = item.totalKnown ? std::to_string(item.percent) + "%  " +
                                                    bytes(item.bytes) + " / " + bytes(item.total)
                                              : bytes(item.bytes);
    if (item.state == QueueState::Retrying)
        return line + item.progressText + "  " + sizes;
    line += sizes + "  " + formatBytes(item.bytesPerSecond, ByteStyle::Scaled) + "/s";
    if (item.secondsLeft)
        line += "  剩余 " + formatDuration(*item.secondsLeft);
    return line;
}

// The progress lines on a terminal, redrawn in place.
class ProgressLines {
  public:
    void draw(const std::vector<QueueItem>& items) {
        std::string text = clear();
        std::size_t nameWidth = 0;
        if (items.size() > 1)
            for (const QueueItem& item : items)
                nameWidth = std::max(nameWidth, displayWidth(item.entry.name));
        for (const QueueItem& item : items)
            text += progressLine(item, nameWidth) + "\n";
        shown_ = items.size();
        std::fputs(text.c_str(), stderr);
    }
    // Clears them, so a message can take their place; draw() brings them back.
    void erase() {
        std::fputs(clear().c_str(), stderr);
        shown_ = 0;
    }

  private:
    std::string clear() const {
        return shown_ == 0 ? std::string() : "\033[" + std::to_string(shown_) + "A\r\033[J";
    }
    std::size_t shown_ = 0;
};

struct Options {
    std::vector<std::string> urls;
    std::string output;
    std::string folder;
    download::QueueOptions queue;
    bool quiet = false;
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
    o.queue.job.speedLimit = preferences.speedLimit;
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
                                arg == "--max-concurrent";
        if (!takesValue)
            return "未知选项: " + std::string(arg);
        if (i + 1 >= args.size())
            return std::string(arg) + " 需要一个值";
        const std::string_view value = args[++i];
        if (arg == "--limit-rate") {
            const auto rate = settings::parseRate(value);
            if (!rate)
                return std::string("--limit-rate 应为每秒字节数，可带 k 或 M 后缀（如 2M、512k）");
            o.queue.job.speedLimit = *rate;
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
    if (!o.output.empty() && o.urls.size() > 1)
        return std::string("多个地址时请用 -d DIR 指定保存的文件夹");
    return o;
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
        problems.push_back(download::checkDownloadAddress(url));
    for (const Status& problem : problems)
        if (!problem) {
            std::fprintf(stderr, "%s%s\n", std::string(download::kFailedText).c_str(),
                         problem.error().message.c_str());
            return 1;
        }

    // Interrupts are taken below, between looks at the queue (every thread inherits the mask),
    // so a Ctrl-C pauses the downloads instead of killing them half-written.
    const sigset_t interrupts = blockStopSignals();
    download::DownloadQueue queue(o.queue);
    std::set<std::string> targets;
    std::set<std::uint64_t> renamed; // saved under another name than their address's
    for (const std::string& url : o.urls) {
        const std::string wanted =
            download::downloadTarget(url, o.folder.empty() ? o.output : o.folder);
        // The first of a name may replace an older file, as a single download does; a second
        // one of this command takes a name nothing has.
        const std::string target =
            download::freeTargetName(wanted, [&](const std::string& candidate) {
                return targets.contains(candidate) ||
                       (candidate != wanted && download::stampOf(candidate).has_value());
            });
        targets.insert(target);
        const std::string name = std::filesystem::path(target).filename().string();
        const std::uint64_t id = queue.add({name, {url}, target});
        if (target != wanted) {
            renamed.insert(id);
            if (!o.quiet)
                std::fprintf(stderr, "%s 与前面的地址同名，保存为 %s\n", url.c_str(), name.c_str());
        }
    }

    const bool showProgress = !o.quiet && ::isatty(STDERR_FILENO);
    ProgressLines lines;
    std::set<std::uint64_t> told; // resumes and results already said
    std::set<std::uint64_t> finished;
    bool interrupted = false;
    // Looks when a download ends and at least every 20 ms (for an interrupt), so the command
    // ends as soon as the last download does; draws 5 times a second.
    const timespec now{0, 0};
    for (unsigned ticks = 0;; ++ticks) {
        queue.waitForEnd(std::chrono::milliseconds(20));
        if (sigtimedwait(&interrupts, nullptr, &now) > 0 && !interrupted) {
            interrupted = true;
            queue.pauseAll();
        }
        const std::vector<QueueItem> items = queue.refresh();
        const bool running = std::any_of(items.begin(), items.end(),
                                         [](const QueueItem& i) { return i.unfinished(); });
        std::string notes;
        for (const QueueItem& item : items) {
            if (item.resumed > 0 && told.insert(item.id).second && !o.quiet)
                notes += (items.size() > 1 ? item.entry.name + "：" : std::string()) +
                         "继续下载：已有 " + bytes(item.resumed) + " / " + bytes(item.total) + "\n";
            const bool over = item.state == QueueState::Done || item.state == QueueState::Failed;
            if (over && finished.insert(item.id).second) {
                if (item.state == QueueState::Done && !o.quiet)
                    notes += std::string(download::kDoneText) + " " + item.entry.target + "（" +
                             bytes(item.bytes) +
                             (renamed.contains(item.id) ? "，与前面的地址同名，已改名" : "") +
                             "）\n";
                else if (item.state == QueueState::Failed)
                    // A terminal also gets the library's own words, as a detail.
                    notes += std::string(download::kFailedText) +
                             (items.size() > 1 ? item.entry.name + "：" : std::string()) +
                             item.error +
                             (item.errorDetail.empty() ? "" : " (" + item.errorDetail + ")") + "\n";
            }
        }
        if (!notes.empty()) {
            if (showProgress)
                lines.erase();
            std::fputs(notes.c_str(), stderr);
        }
        if (!running && queue.active() == 0) {
            if (showProgress)
                lines.erase();
            bool allDone = true;
            for (const QueueItem& item : items) {
                allDone = allDone && item.state == QueueState::Done;
                if (item.state == QueueState::Paused)
                    std::fprintf(stderr, "%s%s\n",
                                 items.size() > 1 ? (item.entry.name + "：").c_str() : "",
                                 item.error.empty() ? "下载已中断" : item.error.c_str());
            }
            return allDone ? 0 : 1;
        }
        if (showProgress && (ticks % 10 == 0 || !notes.empty()))
            lines.draw(items);
    }
}

} // namespace vantorel::cli
