#include "download/Downloader.h"

#include "download/Announced.h"
#include "download/Checkpoint.h"
#include "download/DownloadRun.h"
#include "download/FreeSpace.h"
#include "download/PartFile.h"
#include "download/PartPolicy.h"
#include "download/PieceHashes.h"
#include "download/Probe.h"
#include "download/RangeWorker.h"
#include "download/ResumeState.h"
#include "download/SegmentScheduler.h"
#include "download/SourceProof.h"
#include "download/StreamWorker.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <exception>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

namespace vantorel::download {
namespace {

using std::chrono::milliseconds;

// Rounds of workers that bring no byte are started again after a wait that doubles up to this.
constexpr milliseconds kMaxRoundDelay{30'000};
// How long the first workers wait for the other sources to prove themselves.
constexpr milliseconds kProveBeforeStart{1000};
constexpr std::uint64_t kMinPieceOfSeveral = 64 << 10;
// Rounds of pieces fetched again that no one source can be blamed for (a piece of bytes from
// several sources, or from an earlier run) before the download fails.
constexpr unsigned kBlamelessRounds = 2;
// Times a download starts over when the file changed on the server meanwhile.
constexpr int kMaxStartOvers = 2;

std::string rangeText(std::uint64_t first, std::uint64_t last) {
    return std::to_string(first) + "-" + std::to_string(last);
}

Result<DownloadResult> fetchRanges(DownloadRun& job, Checkpoint& checkpoint,
                                   DownloadResult result) {
    SegmentScheduler& scheduler = *job.scheduler;
    const unsigned workers = std::clamp(job.request.workers, 1u, kMaxWorkers);
    result.mode = DownloadMode::Ranges;
    // Workers that gave their ranges up have ended; what is left gets another round of
    // workers. Rounds that bring no byte are started again after a wait that doubles, until
    // nothing has arrived for giveUpAfter: a server that is down for a while (a restart, an
    // overloaded hour) costs the user a wait, not the download.
    unsigned idleRounds = 0;
    for (;;) {
        if (scheduler.finished()) {
            // The bytes are proven once more before the file takes its name; bytes found wrong
            // are fetched again (ClosingProof.h).
            if (Status proven = job.closing.finish(job); !proven)
                return proven.error();
            if (job.stopping() || job.changed() || scheduler.finished())
                return result;
        }
        const std::uint64_t before = job.progress.snapshot().arrived;
        std::vector<std::unique_ptr<RangeWorker>> round;
        for (unsigned i = 0; i < workers; ++i)
            round.push_back(std::make_unique<RangeWorker>(job, i));
        job.runThreads(
            round.size(), [&](std::size_t i) { round[i]->run(); }, [&] { checkpoint.maybe(); });
        if (job.stopping() || job.fellBack() || job.changed())
            return result;
        if (scheduler.finished() || job.progress.snapshot().arrived != before) {
            idleRounds = 0;
            continue;
        }
        const auto left = job.request.giveUpAfter - job.sinceLastByte();
        if (left <= Clock::duration::zero())
            return job.retriesFailed();
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
}

// Checks every piece of the complete part against its digest. The pieces that fail are fetched
// again; a source that alone sent one of them is dropped. True when some are to be fetched again.
Result<bool> fetchFailedPiecesAgain(DownloadRun& job, Checkpoint& checkpoint, unsigned& blameless) {
    const auto failed = failedPieces(job.file.path(), *job.request.pieces, job.total);
    if (!failed)
        return failed.error();
    if (failed->empty())
        return false;
    const auto which = [&job](const ByteInterval& piece) {
        return "第 " + std::to_string(piece.begin / job.request.pieces->length + 1) + " 块";
    };
    // Each source that alone sent a failed piece, with the first such piece.
    std::map<std::size_t, ByteInterval> liars;
    for (const ByteInterval& piece : *failed)
        if (const auto senders = job.ledger.sourcesOf(piece); senders.size() == 1)
            liars.emplace(senders.front(), piece);
    if (liars.empty() && ++blameless > kBlamelessRounds)
        return makeError("文件的" + which(failed->front()) + "多次未通过校验，下载中止",
                         FailureKind::ChecksumMismatch);
    for (const ByteInterval& piece : *failed)
        job.fetchAgain(piece);
    checkpoint.now();
    for (const auto& [id, piece] : liars)
        if (job.sources.state(id) != SourceState::Dropped)
            job.dropSource(id, "发送的数据（" + which(piece) + "）未通过校验");
    if (liars.empty())
        job.progress.addNotice(std::to_string(failed->size()) + " 块数据未通过校验，已重新下载");
    return true;
}

Result<DownloadResult> fetchStream(DownloadRun& job, bool lengthKnown, DownloadResult result) {
    StreamWorker stream(job, lengthKnown);
    job.runThreads(
        1, [&](std::size_t) { stream.run(); }, [] {});
    result.mode = DownloadMode::Stream;
    result.bytes = stream.written();
    return result;
}

// Whether the part an earlier run left holds this file: its bytes came from the primary source
// in the same version, or the primary proves it serves the same bytes. A part of another file
// (another length included) starts over, or with !startOverIfDifferent fails with NotSameFile
// and stays as it is.
Result<bool> partHoldsThisFile(DownloadRun& job, const Probe& found, const ResumeState& previous) {
    if (found.rangesRefused || job.file.sizeAtOpen() != previous.length)
        return false;
    const SourceSpec primary = job.sources.spec(job.primary);
    if (const SourceRecord* record = previous.sourceFor(primary.address);
        record && previous.length == job.total &&
        record->validators.sameVersionAs(found.validators))
        return true;
    Status same = previous.length == job.total
                      ? proveAgainstPart(job, found.url, previous.complete)
                      : Status(makeError("文件大小不同", FailureKind::NotSameFile));
    if (same)
        return true;
    if (same.error().kind != FailureKind::NotSameFile)
        return false; // too few bytes to tell: little is lost by starting over
    if (!job.request.startOverIfDifferent)
        return withMessage(same.error(), job.sources.name(job.primary) +
                                             " 的文件与已下载的部分不同，已下载的部分未动");
    job.progress.addNotice(job.sources.name(job.primary) + " 的文件与已下载的部分不同，已重新下载");
    return false;
}

// One pass over a file of known length, resumed from `previous` when it holds this file.
Result<DownloadResult> fetchKnownLength(DownloadRun& job, const Probe& found,
                                        Checkpoint& checkpoint,
                                        std::optional<ResumeState>& previous, bool& touched,
                                        DownloadResult result) {
    PartFile& file = job.file;
    job.total = *found.length;
    bool resumable = false;
    if (previous) {
        Result<bool> holds = partHoldsThisFile(job, found, *previous);
        if (!holds)
            return holds.error();
        resumable = *holds;
    }
    touched = true;
    if (!resumable) {
        previous.reset();
        if (Status emptied = file.startOver(); !emptied)
            return emptied.error();
    }
    // Lives while the bytes are fetched: a file system that cannot allocate the file up front
    // has the bytes promised to it until then.
    Result<SpaceReservation> room = reserveSpace(job.request, resumable ? 0 : job.total,
                                                 [&] { return file.reserveAndMap(job.total); });
    if (!room)
        return room.error();
    job.progress.setTotal(job.total, true);
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
    // With several sources, each may be limited as a whole: when one's connections are idle at
    // the end, they must be able to take smaller pieces of the others' ranges, or its capacity
    // waits while the others finish alone. A kept connection pays a request's wait, no more.
    if (job.sources.size() > 1)
        settings.minPiece = std::min(settings.minPiece, kMinPieceOfSeveral);
    // The floor is kept by each connection's own transfer (see net::DownloadConnection::get).
    settings.speedFloor = 0;
    job.scheduler.emplace(job.total, workers, settings, complete);
    result.ranges = static_cast<unsigned>(job.scheduler->waitingPieces());
    checkpoint.enable(true);
    Result<DownloadResult> fetched = [&] {
        // The other sources prove themselves first, so the workers spread over them from the
        // start; one that takes long (a server that does not answer) goes on proving while the
        // first one's bytes arrive, and joins once it has.
        std::jthread prover;
        std::atomic<bool> proven{false};
        if (!job.sources.untried().empty()) {
            prover = std::jthread([&job, &proven] {
                job.proveUntried([&job] { return job.scheduler->finished(); });
                proven.store(true);
            });
            for (const auto until = Clock::now() + kProveBeforeStart;
                 !proven.load() && Clock::now() < until;)
                if (!job.pause(milliseconds(10)))
                    break;
        }
        auto ranges = fetchRanges(job, checkpoint, result);
        // Pieces with digests are checked once every byte is in; the ones that fail come again.
        for (unsigned blameless = 0; ranges && job.request.pieces && !job.stopping() &&
                                     !job.fellBack() && !job.changed();) {
            const Result<bool> again = fetchFailedPiecesAgain(job, checkpoint, blameless);
            if (!again)
                ranges = again.error();
            else if (!*again)
                break;
            else
                ranges = fetchRanges(job, checkpoint, result);
        }
        job.settle();
        return ranges;
    }();
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

// A file of another length than the description of it says is another file.
Result<Probe> asDescribed(const DownloadRequest& request, Result<Probe> found) {
    if (found && request.expectedLength && found->length &&
        *found->length != *request.expectedLength)
        return makeError("文件大小（" + std::to_string(*found->length) + " 字节）与描述的（" +
                             std::to_string(*request.expectedLength) + " 字节）不同",
                         FailureKind::NotSameFile);
    return found;
}

// The probe of the first source that answers: that source defines the file. One that cannot
// be used is dropped, and said so when another goes on.
Result<Probe> probeFirst(DownloadRun& job) {
    std::optional<Error> first;
    for (const std::size_t id : job.sources.untried()) {
        const Result<std::string> url = job.directAddress(id);
        Result<Probe> found =
            url ? asDescribed(job.request, probe(job, *url)) : Result<Probe>(url.error());
        if (found) {
            job.primary = id; // proven by the caller, as after every probe of it
            return found;
        }
        if (job.cancelled())
            return found;
        job.sources.drop(id);
        if (!first)
            first = found.error();
        else
            job.progress.addNotice(job.sources.name(id) + " 无法使用（" + found.error().message +
                                   "）");
    }
    return *first;
}

// Every pass: the probe, then the bytes. A version change found during a pass starts one more,
// kMaxStartOvers times at most.
Result<DownloadResult> fetchAll(DownloadRun& job, Checkpoint& checkpoint,
                                std::optional<ResumeState>& previous, bool& touched) {
    DownloadResult result;
    result.path = job.request.target;
    Result<DownloadResult> fetched = result;
    for (int pass = 0; pass <= kMaxStartOvers; ++pass) {
        auto found = pass == 0 ? probeFirst(job) : asDescribed(job.request, probe(job, job.url));
        if (!found)
            return found.error();
        if (pass == 0 && job.primary != 0)
            job.progress.addNotice(job.sources.name(0) + " 无法使用，已改用" +
                                   job.sources.name(job.primary));
        job.url = found->url;
        job.validators = found->validators;
        job.sources.prove(job.primary, job.url, job.validators);
        job.announcedDigest = found->digest;
        if (pass == 0)
            if (std::string told = addDuplicates(job.sources, found->duplicates); !told.empty())
                job.progress.addNotice(std::move(told));
        job.probeWait = found->wait;
        if (!found->length || found->coded) {
            touched = true;
            if (Status emptied = job.file.startOver(); !emptied)
                return emptied.error();
            job.progress.setState(DownloadState::Downloading);
            return fetchStream(job, false, result);
        }
        fetched = fetchKnownLength(job, *found, checkpoint, previous, touched, result);
        if (!fetched || !job.changed() || job.cancelled())
            break;
        if (pass == kMaxStartOvers)
            return makeError(std::string(kChangedText), FailureKind::VersionChanged);
        job.progress.addNotice(job.sources.name(job.primary) +
                               " 上的文件在下载过程中被更换了，已重新下载新的文件");
        checkpoint.enable(false);
        job.resetFlags();
        job.scheduler.reset();
        job.ledger.clear();
        job.closing.reset();
        previous.reset();
        job.progress.setResumed(0);
        job.progress.setState(DownloadState::Connecting);
    }
    if (fetched)
        fetched->bytes = job.total;
    return fetched;
}

// The complete part against what it is held to: the described length; the pieces' digests
// where they were not checked as the ranges came in (a stream); the whole file's digest: the
// request's, else the one its server announced.
Status holdsItsDigests(DownloadRun& job, const DownloadResult& fetched) {
    const DownloadRequest& request = job.request;
    if (request.expectedLength && fetched.bytes != *request.expectedLength)
        return makeError("文件大小（" + std::to_string(fetched.bytes) + " 字节）与描述的（" +
                             std::to_string(*request.expectedLength) + " 字节）不同",
                         FailureKind::ChecksumMismatch);
    if (request.pieces && fetched.mode != DownloadMode::Ranges) {
        const auto failed = failedPieces(job.file.path(), *request.pieces, fetched.bytes);
        if (!failed)
            return failed.error();
        if (!failed->empty())
            return makeError(
                "文件的第 " + std::to_string(failed->front().begin / request.pieces->length + 1) +
                    " 块未通过校验",
                FailureKind::ChecksumMismatch);
    }
    if (request.checksum)
        return verifyFile(job.file.path(), *request.checksum);
    if (!job.announcedDigest)
        return {};
    Status held = verifyFile(job.file.path(), *job.announcedDigest);
    if (!held && held.error().kind == FailureKind::ChecksumMismatch)
        return withMessage(held.error(), held.error().message + "（校验值由服务器公布）");
    return held;
}

Result<DownloadResult> download(const DownloadRequest& request, DownloadProgress& progress,
                                const std::atomic<bool>& keepPart) {
    auto file = PartFile::open(request.target);
    if (!file)
        return file.error();
    DownloadRun job(request, progress, *file);
    const std::string key =
        withoutCredentials(request.resumeKey.empty() ? request.url : request.resumeKey);
    Checkpoint checkpoint(job, key);
    std::optional<ResumeState> previous = loadResumeState(file->statePath());
    // A part that another address left (a mirror, an address since replaced) is this run's only
    // once an address of this run proves it holds the same file.
    const bool foreign = previous && !previous->sourceFor(key);

    bool touched = false; // the part may no longer be what an earlier run left
    Result<DownloadResult> fetched = fetchAll(job, checkpoint, previous, touched);
    std::optional<Error> failure = job.failure();
    if (!failure && !fetched)
        failure = fetched.error();
    if (job.cancelled() || failure) {
        const RunStop stop = !job.cancelled()  ? RunStop::None
                             : keepPart.load() ? RunStop::Interrupt
                                               : RunStop::Cancel;
        return endWithoutFile(*file, checkpoint, {touched, foreign, previous && !foreign}, stop,
                              std::move(failure));
    }
    if (progress.snapshot().arrived != fetched->bytes)
        return makeError("下载未完成：收到的字节数与文件大小不符");
    progress.setTotal(fetched->bytes, true);
    progress.setState(DownloadState::Finishing);
    // The checks read the part through the file, which sees what the view holds; commit()
    // flushes it to disk once, afterwards.
    if (Status held = holdsItsDigests(job, *fetched); !held)
        return held.error();
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

std::string requestHeaders(const ByteRange& range, const Validators& validators) {
    std::string headers = requestHeaders(range);
    if (const std::string ifRange = validators.ifRange(); !ifRange.empty())
        headers += "\r\nIf-Range: " + ifRange;
    return headers;
}

Downloader::Downloader(DownloadRequest request) : request_(std::move(request)) {}

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
    progress_.setLimited(false);
    return result;
}

} // namespace vantorel::download
