#pragma once
// What a running download shows to the outside: total, arrived bytes, speed and state, readable
// from any thread at any time, and the cancel switch. The downloader writes it; the download
// list (and the update window) read snapshot() a few times a second.

#include "common/ByteSize.h"
#include "download/Rate.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vantorel::download {

enum class DownloadState {
    Idle,        // not started
    Connecting,  // asking the server for the file's length
    Downloading, // bytes are arriving
    Stalled,     // no byte is arriving: connections are being retried, or the server is silent
    Finishing,   // every byte is in; the file is being flushed and put in place
    Done,        // the target is complete
    Failed,      // nothing was put in place; the reason is in the result
    Cancelled,   // stopped on request; nothing was put in place
};

struct DownloadSnapshot {
    DownloadState state = DownloadState::Idle;
    std::uint64_t total = 0;     // bytes of the whole file; meaningful only when totalKnown
    bool totalKnown = false;     // false when the server gave no length (or a content coding)
    std::uint64_t arrived = 0;   // bytes written into the file so far
    std::uint64_t resumed = 0;   // of those, bytes an earlier run had fetched
    double bytesPerSecond = 0.0; // recent speed, smoothed over the last second or so
    int retryIn = 0;             // Stalled: seconds until the next attempt; 0 while one is on
    bool limited = false;        // the speed limit held it back over the last moment
    bool refreshing = false;     // an expired address is being resolved again
    // What became of the download's sources, for the user ("下载链接2 的文件与…"), in order.
    std::vector<std::string> notices;

    // Seconds until the rest has arrived at the present speed; none while the total is unknown
    // or nothing arrives.
    std::optional<double> secondsLeft() const {
        if (!totalKnown || total < arrived)
            return std::nullopt;
        return secondsToArrive(total - arrived, bytesPerSecond);
    }

    // 0..100 when the total is known, otherwise -1.
    int percent() const {
        if (!totalKnown)
            return -1;
        if (total == 0)
            return state == DownloadState::Done ? 100 : 0;
        return static_cast<int>(arrived * 100 / total);
    }
};

// What a progress label beside the bar shows: "57%" while the total is known, else the bytes so
// far in mebibytes ("3.2MB"); while no byte arrives, what the download is waiting for (`brief`:
// in fewer words, for a narrow label).
inline constexpr std::string_view kRefreshingText = "正在刷新下载地址";

inline std::string progressLabel(const DownloadSnapshot& s, bool brief = false) {
    if (s.refreshing && s.state != DownloadState::Done)
        return std::string(kRefreshingText);
    if (s.state == DownloadState::Stalled) {
        if (s.retryIn > 0)
            return (brief ? "" : "连接中断，") + std::to_string(s.retryIn) + " 秒后重试";
        return brief ? "等待响应…" : "等待服务器响应…";
    }
    if (const int percent = s.percent(); percent >= 0)
        return std::to_string(std::min(percent, 100)) + "%";
    return formatBytes(static_cast<double>(s.arrived), ByteStyle::MebibytesLabel);
}

class DownloadProgress {
  public:
    DownloadSnapshot snapshot() const {
        DownloadSnapshot s;
        s.state = state_.load(std::memory_order_acquire);
        s.total = total_.load(std::memory_order_relaxed);
        s.totalKnown = totalKnown_.load(std::memory_order_relaxed);
        s.arrived = arrived_.load(std::memory_order_relaxed);
        s.resumed = resumed_.load(std::memory_order_relaxed);
        s.bytesPerSecond = speed_.load(std::memory_order_relaxed);
        s.retryIn = retryIn_.load(std::memory_order_relaxed);
        s.limited = limited_.load(std::memory_order_relaxed);
        s.refreshing = refreshing_.load(std::memory_order_relaxed);
        std::lock_guard lock(wakeMutex_);
        s.notices = notices_;
        return s;
    }

    // Asks every worker to stop; the download ends as Cancelled soon after.
    void cancel() {
        {
            std::lock_guard lock(wakeMutex_);
            cancelled_.store(true, std::memory_order_release);
        }
        wake_.notify_all();
    }
    bool cancelRequested() const { return cancelled_.load(std::memory_order_acquire); }

    // Sleeps up to `duration`, returning early (true) if cancel() is called.
    template <class Duration> bool waitForCancel(Duration duration) const {
        std::unique_lock lock(wakeMutex_);
        return wake_.wait_for(lock, duration, [this] { return cancelRequested(); });
    }

    // Written by the downloader only.
    void setState(DownloadState state) { state_.store(state, std::memory_order_release); }
    void setTotal(std::uint64_t total, bool known) {
        total_.store(total, std::memory_order_relaxed);
        totalKnown_.store(known, std::memory_order_relaxed);
    }
    void add(std::uint64_t bytes) { arrived_.fetch_add(bytes, std::memory_order_relaxed); }
    // Bytes written before are to be fetched again.
    void takeBack(std::uint64_t bytes) { arrived_.fetch_sub(bytes, std::memory_order_relaxed); }
    void setResumed(std::uint64_t bytes) {
        resumed_.store(bytes, std::memory_order_relaxed);
        arrived_.store(bytes, std::memory_order_relaxed);
    }
    void setSpeed(double bytesPerSecond) {
        speed_.store(bytesPerSecond, std::memory_order_relaxed);
    }
    void setRetryIn(int seconds) { retryIn_.store(seconds, std::memory_order_relaxed); }
    void setLimited(bool limited) { limited_.store(limited, std::memory_order_relaxed); }
    void setRefreshing(bool refreshing) {
        refreshing_.store(refreshing, std::memory_order_relaxed);
    }
    void addNotice(std::string notice) {
        std::lock_guard lock(wakeMutex_);
        notices_.push_back(std::move(notice));
    }

  private:
    std::atomic<DownloadState> state_{DownloadState::Idle};
    std::atomic<std::uint64_t> total_{0};
    std::atomic<bool> totalKnown_{false};
    std::atomic<std::uint64_t> arrived_{0};
    std::atomic<std::uint64_t> resumed_{0};
    std::atomic<double> speed_{0.0};
    std::atomic<int> retryIn_{0};
    std::atomic<bool> limited_{false};
    std::atomic<bool> refreshing_{false};
    std::atomic<bool> cancelled_{false};
    std::vector<std::string> notices_; // under wakeMutex_
    mutable std::mutex wakeMutex_;
    mutable std::condition_variable wake_;
};

} // namespace vantorel::download
