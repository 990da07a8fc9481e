#include "download/Downloader.h"

#include "common/Text.h"
#include "download/GuardedCopy.h"
#include "download/PartFile.h"
#include "download/ResumeState.h"
#include "download/SegmentScheduler.h"
#include "download/SpeedLimit.h"
#include "download/Staging.h"
#include "net/ContentLength.h"
#include "net/Curl.h"
#include "net/Deadlines.h"
#include "net/Session.h"
#include "net/Transport.h"

#include <sys/statvfs.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

namespace vantorel::download {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using Seconds = std::chrono::duration<double>;

constexpr milliseconds kMaxRetryDelay{5000};
constexpr milliseconds kSampleEvery{200};
// How long a worker with nothing to take waits before it asks the scheduler again.
constexpr milliseconds kWaitForWork{20};
constexpr long kMaxRedirects = 10;
// A request asks for about this much of the connection's time (more on a distant server, see
// RangeWorker::requestTime): short enough that a range can be split between requests instead of
// cutting one short (which would waste what is in flight and the connection with it), long
// enough that the round trip per request hardly counts.
constexpr milliseconds kRequestTime{150};
constexpr std::uint64_t kFirstRequestBytes = 128 * 1024;
constexpr std::uint64_t kMaxRequestBytes = 32 << 20;
// How far ahead of its copies a worker brings in the pages of its part of the view: not far, so
// that a page the system has just cleared is still in the processor's cache when the bytes are
// copied into it (4 MiB ahead for each of eight workers measured about 10 % slower).
constexpr std::uint64_t kPrefaultBytes = 256 << 10;

// After this long without a byte, a download whose requests keep failing shows that it is
// stalled rather than a frozen percent.
constexpr milliseconds kStalledAfter{3000};
// Rounds of workers that bring no byte are started again after a wait that doubles up to this.
constexpr milliseconds kMaxRoundDelay{30'000};

constexpr std::string_view kChangedText = "服务器上的文件在下载过程中被更换了，请稍后重新下载";
constexpr std::string_view kKeptText = "已下载的部分已保留，再次下载时从中断处继续";
// A failure the next run cannot get past: the file is gone from the server, or it changed.
constexpr int kFinalError = -1;

// A whole decimal number, nothing else.
std::optional<std::uint64_t> parseNumber(std::string_view text) {
    text = trimWhitespace(text);
    std::uint64_t value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

// Headers of the final reply of a transfer; an interim or redirect reply is forgotten when the
// next status line arrives.
struct ReplyHead {
    long status = 0;
    net::ContentLength length;
    std::string contentRange;
    std::string contentEncoding;
    std::string contentType;
    std::string acceptRanges;
    Validators validators;
    bool complete = false; // the blank line that ends the head has arrived

    // False when the head cannot be trusted (the transfer is then stopped).
    bool take(std::string_view line) {
        line = trimWhitespace(line);
        if (line.empty()) {
            complete = true;
            return true;
        }
        if (line.starts_with("HTTP/")) {
            *this = ReplyHead{};
            const std::size_t space = line.find(' ');
            if (space != std::string_view::npos)
                status = static_cast<long>(parseNumber(line.substr(space + 1, 3)).value_or(0));
            return true;
        }
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos)
            return true;
        const std::string_view name = trimWhitespace(line.substr(0, colon));
        const std::string_view value = trimWhitespace(line.substr(colon + 1));
        if (equalsIgnoreCase(name, "Content-Length"))
            length.take(value);
        else if (equalsIgnoreCase(name, "Content-Range"))
            contentRange = value;
        else if (equalsIgnoreCase(name, "Content-Encoding"))
            contentEncoding = value;
        else if (equalsIgnoreCase(name, "Content-Type"))
            contentType = value;
        else if (equalsIgnoreCase(name, "Accept-Ranges"))
            acceptRanges = value;
        else if (equalsIgnoreCase(name, "ETag"))
            validators.etag = value;
        else if (equalsIgnoreCase(name, "Last-Modified"))
            validators.lastModified = value;
        return !length.bad();
    }

    // True when the body is not the file's bytes as they are.
    bool coded() const {
        return !contentEncoding.empty() && !equalsIgnoreCase(contentEncoding, "identity");
    }
};

struct ContentRange {
    std::uint64_t first = 0;
    std::uint64_t last = 0;
    std::optional<std::uint64_t> total; // none for "*"
};

// "bytes FIRST-LAST/TOTAL" (or "/*"); none when it is not of that form.
std::optional<ContentRange> parseContentRange(std::string_view text) {
    text = trimWhitespace(text);
    if (text.size() < 6 || !equalsIgnoreCase(text.substr(0, 5), "bytes") ||
        (text[5] != ' ' && text[5] != '='))
        return std::nullopt;
    text.remove_prefix(6);
    const std::size_t dash = text.find('-');
    const std::size_t slash = text.find('/');
    if (dash == std::string_view::npos || slash == std::string_view::npos || slash < dash)
        return std::nullopt;
    const auto first = parseNumber(text.substr(0, dash));
    const auto last = parseNumber(text.substr(dash + 1, slash - dash - 1));
    if (!first || !last)
        return std::nullopt;
    ContentRange range{*first, *last, std::nullopt};
    if (trimWhitespace(text.substr(slash + 1)) != "*") {
        range.total = parseNumber(text.substr(slash + 1));
        if (!range.total)
            return std::nullopt;
    }
    return range;
}

// 404 and 410 prove the file is gone: what was fetched of it is of no more use.
bool goneStatus(long status) {
    return status == 404 || status == 410;
}

std::string httpMessage(long status) {
    if (status == 404 || status == 410)
        return "服务器上没有这个文件（HTTP " + std::to_string(status) + "）";
    if (status == 401 || status == 403)
        return "服务器拒绝了下载请求（HTTP " + std::to_string(status) + "）";
    return "服务器返回了错误（HTTP " + std::to_string(status) + "）";
}

Error httpError(long status) {
    return makeError(httpMessage(status), goneStatus(status) ? kFinalError : 0);
}

bool retryableStatus(long status) {
    return status == 408 || status == 429 || status >= 500;
}

// The transport's message for a failed transfer of `handle`.
std::string transportMessage(CURL* handle, CURLcode code, bool headComplete, const char* detail) {
    curl_off_t connectTime = 0;
    const bool connected =
        curl_easy_getinfo(handle, CURLINFO_CONNECT_TIME_T, &connectTime) == CURLE_OK &&
        connectTime > 0;
    return net::failureText(net::failedStep(code, connected, headComplete), code, detail);
}

// Whether a reply is the version the probe saw: it carries every validator the probe had, each
// the same. A reply that lacks one could come from anywhere (a mirror reached by a redirect, a
// server that switched the file and dropped its validators), so it proves nothing.
bool provesSameVersion(const Validators& probe, const Validators& reply) {
    return (probe.etag.empty() || reply.etag == probe.etag) &&
           (probe.lastModified.empty() || reply.lastModified == probe.lastModified);
}

// "scheme://host:port" of `url`, the default port filled in; empty when it cannot be parsed.
std::string originOf(const char* url) {
    std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> parsed(curl_url(), &curl_url_cleanup);
    if (!parsed || !url || curl_url_set(parsed.get(), CURLUPART_URL, url, 0) != CURLUE_OK)
        return {};
    std::string origin;
    for (const CURLUPart part : {CURLUPART_SCHEME, CURLUPART_HOST, CURLUPART_PORT}) {
        char* text = nullptr;
        if (curl_url_get(parsed.get(), part, &text, CURLU_DEFAULT_PORT) != CURLUE_OK)
            return {};
        origin += text;
        origin += '|';
        curl_free(text);
    }
    return origin;
}

std::string rangeText(std::uint64_t first, std::uint64_t last) {
    return std::to_string(first) + "-" + std::to_string(last);
}

std::optional<std::uint64_t> freeSpaceOf(const std::string& folder) {
    struct statvfs info {};
    if (::statvfs(folder.c_str(), &info) != 0)
        return std::nullopt;
    return static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
}

std::string mebibytes(std::uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / (1024.0 * 1024.0));
    return text;
}

// (time, bytes arrived) samples over the last `window`, with one at or before its start as the
// anchor: what arrived over the span they cover.
class ArrivalWindow {
  public:
    explicit ArrivalWindow(Clock::duration window) : window_(window) {}

    struct Span {
        Seconds time;
        std::uint64_t bytes = 0;
    };
    Span add(std::uint64_t arrived) {
        const auto now = Clock::now();
        samples_.emplace_back(now, arrived);
        while (samples_.size() > 1 && now - samples_[1].first >= window_)
            samples_.pop_front();
        const auto& [then, before] = samples_.front();
        return {now - then, arrived - before};
    }

  private:
    const Clock::duration window_;
    std::deque<std::pair<Clock::time_point, std::uint64_t>> samples_;
};

// The speed over the last second.
class SpeedMeter {
  public:
    double sample(std::uint64_t arrived) {
        const ArrivalWindow::Span span = window_.add(arrived);
        return span.time.count() > 0 ? static_cast<double>(span.bytes) / span.time.count() : 0.0;
    }

  private:
    ArrivalWindow window_{std::chrono::seconds(1)};
};

// Ends a download that stays under the speed floor as a whole for `giveUpAfter`: then no
// connection of it can be above the floor.
class FloorWatch {
  public:
    FloorWatch(double floor, milliseconds giveUpAfter)
        : floor_(floor), giveUpAfter_(giveUpAfter), window_(giveUpAfter) {}

    // False when the download has been under the floor for the whole window.
    bool sample(std::uint64_t arrived) {
        const ArrivalWindow::Span span = window_.add(arrived);
        return span.time < giveUpAfter_ ||
               static_cast<double>(span.bytes) >= floor_ * span.time.count();
    }

  private:
    const double floor_;
    const milliseconds giveUpAfter_;
    ArrivalWindow window_;
};

// What one download shares between the driver and its workers.
class Job {
  public:
    Job(const DownloadRequest& request, DownloadProgress& progress, PartFile& file)
        : request(request), progress(progress), file(file) {}

    const DownloadRequest& request;
    DownloadProgress& progress;
    PartFile& file;
    std::string url;         // where the probe finally arrived (after redirects)
    std::uint64_t total = 0; // meaningful when the length is known
    Validators validators;   // the probe's
    std::optional<SegmentScheduler> scheduler;
    // The workers' connections share TLS sessions and looked-up names.
    net::SharedConnections connections;
    SpeedLimit limit{request.speedLimit};
    // Serialises every copy into the file together with the arrived-bytes counter.
    std::mutex lock;

    bool stopping() const { return stop_.load() || progress.cancelRequested(); }
    bool cancelled() const { return progress.cancelRequested(); }
    bool fellBack() const { return fallback_.load(); }
    bool changed() const { return changed_.load(); }

    // The first failure wins and stops every worker. A final one (the file is gone or was
    // tampered with) leaves nothing for a later run to take up.
    void fail(std::string message, bool final = false) {
        {
            std::lock_guard guard(failMutex_);
            if (!failure_)
                failure_ = makeError(std::move(message), final ? kFinalError : 0);
        }
        stop_.store(true);
    }
    std::optional<Error> failure() const {
        std::lock_guard guard(failMutex_);
        return failure_;
    }

    // The server does not serve ranges as asked: stop the ranged workers, fetch one stream.
    void fallBack() {
        fallback_.store(true);
        stop_.store(true);
    }
    // The file on the server is not the one the probe saw.
    void versionChanged() {
        changed_.store(true);
        stop_.store(true);
    }
    // Why the last request failed, for the message when nobody could fetch the rest.
    std::string lastFailure() const {
        std::lock_guard guard(failMutex_);
        return lastFailureReason_;
    }
    bool failedSinceLastByte() const {
        return lastFailure_.load() > lastByte_.time_since_epoch().count();
    }
    std::string retriesFailedText() const { return "多次重试仍未下载成功：" + lastFailure(); }
    // Why a download under the speed floor for the whole window ends: when its requests kept
    // failing meanwhile, their failure is the cause, not the speed.
    std::string underFloorText() const {
        if (failedSinceLastByte())
            return retriesFailedText();
        return "下载速度过低：" +
               std::to_string(
                   std::chrono::duration_cast<std::chrono::seconds>(request.giveUpAfter).count()) +
               " 秒内没有一个连接的速度达到 " +
               std::to_string(static_cast<long>(request.speedFloor)) + " 字节/秒";
    }

    void resetFlags() {
        stop_.store(false);
        fallback_.store(false);
        changed_.store(false);
    }

    // A request failed (`why`, when it says more than the last one); `worker` (kMaxWorkers for
    // the whole download) tries again at `until`, or is no longer waiting when it is the epoch.
    void attemptFailed(std::string why = {}) {
        if (!why.empty()) {
            std::lock_guard guard(failMutex_);
            lastFailureReason_ = std::move(why);
        }
        lastFailure_.store(Clock::now().time_since_epoch().count());
    }
    void retryAt(unsigned worker, Clock::time_point until) {
        retryAt_[worker].store(until.time_since_epoch().count());
    }
    Clock::duration sinceLastByte() const { return Clock::now() - lastByte_; }

    // Shows Stalled while no byte arrives and requests fail (or for kStalledAfter with no byte
    // at all), with the seconds until the next attempt; Downloading again once bytes arrive.
    void watchStall(std::uint64_t arrived) {
        const auto now = Clock::now();
        if (arrived != lastArrived_) {
            lastArrived_ = arrived;
            lastByte_ = now;
        }
        const DownloadState state = progress.snapshot().state;
        if (state != DownloadState::Downloading && state != DownloadState::Stalled)
            return;
        const auto quiet = now - lastByte_;
        if ((failedSinceLastByte() && quiet >= kSampleEvery) || quiet >= kStalledAfter) {
            Clock::rep next = 0;
            for (const auto& at : retryAt_) {
                const Clock::rep until = at.load();
                if (until > now.time_since_epoch().count() && (next == 0 || until < next))
                    next = until;
            }
            const auto wait = Clock::duration(next) - now.time_since_epoch();
            progress.setRetryIn(
                next == 0
                    ? 0
                    : static_cast<int>(std::chrono::ceil<std::chrono::seconds>(wait).count()));
            progress.setState(DownloadState::Stalled);
        } else if (state == DownloadState::Stalled) {
            progress.setRetryIn(0);
            progress.setState(DownloadState::Downloading);
        }
    }

    // Sleeps, cut short when the job stops; true if it is still running afterwards.
    bool pause(Clock::duration duration) {
        const auto until = Clock::now() + duration;
        while (!stopping()) {
            const auto left = until - Clock::now();
            if (left <= Clock::duration::zero())
                return true;
            progress.waitForCancel(std::min<Clock::duration>(left, milliseconds(20)));
        }
        return false;
    }

    // Runs `work` on `count` threads and waits for all of them, meanwhile sampling the speed,
    // watching the speed floor and calling `tick` (the resume state's checkpoint).
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
        SpeedMeter meter;
        std::unique_lock guard(doneMutex_);
        while (!doneCv_.wait_for(guard, kSampleEvery, [this] { return running_ == 0; })) {
            const std::uint64_t arrived = progress.snapshot().arrived;
            progress.setSpeed(meter.sample(arrived));
            watchStall(arrived);
            if (!floor_.sample(arrived))
                fail(underFloorText());
            guard.unlock();
            tick();
            guard.lock();
        }
    }

  private:
    std::atomic<bool> stop_{false};
    std::atomic<bool> fallback_{false};
    std::atomic<bool> changed_{false};
    mutable std::mutex failMutex_;
    std::optional<Error> failure_;
    std::string lastFailureReason_;
    std::mutex doneMutex_;
    std::condition_variable doneCv_;
    std::size_t running_ = 0;
    FloorWatch floor_{request.speedFloor, request.giveUpAfter};
    std::uint64_t lastArrived_ = 0;
    Clock::time_point lastByte_ = Clock::now();
    std::atomic<Clock::rep> lastFailure_{0};
    std::array<std::atomic<Clock::rep>, kMaxWorkers + 1> retryAt_{};
};

// Copies what a worker reads into the view: the pages a little ahead are brought in first,
// outside the lock, then the copy and the arrived-bytes counter go under the job's lock.
class ViewWriter {
  public:
    explicit ViewWriter(Job& job) : job_(job) {}

    // `bytes` at `at`; `end` bounds the pages brought in ahead (the range's end or the file's).
    // False, with the download failed, when the part was cut short under the view by someone
    // else: its pages are gone and nothing written there would reach the disk.
    bool write(std::uint64_t at, const char* data, std::size_t bytes, std::uint64_t end) {
        if (!job_.limit.take(bytes, [this](auto wait) { return job_.pause(wait); }))
            return false;
        if (at < begin_ || at > end_)
            begin_ = end_ = at; // a range elsewhere in the file
        if (at + bytes > end_) {
            const std::uint64_t from = end_;
            end_ = std::min(end, at + bytes + kPrefaultBytes);
            job_.file.prefault(from, end_ - from);
        }
        std::lock_guard guard(job_.lock);
        if (!guardedCopy(job_.file.view().data() + at, data, bytes)) {
            job_.fail("下载的临时文件被其他程序截短了，下载中止：" + job_.file.path(), true);
            return false;
        }
        job_.progress.add(bytes);
        return true;
    }

  private:
    Job& job_;
    std::uint64_t begin_ = 0; // the pages of [begin_, end_) are in
    std::uint64_t end_ = 0;
};

// One libcurl handle with the download's common settings, reused for every transfer of its
// worker so that the connection stays open from range to range.
class Transfer {
  public:
    explicit Transfer(Job& job) : job_(job), easy_(net::makeCurlEasy()) {}

    CURL* handle() const { return easy_.get(); }
    const ReplyHead& head() const { return head_; }
    std::string failure(CURLcode code) const {
        if (head_.length.bad())
            return head_.length.problem();
        // The last head is a redirect that was not followed: to a scheme other than http(s).
        if (code == CURLE_UNSUPPORTED_PROTOCOL && head_.complete && head_.status / 100 == 3)
            return "服务器把下载重定向到了不支持的地址（只支持 http 和 https）";
        return transportMessage(easy_.get(), code, head_.complete, errorText_);
    }
    // The next transfer opens a new connection (the last one was too slow).
    void freshConnection() { fresh_ = true; }
    // Seconds of the TCP handshake of the connection last opened.
    double roundTrip() const { return roundTrip_; }
    // Whether the reply under way came through a redirect to another server than `url`'s.
    bool redirectedAwayFrom(const std::string& url) const {
        long redirects = 0;
        const char* effective = nullptr;
        if (curl_easy_getinfo(easy_.get(), CURLINFO_REDIRECT_COUNT, &redirects) != CURLE_OK ||
            redirects == 0)
            return false;
        curl_easy_getinfo(easy_.get(), CURLINFO_EFFECTIVE_URL, &effective);
        return originOf(effective) != originOf(url.c_str());
    }

    // GET of `url` with the header block; body bytes go to `onBody`. `decode`: a coded body is
    // decoded (else its bytes arrive as they came).
    CURLcode get(const std::string& url, const std::string& headerBlock, curl_write_callback onBody,
                 void* user, bool decode) {
        net::CurlHeaderList headers;
        std::string_view rest = headerBlock;
        while (!rest.empty()) {
            const std::size_t end = rest.find("\r\n");
            headers.append(std::string(rest.substr(0, end)));
            rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 2);
        }
        head_ = ReplyHead{};
        errorText_[0] = '\0';
        CURL* h = easy_.get();
        net::HandleOptions options;
        options.url = url;
        options.timeouts = net::deadlines::kDownload;
        options.maxRedirects = kMaxRedirects;
        options.errorText = errorText_;
        options.headers = headers.get();
        options.decode = decode;
        options.onHeader = &Transfer::onHeader;
        options.headerData = &head_;
        options.onBody = onBody;
        options.bodyData = user;
        options.onProgress = &Transfer::onProgress;
        options.progressData = this;
        // The speed floor, per connection: under it for floorTime, the transfer fails (and a
        // range is retried on a new connection).
        options.lowSpeedBytes = static_cast<long>(std::max(1.0, job_.request.speedFloor));
        options.lowSpeedTime =
            std::max(std::chrono::seconds(1),
                     std::chrono::ceil<std::chrono::seconds>(job_.request.floorTime));
        options.bufferBytes = kReadBufferBytes;
        options.freshConnection = std::exchange(fresh_, false);
        options.share = job_.connections.get();
        net::prepareHandle(h, options);
        const CURLcode code = curl_easy_perform(h);
        net::releaseLists(h);
        long connects = 0;
        curl_off_t lookedUp = 0, connected = 0;
        if (curl_easy_getinfo(h, CURLINFO_NUM_CONNECTS, &connects) == CURLE_OK && connects > 0 &&
            curl_easy_getinfo(h, CURLINFO_NAMELOOKUP_TIME_T, &lookedUp) == CURLE_OK &&
            curl_easy_getinfo(h, CURLINFO_CONNECT_TIME_T, &connected) == CURLE_OK &&
            connected >= lookedUp)
            roundTrip_ = static_cast<double>(connected - lookedUp) / 1e6;
        return code;
    }

  private:
    static std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* user) {
        return static_cast<ReplyHead*>(user)->take(std::string_view(data, size * count))
                   ? size * count
                   : 0;
    }
    static int onProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
        return static_cast<Transfer*>(user)->job_.stopping() ? 1 : 0;
    }

    Job& job_;
    net::CurlEasy easy_;
    ReplyHead head_;
    char errorText_[CURL_ERROR_SIZE] = {};
    bool fresh_ = false;
    double roundTrip_ = 0;
};

struct Probe {
    std::optional<std::uint64_t> length;
    bool coded = false;
    bool rangesRefused = false;
    bool webPage = false;
    Validators validators;
    std::string url;
};

std::size_t stopAtBody(char*, std::size_t, std::size_t, void* user) {
    *static_cast<bool*>(user) = true;
    return 0;
}

// The total of an unsatisfiable range's "bytes */TOTAL"; none when it is not of that form.
std::optional<std::uint64_t> unsatisfiedTotal(std::string_view text) {
    text = trimWhitespace(text);
    if (text.size() < 8 || !equalsIgnoreCase(text.substr(0, 5), "bytes") ||
        trimWhitespace(text.substr(6, 2)) != "*/")
        return std::nullopt;
    return parseNumber(text.substr(8));
}

// Asks for the file with `headerBlock` and stops as soon as the reply's head is in: the head
// is all the probe needs, so a body cut short after it does not matter.
Result<Probe> askHead(Job& job, const std::string& headerBlock, ReplyHead& head) {
    Transfer transfer(job);
    bool sawBody = false;
    const CURLcode code = transfer.get(job.request.url, headerBlock, &stopAtBody, &sawBody, false);
    if (job.cancelled())
        return makeError("下载已取消");
    head = transfer.head();
    if (head.length.bad())
        return makeError(head.length.problem());
    if (head.complete && head.status / 100 == 3)
        return makeError(transfer.failure(code)); // a redirect that could not be followed
    if (!head.complete)
        return makeError(code == CURLE_OK ? std::string(net::kUnendedHeadText)
                                          : transfer.failure(code));
    Probe probe;
    probe.length = head.length.value();
    probe.coded = head.coded();
    probe.rangesRefused = equalsIgnoreCase(head.acceptRanges, "none");
    probe.webPage = startsWithIgnoreCase(head.contentType, "text/html");
    probe.validators = head.validators;
    const char* effective = nullptr;
    curl_easy_getinfo(transfer.handle(), CURLINFO_EFFECTIVE_URL, &effective);
    probe.url = effective ? effective : job.request.url;
    return probe;
}

// Learns the file's length and validators from a request for its first byte: a server that
// serves ranges tells the length in Content-Range and sends one byte, where a plain request
// would start the whole body only to be cut off (on a fast link, megabytes already on the way).
// A server that ignores the range answers as to a plain request; unless it says it accepts
// ranges (a cache that has not stored the file yet may answer so), the file comes as one
// stream. One whose range reply is not the byte asked for is asked again plainly, and gets no
// range requests.
Result<Probe> firstLook(Job& job) {
    ReplyHead head;
    auto found = askHead(job, requestHeaders({0, 0}), head);
    if (!found)
        return found;
    if (head.status == 200) {
        found->rangesRefused = !equalsIgnoreCase(head.acceptRanges, "bytes");
        return found;
    }
    if (head.status == 206) {
        const auto range = parseContentRange(head.contentRange);
        if (range && range->first == 0 && range->last == 0 && range->total && *range->total > 0 &&
            !head.coded()) {
            found->length = range->total;
            found->coded = false;
            return found;
        }
    } else if (head.status == 416) {
        // Not even byte 0 exists: an empty file.
        if (unsatisfiedTotal(head.contentRange) == 0u) {
            found->length = 0;
            return found;
        }
    } else {
        return httpError(head.status);
    }
    found = askHead(job, requestHeaders(), head);
    if (found && head.status != 200)
        return httpError(head.status);
    if (found)
        found->rangesRefused = true;
    return found;
}

// The probe; where a file is expected, a reply that says it is a web page (an error or login
// page served in place of the file) ends the download before a byte of it is fetched.
Result<Probe> probe(Job& job) {
    auto found = firstLook(job);
    if (found && found->webPage && job.request.refuseWebPages)
        return makeError("文件地址指向一个网页：" + job.request.url, kWebPageError);
    return found;
}

enum class Verdict { Done, Retry, FallBack, Changed, Fatal, Gone, Stopped };

// Fetches the ranges the scheduler gives it, one after another over one connection.
class RangeWorker {
  public:
    RangeWorker(Job& job, unsigned index) : job_(job), index_(index), transfer_(job) {}

    void run() {
        SegmentScheduler& scheduler = *job_.scheduler;
        unsigned failures = 0;
        while (!job_.stopping()) {
            const SegmentScheduler::Work work = scheduler.next(index_, Clock::now());
            if (work.kind == SegmentScheduler::Work::Kind::Finished)
                return;
            if (work.kind == SegmentScheduler::Work::Kind::Wait) {
                if (!job_.pause(kWaitForWork))
                    return;
                continue;
            }
            std::string why;
            const Verdict verdict = attempt(work.range, why);
            switch (verdict) {
            case Verdict::Done:
                // A request answered in full is progress.
                failures = 0;
                brought_ = 0;
                continue;
            case Verdict::Stopped:
                return;
            case Verdict::FallBack:
                job_.fallBack();
                return;
            case Verdict::Changed:
                job_.versionChanged();
                return;
            case Verdict::Fatal:
            case Verdict::Gone:
                job_.fail(std::move(why), verdict == Verdict::Gone);
                return;
            case Verdict::Retry:
                break;
            }
            job_.attemptFailed(why);
            if (brought_ >= job_.request.progressResetBytes)
                failures = 0;
            brought_ = 0;
            if (++failures > job_.request.maxRetries) {
                // Perhaps the server allows fewer connections than we opened: a worker that is
                // still going takes the rest of this range over.
                scheduler.giveUp(index_);
                return;
            }
            const milliseconds delay = std::min<milliseconds>(
                kMaxRetryDelay, job_.request.retryDelay * (1L << std::min(failures - 1, 10u)));
            job_.retryAt(index_, Clock::now() + delay);
            const bool going = job_.pause(delay);
            job_.retryAt(index_, {});
            if (!going)
                return;
            transfer_.freshConnection();
            scheduler.reconnected(index_, Clock::now());
        }
    }

  private:
    // One request for the front of `range`, sized to the connection's speed. Its bytes are
    // claimed before it goes out, so no other worker can take them while they are on the way
    // and nothing arrives that is not kept.
    Verdict attempt(ByteInterval range, std::string& why) {
        // Near the end requests shrink, so the last ones end together rather than one long
        // request holding up the finish.
        const unsigned workers = std::clamp(job_.request.workers, 1u, kMaxWorkers);
        const std::uint64_t endgame = std::max(
            kFirstRequestBytes, (job_.total - job_.scheduler->completeBytes()) / (2 * workers));
        range_ = job_.scheduler->claim(index_, std::min({range.size(), requestBytes_, endgame}));
        if (range_.empty())
            return Verdict::Done; // the range was handed on meanwhile
        checked_ = false;
        verdict_.reset();
        received_ = 0;
        std::string headers = requestHeaders({range_.begin, range_.end - 1});
        if (const std::string ifRange = job_.validators.ifRange(); !ifRange.empty())
            headers += "\r\nIf-Range: " + ifRange;
        const auto started = Clock::now();
        const CURLcode code = transfer_.get(job_.url, headers, &RangeWorker::onBody, this, false);
        if (job_.stopping())
            return Verdict::Stopped;
        if (verdict_)
            return *verdict_;
        if (received_ == range_.size()) {
            const double seconds = Seconds(Clock::now() - started).count();
            // At most twice the last request: the speed of a short request is unreliable (a
            // server may send its first burst at once), and a request too large to split would
            // hold its bytes against faster connections.
            if (seconds > 0)
                requestBytes_ = std::clamp<std::uint64_t>(
                    std::min<std::uint64_t>(
                        2 * received_, static_cast<std::uint64_t>(static_cast<double>(received_) /
                                                                  seconds * requestTime())),
                    kFirstRequestBytes, kMaxRequestBytes);
            return Verdict::Done;
        }
        const ReplyHead& head = transfer_.head();
        if (head.complete && head.status >= 400 && head.status != 416) {
            why = httpMessage(head.status);
            if (goneStatus(head.status))
                return Verdict::Gone;
            return retryableStatus(head.status) ? Verdict::Retry : Verdict::Fatal;
        }
        if (head.complete && head.status != 0 && head.status != 206 && !head.length.bad())
            return judgeWholeReply(head);
        if (!head.complete && code == CURLE_OK)
            why = std::string(net::kUnendedHeadText);
        else
            why =
                code == CURLE_OK ? std::string("连接中断（数据不完整）") : transfer_.failure(code);
        return Verdict::Retry;
    }

    // Seconds a request should take: kRequestTime, or eight round trips to the server, so that
    // on a distant server the round trips stay a small share. The round trip is the TCP
    // handshake's: the wait for a reply's first byte would also count the time a server that
    // limits the connection holds its reply back, and make the slowest connections ask for the
    // longest requests, which nobody else can take over.
    double requestTime() const {
        return std::max(Seconds(kRequestTime).count(), 8 * transfer_.roundTrip());
    }

    // A reply other than 206 to a range request: the whole file again when the server ignores
    // ranges, or (If-Range) a new version of it.
    Verdict judgeWholeReply(const ReplyHead& head) const {
        const auto length = head.length.value();
        if (job_.validators.contradictedBy(head.validators) ||
            (head.status == 200 && !head.coded() && length && *length != job_.total))
            return Verdict::Changed;
        return Verdict::FallBack;
    }

    // The reply must be exactly the asked part of the same file, as it is on the server.
    std::optional<Verdict> judgeReply() const {
        const ReplyHead& head = transfer_.head();
        if (head.status != 206)
            return judgeWholeReply(head);
        if (!provesSameVersion(job_.validators, head.validators) ||
            transfer_.redirectedAwayFrom(job_.url))
            return Verdict::Changed;
        const auto range = parseContentRange(head.contentRange);
        if (range && range->total && *range->total != job_.total)
            return Verdict::Changed;
        const auto length = head.length.value();
        if (head.coded() || !range || range->first != range_.begin ||
            range->last != range_.end - 1 || (length && *length != range_.size()))
            return Verdict::FallBack;
        return std::nullopt;
    }

    static std::size_t onBody(char* data, std::size_t size, std::size_t count, void* user) {
        auto& self = *static_cast<RangeWorker*>(user);
        const std::size_t bytes = size * count;
        if (!self.checked_) {
            const long status = self.transfer_.head().status;
            if (status != 200 && status != 206)
                return 0; // an error reply: attempt() judges it by its status
            if (auto verdict = self.judgeReply()) {
                self.verdict_ = verdict;
                return 0;
            }
            self.checked_ = true;
        }
        if (bytes > self.range_.size() - self.received_) {
            self.verdict_ = Verdict::FallBack; // more than was asked for
            return 0;
        }
        if (!self.writer_.write(self.range_.begin + self.received_, data, bytes, self.range_.end)) {
            self.verdict_ = Verdict::Stopped;
            return 0;
        }
        self.job_.scheduler->wrote(self.index_, bytes, Clock::now());
        self.received_ += bytes;
        self.brought_ += bytes;
        return bytes;
    }

    Job& job_;
    const unsigned index_;
    Transfer transfer_;
    ByteInterval range_;                              // asked in the current request
    std::uint64_t received_ = 0;                      // bytes of it written so far
    std::uint64_t brought_ = 0;                       // bytes written since the last failure
    std::uint64_t requestBytes_ = kFirstRequestBytes; // the size of the next request
    ViewWriter writer_{job_};
    bool checked_ = false;           // the current reply was found to be the asked range
    std::optional<Verdict> verdict_; // the current reply was judged unusable
};

// Fetches the whole file as one plain stream: into the view when the length is known,
// appended to the file otherwise. A content coding is decoded.
class StreamWorker {
  public:
    StreamWorker(Job& job, bool lengthKnown) : job_(job), known_(lengthKnown), transfer_(job) {}

    std::uint64_t written() const { return next_; }

    void run() {
        const CURLcode code =
            transfer_.get(job_.url, requestHeaders(), &StreamWorker::onBody, this, true);
        if (job_.stopping())
            return;
        const ReplyHead& head = transfer_.head();
        if (writeError_)
            job_.fail(writeError_->message);
        else if (head.length.bad())
            job_.fail(head.length.problem());
        else if (!head.complete)
            job_.fail(code == CURLE_OK ? std::string(net::kUnendedHeadText)
                                       : transfer_.failure(code));
        else if (head.status != 200 && head.status != 0)
            job_.fail(httpMessage(head.status));
        else if (!problem_.empty())
            job_.fail(problem_);
        else if (code != CURLE_OK)
            job_.fail(transfer_.failure(code));
        else if (known_ && next_ != job_.total)
            job_.fail("文件不完整：收到 " + std::to_string(next_) + " 字节，应有 " +
                      std::to_string(job_.total) + " 字节");
    }

  private:
    static std::size_t onBody(char* data, std::size_t size, std::size_t count, void* user) {
        auto& self = *static_cast<StreamWorker*>(user);
        const std::size_t bytes = size * count;
        const ReplyHead& head = self.transfer_.head();
        if (head.status != 200)
            return 0;
        if (self.known_) {
            const auto length = head.length.value();
            if (!provesSameVersion(self.job_.validators, head.validators) ||
                self.transfer_.redirectedAwayFrom(self.job_.url) ||
                (!head.coded() && length && *length != self.job_.total)) {
                self.problem_ = std::string(kChangedText);
                return 0;
            }
            if (bytes > self.job_.total - self.next_) {
                self.problem_ = "服务器发送的数据多于文件的长度";
                return 0;
            }
            if (!self.writer_.write(self.next_, data, bytes, self.job_.total))
                return 0;
        } else {
            if (!self.job_.limit.take(bytes, [&](auto wait) { return self.job_.pause(wait); }))
                return 0;
            std::lock_guard guard(self.job_.lock);
            Status written =
                self.job_.file.append(std::as_bytes(std::span<const char>(data, bytes)));
            if (!written) {
                self.writeError_ = written.error();
                return 0;
            }
            self.job_.progress.add(bytes);
        }
        self.next_ += bytes;
        return bytes;
    }

    Job& job_;
    const bool known_;
    Transfer transfer_;
    std::uint64_t next_ = 0;
    ViewWriter writer_{job_};
    std::string problem_;
    std::optional<Error> writeError_;
};

// The parts of `complete` (sorted, disjoint) that `listed` (sorted, disjoint, each inside one of
// `complete`, as bytes once complete stay complete) does not cover.
std::vector<ByteInterval> notListed(const std::vector<ByteInterval>& complete,
                                    const std::vector<ByteInterval>& listed) {
    std::vector<ByteInterval> fresh;
    auto old = listed.begin();
    for (ByteInterval interval : complete) {
        while (old != listed.end() && old->end <= interval.begin)
            ++old;
        for (auto o = old; o != listed.end() && o->begin < interval.end; ++o) {
            if (o->begin > interval.begin)
                fresh.push_back({interval.begin, o->begin});
            interval.begin = std::max(interval.begin, o->end);
        }
        if (!interval.empty())
            fresh.push_back(interval);
    }
    return fresh;
}

// Keeps the disk busy while the download runs, and the resume state up to date.
//
// Bytes complete are handed to the disk at every tick, to be written in the background, so the
// flush before the file takes its name finds little left: the disk writes while the download
// runs instead of after it.
//
// About once a second the resume state lists the bytes complete; the bytes it newly lists are
// flushed first, so it never lists a byte that is not on disk. Only those are flushed: flushing
// the whole view would also write pages the workers are still filling, and make them wait.
class Checkpoint {
  public:
    Checkpoint(Job& job, std::string resumeKey) : job_(job), key_(std::move(resumeKey)) {}

    // Whether this download can be taken up later at all: a later run must be able to tell
    // that the server still has the same version (ResumeState::sameVersion).
    bool enabled() const { return enabled_; }
    void enable(bool on) {
        enabled_ = on && (job_.validators.strongEtag() || !job_.validators.lastModified.empty());
        flushed_.clear();
        handed_.clear();
    }
    // Bytes the state on disk lists.
    std::uint64_t listedBytes() const {
        std::uint64_t bytes = 0;
        for (const ByteInterval& interval : flushed_)
            bytes += interval.size();
        return bytes;
    }

    void maybe() {
        if (!job_.scheduler)
            return;
        std::vector<ByteInterval> complete = job_.scheduler->complete();
        for (const ByteInterval& fresh : notListed(complete, handed_))
            job_.file.startWriteback(fresh.begin, fresh.size());
        handed_ = std::move(complete);
        if (enabled_ && Clock::now() - last_ >= job_.request.checkpointEvery)
            now();
    }
    // True when the state on disk now lists every byte complete.
    bool now() {
        if (!enabled_ || !job_.scheduler)
            return false;
        last_ = Clock::now();
        ResumeState state;
        state.url = key_;
        state.finalUrl = job_.url;
        state.length = job_.total;
        state.validators = job_.validators;
        state.complete = job_.scheduler->complete();
        // A state that cannot be written only costs the resume; the download goes on.
        for (const ByteInterval& fresh : notListed(state.complete, flushed_))
            if (!job_.file.sync(fresh.begin, fresh.size()))
                return false;
        if (!saveResumeState(job_.file.statePath(), state))
            return false;
        flushed_ = std::move(state.complete);
        return true;
    }

  private:
    Job& job_;
    const std::string key_;
    bool enabled_ = false;
    std::vector<ByteInterval> flushed_; // listed by the last state saved
    std::vector<ByteInterval> handed_;  // handed to the disk
    Clock::time_point last_ = Clock::now();
};

Result<DownloadResult> fetchRanges(Job& job, Checkpoint& checkpoint, DownloadResult result) {
    SegmentScheduler& scheduler = *job.scheduler;
    const unsigned workers = std::clamp(job.request.workers, 1u, kMaxWorkers);
    result.mode = DownloadMode::Ranges;
    // Workers that gave their ranges up have ended; what is left gets another round of
    // workers. Rounds that bring no byte are started again after a wait that doubles, until
    // nothing has arrived for giveUpAfter: a server that is down for a while (a restart, an
    // overloaded hour) costs the user a wait, not the download.
    unsigned idleRounds = 0;
    while (!scheduler.finished()) {
        const std::uint64_t before = job.progress.snapshot().arrived;
        std::vector<std::unique_ptr<RangeWorker>> round;
        for (unsigned i = 0; i < workers; ++i)
            round.push_back(std::make_unique<RangeWorker>(job, i));
        job.runThreads(
            round.size(), [&](std::size_t i) { round[i]->run(); }, [&] { checkpoint.maybe(); });
        if (job.stopping() || job.fellBack() || job.changed() || scheduler.finished())
            return result;
        if (job.progress.snapshot().arrived != before) {
            idleRounds = 0;
            continue;
        }
        const auto left = job.request.giveUpAfter - job.sinceLastByte();
        if (left <= Clock::duration::zero())
            return makeError(job.retriesFailedText());
        const auto delay = std::min<Clock::duration>(
            {left, kMaxRoundDelay, job.request.retryDelay * (16L << std::min(idleRounds++, 8u))});
        job.attemptFailed();
        job.retryAt(kMaxWorkers, Clock::now() + delay);
        const auto until = Clock::now() + delay;
        while (Clock::now() < until) {
            job.watchStall(job.progress.snapshot().arrived);
            if (!job.pause(std::chrono::ceil<milliseconds>(
                    std::min<Clock::duration>(until - Clock::now(), kSampleEvery))))
                return result;
        }
        job.retryAt(kMaxWorkers, {});
    }
    return result;
}

Result<DownloadResult> fetchStream(Job& job, bool lengthKnown, DownloadResult result) {
    StreamWorker stream(job, lengthKnown);
    job.runThreads(
        1, [&](std::size_t) { stream.run(); }, [] {});
    result.mode = DownloadMode::Stream;
    result.bytes = stream.written();
    return result;
}

Status checkFreeSpace(const DownloadRequest& request, std::uint64_t needed) {
    if (needed == 0)
        return {};
    std::string folder = std::filesystem::path(request.target).parent_path().string();
    if (folder.empty())
        folder = ".";
    const auto free = request.freeSpace ? request.freeSpace(folder) : freeSpaceOf(folder);
    if (free && needed > *free)
        return makeError("磁盘空间不足：文件需要 " + mebibytes(needed) + "，" + folder + " 只剩 " +
                         mebibytes(*free));
    return {};
}

// One pass over a file of known length, resumed from `previous` when it matches.
Result<DownloadResult> fetchKnownLength(Job& job, const Probe& found, Checkpoint& checkpoint,
                                        std::optional<ResumeState>& previous,
                                        DownloadResult result) {
    PartFile& file = job.file;
    job.total = *found.length;
    const bool resumable = previous && !found.rangesRefused && file.sizeAtOpen() == job.total &&
                           previous->sameVersion(found.validators, job.total);
    if (!resumable) {
        previous.reset();
        if (Status emptied = file.startOver(); !emptied)
            return emptied.error();
    }
    if (Status room = checkFreeSpace(job.request, resumable ? 0 : job.total); !room)
        return room.error();
    job.progress.setTotal(job.total, true);
    if (Status reserved = file.reserveAndMap(job.total); !reserved)
        return reserved.error();
    job.progress.setState(DownloadState::Downloading);
    if (job.total == 0) {
        result.mode = DownloadMode::Empty;
        return result;
    }
    if (found.rangesRefused)
        return fetchStream(job, true, result);

    const std::vector<ByteInterval> complete =
        previous ? previous->complete : std::vector<ByteInterval>{};
    result.resumedBytes = previous ? previous->completeBytes() : 0;
    job.progress.setResumed(result.resumedBytes);
    const unsigned workers = std::clamp(job.request.workers, 1u, kMaxWorkers);
    SchedulerSettings settings;
    settings.minPiece = std::max<std::uint64_t>(1, job.request.minRangeBytes);
    // The floor is kept by each connection's own transfer (see Transfer::get).
    settings.speedFloor = 0;
    job.scheduler.emplace(job.total, workers, settings, complete);
    result.ranges = static_cast<unsigned>(job.scheduler->waitingPieces());
    checkpoint.enable(true);
    Result<DownloadResult> fetched = fetchRanges(job, checkpoint, result);
    if (fetched && job.fellBack() && !job.cancelled()) {
        // Whatever the ranges wrote is overwritten from the start; a stream is not resumed.
        checkpoint.enable(false);
        std::filesystem::remove(file.statePath());
        job.resetFlags();
        job.progress.setResumed(0);
        fetched = fetchStream(job, true, result);
    }
    return fetched;
}

// Every pass: the probe, then the bytes. A version change found during the first pass starts
// one more.
Result<DownloadResult> fetchAll(Job& job, Checkpoint& checkpoint,
                                std::optional<ResumeState>& previous, bool& touched) {
    DownloadResult result;
    result.path = job.request.target;
    Result<DownloadResult> fetched = result;
    for (int pass = 0; pass < 2; ++pass) {
        auto found = probe(job);
        if (!found)
            return found.error();
        job.url = found->url;
        job.validators = found->validators;
        touched = true;
        if (!found->length || found->coded) {
            if (Status emptied = job.file.startOver(); !emptied)
                return emptied.error();
            job.progress.setState(DownloadState::Downloading);
            return fetchStream(job, false, result);
        }
        fetched = fetchKnownLength(job, *found, checkpoint, previous, result);
        if (!fetched || !job.changed() || job.cancelled())
            break;
        if (pass == 1 || !job.validators.any())
            return makeError(std::string(kChangedText), kFinalError);
        checkpoint.enable(false);
        job.resetFlags();
        job.scheduler.reset();
        previous.reset();
        job.progress.setResumed(0);
        job.progress.setState(DownloadState::Connecting);
    }
    if (fetched)
        fetched->bytes = job.total;
    return fetched;
}

Result<DownloadResult> download(const DownloadRequest& request, DownloadProgress& progress,
                                const std::atomic<bool>& keepPart) {
    auto file = PartFile::open(request.target);
    if (!file)
        return file.error();
    Job job(request, progress, *file);
    const std::string key =
        withoutCredentials(request.resumeKey.empty() ? request.url : request.resumeKey);
    Checkpoint checkpoint(job, key);
    std::optional<ResumeState> previous = loadResumeState(file->statePath());
    // A part that another address of the same file left (a mirror of a catalogue entry) is
    // neither this run's to resume nor its to throw away.
    const bool foreign = previous && previous->url != key;
    if (foreign)
        previous.reset();

    bool touched = false; // the part may no longer be what an earlier run left
    Result<DownloadResult> fetched = fetchAll(job, checkpoint, previous, touched);
    if (job.cancelled() && !keepPart.load())
        return makeError("下载已取消");
    std::optional<Error> failure = job.failure();
    if (!failure && !fetched)
        failure = fetched.error();
    if (job.cancelled() || failure) {
        // What is kept must let the next run go on: a state on disk that lists the bytes, for a
        // version the server can be asked about. A part that proves nothing is not kept.
        const bool final = failure && failure->code == kFinalError;
        bool resumable = false;
        if (!touched) {
            if (foreign || (previous && !final))
                file->keep();
            resumable = previous && !final;
        } else if (!final && checkpoint.now() && checkpoint.listedBytes() > 0) {
            file->keep();
            resumable = true;
        }
        if (job.cancelled())
            return makeError(resumable ? "下载已中断，再次下载同一文件时将从中断处继续"
                                       : "下载已中断，下次将重新下载");
        if (resumable) {
            failure->message += "，" + std::string(kKeptText);
            failure->code = kPartKeptError;
        }
        return *failure;
    }
    if (progress.snapshot().arrived != fetched->bytes)
        return makeError("下载未完成：收到的字节数与文件大小不符");
    progress.setTotal(fetched->bytes, true);
    progress.setState(DownloadState::Finishing);
    // The check reads the part through the file, which sees what the view holds; commit()
    // flushes it to disk once, afterwards.
    if (request.check)
        if (Status accepted = request.check(file->path()); !accepted)
            return accepted.error();
    if (Status committed = file->commit(); !committed)
        return committed.error();
    return fetched;
}

} // namespace

std::string requestHeaders() {
    return std::string(kRequestHeaderBlock);
}

std::string addressOfPartFor(const std::string& target) {
    const auto state = loadResumeState(PartFile::statePathFor(target));
    return state ? state->url : std::string();
}

std::string requestHeaders(const ByteRange& range) {
    return std::string(kRequestHeaderBlock) +
           "\r\nRange:bytes=" + rangeText(range.first, range.last);
}

Downloader::Downloader(DownloadRequest request) : request_(std::move(request)) {
    if (request_.speedLimit > 0) {
        const double share = static_cast<double>(request_.speedLimit) /
                             (2.0 * std::clamp(request_.workers, 1u, kMaxWorkers));
        request_.speedFloor = std::max(1.0, std::min(request_.speedFloor, share));
    }
}

Result<DownloadResult> Downloader::run() {
    progress_.setState(DownloadState::Connecting);
    Result<DownloadResult> result = [&]() -> Result<DownloadResult> {
        try {
            return download(request_, progress_, keepPart_);
        } catch (const std::exception&) {
            return makeError("内存或系统资源不足，下载中止");
        }
    }();
    if (result)
        progress_.setState(DownloadState::Done);
    else if (progress_.cancelRequested())
        progress_.setState(DownloadState::Cancelled);
    else
        progress_.setState(DownloadState::Failed);
    progress_.setSpeed(0.0);
    return result;
}

} // namespace vantorel::download
