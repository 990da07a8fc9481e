#include "download/Downloader.h"

#include "common/Text.h"
#include "download/PartFile.h"
#include "net/Curl.h"
#include "net/Transport.h"

#include <algorithm>
#include <charconv>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
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

constexpr std::chrono::milliseconds kMaxRetryDelay{5000};
constexpr std::chrono::milliseconds kSampleEvery{200};
constexpr std::chrono::milliseconds kConnectTimeout{20'000};
constexpr long kMaxRedirects = 10;
// How far ahead of its copies a worker brings in the pages of its part of the view.
constexpr std::uint64_t kPrefaultBytes = 4 << 20;

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
    std::optional<std::uint64_t> contentLength;
    std::string contentRange;
    std::string contentEncoding;
    std::string acceptRanges;
    bool complete = false; // the blank line that ends the head has arrived

    void take(std::string_view line) {
        line = trimWhitespace(line);
        if (line.empty()) {
            complete = true;
            return;
        }
        if (line.starts_with("HTTP/")) {
            *this = ReplyHead{};
            const std::size_t space = line.find(' ');
            if (space != std::string_view::npos)
                status = static_cast<long>(parseNumber(line.substr(space + 1, 3)).value_or(0));
            return;
        }
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos)
            return;
        const std::string_view name = trimWhitespace(line.substr(0, colon));
        const std::string_view value = trimWhitespace(line.substr(colon + 1));
        if (equalsIgnoreCase(name, "Content-Length"))
            contentLength = parseNumber(value);
        else if (equalsIgnoreCase(name, "Content-Range"))
            contentRange = value;
        else if (equalsIgnoreCase(name, "Content-Encoding"))
            contentEncoding = value;
        else if (equalsIgnoreCase(name, "Accept-Ranges"))
            acceptRanges = value;
    }

    // True when the body is not the file's bytes as they are.
    bool coded() const {
        return !contentEncoding.empty() && !equalsIgnoreCase(contentEncoding, "identity");
    }
};

// "bytes FIRST-LAST/TOTAL", exactly; anything else (including "*" for the total) is no match.
bool contentRangeIs(std::string_view text, std::uint64_t first, std::uint64_t last,
                    std::uint64_t total) {
    text = trimWhitespace(text);
    if (text.size() < 6 || !equalsIgnoreCase(text.substr(0, 5), "bytes") ||
        (text[5] != ' ' && text[5] != '='))
        return false;
    text.remove_prefix(6);
    const std::size_t dash = text.find('-');
    const std::size_t slash = text.find('/');
    if (dash == std::string_view::npos || slash == std::string_view::npos || slash < dash)
        return false;
    return parseNumber(text.substr(0, dash)) == first &&
           parseNumber(text.substr(dash + 1, slash - dash - 1)) == last &&
           parseNumber(text.substr(slash + 1)) == total;
}

std::string httpMessage(long status) {
    if (status == 404 || status == 410)
        return "服务器上没有这个文件（HTTP " + std::to_string(status) + "）";
    if (status == 401 || status == 403)
        return "服务器拒绝了下载请求（HTTP " + std::to_string(status) + "）";
    return "服务器返回了错误（HTTP " + std::to_string(status) + "）";
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

std::string rangeText(std::uint64_t first, std::uint64_t last) {
    return std::to_string(first) + "-" + std::to_string(last);
}

// Keeps the last second of (time, bytes) samples; the speed is the slope across them.
class SpeedMeter {
  public:
    double sample(std::uint64_t arrived) {
        const auto now = Clock::now();
        samples_.emplace_back(now, arrived);
        while (samples_.size() > 2 && now - samples_[1].first >= std::chrono::seconds(1))
            samples_.pop_front();
        const auto& [then, before] = samples_.front();
        const double seconds = std::chrono::duration<double>(now - then).count();
        return seconds > 0 ? static_cast<double>(arrived - before) / seconds : 0.0;
    }

  private:
    std::deque<std::pair<Clock::time_point, std::uint64_t>> samples_;
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
    // Serialises every copy into the file together with the arrived-bytes counter.
    std::mutex lock;

    bool stopping() const { return stop_.load() || progress.cancelRequested(); }
    bool cancelled() const { return progress.cancelRequested(); }
    bool fellBack() const { return fallback_.load(); }

    // The first failure wins and stops every worker.
    void fail(std::string message) {
        {
            std::lock_guard guard(failMutex_);
            if (!failure_)
                failure_ = makeError(std::move(message));
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
    // A range given up after its retries, with the reason, for another worker to take over.
    void leave(ByteRange rest, std::string why) {
        std::lock_guard guard(failMutex_);
        leftovers_.push_back(rest);
        leftoverReason_ = std::move(why);
    }
    std::optional<ByteRange> adoptLeftover() {
        std::lock_guard guard(failMutex_);
        if (leftovers_.empty() || stopping())
            return std::nullopt;
        const ByteRange range = leftovers_.back();
        leftovers_.pop_back();
        return range;
    }
    std::vector<ByteRange> takeLeftovers() {
        std::lock_guard guard(failMutex_);
        return std::exchange(leftovers_, {});
    }
    std::string leftoverReason() const {
        std::lock_guard guard(failMutex_);
        return leftoverReason_;
    }

    void resetForStream() {
        stop_.store(false);
        fallback_.store(false);
    }

    // Sleeps, cut short when the job stops; true if it is still running afterwards.
    bool pause(milliseconds duration) {
        const auto until = Clock::now() + duration;
        while (!stopping()) {
            const auto left = until - Clock::now();
            if (left <= Clock::duration::zero())
                return true;
            progress.waitForCancel(std::min<Clock::duration>(left, milliseconds(20)));
        }
        return false;
    }

    // Runs `work` on `count` threads and waits for all of them, sampling the speed meanwhile.
    template <class Work> void runThreads(std::size_t count, Work work) {
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
        while (!doneCv_.wait_for(guard, kSampleEvery, [this] { return running_ == 0; }))
            progress.setSpeed(meter.sample(progress.snapshot().arrived));
    }

  private:
    std::atomic<bool> stop_{false};
    std::atomic<bool> fallback_{false};
    mutable std::mutex failMutex_;
    std::optional<Error> failure_;
    std::vector<ByteRange> leftovers_;
    std::string leftoverReason_;
    std::mutex doneMutex_;
    std::condition_variable doneCv_;
    std::size_t running_ = 0;
};

// One libcurl transfer with the download's common settings.
class Transfer {
  public:
    explicit Transfer(Job& job) : job_(job), easy_(net::makeCurlEasy()) {}

    CURL* handle() const { return easy_.get(); }
    const ReplyHead& head() const { return head_; }
    std::string failure(CURLcode code) const {
        return transportMessage(easy_.get(), code, head_.complete, errorText_);
    }

    // Performs one GET of the job's address with the header block (and a range, if given),
    // handing body pieces to `onBody(user)`.
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
        net::HandleSettings settings;
        settings.url = url;
        settings.timeouts.connect = kConnectTimeout;
        settings.maxRedirects = kMaxRedirects;
        settings.errorText = errorText_;
        net::applyHandleSettings(h, settings);
        curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
        curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
        // Our own Accept-Encoding line replaces the one libcurl would add, so the header block
        // goes out exactly; this setting only makes libcurl decode what the server coded.
        curl_easy_setopt(h, CURLOPT_ACCEPT_ENCODING, decode ? "gzip, deflate" : nullptr);
        curl_easy_setopt(h, CURLOPT_HTTP_CONTENT_DECODING, decode ? 1L : 0L);
        curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &Transfer::onHeader);
        curl_easy_setopt(h, CURLOPT_HEADERDATA, &head_);
        curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, onBody);
        curl_easy_setopt(h, CURLOPT_WRITEDATA, user);
        curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME,
                         static_cast<long>(job_.request.stallTimeout.count()));
        curl_easy_setopt(h, CURLOPT_BUFFERSIZE, kReadBufferBytes);
        curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &Transfer::onProgress);
        curl_easy_setopt(h, CURLOPT_XFERINFODATA, &job_);
        const CURLcode code = curl_easy_perform(h);
        curl_easy_setopt(h, CURLOPT_HTTPHEADER, nullptr);
        return code;
    }

  private:
    static std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* user) {
        static_cast<ReplyHead*>(user)->take(std::string_view(data, size * count));
        return size * count;
    }
    static int onProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
        return static_cast<Job*>(user)->stopping() ? 1 : 0;
    }

    Job& job_;
    net::CurlEasy easy_;
    ReplyHead head_;
    char errorText_[CURL_ERROR_SIZE] = {};
};

struct Probe {
    std::optional<std::uint64_t> length;
    bool coded = false;
    bool rangesRefused = false;
    std::string url;
};

std::size_t stopAtBody(char*, std::size_t, std::size_t, void* user) {
    *static_cast<bool*>(user) = true;
    return 0;
}

// Asks for the file and stops as soon as its headers are in.
Result<Probe> probe(Job& job) {
    Transfer transfer(job);
    bool sawBody = false;
    const CURLcode code =
        transfer.get(job.request.url, requestHeaders(), &stopAtBody, &sawBody, false);
    if (job.cancelled())
        return makeError("下载已取消");
    if (code != CURLE_OK && !(code == CURLE_WRITE_ERROR && sawBody))
        return makeError(transfer.failure(code));
    const ReplyHead& head = transfer.head();
    if (head.status != 200)
        return makeError(httpMessage(head.status));
    Probe probe;
    probe.length = head.contentLength;
    probe.coded = head.coded();
    probe.rangesRefused = equalsIgnoreCase(head.acceptRanges, "none");
    const char* effective = nullptr;
    curl_easy_getinfo(transfer.handle(), CURLINFO_EFFECTIVE_URL, &effective);
    probe.url = effective ? effective : job.request.url;
    return probe;
}

enum class Verdict { Done, Retry, FallBack, Fatal, Stopped };

// Fetches one range into the view, resuming it after a cut.
class RangeWorker {
  public:
    RangeWorker(Job& job, ByteRange range)
        : job_(job), range_(range), next_(range.first), transfer_(job) {}

    // Fetches the worker's range, then takes over ranges that other workers gave up on.
    void run() {
        while (fetchRange()) {
            const std::optional<ByteRange> adopted = job_.adoptLeftover();
            if (!adopted)
                return;
            range_ = *adopted;
            next_ = range_.first;
        }
    }

  private:
    bool complete() const { return next_ > range_.last; }

    // True when the range is complete; false when the job stops or the range is left over.
    bool fetchRange() {
        unsigned failures = 0;
        for (;;) {
            const std::uint64_t before = next_;
            std::string why;
            switch (attempt(why)) {
            case Verdict::Done:
                return true;
            case Verdict::Stopped:
                return false;
            case Verdict::FallBack:
                job_.fallBack();
                return false;
            case Verdict::Fatal:
                job_.fail(std::move(why));
                return false;
            case Verdict::Retry:
                break;
            }
            if (next_ > before)
                failures = 0;
            if (++failures > job_.request.maxRetries) {
                // Perhaps the server allows fewer connections than we opened: a worker that
                // is done with its own range takes this one over.
                job_.leave({next_, range_.last}, std::move(why));
                return false;
            }
            const milliseconds delay = std::min<milliseconds>(
                kMaxRetryDelay, job_.request.retryDelay * (1L << std::min(failures - 1, 10u)));
            if (!job_.pause(delay))
                return false;
        }
    }

    Verdict attempt(std::string& why) {
        checked_ = false;
        rejected_ = false;
        const CURLcode code = transfer_.get(job_.url, requestHeaders({next_, range_.last}),
                                            &RangeWorker::onBody, this, false);
        if (job_.stopping())
            return Verdict::Stopped;
        if (complete())
            return Verdict::Done;
        const long status = transfer_.head().status;
        if (status >= 400 && status != 416) {
            why = httpMessage(status);
            return retryableStatus(status) ? Verdict::Retry : Verdict::Fatal;
        }
        if (rejected_ || (status != 0 && status != 206))
            return Verdict::FallBack;
        why = code == CURLE_OK ? std::string("连接中断（数据不完整）") : transfer_.failure(code);
        return Verdict::Retry;
    }

    // The reply must be exactly the asked part of the same file, as it is on the server.
    bool replyMatches() const {
        const ReplyHead& head = transfer_.head();
        return head.status == 206 && !head.coded() &&
               contentRangeIs(head.contentRange, next_, range_.last, job_.total) &&
               (!head.contentLength || *head.contentLength == range_.last - next_ + 1);
    }

    static std::size_t onBody(char* data, std::size_t size, std::size_t count, void* user) {
        auto& self = *static_cast<RangeWorker*>(user);
        const std::size_t bytes = size * count;
        if (!self.checked_) {
            if (!self.replyMatches()) {
                self.rejected_ = true;
                return 0;
            }
            self.checked_ = true;
        }
        if (bytes > self.range_.last + 1 - self.next_) {
            self.rejected_ = true;
            return 0;
        }
        if (self.next_ + bytes > self.prefaulted_) {
            const std::uint64_t from = std::max(self.prefaulted_, self.next_);
            self.prefaulted_ = std::min(self.range_.last + 1, self.next_ + bytes + kPrefaultBytes);
            self.job_.file.prefault(from, self.prefaulted_ - from);
        }
        {
            std::lock_guard guard(self.job_.lock);
            std::memcpy(self.job_.file.view().data() + self.next_, data, bytes);
            self.job_.progress.add(bytes);
        }
        self.next_ += bytes;
        return bytes;
    }

    Job& job_;
    ByteRange range_;
    std::uint64_t next_; // first byte of the range not yet written
    Transfer transfer_;
    std::uint64_t prefaulted_ = 0; // the view is prefaulted up to here
    bool checked_ = false;         // the current reply was found to be the asked range
    bool rejected_ = false;        // the current reply was not the asked range
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
        const long status = transfer_.head().status;
        if (writeError_)
            job_.fail(writeError_->message);
        else if (status != 200 && status != 0)
            job_.fail(httpMessage(status));
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
            if (!head.coded() && head.contentLength && *head.contentLength != self.job_.total) {
                self.problem_ = "服务器上的文件大小已改变";
                return 0;
            }
            if (bytes > self.job_.total - self.next_) {
                self.problem_ = "服务器发送的数据多于文件的长度";
                return 0;
            }
            if (self.next_ + bytes > self.prefaulted_) {
                self.prefaulted_ = std::min(self.job_.total, self.next_ + bytes + kPrefaultBytes);
                self.job_.file.prefault(self.next_, self.prefaulted_ - self.next_);
            }
            std::lock_guard guard(self.job_.lock);
            std::memcpy(self.job_.file.view().data() + self.next_, data, bytes);
            self.job_.progress.add(bytes);
        } else {
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
    std::uint64_t prefaulted_ = 0;
    std::string problem_;
    std::optional<Error> writeError_;
};

Result<DownloadResult> fetchRanges(Job& job, DownloadResult result) {
    const unsigned workers = std::clamp(job.request.workers, 1u, kMaxWorkers);
    std::vector<ByteRange> pending = planRanges(job.total, workers, job.request.minRangeBytes);
    result.mode = DownloadMode::Ranges;
    result.ranges = static_cast<unsigned>(pending.size());
    // Ranges left over when every worker has ended get another round, as long as the last
    // round brought bytes; a round that brought none ends the download.
    while (!pending.empty()) {
        const std::uint64_t before = job.progress.snapshot().arrived;
        std::vector<std::unique_ptr<RangeWorker>> workersOfRound;
        for (const ByteRange& range : pending)
            workersOfRound.push_back(std::make_unique<RangeWorker>(job, range));
        job.runThreads(workersOfRound.size(), [&](std::size_t i) { workersOfRound[i]->run(); });
        if (job.stopping() || job.fellBack())
            return result;
        pending = job.takeLeftovers();
        if (!pending.empty() && job.progress.snapshot().arrived == before)
            return makeError("多次重试仍未下载成功：" + job.leftoverReason());
    }
    return result;
}

Result<DownloadResult> fetchStream(Job& job, bool lengthKnown, DownloadResult result) {
    StreamWorker stream(job, lengthKnown);
    job.runThreads(1, [&](std::size_t) { stream.run(); });
    result.mode = DownloadMode::Stream;
    result.bytes = stream.written();
    return result;
}

Result<DownloadResult> download(const DownloadRequest& request, DownloadProgress& progress) {
    auto file = PartFile::create(request.target);
    if (!file)
        return file.error();
    Job job(request, progress, *file);
    auto found = probe(job);
    if (!found)
        return found.error();
    job.url = found->url;

    DownloadResult result;
    result.path = request.target;
    const bool lengthKnown = found->length && !found->coded;
    Result<DownloadResult> fetched = result;
    if (lengthKnown) {
        job.total = *found->length;
        progress.setTotal(job.total, true);
        if (Status reserved = file->reserveAndMap(job.total); !reserved)
            return reserved.error();
        progress.setState(DownloadState::Downloading);
        if (job.total == 0) {
            result.mode = DownloadMode::Empty;
            fetched = result;
        } else if (found->rangesRefused) {
            fetched = fetchStream(job, true, result);
        } else {
            fetched = fetchRanges(job, result);
            if (fetched && job.fellBack() && !job.cancelled()) {
                // Whatever the ranges wrote is overwritten from the start.
                job.resetForStream();
                progress.setArrived(0);
                fetched = fetchStream(job, true, result);
            }
        }
        if (fetched)
            fetched->bytes = job.total;
    } else {
        progress.setState(DownloadState::Downloading);
        fetched = fetchStream(job, false, result);
    }

    if (job.cancelled())
        return makeError("下载已取消");
    if (auto failure = job.failure())
        return *failure;
    if (!fetched)
        return fetched.error();
    if (progress.snapshot().arrived != fetched->bytes)
        return makeError("下载未完成：收到的字节数与文件大小不符");
    progress.setTotal(fetched->bytes, true);
    progress.setState(DownloadState::Finishing);
    if (Status committed = file->commit(); !committed)
        return committed.error();
    return fetched;
}

} // namespace

std::string requestHeaders() {
    return std::string(kRequestHeaderBlock);
}

std::string requestHeaders(const ByteRange& range) {
    return std::string(kRequestHeaderBlock) +
           "\r\nRange:bytes=" + rangeText(range.first, range.last);
}

Downloader::Downloader(DownloadRequest request) : request_(std::move(request)) {}

Result<DownloadResult> Downloader::run() {
    progress_.setState(DownloadState::Connecting);
    Result<DownloadResult> result = [&]() -> Result<DownloadResult> {
        try {
            return download(request_, progress_);
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
