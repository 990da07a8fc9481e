#include "download/SourceProof.h"

#include "download/Probe.h"
#include "download/ProofBlocks.h"
#include "download/ReplyChecks.h"
#include "net/DownloadConnection.h"
#include "net/ReplyHead.h"

#include <algorithm>
#include <vector>

namespace vantorel::download {
namespace {

// How long a proof waits for the part to hold blocks all over the file.
constexpr std::chrono::seconds kWaitForSpread{3};

Error notSameFile(std::string message) {
    return makeError(std::move(message), FailureKind::NotSameFile);
}

} // namespace

Result<std::string> fetchBlock(DownloadRun& job, net::DownloadConnection& transfer,
                               const std::string& url, const Validators& validators,
                               ByteInterval block) {
    std::string bytes;
    const auto outcome = transfer.get(
        url, requestHeaders({block.begin, block.end - 1}, validators),
        [&](std::span<const char> data) {
            if (data.size() > block.size() - bytes.size())
                return std::size_t(0); // more than was asked for
            bytes.append(data.data(), data.size());
            return data.size();
        },
        false);
    if (job.settled())
        return makeError("下载已结束", FailureKind::Cancelled);
    const net::ReplyHead& head = transfer.head();
    if (head.complete && head.status >= 400)
        return httpError(head.status);
    if (head.complete && head.status != 206)
        return makeError("服务器不支持分段下载，无法核对文件");
    const auto range = net::parseContentRange(head.contentRange);
    if (range && range->total && *range->total != job.total)
        return notSameFile("文件大小不同");
    if (!range || range->first != block.begin || range->last != block.end - 1)
        return makeError("服务器返回的数据段与请求的不符，无法核对文件");
    if (outcome != net::DownloadConnection::Outcome::Completed)
        return transfer.failure();
    if (bytes.size() != block.size())
        return makeError("连接中断（数据不完整）", FailureKind::Network);
    return bytes;
}

namespace {

// Compares `blocks` of `url` with the same blocks of the reference: the part's bytes, or a
// proven source's when `reference` is given.
Status compareBlocks(DownloadRun& job, const std::string& url, const Validators& validators,
                     std::span<const ByteInterval> blocks,
                     const std::optional<SourceUse>& reference) {
    net::DownloadConnection candidate(job.connectionRules(true));
    std::optional<net::DownloadConnection> other;
    if (reference)
        other.emplace(job.connectionRules(true));
    for (const ByteInterval& block : blocks) {
        auto theirs = fetchBlock(job, candidate, url, validators, block);
        if (!theirs)
            return theirs.error();
        auto ours = reference
                        ? fetchBlock(job, *other, reference->url, reference->validators, block)
                        : job.file.read(block.begin, block.size());
        if (!ours)
            return ours.error();
        if (*theirs != *ours)
            return notSameFile("文件内容不同");
    }
    return {};
}

} // namespace

std::string differentFileText(const std::string& candidate, const std::string& reference,
                              const std::string& kept) {
    return candidate + " 的文件与" + reference + " 不同，已只用" + kept;
}

Status proveAgainstPart(DownloadRun& job, const std::string& url,
                        std::span<const ByteInterval> held) {
    const std::vector<ByteInterval> blocks = proofBlocks(job.total, held);
    if (blocks.empty())
        return makeError("已下载的部分太少，无法核对文件");
    const Validators none;
    return compareBlocks(job, url, none, blocks, std::nullopt);
}

Status proveSource(DownloadRun& job, std::size_t id, const std::string& url) {
    auto found = probe(job, url, true);
    if (!found)
        return found.error();
    if (found->webPage)
        return makeError("地址指向一个网页，不是文件", FailureKind::WebPage);
    if (!found->length || found->coded || *found->length != job.total)
        return notSameFile("文件大小不同");
    if (found->rangesRefused)
        return makeError("服务器不支持分段下载");
    // The part's bytes prove it once they are spread as widely as a proof asks: the workers
    // start their ranges all over the file, so that is a moment after the download starts. Until
    // then (or when it does not come) blocks of a proven source stand for them.
    const std::vector<ByteInterval> whole{{0, job.total}};
    const std::vector<ByteInterval> spread = proofBlocks(job.total, whole);
    std::vector<ByteInterval> blocks;
    // Before the workers start, no bytes are coming to wait for.
    const bool arriving = job.scheduler && job.scheduler->completeBytes() > 0;
    for (const auto until = Clock::now() + (arriving ? kWaitForSpread : Clock::duration{});
         !job.settled();) {
        if (job.scheduler)
            blocks = proofBlocks(job.total, job.scheduler->complete());
        if (blocks.size() == spread.size() || Clock::now() >= until)
            break;
        job.pause(std::chrono::milliseconds(20));
    }
    std::optional<SourceUse> reference;
    if (blocks.size() < spread.size()) {
        blocks = spread;
        reference = job.sources.otherThan(id);
        // A source refreshed while no other serves: the bytes held are all there is to compare
        // (none held, nothing can be mixed).
        if (!reference && job.scheduler)
            blocks = proofBlocks(job.total, job.scheduler->complete());
    }
    if (Status same = compareBlocks(job, found->url, found->validators, blocks, reference); !same)
        return same;
    job.sources.prove(id, found->url, found->validators);
    return {};
}

} // namespace vantorel::download
