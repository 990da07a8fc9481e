// vantorel-cli download URL [-o PATH] [--threads N] [--quiet]
// PATH may be a folder: the file keeps the name it has in the address.
// Runs the multi-threaded downloader; progress on stderr when it is a terminal. Ctrl-C cancels
// cleanly: the workers stop, the temporary file goes, an existing target stays as it was.

#include "cli/Commands.h"
#include "cli/StopSignals.h"
#include "update/DownloadTarget.h"
#include "update/Downloader.h"

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

int usage(const std::string& problem) {
    return usageError("download", problem);
}

std::string formatBytes(double bytes) {
    static constexpr const char* kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    int unit = 0;
    while (bytes >= 1024.0 && unit < 4) {
        bytes /= 1024.0;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", bytes, kUnits[unit]);
    return text;
}

std::string formatDuration(double seconds) {
    const long total = static_cast<long>(seconds + 0.5);
    char text[32];
    if (total >= 3600)
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60,
                      total % 60);
    else
        std::snprintf(text, sizeof text, "%02ld:%02ld", total / 60, total % 60);
    return text;
}

std::string progressLine(const update::DownloadSnapshot& s) {
    std::string line;
    if (s.totalKnown) {
        line = std::to_string(s.percent()) + "%  " + formatBytes(static_cast<double>(s.arrived)) +
               " / " + formatBytes(static_cast<double>(s.total));
    } else {
        line = formatBytes(static_cast<double>(s.arrived));
    }
    line += "  " + formatBytes(s.bytesPerSecond) + "/s";
    if (s.totalKnown && s.bytesPerSecond > 0 && s.total >= s.arrived)
        line +=
            "  剩余 " + formatDuration(static_cast<double>(s.total - s.arrived) / s.bytesPerSecond);
    return line;
}

} // namespace

int runDownload(Args args) {
    update::DownloadRequest request;
    bool quiet = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (arg == "-o" || arg == "--output" || arg == "--threads") {
            if (i + 1 >= args.size())
                return usage(std::string(arg) + " 需要一个值");
            const std::string_view value = args[++i];
            if (arg == "--threads") {
                unsigned n = 0;
                auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
                if (ec != std::errc() || end != value.data() + value.size() || n < 1 ||
                    n > update::kMaxWorkers)
                    return usage("--threads 应为 1 到 " + std::to_string(update::kMaxWorkers) +
                                 " 之间的整数");
                request.workers = n;
            } else {
                request.target = std::string(value);
            }
        } else if (arg == "--quiet" || arg == "-q") {
            quiet = true;
        } else if (arg.starts_with("-")) {
            return usage("未知选项: " + std::string(arg));
        } else if (request.url.empty()) {
            request.url = std::string(arg);
        } else {
            return usage("多余的参数: " + std::string(arg));
        }
    }
    if (request.url.empty())
        return usage("缺少下载地址");
    request.target = update::downloadTarget(request.url, request.target);

    // Interrupts are taken by the watcher thread below (every thread inherits the mask), so a
    // Ctrl-C cancels the download instead of killing it half-written.
    const sigset_t interrupts = blockStopSignals();

    update::Downloader downloader(request);
    const bool showProgress = !quiet && ::isatty(STDERR_FILENO);
    std::atomic<bool> finished{false};
    std::thread watcher([&] {
        const timespec tick{0, 200'000'000};
        bool shown = false;
        while (!finished.load()) {
            if (sigtimedwait(&interrupts, nullptr, &tick) > 0)
                downloader.cancel();
            if (showProgress && !finished.load()) {
                const auto snapshot = downloader.progress().snapshot();
                if (snapshot.state == update::DownloadState::Downloading) {
                    std::fprintf(stderr, "\r\033[K%s", progressLine(snapshot).c_str());
                    shown = true;
                }
            }
        }
        if (shown)
            std::fputs("\r\033[K", stderr);
    });
    auto result = downloader.run();
    finished.store(true);
    watcher.join();

    if (!result) {
        std::fprintf(stderr, "下载失败！%s\n", result.error().message.c_str());
        return 1;
    }
    if (!quiet)
        std::fprintf(stderr, "下载完毕~ %s（%s）\n", result->path.c_str(),
                     formatBytes(static_cast<double>(result->bytes)).c_str());
    return 0;
}

} // namespace vantorel::cli
