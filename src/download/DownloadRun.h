#pragma once
// The state of one run of the downloader: its sources (Sources.h) and what the first one's probe
// found, the flags that stop every worker (StopFlags.h), the stall watch, and the threads of a
// round, with the speed, the speed floor and the checkpoint sampled while they run. What is left
// of the part when it ends is PartPolicy.h's.
//
// Bytes are checked again after they were fetched (a request's overlap with bytes already held,
// the closing proof): when a source's bytes differ from the part's, the ledger of who sent what
// says whose bytes are wrong. The source that defined the file is taken at its word while it
// serves; another source that differs from it is dropped and every byte it sent is fetched again.

#include "common/Result.h"
#include "download/Checksum.h"
#include "download/ClosingProof.h"
#include "download/Downloader.h"
#include "download/PartFile.h"
#include "download/Rate.h"
#include "download/ResumeState.h"
#include "download/SegmentScheduler.h"
#include "download/SourceLedger.h"
#include "download/Sources.h"
#include "download/SpeedLimit.h"
#include "download/StopFlags.h"
#include "net/DownloadConnection.h"
#include "net/Session.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace vantorel::download {

using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

inline constexpr std::chrono::milliseconds kSampleEvery{200};
// How often the checkpoint's tick runs: bytes complete go to the disk within this much of
// arriving, so the disk writes alongside the download and the flush at the end finds little.
inline constexpr std::chrono::milliseconds kTickEvery{10};
// After this long without a byte, a download whose requests keep failing shows that it is
// stalled rather than a frozen percent.
inline constexpr std::chrono::milliseconds kStalledAfter{3000};

inline constexpr std::string_view kChangedText =
    "服务器上的文件在下载过程中被更换了，请稍后重新下载";

// What one download shares between the driver and its workers.
class DownloadRun {
  public:
    DownloadRun(const DownloadRequest& request, DownloadProgress& progress, PartFile& file);

    const DownloadRequest& request;
    DownloadProgress& progress;
    PartFile& file;
    Sources sources;
    std::size_t primary = 0; // the source whose probe defined the file
    std::string url;         // where the primary's probe finally arrived (after redirects)
    std::uint64_t total = 0; // meaningful when the length is known
    Validators validators;   // the primary's probe's
    Seconds probeWait{};     // how long the first source's probe kept it waiting
    // The digest the primary's probe announced (Announced.h).
    std::optional<Checksum> announcedDigest;
    std::optional<SegmentScheduler> scheduler;
    SourceLedger ledger; // which source sent which bytes in this pass
    ClosingProof closing;
    // The workers' connections share TLS sessions and looked-up names.
    net::SharedConnections connections;

  private:
    std::shared_ptr<SpeedLimit> ownLimit_ =
        request.limit ? request.limit : std::make_shared<SpeedLimit>();

  public:
    SpeedLimit& limit = *ownLimit_;

    bool stopping() const { return flags_.stopped() || progress.cancelRequested(); }
    bool cancelled() const { return progress.cancelRequested(); }
    bool fellBack() const { return flags_.fellBack(); }
    bool changed() const { return flags_.changed(); }
    // The bytes are fetched (or the download stopped): work beside the workers, such as proving
    // a source, ends.
    void settle() { flags_.settle(); }
    bool settled() const { return flags_.settled() || progress.cancelRequested(); }

    // The first failure wins and stops every worker; its kind says whether a later run can
    // take up what it leaves (PartPolicy).
    void fail(Error error) { flags_.fail(std::move(error)); }
    void fail(std::string message) { fail(makeError(std::move(message))); }
    std::optional<Error> failure() const { return flags_.failure(); }

    // The server does not serve ranges as asked: stop the ranged workers, fetch one stream.
    void fallBack() { flags_.fallBack(); }
    // The file on the server is not the one the probe saw.
    void versionChanged() { flags_.versionChanged(); }
    // The direct address of source `id`: as resolved already, else resolved now.
    Result<std::string> directAddress(std::size_t id) const;
    // Takes source `id` out of the download, telling the user `why` when other sources go on.
    void dropSource(std::size_t id, const std::string& why);
    // The failure of a download whose every source is gone: why the last one went.
    Error noSourceLeft() const;
    // Resolves source `id`'s share link again after its address expired and proves the fresh
    // address; false when it cannot be refreshed (see Sources::beginRefresh).
    bool refreshSource(std::size_t id);
    // Every source is gone: asks where they came from for the current addresses (once) and
    // proves them; true when one joined.
    bool renewSources();
    // The bytes of `interval` are wrong: they are fetched again (the progress gives them back).
    void fetchAgain(ByteInterval interval);
    // Source `asked` serves other bytes for `held` than the part holds. True when `asked` is to
    // blame; false when other sources sent those bytes and the source that defined the file
    // contradicts them: they are distrusted.
    bool blames(std::size_t asked, ByteInterval held);
    // Source `id` serves another version than the part's now: dropped and its bytes fetched
    // again while others serve, else the download starts over (versionChanged()).
    void sourceChanged(std::size_t id);
    // Drops source `id` (`why`, as for dropSource) and fetches again every byte it sent.
    void distrust(std::size_t id, const std::string& why);
    // Fetches again what distrusted sources sent after they were distrusted (bytes that were on
    // the way meanwhile); true when there were any.
    bool sweepDistrusted();

    // Proves the sources not yet asked, one after another, until `done` says to stop.
    template <class Done> void proveUntried(Done done) {
        for (const std::size_t id : sources.untried()) {
            if (settled() || done())
                return;
            joinSource(id);
        }
    }

    // Why the last request failed, for the message when nobody could fetch the rest.
    Error lastFailure() const;
    bool failedSinceLastByte() const {
        return lastFailure_.load() > lastByte_.time_since_epoch().count();
    }
    // The failure of a download whose requests kept failing: the last one's words and detail.
    Error retriesFailed() const;
    // Why a download under the speed floor for the whole window ends: when its requests kept
    // failing meanwhile, their failure is the cause, not the speed.
    Error underFloor() const;

    void resetFlags() { flags_.reset(); }

    // A request failed (`why`, when it says more than the last one); `worker` (kMaxWorkers for
    // the whole download) tries again at `until`, or is no longer waiting when it is the epoch.
    void attemptFailed(Error why = {});
    void retryAt(unsigned worker, Clock::time_point until) {
        retryAt_[worker].store(until.time_since_epoch().count());
    }
    Clock::duration sinceLastByte() const { return Clock::now() - lastByte_; }

    // Shows Stalled while no byte arrives and requests fail (or for kStalledAfter with no byte
    // at all), with the seconds until the next attempt; Downloading again once bytes arrive.
    // `held`: the speed limit held it back meanwhile, so no byte arriving is not a stall.
    void watchStall(std::uint64_t arrived, bool held = false);

    // Sleeps, cut short when the job stops; true if it is still running afterwards.
    bool pause(Clock::duration duration);
    // Draws `bytes` from the speed limit, calling `pass(offset, size)` for each piece paid for;
    // the time it waits counts as held by the limit, not as a slow or silent server.
    template <class Pass> bool throughLimit(std::uint64_t bytes, Pass pass) {
        return limit.pass(
            bytes,
            [this](std::chrono::nanoseconds wait) {
                heldUntil_.store((Clock::now() + wait).time_since_epoch().count());
                return pause(wait);
            },
            pass);
    }
    // Whether the speed limit held this download back at any time since `since`.
    bool heldSince(Clock::time_point since) const {
        return Clock::time_point(Clock::duration(heldUntil_.load())) >= since;
    }
    // What a connection of this download needs of it.
    // `background`: for work beside the workers, which ends once the download settles too.
    net::ConnectionRules connectionRules(bool background = false) {
        return {[this, background] { return background ? settled() : stopping(); },
                [this](Clock::time_point since) { return heldSince(since); },
                request.speedFloor,
                request.floorTime,
                kReadBufferBytes,
                &connections};
    }

    // Runs `work` on `count` threads and waits for all of them, meanwhile sampling the speed and
    // watching the speed floor every kSampleEvery, and calling `tick` (the resume state's
    // checkpoint) every kTickEvery.
    template <class Work, class Tick> void runThreads(std::size_t count, Work work, Tick tick) {
        std::vector<std::jthread> threads;
        threads.reserve(count);
        running_ = count;
        try {
            for (std::size_t i = 0; i < count; ++i)
                threads.emplace_back([this, i, &work] {
                    try {
                        work(i);
                    } catch (const std::exception&) {
                        fail("内存或系统资源不足，下载中止");
                    }
                    std::lock_guard guard(doneMutex_);
                    --running_;
                    doneCv_.notify_all();
                });
        } catch (const std::exception&) {
            fail("无法启动下载线程");
            std::lock_guard guard(doneMutex_);
            running_ -= count - threads.size();
        }
        // The speed shown is over the last second.
        Rate speed(std::chrono::seconds(1));
        std::unique_lock guard(doneMutex_);
        auto nextSample = Clock::now() + kSampleEvery;
        while (!doneCv_.wait_for(guard, kTickEvery, [this] { return running_ == 0; })) {
            if (const auto now = Clock::now(); now >= nextSample) {
                nextSample = now + kSampleEvery;
                const std::uint64_t arrived = progress.snapshot().arrived;
                speed.add(arrived);
                progress.setSpeed(speed.bytesPerSecond());
                // Held back by our own limit, a download is neither stalled nor too slow.
                const bool held = heldSince(now - kSampleEvery);
                progress.setLimited(held);
                watchStall(arrived, held);
                if (held)
                    floor_.clear();
                floor_.add(arrived);
                if (floor_.under(request.speedFloor))
                    fail(underFloor());
            }
            guard.unlock();
            tick();
            guard.lock();
        }
    }

  private:
    void joinSource(std::size_t id);

    std::atomic<bool> renewed_{false};
    std::mutex againMutex_; // one fetchAgain() at a time; guards distrusted_
    std::vector<std::size_t> distrusted_;
    Error lastDrop_; // under failMutex_
    StopFlags flags_;
    mutable std::mutex failMutex_; // the reasons below
    Error lastFailureReason_;
    std::mutex doneMutex_;
    std::condition_variable doneCv_;
    std::size_t running_ = 0;
    // Ends a download that stays under the speed floor as a whole for `giveUpAfter`: then no
    // connection of it can be above the floor.
    Rate floor_{request.giveUpAfter};
    std::uint64_t lastArrived_ = 0;
    Clock::time_point lastByte_ = Clock::now();
    std::atomic<Clock::rep> lastFailure_{0};
    std::atomic<Clock::rep> heldUntil_{0};
    std::array<std::atomic<Clock::rep>, kMaxWorkers + 1> retryAt_{};
};

} // namespace vantorel::download
