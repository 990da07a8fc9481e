// vantorel-cli download URL [-o PATH] [--threads N] [--limit-rate RATE] [--quiet]
// --threads and --limit-rate default to the preferences' connections and speed limit.
// PATH may be a folder: the file keeps the name it has in the address.
// URL may be a share link: it is resolved to its file first. Runs the download job; progress on
// stderr when it is a terminal. Ctrl-C (and SIGTERM, SIGHUP) interrupts cleanly: the workers
// stop, an existing target stays as it was, and the part fetched so far stays beside it, so the
// same command run again goes on where it stopped (and says how much was already there).

#include "cli/Commands.h"
#include "cli/NetworkOptions.h"
#include "cli/StopSignals.h"
#include "common/ByteSize.h"
#include "common/Duration.h"
#include "download/DownloadJob.h"
#include "download/DownloadTarget.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <charconv>
#include <cstdio>
#include <ctime>
#include <string>
#include <thread>

namespace vantorel::cli {
namespace {

constexpr int kWakeSignal = SIGUSR1;

int usage(const std::string& problem) {
    return usageError("download", problem);
}

std::string progressLine(const download::DownloadSnapshot& s) {
    std::string line;
    if (s.state == download::DownloadState::Stalled) {
        line = download::progressLabel(s);
        if (s.totalKnown)
            line += "  " + std::to_string(s.percent()) + "%  " +
                    formatBytes(static_cast<double>(s.arrived), ByteStyle::Scaled) + " / " +
                    formatBytes(static_cast<double>(s.total), ByteStyle::Scaled);
        return line;
    }
    if (s.totalKnown) {
        line = std::to_string(s.percent()) + "%  " +
               formatBytes(static_cast<double>(s.arrived), ByteStyle::Scaled) + " / " +
               formatBytes(static_cast<double>(s.total), ByteStyle::Scaled);
    } else {
        line = formatBytes(static_cast<double>(s.arrived), ByteStyle::Scaled);
    }
    line += "  " + formatBytes(s.bytesPerSecond, ByteStyle::Scaled) + "/s";
    if (const auto left = s.secondsLeft())
        line += "  剩余 " + formatDuration(*left);
    return line;
}

} // namespace

int runDownload(Args args) {
    std::string url;
    std::string output;
    const settings::Preferences& preferences = preferencesOrDefaults();
    download::JobOptions options;
    options.workers = preferences.connections;
    options.speedLimit = preferences.speedLimit;
    bool quiet = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (arg == "-o" || arg == "--output" || arg == "--threads" || arg == "--limit-rate") {
            if (i + 1 >= args.size())
                return usage(std::string(arg) + " 需要一个值");
            const std::string_view value = args[++i];
            if (arg == "--limit-rate") {
                const auto rate = settings::parseRate(value);
                if (!rate)
                    return usage("--limit-rate 应为每秒字节数，可带 k 或 M 后缀（如 2M、512k）");
                options.speedLimit = *rate;
            } else if (arg == "--threads") {
                unsigned n = 0;
                auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
                if (ec != std::errc() || end != value.data() + value.size() || n < 1 ||
                    n > download::kMaxWorkers)
                    return usage("--threads 应为 1 到 " + std::to_string(download::kMaxWorkers) +
                                 " 之间的整数");
                options.workers = n;
            } else {
                output = std::string(value);
            }
        } else if (arg == "--quiet" || arg == "-q") {
            quiet = true;
        } else if (arg.starts_with("-")) {
            return usage("未知选项: " + std::string(arg));
        } else if (url.empty()) {
            url = std::string(arg);
        } else {
            return usage("多余的参数: " + std::string(arg));
        }
    }
    if (url.empty())
        return usage("缺少下载地址");

    // Interrupts are taken by the watcher thread below (every thread inherits the mask), so a
    // Ctrl-C stops the download instead of killing it half-written.
    const sigset_t interrupts = blockStopSignals();
    // The watcher also waits for kWakeSignal, which ends its wait as soon as the job is over.
    sigset_t watched = interrupts;
    sigaddset(&watched, kWakeSignal);
    pthread_sigmask(SIG_BLOCK, &watched, nullptr);

    download::DownloadJob job({url}, download::downloadTarget(url, output), options);
    const bool showProgress = !quiet && ::isatty(STDERR_FILENO);
    std::atomic<bool> finished{false};
    std::atomic<bool> resumeTold{false};
    auto tellResume = [&](const download::DownloadSnapshot& s) {
        if (quiet || s.resumed == 0 || resumeTold.exchange(true))
            return;
        std::fprintf(stderr, "%s继续下载：已有 %s / %s\n", showProgress ? "\r\033[K" : "",
                     formatBytes(static_cast<double>(s.resumed), ByteStyle::Scaled).c_str(),
                     formatBytes(static_cast<double>(s.total), ByteStyle::Scaled).c_str());
    };
    std::thread watcher([&] {
        const timespec tick{0, 200'000'000};
        bool shown = false;
        while (!finished.load()) {
            const int got = sigtimedwait(&watched, nullptr, &tick);
            if (got > 0 && got != kWakeSignal)
                job.interrupt();
            tellResume(job.view().progress);
            if (showProgress && !finished.load()) {
                const download::JobView view = job.view();
                if (view.phase == download::JobPhase::Downloading &&
                    (view.progress.state == download::DownloadState::Downloading ||
                     view.progress.state == download::DownloadState::Stalled)) {
                    std::fprintf(stderr, "\r\033[K%s", progressLine(view.progress).c_str());
                    shown = true;
                }
            }
        }
        if (shown)
            std::fputs("\r\033[K", stderr);
    });
    const download::JobView end = job.run();
    finished.store(true);
    pthread_kill(watcher.native_handle(), kWakeSignal);
    watcher.join();
    tellResume(end.progress);

    switch (end.phase) {
    case download::JobPhase::Done:
        if (!quiet)
            std::fprintf(
                stderr, "%s %s（%s）\n", std::string(download::kDoneText).c_str(), end.file.c_str(),
                formatBytes(static_cast<double>(end.progress.arrived), ByteStyle::Scaled).c_str());
        return 0;
    case download::JobPhase::Interrupted:
    case download::JobPhase::Cancelled:
        std::fprintf(stderr, "%s\n", end.error.empty() ? "下载已中断" : end.error.c_str());
        return 1;
    default:
        std::fprintf(stderr, "%s%s\n", std::string(download::kFailedText).c_str(),
                     end.error.c_str());
        return 1;
    }
}

} // namespace vantorel::cli
